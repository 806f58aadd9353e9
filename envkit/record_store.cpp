#include "record_store.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "env/envkit_types.h"
#include "envkit_paths.h"

namespace envkit {
namespace {

constexpr std::array<char, 8> kMagic = {'R', 'O', 'L', 'T', 'A', 'E', 'N', 'V'};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kRecordSize = static_cast<std::size_t>(rolta::kEnvkitRecordSize);
constexpr std::size_t kFileSize = kHeaderSize + kRecordSize;

void PutU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void PutU64(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::uint64_t GetU64(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

std::uint64_t Fnv1a(std::uint64_t hash, std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// Checksum over the header's first 16 bytes and the record.
std::uint64_t FileChecksum(std::span<const std::uint8_t> file) {
  std::uint64_t hash = Fnv1a(0xcbf29ce484222325ULL, file.first(16));
  return Fnv1a(hash, file.subspan(kHeaderSize, kRecordSize));
}

std::string Encode(std::span<const std::uint8_t> record) {
  std::string file(kFileSize, '\0');
  auto* bytes = reinterpret_cast<std::uint8_t*>(file.data());
  std::memcpy(bytes, kMagic.data(), kMagic.size());
  PutU32(bytes + 8, kFormatVersion);
  PutU32(bytes + 12, static_cast<std::uint32_t>(kRecordSize));
  std::memcpy(bytes + kHeaderSize, record.data(), kRecordSize);
  PutU64(bytes + 16, FileChecksum({bytes, kFileSize}));
  return file;
}

// True when file is a whole, unaltered record file of ours; the record is
// then copied out.
bool Decode(const std::string& file, std::span<std::uint8_t> record) {
  if (file.size() != kFileSize) return false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
  std::array<std::uint8_t, 16> expected_start{};
  std::memcpy(expected_start.data(), kMagic.data(), kMagic.size());
  PutU32(expected_start.data() + 8, kFormatVersion);
  PutU32(expected_start.data() + 12, static_cast<std::uint32_t>(kRecordSize));
  if (!std::equal(expected_start.begin(), expected_start.end(), bytes)) return false;
  if (GetU64(bytes + 16) != FileChecksum({bytes, kFileSize})) return false;
  std::memcpy(record.data(), bytes + kHeaderSize, kRecordSize);
  return true;
}

// Reads at most one byte more than a good file holds, so a huge foreign file
// is neither read whole nor mistaken for ours.
bool ReadLimited(const std::filesystem::path& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  contents.assign(kFileSize + 1, '\0');
  in.read(contents.data(), static_cast<std::streamsize>(contents.size()));
  contents.resize(static_cast<std::size_t>(in.gcount()));
  return !in.bad();
}

}  // namespace

std::optional<std::filesystem::path> RecordFilePath() {
  const auto directory = ConfigDirectory();
  if (!directory) return std::nullopt;
  return *directory / "envkit.dat";
}

void FillDefaultRecord(std::span<std::uint8_t> record) { std::fill(record.begin(), record.end(), std::uint8_t{0}); }

RecordLoad LoadRecord(std::span<std::uint8_t> record) {
  const auto path = RecordFilePath();
  std::error_code error;
  if (path && std::filesystem::exists(*path, error)) {
    std::string contents;
    if (ReadLimited(*path, contents) && Decode(contents, record)) return RecordLoad::Read;
    FillDefaultRecord(record);
    StoreRecord(record);
    return RecordLoad::Corrected;
  }
  FillDefaultRecord(record);
  if (path) StoreRecord(record);
  return RecordLoad::DefaultsRestored;
}

bool StoreRecord(std::span<const std::uint8_t> record) {
  const auto path = RecordFilePath();
  if (!path || record.size() != kRecordSize) return false;
  return ReplaceFile(*path, Encode(record));
}

}  // namespace envkit
