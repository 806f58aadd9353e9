#include "history/file_digest.h"

#include <algorithm>
#include <bit>
#include <fstream>

namespace rolta {
namespace {

constexpr std::array<std::uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::size_t kBlockBytes = 64;
constexpr std::size_t kLengthBytes = 8;  // the message's length in bits closes the last block

std::uint32_t BigEndianWord(const unsigned char* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
         std::uint32_t{bytes[3]};
}

}  // namespace

Sha256::Sha256() { Reset(); }

void Sha256::Reset() {
  state_ = kInitialState;
  pendingLength_ = 0;
  totalBytes_ = 0;
}

void Sha256::Compress(const unsigned char* block) {
  std::array<std::uint32_t, 64> schedule{};
  for (std::size_t i = 0; i < 16; ++i) schedule[i] = BigEndianWord(block + 4 * i);
  for (std::size_t i = 16; i < 64; ++i) {
    const std::uint32_t s0 = std::rotr(schedule[i - 15], 7) ^ std::rotr(schedule[i - 15], 18) ^ (schedule[i - 15] >> 3);
    const std::uint32_t s1 = std::rotr(schedule[i - 2], 17) ^ std::rotr(schedule[i - 2], 19) ^ (schedule[i - 2] >> 10);
    schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
  }
  auto [a, b, c, d, e, f, g, h] = state_;
  for (std::size_t i = 0; i < 64; ++i) {
    const std::uint32_t sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
    const std::uint32_t choice = (e & f) ^ (~e & g);
    const std::uint32_t t1 = h + sum1 + choice + kRoundConstants[i] + schedule[i];
    const std::uint32_t sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
    const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  const std::array<std::uint32_t, 8> worked = {a, b, c, d, e, f, g, h};
  for (std::size_t i = 0; i < state_.size(); ++i) state_[i] += worked[i];
}

void Sha256::Add(std::span<const unsigned char> bytes) {
  totalBytes_ += bytes.size();
  if (pendingLength_ > 0) {
    const std::size_t taken = std::min(kBlockBytes - pendingLength_, bytes.size());
    std::copy_n(bytes.begin(), taken, pending_.begin() + static_cast<std::ptrdiff_t>(pendingLength_));
    pendingLength_ += taken;
    bytes = bytes.subspan(taken);
    if (pendingLength_ < kBlockBytes) return;
    Compress(pending_.data());
    pendingLength_ = 0;
  }
  while (bytes.size() >= kBlockBytes) {
    Compress(bytes.data());
    bytes = bytes.subspan(kBlockBytes);
  }
  std::copy(bytes.begin(), bytes.end(), pending_.begin());
  pendingLength_ = bytes.size();
}

std::string Sha256::FinishHex() {
  const std::uint64_t totalBits = totalBytes_ * 8;
  // A one bit, zeros up to the length's place, then the length: one more
  // block when fewer than nine bytes are left in this one.
  std::array<unsigned char, kBlockBytes + kLengthBytes> padding{};
  padding[0] = 0x80;
  const std::size_t used = pendingLength_ + 1;
  const std::size_t zeros =
      used <= kBlockBytes - kLengthBytes ? kBlockBytes - kLengthBytes - used : 2 * kBlockBytes - kLengthBytes - used;
  for (std::size_t i = 0; i < kLengthBytes; ++i) {
    padding[1 + zeros + i] = static_cast<unsigned char>(totalBits >> (8 * (kLengthBytes - 1 - i)));
  }
  Add(std::span(padding.data(), 1 + zeros + kLengthBytes));

  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * 4 * state_.size());
  for (const std::uint32_t word : state_) {
    for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(word >> shift) & 0x0F];
  }
  Reset();
  return text;
}

std::string Sha256Hex(std::span<const unsigned char> bytes) {
  Sha256 digest;
  digest.Add(bytes);
  return digest.FinishHex();
}

std::optional<std::string> FileSha256(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  Sha256 digest;
  std::array<char, 65536> block{};
  while (file) {
    file.read(block.data(), block.size());
    const std::streamsize got = file.gcount();
    if (got > 0)
      digest.Add(std::span(reinterpret_cast<const unsigned char*>(block.data()), static_cast<std::size_t>(got)));
  }
  if (file.bad()) return std::nullopt;
  return digest.FinishHex();
}

}  // namespace rolta
