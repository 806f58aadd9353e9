// The field log on disk: one line per event, appended to a file that is
// rotated by size, shared safely by every program of the user that writes it
// (the console and rolta-cli may run at the same time).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "env/field_log.h"

namespace rolta {

struct RotatingLogLimits {
  // A write that would take the file past this size rotates it first.
  std::uint64_t maxBytes = 1024 * 1024;
  // Rotated files kept beside the live one: name.1 (newest) to name.<keptFiles>.
  int keptFiles = 3;
};

// The longest detail written; a longer one is cut and says how much was left out.
inline constexpr std::size_t kMaxLogDetailBytes = 500;

// $XDG_STATE_HOME/rolta/rolta.log, else ~/.local/state/rolta/rolta.log;
// empty when neither is known.
std::filesystem::path DefaultLogPath();

// ROLTA_LOG=off (or 0, no, false) in the environment turns the file off.
bool LogFileTurnedOff();

// The detail as one line: control characters and backslashes escaped (\n,
// \r, \t, \\, \xHH), at most `maxBytes` of escaped text; a cut detail ends
// with "...(+N bytes)" naming how many bytes of the original were left out.
std::string EscapeLogDetail(std::string_view detail, std::size_t maxBytes = kMaxLogDetailBytes);

// Appends "<local time> <program>[<pid>] <name> <detail>\n" lines, e.g.
// "2026-03-04T10:11:12.345+01:00 rolta[4242] line-lost /dev/ttyS0".
//
// Between processes: the file is opened with O_APPEND and each line goes out
// in one write(2), so lines of different writers never mix. A rotation renames
// the files under an flock(2) of the live file, and only a writer whose open
// file is still the one at the path rotates; a writer that finds another
// file there reopens instead. So two writers never rotate for the same
// growth, and a line written while another process rotates lands in the file
// just renamed to name.1: it is kept, not lost. A line is only lost to
// retention if the file its writer holds is renamed past name.<keptFiles>
// between that writer's check and its write, three rotations (3 MiB from
// other writers) within one system call. Where flock is not supported two
// writers may both rotate, at worst once more than needed. A line that cannot
// be written is counted (`Failures`) and named once on stderr; the program
// goes on undisturbed.
class RotatingLogFile : public FieldLogSink {
 public:
  RotatingLogFile(std::filesystem::path path, std::string programName, RotatingLogLimits limits = {});
  ~RotatingLogFile() override;
  RotatingLogFile(const RotatingLogFile&) = delete;
  RotatingLogFile& operator=(const RotatingLogFile&) = delete;

  void Write(FieldEvent event, std::string_view detail) override;
  // A line whose name is not a field event (e.g. a Qt message's type).
  void WriteLine(std::string_view name, std::string_view detail);

  // Lines that could not be written since the start.
  std::uint64_t Failures() const { return failures_.load(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  bool EnsureOpenLocked();
  void RotateIfFullLocked(std::uint64_t incomingBytes);
  void RotateFilesLocked();
  void CloseLocked();
  void FailLocked(const char* what, int error);

  const std::filesystem::path path_;
  const std::string programName_;
  const RotatingLogLimits limits_;
  std::mutex mutex_;
  int fd_ = -1;
  bool reported_ = false;
  std::atomic<std::uint64_t> failures_{0};
};

// The log of one program's run: the file at DefaultLogPath() as the field-log
// sink (unless ROLTA_LOG turns it off or no place is known), a
// "program-started" line with the version, and "program-ended" with the exit
// code at Finish (or at destruction, without one). Finish clears the sink;
// the file stays open until destruction for other writers of the program
// (its Qt messages).
class ProgramLog {
 public:
  ProgramLog(std::string programName, std::string version);
  ~ProgramLog();
  ProgramLog(const ProgramLog&) = delete;
  ProgramLog& operator=(const ProgramLog&) = delete;

  void Finish(int exitCode);
  // The open file, or nullptr when the log is off.
  RotatingLogFile* File() { return file_.get(); }

 private:
  void End(std::string_view detail);

  std::string version_;
  std::unique_ptr<RotatingLogFile> file_;
  bool ended_ = false;
};

}  // namespace rolta
