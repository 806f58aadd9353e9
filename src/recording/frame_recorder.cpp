#include "recording/frame_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "recording/recording.h"
#include "env/number_text.h"

namespace rolta {

MessageRequest RecordErrorMessage(const TextLookup& texts, const RecordError& error) {
  const char* what = "记录文件写入失败";
  switch (error.kind) {
    case RecordError::Kind::Folder: what = "无法建立记录文件夹"; break;
    case RecordError::Kind::Open: what = "无法建立记录文件"; break;
    case RecordError::Kind::Write: what = "记录文件写入失败"; break;
    case RecordError::Kind::Backlog: what = "磁盘写入跟不上，记录缓冲已满"; break;
  }
  std::string text = texts.Lookup(what);
  text += "\n";
  text += error.path.string();
  if (error.code) {
    text += "\n";
    text += error.code.message();
  }
  text += "\n";
  text += texts.Lookup(error.kind == RecordError::Kind::Folder || error.kind == RecordError::Kind::Open
                           ? "记录没有开始。"
                           : "记录已停止，已写入的数据保留在文件中。");
  return {text, texts.Lookup("记录"), MessageIcon::Warning, MessageButtons::Ok};
}

FrameRecorder::FrameRecorder() : FrameRecorder(Options{}) {}

FrameRecorder::FrameRecorder(Options options) : options_(options) {}

FrameRecorder::~FrameRecorder() {
  Stop();
  if (worker_.joinable()) worker_.join();
  if (fd_ >= 0) ::close(fd_);
}

std::optional<RecordError> FrameRecorder::Start(const std::filesystem::path& file,
                                                std::chrono::steady_clock::time_point start,
                                                std::chrono::system_clock::time_point wallStart) {
  // Once started, the worker owns the file and reads these: a second Start
  // must not touch them.
  if (worker_.joinable()) {
    return RecordError{RecordError::Kind::Open, file, std::make_error_code(std::errc::device_or_resource_busy)};
  }
  path_ = file;
  start_ = start;
  wallStart_ = wallStart;
  if (const auto folder = file.parent_path(); !folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return RecordError{RecordError::Kind::Folder, folder, ec};
  }
  fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return RecordError{RecordError::Kind::Open, file, std::error_code(errno, std::generic_category())};
  recording_.store(true);
  worker_ = std::thread([this] { Run(); });
  return std::nullopt;
}

void FrameRecorder::Add(const ControllerStatus& status, std::chrono::steady_clock::time_point at) {
  if (!recording_.load(std::memory_order_relaxed)) return;
  std::lock_guard lock(mutex_);
  if (stop_ || backlog_) return;
  if (queue_.size() >= options_.maxQueued) {
    // Beyond this the disk is not coming back in time; stop rather than
    // grow without bound.
    backlog_ = true;
    wake_.notify_one();
    return;
  }
  queue_.push_back({status, at});
}

void FrameRecorder::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  recording_.store(false);
  wake_.notify_one();
}

RecorderProgress FrameRecorder::Progress() const {
  std::lock_guard lock(mutex_);
  return {rowsWritten_, queue_.size(), finished_, error_};
}

bool FrameRecorder::WriteAll(const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(RecordError::Kind::Write, errno);
      return false;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

void FrameRecorder::Fail(RecordError::Kind kind, int error) {
  recording_.store(false);
  std::lock_guard lock(mutex_);
  if (!error_) error_ = RecordError{kind, path_, std::error_code(error, std::generic_category())};
}

void FrameRecorder::Run() {
  using clock = std::chrono::steady_clock;
  std::string text = RecordHeader();
  std::vector<Entry> batch;
  RecordRow row;
  // The wall-clock text changes once a millisecond at most; rows of the same
  // millisecond share it.
  std::string wallText;
  std::int64_t wallTextMs = -1;
  clock::time_point lastSync = clock::now();
  bool failed = false;

  while (!failed) {
    bool stopping = false;
    bool backlog = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, options_.flushInterval, [this] { return stop_ || backlog_; });
      batch.swap(queue_);
      stopping = stop_;
      backlog = backlog_;
    }
    for (const Entry& entry : batch) {
      const auto sinceStart = entry.at - start_;
      FillRecordRow(entry.status, std::chrono::duration<double, std::milli>(sinceStart).count(), row);
      const auto wall = wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(sinceStart);
      const std::int64_t wallMs =
          std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
      if (wallMs != wallTextMs) {
        wallText = IsoLocalTime(wall);
        wallTextMs = wallMs;
      }
      AppendRecordRow(text, wallText, row);
    }
    const std::size_t rows = batch.size();
    batch.clear();
    if (!text.empty()) {
      if (!WriteAll(text)) {
        failed = true;
        break;
      }
      text.clear();
    }
    {
      std::lock_guard lock(mutex_);
      rowsWritten_ += rows;
    }
    if (options_.syncToDisk && clock::now() - lastSync >= std::chrono::seconds(1)) {
      lastSync = clock::now();
      // Devices and pipes cannot be synced (EINVAL); a real error shows in the next write or close.
      ::fdatasync(fd_);
    }
    if (backlog) {
      Fail(RecordError::Kind::Backlog, ENOBUFS);
      failed = true;
      break;
    }
    if (stopping) break;
  }
  if (options_.syncToDisk) ::fdatasync(fd_);
  const int closed = ::close(fd_);
  const int closeError = errno;
  fd_ = -1;
  if (closed != 0 && !failed) Fail(RecordError::Kind::Write, closeError);
  recording_.store(false);
  std::lock_guard lock(mutex_);
  queue_.clear();
  finished_ = true;
}

}  // namespace rolta
