#include "history/service_history.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <utility>

namespace rolta {
namespace {

struct KindRow {
  HistoryKind kind;
  std::string_view name;
};
constexpr KindRow kKindRows[] = {
    {HistoryKind::Connect, "connect"},          {HistoryKind::ParamsWrite, "params"},
    {HistoryKind::ChannelMapStore, "channels"}, {HistoryKind::CalibStore, "calib"},
    {HistoryKind::FirmwareUpgrade, "upgrade"},  {HistoryKind::CalibrationRun, "calibration"},
    {HistoryKind::CoastDown, "coast-down"},
};

// The whole schema of version 1. The triggers make the history append-only
// for every writer, not only for this program.
constexpr const char* kSchema = R"sql(
CREATE TABLE entries(
  id INTEGER PRIMARY KEY,
  time_utc INTEGER NOT NULL,
  bench TEXT NOT NULL,
  engineer TEXT NOT NULL,
  kind TEXT NOT NULL,
  summary TEXT NOT NULL);
CREATE TABLE entry_fields(
  entry_id INTEGER NOT NULL REFERENCES entries(id),
  seq INTEGER NOT NULL,
  key TEXT NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY(entry_id, seq));
CREATE INDEX entries_time ON entries(time_utc);
CREATE TRIGGER entries_no_update BEFORE UPDATE ON entries
  BEGIN SELECT RAISE(ABORT, 'the service history is append-only'); END;
CREATE TRIGGER entries_no_delete BEFORE DELETE ON entries
  BEGIN SELECT RAISE(ABORT, 'the service history is append-only'); END;
CREATE TRIGGER entry_fields_no_update BEFORE UPDATE ON entry_fields
  BEGIN SELECT RAISE(ABORT, 'the service history is append-only'); END;
CREATE TRIGGER entry_fields_no_delete BEFORE DELETE ON entry_fields
  BEGIN SELECT RAISE(ABORT, 'the service history is append-only'); END;
PRAGMA user_version = 1;
)sql";

// How long a connection waits for another program's write to end.
constexpr int kBusyTimeoutMs = 5000;

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Ok() const { return statement_ != nullptr; }
  sqlite3_stmt* operator*() const { return statement_; }
  void Bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, std::int64_t value) { sqlite3_bind_int64(statement_, index, value); }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                           : std::string();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

HistoryError ErrorOf(HistoryProblem problem, sqlite3* db) {
  return {problem, db != nullptr ? sqlite3_errmsg(db) : std::string()};
}

// A read that failed: damaged when SQLite says the file is not a (whole)
// database, else unavailable (locked, unreadable) and no judgement on it.
HistoryError ReadErrorOf(sqlite3* db) {
  const int code = sqlite3_errcode(db) & 0xFF;
  return ErrorOf(
      code == SQLITE_NOTADB || code == SQLITE_CORRUPT ? HistoryProblem::Damaged : HistoryProblem::Unavailable, db);
}

std::optional<int> UserVersion(sqlite3* db) {
  Statement version(db, "PRAGMA user_version");
  if (!version.Ok() || sqlite3_step(*version) != SQLITE_ROW) return std::nullopt;
  return sqlite3_column_int(*version, 0);
}

int TableCount(sqlite3* db) {
  Statement count(db, "SELECT count(*) FROM sqlite_master");
  if (!count.Ok() || sqlite3_step(*count) != SQLITE_ROW) return -1;
  return sqlite3_column_int(*count, 0);
}

// Empty when the check passed; else the error.
std::optional<HistoryError> QuickCheck(sqlite3* db) {
  Statement check(db, "PRAGMA quick_check");
  if (!check.Ok() || sqlite3_step(*check) != SQLITE_ROW) return ReadErrorOf(db);
  if (check.Text(0) != "ok") return HistoryError{HistoryProblem::Damaged, check.Text(0)};
  return std::nullopt;
}

