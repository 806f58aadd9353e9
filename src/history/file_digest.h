// The SHA-256 of a file, as a firmware file is identified in the history.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace rolta {

// SHA-256 over bytes given in pieces of any size, as a file is read in
// blocks. Our own, so that the programs need no cryptography library.
class Sha256 {
 public:
  Sha256();
  void Add(std::span<const unsigned char> bytes);
  // Lower-case hexadecimal of everything added; the object starts afresh.
  std::string FinishHex();

 private:
  void Reset();
  void Compress(const unsigned char* block);

  std::array<std::uint32_t, 8> state_{};
  std::array<unsigned char, 64> pending_{};
  std::size_t pendingLength_ = 0;
  std::uint64_t totalBytes_ = 0;
};

// Lower-case hexadecimal; nothing when the file cannot be read whole.
std::optional<std::string> FileSha256(const std::filesystem::path& path);
std::string Sha256Hex(std::span<const unsigned char> bytes);

}  // namespace rolta
