// Writes decoded status frames to a recording file on a worker thread. The
// receive path only appends the decoded frame to a queue under a lock; the
// worker formats the rows and writes them at least every flush interval, so
// the window thread never waits on the disk and a crash loses at most the
// last interval. A failing write stops the recording, keeps what was written
// and is reported through Progress().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "link/status_frames.h"

namespace rolta {

struct RecordError {
  enum class Kind : std::uint8_t {
    Folder,   // the folder could not be made
    Open,     // the file could not be made
    Write,    // a write (or the closing) failed: disk full, device gone
    Backlog,  // the disk did not keep up and the queue reached its limit
  };
  Kind kind = Kind::Write;
  std::filesystem::path path;
  std::error_code code;
};
// The box for a failed recording: what failed, the file, the system's reason.
MessageRequest RecordErrorMessage(const TextLookup& texts, const RecordError& error);

struct RecorderProgress {
  std::uint64_t rowsWritten = 0;  // on the disk (handed to the system)
  std::uint64_t rowsQueued = 0;   // waiting for the worker
  bool finished = false;          // the worker is done: stopped or failed
  std::optional<RecordError> error;
};

class FrameRecorder {
 public:
  struct Options {
    std::chrono::milliseconds flushInterval{250};
    std::size_t maxQueued = 2'000'000;  // about an hour at the line's frame rate
    bool syncToDisk = true;             // fdatasync at most once a second
  };
  FrameRecorder();
  explicit FrameRecorder(Options options);
  // Writes what is queued, closes the file and joins the worker.
  ~FrameRecorder();
  FrameRecorder(const FrameRecorder&) = delete;
  FrameRecorder& operator=(const FrameRecorder&) = delete;

  // Makes the folder and the file (replacing one of the same name) and starts
  // the worker; the header is its first write. Rows are timed from `start`;
  // `wallStart` is the wall clock at that instant. Once per recorder.
  std::optional<RecordError> Start(const std::filesystem::path& file, std::chrono::steady_clock::time_point start,
                                   std::chrono::system_clock::time_point wallStart);
  // One decoded frame; on the receive path's thread. Ignored unless recording.
  void Add(const ControllerStatus& status, std::chrono::steady_clock::time_point at);
  // No more rows: the worker writes the rest and closes the file. Does not wait.
  void Stop();
  // Started, not stopped and not failed.
  bool Recording() const { return recording_.load(std::memory_order_relaxed); }
  RecorderProgress Progress() const;
  const std::filesystem::path& Path() const { return path_; }
  std::chrono::steady_clock::time_point StartTime() const { return start_; }

 private:
  struct Entry {
    ControllerStatus status;
    std::chrono::steady_clock::time_point at;
  };
  void Run();
  bool WriteAll(const std::string& text);
  void Fail(RecordError::Kind kind, int error);

  Options options_;
  std::filesystem::path path_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::system_clock::time_point wallStart_;
  int fd_ = -1;
  std::thread worker_;
  std::atomic<bool> recording_{false};

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Entry> queue_;          // guarded by mutex_
  bool stop_ = false;                 // guarded by mutex_
  bool backlog_ = false;              // guarded by mutex_
  std::uint64_t rowsWritten_ = 0;     // guarded by mutex_
  bool finished_ = false;             // guarded by mutex_
  std::optional<RecordError> error_;  // guarded by mutex_
};

}  // namespace rolta