// Looks at an existing file without writing it: the read-only connection
// neither creates a journal nor changes the header.
std::optional<HistoryError> CheckExisting(const std::filesystem::path& path) {
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::optional<HistoryError> error;
  // Another program's commit in progress is waited for, not taken for damage.
  if (opened == SQLITE_OK) sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (opened != SQLITE_OK) {
    error = ErrorOf(HistoryProblem::Unavailable, db);
  } else if (const std::optional<int> version = UserVersion(db); !version) {
    error = ReadErrorOf(db);
  } else if (*version > kHistorySchemaVersion) {
    error = HistoryError{HistoryProblem::NewerFormat, "user_version " + std::to_string(*version)};
  } else if (std::optional<HistoryError> damaged = QuickCheck(db)) {
    error = damaged;
  } else if (*version == 0 && TableCount(db) != 0) {
    error = HistoryError{HistoryProblem::Foreign, "user_version 0 with tables"};
  }
  sqlite3_close(db);
  return error;
}

// An empty file is an empty database; made here so it is private from the start.
std::optional<HistoryError> CreateEmpty(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return HistoryError{HistoryProblem::Unavailable, std::system_category().message(errno)};
  ::close(fd);
  return std::nullopt;
}

// The history's folder, private when it is made here.
void MakePrivateFolder(const std::filesystem::path& folder) {
  std::error_code ignored;
  if (!folder.empty() && !std::filesystem::exists(folder, ignored)) {
    std::filesystem::create_directories(folder, ignored);
    ::chmod(folder.c_str(), 0700);
  }
}

