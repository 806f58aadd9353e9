#include "env/rotating_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>

namespace rolta {
namespace {

namespace fs = std::filesystem;

// The byte count of the UTF-8 sequence `text` starts with, 0 when it starts
// with no well-formed sequence (a stray continuation byte, a cut sequence).
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  if (length == 0 || text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// One unit of the detail as written: a byte, or a whole UTF-8 character, so a
// cut never splits one.
std::string EscapedUnit(std::string_view text, std::size_t& consumed) {
  const auto byte = static_cast<unsigned char>(text[0]);
  consumed = 1;
  switch (byte) {
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    case '\\': return "\\\\";
    default: break;
  }
  if (byte >= 0x20 && byte < 0x7F) return std::string(1, static_cast<char>(byte));
  if (byte >= 0x80) {
    if (const std::size_t length = Utf8SequenceLength(text)) {
      consumed = length;
      return std::string(text.substr(0, length));
    }
  }
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02x", byte);
  return hex;
}

// "2026-03-04T10:11:12.345+01:00", local time.
std::string LocalTimestamp() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  const long offsetMinutes = local.tm_gmtoff / 60;
  const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[96];
  std::snprintf(text, sizeof text, "%s.%03ld%c%02ld:%02ld", date, now.tv_nsec / 1000000L, offsetMinutes < 0 ? '-' : '+',
                magnitude / 60, magnitude % 60);
  return text;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Each missing folder on the way is made private to the user.
bool MakeFolders(const fs::path& folder) {
  fs::path partial;
  for (const fs::path& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

fs::path RotatedName(const fs::path& path, int number) { return path.string() + "." + std::to_string(number); }

}  // namespace

fs::path DefaultLogPath() {
  // The XDG rules ignore relative values.
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
    return fs::path(state) / "rolta" / "rolta.log";
  }
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    return fs::path(home) / ".local" / "state" / "rolta" / "rolta.log";
  }
  return {};
}

bool LogFileTurnedOff() {
  const char* setting = std::getenv("ROLTA_LOG");
  if (!setting) return false;
  for (const char* off : {"off", "0", "no", "false"}) {
    if (::strcasecmp(setting, off) == 0) return true;
  }
  return false;
}

std::string EscapeLogDetail(std::string_view detail, std::size_t maxBytes) {
  std::string escaped;
  std::size_t at = 0;
  while (at < detail.size()) {
    std::size_t consumed = 0;
    const std::string unit = EscapedUnit(detail.substr(at), consumed);
    if (escaped.size() + unit.size() > maxBytes) {
      escaped += "...(+" + std::to_string(detail.size() - at) + " bytes)";
      break;
    }
    escaped += unit;
    at += consumed;
  }
  return escaped;
}

RotatingLogFile::RotatingLogFile(fs::path path, std::string programName, RotatingLogLimits limits)
    : path_(std::move(path)), programName_(std::move(programName)), limits_(limits) {}

RotatingLogFile::~RotatingLogFile() {
  const std::lock_guard lock(mutex_);
  CloseLocked();
}

void RotatingLogFile::Write(FieldEvent event, std::string_view detail) { WriteLine(FieldEventName(event), detail); }

void RotatingLogFile::WriteLine(std::string_view name, std::string_view detail) {
  const std::lock_guard lock(mutex_);
  // Formed under the lock so the file's lines follow the order of the calls.
  std::string line = LocalTimestamp() + " " + programName_ + "[" + std::to_string(::getpid()) + "] ";
  line.append(name);
  if (!detail.empty()) line += " " + EscapeLogDetail(detail);
  line += '\n';

  if (!EnsureOpenLocked()) return;
  RotateIfFullLocked(line.size());
  if (fd_ < 0) {
    FailLocked("open", errno);
    return;
  }
  // One write(2) for the whole line: O_APPEND keeps it whole beside other writers.
  ssize_t written = 0;
  do {
    written = ::write(fd_, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(line.size())) FailLocked("write", written < 0 ? errno : ENOSPC);
}

bool RotatingLogFile::EnsureOpenLocked() {
  if (fd_ >= 0) {
    // Another process rotated (or removed) the file: follow the path.
    struct stat held {
    }, atPath{};
    if (::fstat(fd_, &held) == 0 && ::stat(path_.c_str(), &atPath) == 0 && SameFile(held, atPath)) return true;
    CloseLocked();
  }
  if (path_.empty() || !MakeFolders(path_.parent_path())) {
    FailLocked("create the folder of", errno);
    return false;
  }
  fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    FailLocked("open", errno);
    return false;
  }
  // A file left full by the last run is rotated before anything is added.
  RotateIfFullLocked(0);
  if (fd_ < 0) {
    FailLocked("open", errno);
    return false;
  }
  return true;
}

void RotatingLogFile::RotateIfFullLocked(std::uint64_t incomingBytes) {
  // Twice at most: the second pass only checks the file another process may
  // have started since.
  for (int pass = 0; pass < 2 && fd_ >= 0; ++pass) {
    struct stat held {};
    if (::fstat(fd_, &held) != 0) return;
    const auto size = static_cast<std::uint64_t>(held.st_size);
    const bool full =
        incomingBytes == 0 ? size >= limits_.maxBytes : size > 0 && size + incomingBytes > limits_.maxBytes;
    if (!full) return;
    // Writers of this file wait for each other here; the lock goes with the
    // file's close below. Without flock support two writers may both rotate.
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat atPath {};
    if (::stat(path_.c_str(), &atPath) == 0 && SameFile(held, atPath)) RotateFilesLocked();
    CloseLocked();
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  }
}

void RotatingLogFile::RotateFilesLocked() {
  if (limits_.keptFiles <= 0) {
    ::unlink(path_.c_str());
    return;
  }
  // The oldest is replaced by the one before it, and so on down to the live file.
  for (int number = limits_.keptFiles - 1; number >= 1; --number) {
    ::rename(RotatedName(path_, number).c_str(), RotatedName(path_, number + 1).c_str());
  }
  if (::rename(path_.c_str(), RotatedName(path_, 1).c_str()) != 0 && !reported_) {
    // The file goes on growing; its lines are still written.
    reported_ = true;
    std::fprintf(stderr, "%s: the log file %s cannot be rotated (%s)\n", programName_.c_str(), path_.c_str(),
                 std::strerror(errno));
  }
}

void RotatingLogFile::CloseLocked() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void RotatingLogFile::FailLocked(const char* what, int error) {
  failures_.fetch_add(1);
  if (reported_) return;
  reported_ = true;
  std::fprintf(stderr, "%s: cannot %s the log file %s (%s); its lines are left out\n", programName_.c_str(), what,
               path_.c_str(), std::strerror(error));
}

ProgramLog::ProgramLog(std::string programName, std::string version) : version_(std::move(version)) {
  if (LogFileTurnedOff()) return;
  fs::path path = DefaultLogPath();
  if (path.empty()) return;
  file_ = std::make_unique<RotatingLogFile>(std::move(path), std::move(programName));
  file_->Write(FieldEvent::ProgramStarted, "version " + version_);
  SetFieldLogSink(file_.get());
}

ProgramLog::~ProgramLog() { End("version " + version_); }

void ProgramLog::Finish(int exitCode) { End("version " + version_ + ", exit code " + std::to_string(exitCode)); }

void ProgramLog::End(std::string_view detail) {
  if (!file_ || ended_) return;
  ended_ = true;
  SetFieldLogSink(nullptr);
  file_->Write(FieldEvent::ProgramEnded, detail);
}

}  // namespace rolta
