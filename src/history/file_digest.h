// The SHA-256 of a file, as a firmware file is identified in the history.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace rolta {

// Lower-case hexadecimal; nothing when the file cannot be read whole.
std::optional<std::string> FileSha256(const std::filesystem::path& path);
std::string Sha256Hex(std::span<const unsigned char> bytes);

}  // namespace rolta