// Held while a program looks at, creates and sets up the history: two
// programs starting at once would otherwise see each other's half-made file
// (tables without their version yet) and refuse it as foreign.
class OpenLock {
 public:
  explicit OpenLock(const std::filesystem::path& path)
      : fd_(::open((path.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~OpenLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenLock(const OpenLock&) = delete;
  OpenLock& operator=(const OpenLock&) = delete;

 private:
  int fd_;
};

bool Execute(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

HistoryEntry EntryOfRow(const Statement& row) {
  HistoryEntry entry;
  entry.id = sqlite3_column_int64(*row, 0);
  entry.timeUtc = sqlite3_column_int64(*row, 1);
  entry.bench = row.Text(2);
  entry.engineer = row.Text(3);
  entry.kind = HistoryKindFromName(row.Text(4)).value_or(HistoryKind::Connect);
  entry.summary = row.Text(5);
  return entry;
}

}  // namespace

std::string_view HistoryKindName(HistoryKind kind) {
  for (const KindRow& row : kKindRows) {
    if (row.kind == kind) return row.name;
  }
  return "connect";
}

std::optional<HistoryKind> HistoryKindFromName(std::string_view name) {
  for (const KindRow& row : kKindRows) {
    if (row.name == name) return row.kind;
  }
  return std::nullopt;
}

std::vector<HistoryKind> HistoryKinds() {
  std::vector<HistoryKind> kinds;
  for (const KindRow& row : kKindRows) kinds.push_back(row.kind);
  return kinds;
}

const std::string* HistoryEntry::Field(std::string_view key) const {
  const auto found = std::find_if(fields.begin(), fields.end(), [key](const HistoryField& f) { return f.key == key; });
  return found != fields.end() ? &found->value : nullptr;
}

std::filesystem::path DefaultHistoryPath() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
    return std::filesystem::path(data) / "rolta" / "history.sqlite";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".local" / "share" / "rolta" / "history.sqlite";
}

std::string UtcTimeText(std::int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm parts{};
  if (gmtime_r(&time, &parts) == nullptr) return "?";
  std::array<char, 32> text{};
  std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &parts);
  return text.data();
}

std::optional<std::int64_t> UtcTimeFromText(std::string_view text) {
  int numbers[6] = {0, 0, 0, 0, 0, 0};
  // Positions of the digits of YYYY-MM-DD HH:MM:SS; the text may stop after
  // the date or the minutes.
  constexpr std::size_t kStarts[6] = {0, 5, 8, 11, 14, 17};
  constexpr std::size_t kLengths[6] = {4, 2, 2, 2, 2, 2};
  constexpr char kBefore[6] = {0, '-', '-', ' ', ':', ':'};
  if (text.size() != 10 && text.size() != 16 && text.size() != 19) return std::nullopt;
  const std::size_t parts = text.size() == 10 ? 3 : text.size() == 16 ? 5 : 6;
  for (std::size_t i = 0; i < parts; ++i) {
    if (i > 0) {
      const char separator = text[kStarts[i] - 1];
      if (separator != kBefore[i] && !(i == 3 && separator == 'T')) return std::nullopt;
    }
    const char* begin = text.data() + kStarts[i];
    const auto [end, error] = std::from_chars(begin, begin + kLengths[i], numbers[i]);
    if (error != std::errc{} || end != begin + kLengths[i]) return std::nullopt;
  }
  if (numbers[1] < 1 || numbers[1] > 12 || numbers[2] < 1 || numbers[2] > 31 || numbers[3] > 23 || numbers[4] > 59 ||
      numbers[5] > 60) {
    return std::nullopt;
  }
  std::tm parts_{};
  parts_.tm_year = numbers[0] - 1900;
  parts_.tm_mon = numbers[1] - 1;
  parts_.tm_mday = numbers[2];
  parts_.tm_hour = numbers[3];
  parts_.tm_min = numbers[4];
  parts_.tm_sec = numbers[5];
  return static_cast<std::int64_t>(timegm(&parts_));
}

std::int64_t NowUtc() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::variant<std::unique_ptr<ServiceHistory>, HistoryError> ServiceHistory::Open(const std::filesystem::path& path,
                                                                                 ServiceIdentity identity) {
  MakePrivateFolder(path.parent_path());
  const OpenLock lock(path);
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    if (std::optional<HistoryError> refused = CheckExisting(path)) return *refused;
  } else if (std::optional<HistoryError> failed = CreateEmpty(path)) {
    return *failed;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
    HistoryError failed = ErrorOf(HistoryProblem::Unavailable, db);
    sqlite3_close(db);
    return failed;
  }
  // Both programs may write at once; a writer waits for the other's commit.
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Each commit is on the disk before Append returns, and a crash
  // mid-write leaves the last commit standing.
  const bool ready = Execute(db, "PRAGMA journal_mode=WAL") && Execute(db, "PRAGMA synchronous=FULL") &&
                     Execute(db, "PRAGMA foreign_keys=ON");
  std::optional<int> version = ready ? UserVersion(db) : std::nullopt;
  if (version == 0) {
    const bool created = Execute(db, "BEGIN IMMEDIATE") && Execute(db, kSchema) && Execute(db, "COMMIT");
    if (!created) Execute(db, "ROLLBACK");
    version = UserVersion(db);
  }
  if (version != kHistorySchemaVersion) {
    HistoryError failed = ErrorOf(HistoryProblem::Unavailable, db);
    sqlite3_close(db);
    return failed;
  }
  return std::unique_ptr<ServiceHistory>(new ServiceHistory(db, path, std::move(identity)));
}

ServiceHistory::ServiceHistory(sqlite3* db, std::filesystem::path path, ServiceIdentity identity)
    : db_(db), path_(std::move(path)), identity_(std::move(identity)) {}

ServiceHistory::~ServiceHistory() { sqlite3_close(db_); }

