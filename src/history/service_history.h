// The service history: every change made to a controller, and every connect,
// as an append-only list in an SQLite database. Each entry carries its time
// (UTC), the bench and the engineer, its kind, a one-line summary and its
// payload as ordered key/value fields. The database is never rewritten: the
// schema refuses UPDATE and DELETE, each entry is one transaction (a crash
// loses nothing committed), and a damaged database or one of a newer format
// is reported and left as it is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "env/service_identity.h"
#include "env/text_lookup.h"

struct sqlite3;

namespace rolta {

enum class HistoryKind : std::uint8_t {
  Connect,
  ParamsWrite,
  ChannelMapStore,
  CalibStore,
  FirmwareUpgrade,
  CalibrationRun,
  CoastDown,
};

// The stored names ("connect", "params", ...), one per kind.
std::string_view HistoryKindName(HistoryKind kind);
std::optional<HistoryKind> HistoryKindFromName(std::string_view name);
// Every kind, in the order above.
std::vector<HistoryKind> HistoryKinds();

struct HistoryField {
  std::string key;
  std::string value;
  bool operator==(const HistoryField&) const = default;
};

struct HistoryEntry {
  std::int64_t id = 0;
  std::int64_t timeUtc = 0;  // seconds since 1970-01-01 UTC
  std::string bench;
  std::string engineer;
  HistoryKind kind = HistoryKind::Connect;
  std::string summary;
  std::vector<HistoryField> fields;  // in the order they were given

  // The value of `key`; nullptr when the entry has no such field.
  const std::string* Field(std::string_view key) const;
};

// Which entries to list; an empty member lets every entry through.
struct HistoryFilter {
  std::optional<HistoryKind> kind;
  std::optional<std::string> bench;
  std::optional<std::int64_t> fromUtc;  // inclusive
  std::optional<std::int64_t> toUtc;    // inclusive
};

enum class HistoryProblem : std::uint8_t {
  Damaged,      // not an SQLite database, or one that fails its check
  NewerFormat,  // written by a later ROLTA
  Foreign,      // an SQLite database that is not a service history
  Unavailable,  // the folder or file could not be created or opened
  WriteFailed,  // an entry could not be committed
};

struct HistoryError {
  HistoryProblem problem = HistoryProblem::Unavailable;
  std::string detail;  // SQLite's or the system's words
};

// The schema version this program writes (PRAGMA user_version).
inline constexpr int kHistorySchemaVersion = 1;

// $XDG_DATA_HOME/rolta/history.sqlite, else ~/.local/share/rolta/history.sqlite.
std::filesystem::path DefaultHistoryPath();

// "YYYY-MM-DD HH:MM:SS" in UTC.
std::string UtcTimeText(std::int64_t unixSeconds);
// Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (also with
// a "T" between), taken as UTC; nothing for other text.
std::optional<std::int64_t> UtcTimeFromText(std::string_view text);
std::int64_t NowUtc();

class ServiceHistory {
 public:
  // Opens the history at `path`, creating it (0600, in a 0700 folder) when
  // there is none. A file that is there is checked first, read-only, and
  // refused as it stands when it is damaged, foreign or newer.
  static std::variant<std::unique_ptr<ServiceHistory>, HistoryError> Open(const std::filesystem::path& path,
                                                                          ServiceIdentity identity);
  ~ServiceHistory();
  ServiceHistory(const ServiceHistory&) = delete;
  ServiceHistory& operator=(const ServiceHistory&) = delete;

  const ServiceIdentity& Identity() const { return identity_; }
  const std::filesystem::path& Path() const { return path_; }

  // Appends one entry with the identity's bench and engineer, committed
  // before this returns. The entry's id, or the error.
  std::variant<std::int64_t, HistoryError> Append(HistoryKind kind, std::string_view summary,
                                                  const std::vector<HistoryField>& fields,
                                                  std::int64_t timeUtc = NowUtc());

  // The entries the filter lets through, oldest first, without their fields.
  std::vector<HistoryEntry> List(const HistoryFilter& filter = {}) const;
  // One entry with its fields; nothing when there is no such id.
  std::optional<HistoryEntry> Get(std::int64_t id) const;
  // The distinct bench names, sorted.
  std::vector<std::string> Benches() const;

 private:
  ServiceHistory(sqlite3* db, std::filesystem::path path, ServiceIdentity identity);

  sqlite3* db_;
  std::filesystem::path path_;
  ServiceIdentity identity_;
};

// What the problem means, in the words shown to the engineer (translated).
std::string HistoryErrorText(const TextLookup& texts, const HistoryError& error, const std::filesystem::path& path);

}  // namespace rolta
