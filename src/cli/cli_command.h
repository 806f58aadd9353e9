// What every rolta-cli command works with: its request, the environment, the
// two output streams, and the steps they share (opening the line, waiting for
// an answer, reporting a failure with its exit code, reading a document).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_documents.h"
#include "cli/cli_line.h"
#include "cli/cli_runner.h"
#include "env/text_lookup.h"

namespace rolta {
class HistoryRecorder;
}

namespace rolta::cli {

// Messages of this program. They pass through the lookup like every text
// shown, keyed by their English form.
std::string Say(const TextLookup& texts, std::string_view text);

// The Numth a controller frame ends with.
std::int16_t NumthOf(const std::uint8_t* frame, std::size_t length);

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
  explicit FileDescriptor(int fd) : fd(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();
  int fd;
};

// The first frame of the awaited type, copied.
struct Awaited {
  bool seen = false;
  std::vector<std::uint8_t> frame;
};

struct CommandContext {
  CommandContext(const CliRequest& request, const CliEnvironment& environment, std::ostream& out, std::ostream& err)
      : request(request), environment(environment), texts(environment.texts), out(out), err(err) {}

  // Opens the line the request names and runs `body` on it.
  int WithLine(const std::function<int(Line&)>& body);

  // Says `what` on the error stream; returns `code`.
  int Fail(int code, const std::string& what);

  // The exit code of a wait that did not end with the answer, said with `what` waited for.
  int WaitFailure(WaitResult result, std::string_view what);

  // Sends, then waits for the first frame of `type`; a Numth of -6 is a refusal.
  int Exchange(Line& line, std::uint8_t type, const std::function<void()>& send, Awaited& awaited,
               std::string_view what);

  // The whole of a document file, or nothing when it cannot be one (said).
  std::optional<std::string> ReadText(const std::filesystem::path& path);

  // A document that does not hold what it must; nothing was sent.
  int Invalid(const std::filesystem::path& path, const DocumentError& error);

  const CliRequest& request;
  const CliEnvironment& environment;
  // The history a command on the line writes to (inside WithLine; nullptr
  // without one).
  HistoryRecorder* historyRecorder = nullptr;
  const TextLookup& texts;
  std::ostream& out;
  std::ostream& err;
};

}  // namespace rolta::cli
