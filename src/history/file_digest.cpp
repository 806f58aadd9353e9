#include "history/file_digest.h"

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <memory>

namespace rolta {
namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string HexOf(const unsigned char* bytes, unsigned length) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::optional<std::string> Finish(EVP_MD_CTX* context) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned length = 0;
  if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1) return std::nullopt;
  return HexOf(digest.data(), length);
}

}  // namespace

std::string Sha256Hex(std::span<const unsigned char> bytes) {
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1) {
    return {};
  }
  return Finish(context.get()).value_or(std::string());
}

std::optional<std::string> FileSha256(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  std::array<char, 65536> block{};
  while (file) {
    file.read(block.data(), block.size());
    const std::streamsize got = file.gcount();
    if (got > 0 && EVP_DigestUpdate(context.get(), block.data(), static_cast<std::size_t>(got)) != 1) {
      return std::nullopt;
    }
  }
  if (file.bad()) return std::nullopt;
  return Finish(context.get());
}

}  // namespace rolta