std::variant<std::int64_t, HistoryError> ServiceHistory::Append(HistoryKind kind, std::string_view summary,
                                                                const std::vector<HistoryField>& fields,
                                                                std::int64_t timeUtc) {
  if (!Execute(db_, "BEGIN IMMEDIATE")) return ErrorOf(HistoryProblem::WriteFailed, db_);
  const auto fail = [this] {
    HistoryError error = ErrorOf(HistoryProblem::WriteFailed, db_);
    Execute(db_, "ROLLBACK");
    return error;
  };
  Statement entry(db_, "INSERT INTO entries(time_utc, bench, engineer, kind, summary) VALUES(?, ?, ?, ?, ?)");
  if (!entry.Ok()) return fail();
  entry.Bind(1, timeUtc);
  entry.Bind(2, identity_.bench);
  entry.Bind(3, identity_.engineer);
  entry.Bind(4, HistoryKindName(kind));
  entry.Bind(5, summary);
  if (sqlite3_step(*entry) != SQLITE_DONE) return fail();
  const std::int64_t id = sqlite3_last_insert_rowid(db_);
  Statement field(db_, "INSERT INTO entry_fields(entry_id, seq, key, value) VALUES(?, ?, ?, ?)");
  if (!field.Ok()) return fail();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    sqlite3_reset(*field);
    field.Bind(1, id);
    field.Bind(2, static_cast<std::int64_t>(i));
    field.Bind(3, fields[i].key);
    field.Bind(4, fields[i].value);
    if (sqlite3_step(*field) != SQLITE_DONE) return fail();
  }
  if (!Execute(db_, "COMMIT")) return fail();
  return id;
}

std::vector<HistoryEntry> ServiceHistory::List(const HistoryFilter& filter) const {
  Statement rows(db_,
                 "SELECT id, time_utc, bench, engineer, kind, summary FROM entries"
                 " WHERE (?1 IS NULL OR kind = ?1) AND (?2 IS NULL OR bench = ?2)"
                 " AND (?3 IS NULL OR time_utc >= ?3) AND (?4 IS NULL OR time_utc <= ?4) ORDER BY time_utc, id");
  std::vector<HistoryEntry> entries;
  if (!rows.Ok()) return entries;
  if (filter.kind) rows.Bind(1, HistoryKindName(*filter.kind));
  if (filter.bench) rows.Bind(2, *filter.bench);
  if (filter.fromUtc) rows.Bind(3, *filter.fromUtc);
  if (filter.toUtc) rows.Bind(4, *filter.toUtc);
  while (sqlite3_step(*rows) == SQLITE_ROW) entries.push_back(EntryOfRow(rows));
  return entries;
}

std::optional<HistoryEntry> ServiceHistory::Get(std::int64_t id) const {
  Statement row(db_, "SELECT id, time_utc, bench, engineer, kind, summary FROM entries WHERE id = ?");
  if (!row.Ok()) return std::nullopt;
  row.Bind(1, id);
  if (sqlite3_step(*row) != SQLITE_ROW) return std::nullopt;
  HistoryEntry entry = EntryOfRow(row);
  Statement fields(db_, "SELECT key, value FROM entry_fields WHERE entry_id = ? ORDER BY seq");
  if (!fields.Ok()) return std::nullopt;
  fields.Bind(1, id);
  while (sqlite3_step(*fields) == SQLITE_ROW) entry.fields.push_back({fields.Text(0), fields.Text(1)});
  return entry;
}

std::vector<std::string> ServiceHistory::Benches() const {
  Statement rows(db_, "SELECT DISTINCT bench FROM entries ORDER BY bench");
  std::vector<std::string> benches;
  while (rows.Ok() && sqlite3_step(*rows) == SQLITE_ROW) benches.push_back(rows.Text(0));
  return benches;
}

std::string HistoryErrorText(const TextLookup& texts, const HistoryError& error, const std::filesystem::path& path) {
  std::string_view what;
  switch (error.problem) {
    case HistoryProblem::Damaged: what = "服务记录数据库已损坏，保持原样未写入"; break;
    case HistoryProblem::NewerFormat: what = "服务记录数据库由更新版本的ROLTA写入，保持原样未写入"; break;
    case HistoryProblem::Foreign: what = "该文件不是服务记录数据库，保持原样未写入"; break;
    case HistoryProblem::Unavailable: what = "服务记录数据库无法打开"; break;
    case HistoryProblem::WriteFailed: what = "服务记录无法写入"; break;
  }
  std::string text = texts.Lookup(what) + ": " + path.string();
  if (!error.detail.empty()) text += " (" + error.detail + ")";
  return text;
}

}  // namespace rolta
