// The stand-in environment library: the entries the console calls, over the
// library's own record file, dictionaries, port list and log. Every other
// entry of the shared list answers -1000.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <span>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

#include "dictionary.h"
#include "env/envkit_entries.h"
#include "envkit_paths.h"
#include "record_store.h"
#include "serial_ports.h"

#ifndef ENVKIT_REPORTED_SIZE
#define ENVKIT_REPORTED_SIZE rolta::kEnvkitRecordSize
#endif
#ifndef ENVKIT_VERSION_TEXT
#define ENVKIT_VERSION_TEXT "0, 0, 0, 0"
#endif

#define ENVKIT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::span<std::uint8_t> RecordSpan(void* record) {
  return {static_cast<std::uint8_t*>(record), static_cast<std::size_t>(rolta::kEnvkitRecordSize)};
}

// One log line stays one line whatever the caller passes.
std::string OneLine(const char* text) {
  std::string line = text != nullptr ? text : "";
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

}  // namespace

ENVKIT_EXPORT int GetEnvkitStrSize(void) { return ENVKIT_REPORTED_SIZE; }

// 1 read, 0 file missing and defaults restored, -1 file altered or foreign and
// corrected. Without a record to fill there is nothing to do: -1.
ENVKIT_EXPORT int GetEnvkit(void* record) {
  if (record == nullptr) return -1;
  switch (envkit::LoadRecord(RecordSpan(record))) {
    case envkit::RecordLoad::Read: return 1;
    case envkit::RecordLoad::DefaultsRestored: return 0;
    case envkit::RecordLoad::Corrected: return -1;
  }
  return -1;
}

ENVKIT_EXPORT int GetDefaultEnvkit(void* record) {
  if (record == nullptr) return -1;
  envkit::FillDefaultRecord(RecordSpan(record));
  return 1;
}

// 1 stored, -1 not stored.
ENVKIT_EXPORT int SaveEnvkit(const void* record) {
  if (record == nullptr) return -1;
  const std::span<const std::uint8_t> bytes{static_cast<const std::uint8_t*>(record),
                                            static_cast<std::size_t>(rolta::kEnvkitRecordSize)};
  return envkit::StoreRecord(bytes) ? 1 : -1;
}

ENVKIT_EXPORT const char* GetLangueString(const char* text) { return envkit::Translate(text); }

ENVKIT_EXPORT int GetVers(int /*kind*/, char* buffer) {
  if (buffer == nullptr) return -1;
  std::snprintf(buffer, 512, "%s", ENVKIT_VERSION_TEXT);
  return 1;
}

// Appends "YYYY-MM-DD hh:mm:ss [source] text" to $XDG_STATE_HOME/rolta/envkit.log
// (or ~/.local/state/rolta/envkit.log). 1 written, 0 not.
ENVKIT_EXPORT int SaveLog(const char* source, const char* text) {
  const auto directory = envkit::StateDirectory();
  if (!directory) return 0;
  std::error_code error;
  std::filesystem::create_directories(*directory, error);
  if (error) return 0;

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const std::string line = std::string(stamp) + " [" + OneLine(source) + "] " + OneLine(text) + "\n";

  const std::string path = (*directory / "envkit.log").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  // One write per line, so lines of several writers do not interleave.
  const ssize_t written = ::write(fd, line.data(), line.size());
  ::close(fd);
  return written == static_cast<ssize_t>(line.size()) ? 1 : 0;
}

ENVKIT_EXPORT int GetSerialPortInfo(rolta::PortList* list) {
  if (list == nullptr) return -1;
  return envkit::CollectSerialPorts(*list);
}

// The entries this stand-in does not provide a service for.
#define ENVKIT_SKIP_TYPED(name, ret, params)
#define ENVKIT_NOT_PROVIDED(name) \
  ENVKIT_EXPORT int name(void) { return rolta::kEnvkitNoEntry; }
ROLTA_ENVKIT_ENTRIES(ENVKIT_SKIP_TYPED, ENVKIT_NOT_PROVIDED)
#undef ENVKIT_SKIP_TYPED
#undef ENVKIT_NOT_PROVIDED

// Every typed entry must be defined above with the list's signature.
#define ENVKIT_CHECK_TYPED(name, ret, params) \
  static_assert(std::is_same_v<decltype(&name), ret(*) params>, #name " has the wrong signature");
#define ENVKIT_CHECK_GENERIC(name)
ROLTA_ENVKIT_ENTRIES(ENVKIT_CHECK_TYPED, ENVKIT_CHECK_GENERIC)
#undef ENVKIT_CHECK_TYPED
#undef ENVKIT_CHECK_GENERIC
