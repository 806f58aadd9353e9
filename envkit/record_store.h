// The environment record kept in a file of the library's own:
// $XDG_CONFIG_HOME/rolta/envkit.dat (or ~/.config/rolta/envkit.dat).
//
// File layout (little-endian):
//   0   8  "ROLTAENV"
//   8   4  format version, 1
//   12  4  record size, 188910
//   16  8  FNV-1a 64 of bytes 0..15 followed by the record
//   24     the record
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace envkit {

enum class RecordLoad { Read, DefaultsRestored, Corrected };

std::optional<std::filesystem::path> RecordFilePath();

// The record a fresh installation starts with: no picture, all else zero.
void FillDefaultRecord(std::span<std::uint8_t> record);

// Fills record from the file. A missing file is created with the defaults; a
// file that is damaged, of another size or not ours is replaced by the defaults.
RecordLoad LoadRecord(std::span<std::uint8_t> record);

// Stores record; false when it cannot be written.
bool StoreRecord(std::span<const std::uint8_t> record);

}  // namespace envkit
