// Data the console and the environment library exchange: the environment
// record's size and the one field the console reads, and the serial-port list.
// Shared by the loader and the stand-in library, so neither can drift.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rolta {

// Size the library must report through GetEnvkitStrSize, and the size of the
// environment record GetEnvkit fills.
inline constexpr std::int32_t kEnvkitRecordSize = 188910;

// The picture shown by the main, calibration and summary dialogs: a
// NUL-terminated path starting at this byte of the environment record.
inline constexpr std::size_t kPicturePathOffset = 114990;

// Number of entry points the loader requires.
inline constexpr int kEnvkitEntryCount = 123;

// What an entry the library does not provide (or that has been emptied) answers.
inline constexpr int kEnvkitNoEntry = -1000;
inline constexpr char kEnvkitNoTextEntry[] = "No This Funciont";

inline constexpr int kPortListCapacity = 100;
inline constexpr int kPortNameSize = 50;  // 49 bytes and the terminator

// Filled by GetSerialPortInfo: count, then one NUL-terminated name per slot.
// A name without a leading '/' is a device under /dev.
struct PortList {
  std::int32_t count = 0;
  char names[kPortListCapacity][kPortNameSize] = {};
};
static_assert(sizeof(PortList) == 4 + kPortListCapacity * kPortNameSize);

// The names of a filled list. A count the library got wrong is clamped to the
// slots that exist, and a slot without a terminator is cut at its end, so a
// bad list never reads outside the structure.
inline std::vector<std::string> PortNames(const PortList& list) {
  const int count = std::clamp<std::int32_t>(list.count, 0, kPortListCapacity);
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const char* slot = list.names[i];
    names.emplace_back(slot, ::strnlen(slot, kPortNameSize));
  }
  return names;
}

// The picture path of an environment record. Reads only inside the record: a
// record too short to hold the field, or a field without a terminator before
// the record ends, has no picture.
inline std::string ReadPicturePath(std::span<const std::uint8_t> record) {
  if (record.size() <= kPicturePathOffset) return {};
  const auto field = record.subspan(kPicturePathOffset);
  const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
  if (end == field.end()) return {};
  return std::string(field.begin(), end);
}

// Stores a picture path into a record; false (record unchanged) when the path
// and its terminator do not fit before the record's end or contain a NUL.
inline bool WritePicturePath(std::span<std::uint8_t> record, std::string_view path) {
  if (record.size() <= kPicturePathOffset) return false;
  if (path.find('\0') != std::string_view::npos) return false;
  if (path.size() + 1 > record.size() - kPicturePathOffset) return false;
  std::memcpy(record.data() + kPicturePathOffset, path.data(), path.size());
  record[kPicturePathOffset + path.size()] = 0;
  return true;
}

}  // namespace rolta
