#include "cli/cli_command.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_history.h"
#include "link/frames.h"
#include "readouts/console_texts.h"

namespace rolta::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::int16_t kNumthRejected = -6;

// The whole of a regular file of at most `maxBytes`, or why not. A folder, a
// FIFO or a device is refused without reading from it (a FIFO would block,
// a device could be endless), and so is a file too large to be a document.
struct FileRead {
  std::optional<std::string> text;
  std::string problem;
};
FileRead ReadRegularFile(const fs::path& path, std::size_t maxBytes) {
  const auto failed = [](std::string problem) { return FileRead{std::nullopt, std::move(problem)}; };
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.fd < 0) return failed(std::string("cannot be opened: ") + std::strerror(errno));
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return failed(std::string("cannot be read: ") + std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return failed(S_ISDIR(info.st_mode) ? "is a folder" : "is not a regular file");
  const std::string tooLarge = "is larger than " + std::to_string(maxBytes) + " bytes";
  if (static_cast<std::uint64_t>(info.st_size) > maxBytes) return failed(tooLarge);
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return failed(std::string("cannot be read: ") + std::strerror(errno));
    if (got == 0) break;
    // It may have grown since it was looked at.
    if (text.size() + static_cast<std::size_t>(got) > maxBytes) return failed(tooLarge);
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return {std::move(text), {}};
}

}  // namespace

std::string Say(const TextLookup& texts, std::string_view text) { return texts.Lookup(text); }

std::int16_t NumthOf(const std::uint8_t* frame, std::size_t length) { return GetInt16LE(frame + length - 2); }

FileDescriptor::~FileDescriptor() {
  if (fd >= 0) ::close(fd);
}

int CommandContext::WithLine(const std::function<int(Line&)>& body) {
  Line line(environment, err);
  CommandHistory history;
  if (const int code = OpenCommandHistory(*this, history); code != kExitDone) return code;
  line.Session().AddServiceEvents(history.recorder.get());
  historyRecorder = history.recorder.get();
  int code = line.Open(request);
  if (code == kExitDone) code = body(line);
  historyRecorder = nullptr;
  line.Session().RemoveServiceEvents(history.recorder.get());
  // A change the history could not take is not done as far as the caller knows.
  return code == kExitDone && history.failed ? kExitHistory : code;
}

int CommandContext::Fail(int code, const std::string& what) {
  err << what << "\n";
  return code;
}

int CommandContext::WaitFailure(WaitResult result, std::string_view what) {
  if (result == WaitResult::Interrupted) return Fail(kExitInterrupted, Say(texts, "Interrupted."));
  if (result == WaitResult::LineLost) {
    return Fail(kExitPortError, Say(texts, "The line to the controller was lost") + " (" + std::string(what) + ")");
  }
  return Fail(kExitTimeOut, Say(texts, "Time-out: the controller did not answer") + " (" + std::string(what) + ")");
}

int CommandContext::Exchange(Line& line, std::uint8_t type, const std::function<void()>& send, Awaited& awaited,
                             std::string_view what) {
  awaited = {};
  line.Session().SetFrameObserver([&awaited, type](const std::uint8_t* frame, std::size_t length) {
    if (awaited.seen || frame[kCommandCodeOffset] != type) return;
    awaited.seen = true;
    awaited.frame.assign(frame, frame + length);
  });
  send();
  const WaitResult result = line.WaitUntil([&awaited] { return awaited.seen; }, request.timeoutSeconds);
  line.Session().SetFrameObserver({});
  if (result != WaitResult::Done) return WaitFailure(result, what);
  if (NumthOf(awaited.frame.data(), awaited.frame.size()) == kNumthRejected) {
    return Fail(kExitRefused, Say(texts, "The controller refused") + " " + std::string(what) + ": " +
                                  texts.Lookup(kInvalidCommandText));
  }
  return kExitDone;
}

std::optional<std::string> CommandContext::ReadText(const fs::path& path) {
  FileRead read = ReadRegularFile(path, kMaxDocumentBytes);
  if (!read.text) err << path.string() << ": " << read.problem << " (" << Say(texts, "nothing was sent") << ")\n";
  return std::move(read.text);
}

int CommandContext::Invalid(const fs::path& path, const DocumentError& error) {
  return Fail(kExitUsage, path.string() + ": " + error.message + " (" + Say(texts, "nothing was sent") + ")");
}

}  // namespace rolta::cli
