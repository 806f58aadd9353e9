#include "cli/cli_runner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "calib/calib_exchange.h"
#include "cli/cli_documents.h"
#include "config/channel_map.h"
#include "config/param_summary.h"
#include "config/params_exchange.h"
#include "commands/catalogue.h"
#include "console/console_settings.h"
#include "readouts/console_texts.h"
#include "session/controller_session.h"
#include "upgrade/firmware_upgrade.h"
#include "commands/input_checks.h"
#include "session/safety_messages.h"
#include "readouts/readouts.h"
#include "env/env_library.h"
#include "link/command_codes.h"

namespace rolta::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::int16_t kNumthRejected = -6;
constexpr std::int16_t kNumthParamsWritten = 102;

// Messages of this program. They pass through the lookup like every text
// shown, keyed by their English form.
std::string Say(const TextLookup& texts, std::string_view text) { return texts.Lookup(text); }

std::int16_t NumthOf(const std::uint8_t* frame, std::size_t length) { return GetInt16LE(frame + length - 2); }

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
  explicit FileDescriptor(int fd) : fd(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
};

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

// How a backup folder's writing went: an empty problem when it is in place.
struct BackupWriteResult {
  std::string problem;  // a fixed text for the lookup
  std::string detail;   // the system's reason
};

bool WriteWholeFile(int folderFd, const std::string& name, const std::string& text) {
  const FileDescriptor file(::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (file.fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(file.fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return ::fsync(file.fd) == 0;
}

bool SyncFolder(const fs::path& folder) {
  const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.fd >= 0 && ::fsync(fd.fd) == 0;
}

// Writes the files into a hidden sibling of `requested`, syncs them and puts
// the folder in place with one rename: a failure (a full disk) leaves no
// folder, and an existing backup is only ever replaced whole (`replace`), or
// left as it was.
BackupWriteResult WriteBackupAtomically(const fs::path& requested,
                                        const std::vector<std::pair<std::string, std::string>>& files,
                                        bool replace) {
  fs::path target = fs::absolute(requested).lexically_normal();
  if (!target.has_filename()) target = target.parent_path();
  const fs::path parent = target.parent_path();
  // Appended piece by piece: GCC 12 misreads `"." + string` at -O3 (-Wrestrict).
  std::string tag(1, '.');
  tag.append(target.filename().string()).append(".rolta-").append(std::to_string(::getpid()));
  const fs::path staging = parent / (tag + "-new");
  const fs::path previous = parent / (tag + "-old");
  const auto failed = [&staging](std::string problem, int error) {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    return BackupWriteResult{std::move(problem), error != 0 ? std::strerror(error) : ""};
  };
  std::error_code error;
  fs::create_directories(parent, error);
  fs::remove_all(staging, error);
  if (::mkdir(staging.c_str(), 0755) != 0) return failed("the backup folder could not be written", errno);
  {
    const FileDescriptor folder(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) return failed("the backup folder could not be written", errno);
    for (const auto& [name, text] : files) {
      if (!WriteWholeFile(folder.fd, name, text)) return failed("the backup folder could not be written", errno);
    }
    if (::fsync(folder.fd) != 0) return failed("the backup folder could not be written", errno);
  }
  // An empty folder is replaced by rename itself; a full one only when asked.
  bool movedAside = false;
  if (::rename(staging.c_str(), target.c_str()) != 0) {
    const int renameError = errno;
    if ((renameError != ENOTEMPTY && renameError != EEXIST) || !replace) {
      return failed(renameError == ENOTEMPTY || renameError == EEXIST ? "already holds files; --force replaces it whole"
                                                                      : "the backup folder could not be put in place",
                    renameError == ENOTEMPTY || renameError == EEXIST ? 0 : renameError);
    }
    fs::remove_all(previous, error);
    if (::rename(target.c_str(), previous.c_str()) != 0) {
      return failed("the backup folder could not be put in place", errno);
    }
    movedAside = true;
    if (::rename(staging.c_str(), target.c_str()) != 0) {
      const int putError = errno;
      ::rename(previous.c_str(), target.c_str());  // the old backup back where it was
      return failed("the backup folder could not be put in place", putError);
    }
  }
  SyncFolder(parent);
  if (movedAside) fs::remove_all(previous, error);
  return {};
}

// `<folder>.before-<local time>` beside the folder a restore reads.
fs::path SafetyBackupPath(const fs::path& source) {
  fs::path folder = fs::absolute(source).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return folder.parent_path() / (folder.filename().string() + ".before-" + stamp);
}

// The channel's notifications, posted by its monitor thread and handled on
// the thread that runs the command.
class Notifications {
 public:
  void Post(std::uint32_t events) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(events);
    }
    ready_.notify_one();
  }
  std::deque<std::uint32_t> Take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
    return std::exchange(queue_, {});
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::uint32_t> queue_;
};

class TerminalView final : public SessionView {
 public:
  void ShowStatusLine(const std::string&) override {}
  void ShowReadouts(const ReadoutUpdate&) override {}
  void ShowControllerVersion(const ControllerVersionTexts& texts) override { version = texts; }
  void RequestPresent() override {}
  void OnChannelClosed() override { channelClosed = true; }
  void StartExternalProgram(const std::string&) override {}
  std::string CurrentDirectory() const override { return fs::current_path().string(); }
  void ShowChannelMapWindow() override {}
  ControllerVersionTexts version;
  // The line was lost (hang-up, device gone); the command ends with a port error.
  bool channelClosed = false;
};

// A box is printed; its question is answered OK, as an operator who runs the
// command has already decided. Once the line is lost the program says so in
// its own words (the console's box speaks of its buttons).
class TerminalBoxes final : public MessageBoxService {
 public:
  TerminalBoxes(std::ostream& err, const TerminalView& view) : err_(err), view_(view) {}
  MessageAnswer Show(const MessageRequest& request) override {
    if (!view_.channelClosed) err_ << request.caption << ": " << request.text << "\n";
    return MessageAnswer::Ok;
  }

 private:
  std::ostream& err_;
  const TerminalView& view_;
};

class TerminalKeys final : public KeyState {
 public:
  explicit TerminalKeys(const std::atomic<bool>& interrupted) : interrupted_(interrupted) {}
  // Ctrl-C stands for both keys: it ends the repeat-send loop and cancels an upgrade.
  bool IsCtrlHeld() const override { return interrupted_.load(); }
  bool IsEscapeHeld() const override { return interrupted_.load(); }

 private:
  const std::atomic<bool>& interrupted_;
};

class TerminalPump final : public EventPump {
 public:
  explicit TerminalPump(Notifications& notifications) : notifications_(notifications) {}
  void ProcessPendingEvents() override { Handle(notifications_.Take(std::chrono::milliseconds(0))); }
  void SleepMilliseconds(int milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  void Handle(const std::deque<std::uint32_t>& events) {
    if (session == nullptr) return;
    for (std::uint32_t e : events) session->OnCommNotify(e);
  }
  ControllerSession* session = nullptr;

 private:
  Notifications& notifications_;
};

enum class WaitResult { Done, TimeOut, Interrupted, LineLost };

// One connection to the controller for one command.
class Line {
 public:
  Line(const CliEnvironment& environment, std::ostream& err)
      : environment_(environment),
        texts_(environment.texts),
        boxes_(err, view_),
        keys_(environment.interrupted),
        pump_(notifications_),
        session_(texts_, view_, HostServices{boxes_, pump_, keys_}),
        err_(err) {
    pump_.session = &session_;
    session_.Port().SetNotifyCallback([this](std::uint32_t events) { notifications_.Post(events); });
  }
  ~Line() {
    session_.SetFrameObserver({});
    session_.Close();
  }

  int Open(const CliRequest& request) {
    std::string port = request.port;
    if (port.empty()) {
      const int index = environment_.settingsPortIndex;
      if (index < 0 || static_cast<std::size_t>(index) >= environment_.ports.size()) {
        err_ << Say(texts_, "No --port given, and the console's settings name no port of the list.") << "\n";
        return kExitUsage;
      }
      port = environment_.ports[static_cast<std::size_t>(index)];
    }
    const std::uint32_t baud =
        request.baud != 0 ? request.baud : BaudFromSpeedIndex(environment_.settingsSpeedIndex);
    if (!session_.Open(port, baud)) {
      err_ << OpenFailureMessage(texts_, port, session_.OpenError()).text << "\n";
      return kExitPortError;
    }
    port_ = port;
    return kExitDone;
  }

  const std::string& PortName() const { return port_; }

  // Handles the channel's notifications until `done` holds or the time is up.
  WaitResult WaitUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    while (true) {
      pump_.ProcessPendingEvents();
      session_.Tick();  // the session's timer: held frames, unanswered commands
      if (done()) return WaitResult::Done;
      if (view_.channelClosed) return WaitResult::LineLost;
      if (environment_.interrupted.load()) return WaitResult::Interrupted;
      const auto now = Clock::now();
      if (now >= deadline) return WaitResult::TimeOut;
      const auto slice = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(50));
      pump_.Handle(notifications_.Take(std::chrono::duration_cast<std::chrono::milliseconds>(slice) +
                                       std::chrono::milliseconds(1)));
      if (done()) return WaitResult::Done;
    }
  }

  ControllerSession& Session() { return session_; }
  TerminalView& View() { return view_; }
  TerminalPump& Pump() { return pump_; }
  const TextLookup& Texts() const { return texts_; }

 private:
  const CliEnvironment& environment_;
  const TextLookup& texts_;
  Notifications notifications_;
  TerminalView view_;
  TerminalBoxes boxes_;
  TerminalKeys keys_;
  TerminalPump pump_;
  ControllerSession session_;
  std::ostream& err_;
  std::string port_;
};

// Waits for the first frame of `type` after `send` ran; copies it.
struct Awaited {
  bool seen = false;
  std::vector<std::uint8_t> frame;
};

class Commands {
 public:
  Commands(const CliRequest& request, const CliEnvironment& environment, std::ostream& out, std::ostream& err)
      : request_(request), environment_(environment), texts_(environment.texts), out_(out), err_(err) {}

  int Run() {
    const int code = RunCommand();
    // What was printed must have reached its file: a full disk is an error
    // of its own, not a success.
    out_.flush();
    if (!out_) {
      err_ << Say(texts_, "The output could not be written.") << "\n";
      return kExitOutputFailed;
    }
    return code;
  }

 private:
  int RunCommand() {
    switch (request_.command) {
      case Command::Ports: return Ports();
      case Command::Version: return WithLine([this](Line& line) { return Version(line); });
      case Command::Exec: return Exec();
      case Command::EmergencyStop: return WithLine([this](Line& line) { return EmergencyStop(line); });
      case Command::ParamsGet: return WithLine([this](Line& line) { return ParamsGet(line); });
      case Command::ParamsSet: return ParamsSet();
      case Command::ChannelsGet: return WithLine([this](Line& line) { return ChannelsGet(line); });
      case Command::ChannelsSet: return ChannelsSet();
      case Command::CalibGet: return CalibGet();
      case Command::CalibSet: return CalibSet();
      case Command::Backup: return Backup();
      case Command::Restore: return Restore();
      case Command::Upgrade: return Upgrade();
      case Command::Monitor: return WithLine([this](Line& line) { return Monitor(line); });
      case Command::None: break;
    }
    err_ << Say(texts_, "No command given; see --help.") << "\n";
    return kExitUsage;
  }

  int WithLine(const std::function<int(Line&)>& body) {
    Line line(environment_, err_);
    if (const int code = line.Open(request_); code != kExitDone) return code;
    return body(line);
  }

  int Fail(int code, const std::string& what) {
    err_ << what << "\n";
    return code;
  }

  int WaitFailure(WaitResult result, std::string_view what) {
    if (result == WaitResult::Interrupted) return Fail(kExitInterrupted, Say(texts_, "Interrupted."));
    if (result == WaitResult::LineLost) {
      return Fail(kExitPortError, Say(texts_, "The line to the controller was lost") + " (" + std::string(what) + ")");
    }
    return Fail(kExitTimeOut, Say(texts_, "Time-out: the controller did not answer") + " (" + std::string(what) + ")");
  }

  // Sends, then waits for the first frame of `type`; a Numth of -6 is a refusal.
  int Exchange(Line& line, std::uint8_t type, const std::function<void()>& send, Awaited& awaited,
               std::string_view what) {
    awaited = {};
    line.Session().SetFrameObserver([&awaited, type](const std::uint8_t* frame, std::size_t length) {
      if (awaited.seen || frame[kCommandCodeOffset] != type) return;
      awaited.seen = true;
      awaited.frame.assign(frame, frame + length);
    });
    send();
    const WaitResult result = line.WaitUntil([&awaited] { return awaited.seen; }, request_.timeoutSeconds);
    line.Session().SetFrameObserver({});
    if (result != WaitResult::Done) return WaitFailure(result, what);
    if (NumthOf(awaited.frame.data(), awaited.frame.size()) == kNumthRejected) {
      return Fail(kExitRefused, Say(texts_, "The controller refused") + " " + std::string(what) + ": " +
                                    texts_.Lookup(kInvalidCommandText));
    }
    return kExitDone;
  }

  int Ports() {
    if (!environment_.portsAvailable) {
      return Fail(kExitPortError, Say(texts_, "The environment library could not be loaded: no port list."));
    }
    for (const std::string& port : environment_.ports) out_ << port << "\n";
    return kExitDone;
  }

  int Version(Line& line) {
    Awaited awaited;
    if (int code = Exchange(line, command::kVersion, [&line] { line.Session().QueryVersion(); }, awaited,
                            "version");
        code != kExitDone) {
      return code;
    }
    out_ << line.View().version.caption << ": " << line.View().version.value << "\n";
    return kExitDone;
  }

  // Done only when the controller confirmed it; otherwise the operator is
  // told to use the bench's own stop, as the console does.
  int EmergencyStop(Line& line) {
    Awaited awaited;
    const int code = Exchange(line, command::kEmergencyStop, [&line] { line.Session().EmergencyStop(); }, awaited,
                              texts_.Lookup("急停"));
    if (code != kExitDone) {
      err_ << EmergencyStopUnconfirmedMessage(texts_, code == kExitRefused).text << "\n";
      return code;
    }
    out_ << Say(texts_, "Emergency stop sent and confirmed.") << "\n";
    return kExitDone;
  }

  std::optional<int> ResolvePosition() const {
    const std::string& text = request_.position;
    if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return text.size() <= 3 ? std::optional<int>(std::stoi(text)) : std::nullopt;
    }
    const auto rows = CommandCatalogue();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (!rows[i].caption.empty() && (rows[i].caption == text || texts_.Lookup(rows[i].caption) == text)) {
        return static_cast<int>(i);
      }
    }
    return std::nullopt;
  }

  int Exec() {
    const std::optional<int> position = ResolvePosition();
    const CatalogueRow* row = position ? CatalogueRowAt(*position) : nullptr;
    if (row == nullptr || row->action == CatalogueAction::None) {
      return Fail(kExitUsage, Say(texts_, "exec: no catalogue position") + " \"" + request_.position + "\"");
    }
    if (row->action == CatalogueAction::ExternalProgram) {
      return Fail(kExitUsage, Say(texts_, "exec: this position starts an external program; not available here"));
    }
    if (row->action == CatalogueAction::ShowChannelMap) {
      return Fail(kExitUsage, Say(texts_, "exec: this position only shows the channel map; use \"channels get\""));
    }
    // The console's boxes for these speak of its buttons and its form; here
    // the commands that do the same are named.
    if (row->action == CatalogueAction::ParamRecordForm) {
      return Fail(kExitUsage, Say(texts_, "exec: this position opens the console's settings form; use \"params get "
                                          "--json\" and \"params set FILE.json\""));
    }
    if (row->action == CatalogueAction::Message) {
      constexpr int kForceCalibrationPosition = 22;  // points to the workbench's button
      return Fail(kExitUsage, "exec: " + texts_.Lookup(row->caption) + ": " +
                                  (*position == kForceCalibrationPosition
                                       ? Say(texts_, "the torque tables are stored with \"calib set torque-fl FILE.csv\" "
                                                     "(torque-fr, torque-rl, torque-rr)")
                                       : texts_.Lookup(row->text)));
    }
    CommandInputs inputs;
    const auto take = [](const std::optional<std::string>& value, std::string& into) {
      if (value) into = *value;
    };
    take(request_.paramA, inputs.ParamA);
    take(request_.paramB, inputs.ParamB);
    take(request_.paramM, inputs.ParamM);
    take(request_.paramC, inputs.ParamC);
    take(request_.startSpeed, inputs.StartSpeed);
    take(request_.endSpeed, inputs.EndSpeed);
    take(request_.startLoad, inputs.StartLoad);
    take(request_.endLoad, inputs.EndLoad);
    inputs.Flywheels = request_.flywheels;
    // The console's checks of its input fields, before the port is opened.
    const SafetySettings safety = LoadSafetySettings(SafetySettingsPath());
    for (const InputProblem& problem : CheckInputs(*position, inputs, safety)) {
      const ExecOption* option = ExecOptionOf(problem.input);
      const std::string flag = option != nullptr ? std::string(option->flag) : std::string();
      // A number beyond what a frame can carry is no limit to confirm.
      if (problem.kind != InputProblem::Kind::AboveLimit) {
        const bool outOfRange = problem.kind == InputProblem::Kind::OutOfRange;
        return Fail(kExitUsage, "exec " + flag + " (" + texts_.Lookup(InputFieldOf(problem.input)->label) + "): \"" +
                                    problem.text + "\" " +
                                    Say(texts_, outOfRange ? "is out of range" : "is not a number") + " (" +
                                    Say(texts_, "nothing was sent") + ")");
      }
      if (!request_.confirmLimits) {
        return Fail(kExitUsage, "exec " + flag + ": " + LimitExceededText(texts_, problem) + "; " +
                                    Say(texts_, "add --confirm-limits to send it") + " (" +
                                    Say(texts_, "nothing was sent") + ")");
      }
    }

    return WithLine([&](Line& line) {
      const auto execute = [&line, &position, &inputs] { line.Session().Execute(*position, inputs); };
      const bool answered = row->action == CatalogueAction::Send || row->action == CatalogueAction::ParamRecordSummary ||
                            row->action == CatalogueAction::ParamRecordForm;
      if (!request_.wait || !answered) {
        execute();
        if (environment_.interrupted.load()) return kExitInterrupted;
        return kExitDone;
      }
      Awaited awaited;
      if (int code = Exchange(line, row->CommandCode(), execute, awaited, row->caption); code != kExitDone) {
        return code;
      }
      PrintDecoded(line, awaited.frame);
      return kExitDone;
    });
  }

  void PrintDecoded(Line& line, const std::vector<std::uint8_t>& frame) {
    const std::uint8_t type = frame[kCommandCodeOffset];
    switch (ControllerFrameKindOf(type)) {
      case ControllerFrameKind::Status: {
        const ControllerStatus& status = line.Session().Status();
        out_ << FrameStatusText(texts_, type, status.Numth) << "\t" << ShortestFloatText(status.Value1) << " "
             << ShortestFloatText(status.Value2) << " " << ShortestFloatText(status.Value3) << " "
             << ShortestFloatText(status.Value4) << "\n";
        const ReadoutUpdate initial = InitialReadouts(texts_);
        const ReadoutUpdate update = PresentLiveFrame(status, texts_);
        for (std::size_t cell = 0; cell < kReadoutCount; ++cell) {
          if (!update[cell].text) continue;
          out_ << update[cell].caption.value_or(*initial[cell].caption) << "\t" << *update[cell].text << "\n";
        }
        break;
      }
      case ControllerFrameKind::ParamRecord:
        for (const std::string& summaryLine : BuildSummary(DecodeParamsFrame(frame), texts_)) out_ << summaryLine << "\n";
        break;
      case ControllerFrameKind::ChannelMap: {
        ChannelMapEditor editor(line.Session().Port());
        editor.OnChannelMapReply(frame.data(), frame.size());
        out_ << ChannelMapText(editor);
        break;
      }
      case ControllerFrameKind::CalibTable:
        out_ << FrameStatusText(texts_, type, NumthOf(frame.data(), frame.size())) << "\n";
        break;
    }
  }

  static ControllerParams DecodeParamsFrame(const std::vector<std::uint8_t>& frame) {
    return DecodeParams(std::span<const std::uint8_t, kParamsPayloadLength>(frame.data() + kPayloadOffset,
                                                                           kParamsPayloadLength));
  }

  // ---- parameter record ----

  int ReadParams(Line& line, ControllerParams& values) {
    Awaited awaited;
    if (int code = Exchange(line, command::kParamRequest,
                            [&line] { line.Session().Params().RequestParams(ParamReplyTarget::Summary); },
                            awaited, "params");
        code != kExitDone) {
      return code;
    }
    if (awaited.frame.size() != kParamsReplyLength) return Fail(kExitRefused, Say(texts_, "params: a reply of the wrong length"));
    values = DecodeParamsFrame(awaited.frame);
    return kExitDone;
  }

  int ParamsGet(Line& line) {
    ControllerParams values;
    if (int code = ReadParams(line, values); code != kExitDone) return code;
    if (request_.format == OutputFormat::Json) {
      out_ << ParamsToJson(values);
    } else {
      for (const std::string& summaryLine : BuildSummary(values, texts_)) out_ << summaryLine << "\n";
    }
    return kExitDone;
  }

  std::optional<std::string> ReadText(const fs::path& path) {
    FileRead read = ReadRegularFile(path, kMaxDocumentBytes);
    if (!read.text) err_ << path.string() << ": " << read.problem << " (" << Say(texts_, "nothing was sent") << ")\n";
    return std::move(read.text);
  }

  int Invalid(const fs::path& path, const DocumentError& error) {
    return Fail(kExitUsage, path.string() + ": " + error.message + " (" + Say(texts_, "nothing was sent") + ")");
  }

  int WriteParams(Line& line, const std::string& document, ValueCheck check) {
    ControllerParams base;
    if (int code = ReadParams(line, base); code != kExitDone) return code;
    ControllerParams values = std::get<ControllerParams>(ParamsFromJson(document, base, check));
    // As the settings form does: the controller's clock is set to the PC's.
    const std::optional<LocalTime> now = SystemLocalClock().Now();
    if (now) {
      values.clockYear = static_cast<std::uint16_t>(now->year);
      values.clockMonth = static_cast<std::uint8_t>(now->month);
      values.clockDay = static_cast<std::uint8_t>(now->day);
      values.clockHour = static_cast<std::uint8_t>(now->hour);
      values.clockMinute = static_cast<std::uint8_t>(now->minute);
      values.clockSecond = static_cast<std::uint8_t>(now->second);
    }
    Awaited awaited;
    if (int code = Exchange(line, command::kParamWrite, [&] { line.Session().Params().SendParams(values, now); },
                            awaited, "params write");
        code != kExitDone) {
      return code;
    }
    if (const std::int16_t numth = NumthOf(awaited.frame.data(), awaited.frame.size()); numth != kNumthParamsWritten) {
      err_ << Say(texts_, "params: the controller answered the write with") << " "
           << FrameStatusText(texts_, command::kParamWrite, numth) << "\n";
    }
    ControllerParams back;
    if (int code = ReadParams(line, back); code != kExitDone) return code;
    const std::vector<std::string> missed = ParamsDifferences(values, back);
    if (!missed.empty()) {
      err_ << Say(texts_, "params: the controller did not take") << ":\n";
      for (const std::string& field : missed) err_ << "  " << field << "\n";
      return kExitRefused;
    }
    out_ << Say(texts_, "params: written and read back equal") << "\n";
    return kExitDone;
  }

  int ParamsSet() {
    const std::optional<std::string> document = ReadText(request_.path);
    if (!document) return kExitUsage;
    if (auto parsed = ParamsFromJson(*document, {}); std::holds_alternative<DocumentError>(parsed)) {
      return Invalid(request_.path, std::get<DocumentError>(parsed));
    }
    return WithLine([&](Line& line) { return WriteParams(line, *document, ValueCheck::Ranges); });
  }

  // ---- channel map ----

  int ReadChannels(Line& line, ChannelMapEditor& editor) {
    Awaited awaited;
    if (int code = Exchange(line, command::kChannelMapRequest,
                            [&line] { line.Session().Executor().SendShort(command::kChannelMapRequest); },
                            awaited, "channels");
        code != kExitDone) {
      return code;
    }
    if (!editor.OnChannelMapReply(awaited.frame.data(), awaited.frame.size())) {
      return Fail(kExitRefused, Say(texts_, "channels: a reply of the wrong length"));
    }
    return kExitDone;
  }

  int ChannelsGet(Line& line) {
    ChannelMapEditor editor(line.Session().Port());
    if (int code = ReadChannels(line, editor); code != kExitDone) return code;
    out_ << (request_.format == OutputFormat::Json ? ChannelMapToJson(editor) : ChannelMapText(editor));
    return kExitDone;
  }

  int WriteChannels(Line& line, const std::map<std::size_t, std::uint8_t>& values) {
    ChannelMapEditor editor(line.Session().Port());
    if (int code = ReadChannels(line, editor); code != kExitDone) return code;
    for (const auto& [field, value] : values) editor.SetText(field, std::to_string(value));
    const ChannelMap sent = editor.Collect();
    if (!editor.StoreChannelMap()) return Fail(kExitPortError, Say(texts_, "channels: the port is closed"));
    ChannelMapEditor back(line.Session().Port());
    if (int code = ReadChannels(line, back); code != kExitDone) return code;
    std::vector<std::string> missed;
    const auto fields = ChannelFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].replyByte != kNoByte && back.Text(i) != std::to_string(sent.bytes[fields[i].replyByte])) {
        missed.push_back(std::string(fields[i].label) + " (" + Say(texts_, "sent") + " " +
                         std::to_string(sent.bytes[fields[i].replyByte]) + ", " + Say(texts_, "holds") + " " +
                         back.Text(i) + ")");
      }
    }
    if (!missed.empty()) {
      err_ << Say(texts_, "channels: the controller did not take") << ":\n";
      for (const std::string& field : missed) err_ << "  " << field << "\n";
      return kExitRefused;
    }
    out_ << Say(texts_, "channels: stored and read back equal") << "\n";
    return kExitDone;
  }

  int ChannelsSet() {
    const std::optional<std::string> document = ReadText(request_.path);
    if (!document) return kExitUsage;
    auto parsed = ChannelMapFromJson(*document);
    if (auto* error = std::get_if<DocumentError>(&parsed)) return Invalid(request_.path, *error);
    return WithLine([&](Line& line) { return WriteChannels(line, std::get<0>(parsed)); });
  }

  // ---- calibration tables ----

  struct TableWatch final : CalibView {
    void OnWorkingTableChanged() override { changed = true; }
    bool changed = false;
  };

  struct CalibLink {
    explicit CalibLink(Line& line)
        : exchange(line.Session().Port(), line.Pump(), ProcessCommandFrames().profile,
                   fs::current_path() / kStabFileName),
          line(line) {
      exchange.SetView(&watch);
      line.Session().RegisterReplyHandler(ControllerFrameKind::CalibTable,
                                          [this](const std::uint8_t* frame, std::size_t length) {
                                            exchange.OnCalibFrame(frame, length);
                                          });
    }
    ~CalibLink() { line.Session().RegisterReplyHandler(ControllerFrameKind::CalibTable, {}); }
    CalibExchange exchange;
    TableWatch watch;
    Line& line;
  };

  int ReadTable(CalibLink& link, CalibChannel channel, CalibTable& table, std::size_t& points) {
    link.watch.changed = false;
    link.exchange.RequestTable(channel);
    const WaitResult result = link.line.WaitUntil([&link] { return link.watch.changed; }, request_.timeoutSeconds);
    if (result != WaitResult::Done) return WaitFailure(result, "calib " + std::string(CalibNameOf(channel)));
    table = link.exchange.WorkingTable();
    points = std::min(table.PointCount(), CalibChannelInfo(channel).capacity);
    return kExitDone;
  }

  std::optional<CalibChannel> Channel() {
    const std::optional<CalibChannel> channel = CalibChannelByName(request_.channel);
    if (!channel) {
      std::string names;
      for (const CalibName& name : CalibNames()) names.append(" ").append(name.name);
      err_ << Say(texts_, "calib: no table") << " \"" << request_.channel << "\"; " << Say(texts_, "tables:") << names
           << "\n";
    }
    return channel;
  }

  int CalibGet() {
    const std::optional<CalibChannel> channel = Channel();
    if (!channel) return kExitUsage;
    return WithLine([&](Line& line) {
      CalibLink link(line);
      CalibTable table;
      std::size_t points = 0;
      if (int code = ReadTable(link, *channel, table, points); code != kExitDone) return code;
      out_ << (request_.format == OutputFormat::Csv ? CalibToCsv(table, points) : CalibToText(table, points));
      return kExitDone;
    });
  }

  int WriteTable(CalibLink& link, CalibChannel channel, const CalibTable& sent) {
    link.exchange.StoreTable(channel, sent);
    CalibTable back;
    std::size_t points = 0;
    if (int code = ReadTable(link, channel, back, points); code != kExitDone) return code;
    // Bit for bit: a NaN the table held is taken back as the same NaN.
    bool equal = back.Count() == sent.Count();
    for (std::size_t i = 0; equal && i < sent.PointCount(); ++i) {
      equal = SameFloatBits(back.First(i), sent.First(i)) && SameFloatBits(back.Second(i), sent.Second(i));
    }
    if (!equal) {
      return Fail(kExitRefused, Say(texts_, "calib: the controller did not take the table") + " " +
                                    std::string(CalibNameOf(channel)));
    }
    out_ << "calib " << CalibNameOf(channel) << ": " << Say(texts_, "stored and read back equal") << "\n";
    return kExitDone;
  }

  int CalibSet() {
    const std::optional<CalibChannel> channel = Channel();
    if (!channel) return kExitUsage;
    const std::optional<std::string> document = ReadText(request_.path);
    if (!document) return kExitUsage;
    auto table = CalibFromCsv(*document, CalibChannelInfo(*channel).capacity);
    if (auto* error = std::get_if<DocumentError>(&table)) return Invalid(request_.path, *error);
    // An empty file would erase the table: only when asked for.
    if (std::get<CalibTable>(table).Count() == 0 && !request_.allowEmpty) {
      return Invalid(request_.path, DocumentError{Say(texts_, "no points; --allow-empty stores an empty table")});
    }
    return WithLine([&](Line& line) {
      CalibLink link(line);
      return WriteTable(link, *channel, std::get<CalibTable>(table));
    });
  }

  // ---- backup and restore ----

  using BackupFiles = std::vector<std::pair<std::string, std::string>>;

  // The controller's state as the files of a backup folder, manifest last.
  int ReadBackupFiles(Line& line, BackupFiles& files) {
    ControllerParams values;
    if (int code = ReadParams(line, values); code != kExitDone) return code;
    files.emplace_back(kParamsFile, ParamsToJson(values, false));
    ChannelMapEditor editor(line.Session().Port());
    if (int code = ReadChannels(line, editor); code != kExitDone) return code;
    files.emplace_back(kChannelsFile, ChannelMapToJson(editor));
    CalibLink link(line);
    for (const CalibName& name : CalibNames()) {
      CalibTable table;
      std::size_t points = 0;
      if (int code = ReadTable(link, name.channel, table, points); code != kExitDone) return code;
      files.emplace_back(CalibFileName(name.channel), CalibToCsv(table, points));
    }
    files.emplace_back(kManifestFile, BackupManifest(files));
    return kExitDone;
  }

  // A folder a backup may be written to: new, empty, or replaced with --force.
  std::optional<std::string> BackupTargetProblem(const fs::path& folder, bool force) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(folder, error);
    if (!fs::exists(status)) return std::nullopt;
    if (!fs::is_directory(status)) return Say(texts_, "exists and is not a folder");
    if (!force && !fs::is_empty(folder, error)) return Say(texts_, "already holds files; --force replaces it whole");
    return std::nullopt;
  }

  int WriteBackupFolder(const fs::path& requested, const BackupFiles& files, bool force) {
    const BackupWriteResult result = WriteBackupAtomically(requested, files, force);
    if (!result.problem.empty()) {
      return Fail(kExitUsage, requested.string() + ": " + Say(texts_, result.problem) +
                                  (result.detail.empty() ? "" : " (" + result.detail + ")"));
    }
    return kExitDone;
  }

  int Backup() {
    const fs::path folder(request_.path);
    if (auto problem = BackupTargetProblem(folder, request_.force)) {
      return Fail(kExitUsage, folder.string() + ": " + *problem + " (" + Say(texts_, "nothing was read") + ")");
    }
    return WithLine([&](Line& line) {
      BackupFiles files;
      if (int code = ReadBackupFiles(line, files); code != kExitDone) return code;
      if (int code = WriteBackupFolder(folder, files, request_.force); code != kExitDone) return code;
      out_ << Say(texts_, "backup written to") << " " << request_.path << "\n";
      return kExitDone;
    });
  }

  // One step of a restore, for the report of a restore that stopped.
  struct RestoreStep {
    std::string name;
    std::function<int(Line&)> write;
  };

  void ReportStoppedRestore(const std::vector<RestoreStep>& steps, std::size_t failed,
                            const std::optional<fs::path>& safetyBackup, const std::string& port) {
    const auto names = [&steps](std::size_t from, std::size_t to) {
      std::string list;
      for (std::size_t i = from; i < to; ++i) list += (list.empty() ? "" : ", ") + steps[i].name;
      return list.empty() ? std::string("-") : list;
    };
    err_ << Say(texts_, "The restore stopped at") << " " << steps[failed].name << ".\n"
         << "  " << Say(texts_, "now holding the backup's values:") << " " << names(0, failed) << "\n"
         << "  " << Say(texts_, "unknown, the write failed:") << " " << steps[failed].name << "\n"
         << "  " << Say(texts_, "still holding the previous values:") << " " << names(failed + 1, steps.size())
         << "\n";
    if (safetyBackup) {
      err_ << Say(texts_, "To put the previous state back:") << " rolta-cli --port " << ShellQuoted(port)
           << " restore --no-safety-backup " << ShellQuoted(safetyBackup->string()) << "\n";
    }
  }

  static std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  }

  int Restore() {
    const fs::path folder(request_.path);
    const std::optional<std::string> manifestText = ReadText(folder / kManifestFile);
    if (!manifestText) return kExitUsage;
    auto manifest = ReadManifest(*manifestText);
    if (auto* error = std::get_if<DocumentError>(&manifest)) return Invalid(folder / kManifestFile, *error);
    // Every file is checked before anything is sent.
    const std::optional<std::string> params = ReadText(folder / kParamsFile);
    if (!params) return kExitUsage;
    // A record as the controller held it is written back as it was read, even
    // a value the console would not send; an edited one is checked.
    const ValueCheck check = std::get<Manifest>(manifest).Unchanged(kParamsFile, *params) ? ValueCheck::AsRead
                                                                                          : ValueCheck::Ranges;
    if (auto parsed = ParamsFromJson(*params, {}, check); std::holds_alternative<DocumentError>(parsed)) {
      return Invalid(folder / kParamsFile, std::get<DocumentError>(parsed));
    }
    const std::optional<std::string> channelsText = ReadText(folder / kChannelsFile);
    if (!channelsText) return kExitUsage;
    auto channels = ChannelMapFromJson(*channelsText);
    if (auto* error = std::get_if<DocumentError>(&channels)) return Invalid(folder / kChannelsFile, *error);
    std::vector<std::pair<CalibChannel, CalibTable>> tables;
    for (const CalibName& name : CalibNames()) {
      const fs::path path = folder / CalibFileName(name.channel);
      const std::optional<std::string> text = ReadText(path);
      if (!text) return kExitUsage;
      auto table = CalibFromCsv(*text, CalibChannelInfo(name.channel).capacity);
      if (auto* error = std::get_if<DocumentError>(&table)) return Invalid(path, *error);
      tables.emplace_back(name.channel, std::get<CalibTable>(table));
    }
    std::optional<fs::path> safetyBackup;
    if (!request_.noSafetyBackup) {
      safetyBackup = SafetyBackupPath(folder);
      if (fs::exists(*safetyBackup)) {
        return Fail(kExitUsage, safetyBackup->string() + ": " + Say(texts_, "exists already; try again in a second"));
      }
    }
    return WithLine([&](Line& line) {
      if (safetyBackup) {
        BackupFiles before;
        if (int code = ReadBackupFiles(line, before); code != kExitDone) {
          err_ << Say(texts_, "The controller's current state could not be backed up; nothing was written.") << "\n";
          return code;
        }
        if (int code = WriteBackupFolder(*safetyBackup, before, false); code != kExitDone) {
          err_ << Say(texts_, "The controller's current state could not be backed up; nothing was written.") << "\n";
          return code;
        }
        out_ << Say(texts_, "the controller's state before the restore:") << " " << safetyBackup->string() << "\n";
      }
      std::vector<RestoreStep> steps;
      steps.push_back({"params", [&](Line& l) { return WriteParams(l, *params, check); }});
      steps.push_back({"channels", [&](Line& l) { return WriteChannels(l, std::get<0>(channels)); }});
      auto link = std::make_shared<std::optional<CalibLink>>();
      for (std::size_t t = 0; t < tables.size(); ++t) {
        steps.push_back({"calib " + std::string(CalibNameOf(tables[t].first)), [this, &tables, link, t](Line& l) {
                           if (!*link) link->emplace(l);
                           return WriteTable(**link, tables[t].first, tables[t].second);
                         }});
      }
      for (std::size_t i = 0; i < steps.size(); ++i) {
        if (const int code = steps[i].write(line); code != kExitDone) {
          ReportStoppedRestore(steps, i, safetyBackup, line.PortName());
          return code;
        }
      }
      out_ << Say(texts_, "restored from") << " " << request_.path << "\n";
      return kExitDone;
    });
  }

  // ---- firmware upgrade ----

  class TerminalUpgradeHost final : public UpgradeHost {
   public:
    TerminalUpgradeHost(Line& line, std::string path, std::ostream& err, const std::atomic<bool>& interrupted)
        : line_(line), path_(std::move(path)), err_(err), interrupted_(interrupted) {}
    void SendShort(std::uint8_t code) override { line_.Session().Executor().SendShort(code); }
    void SetStatusLine(const std::string& text) override { status_ = text; }
    void SetUpgradeRunning(bool running) override {
      if (!running && drawn_) err_ << "\n";
    }
    void SetProgress(int percent) override {
      if (percent == percent_) return;
      percent_ = percent;
      drawn_ = true;
      const int width = 40;
      const int filled = std::clamp(percent, 0, 100) * width / 100;
      err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
           << std::string(static_cast<std::size_t>(width - filled), '.') << "] " << std::setw(3) << percent << "% "
           << status_ << std::flush;
    }
    std::optional<std::string> ChooseRomFile(const RomFileDialog&) override { return path_; }
    MessageAnswer ShowMessage(const MessageRequest& request) override {
      if (request.buttons == MessageButtons::Ok) report = request;
      return MessageAnswer::Ok;
    }
    void ProcessPendingEvents() override { line_.Pump().ProcessPendingEvents(); }
    void SleepMilliseconds(int milliseconds) override { line_.Pump().SleepMilliseconds(milliseconds); }
    bool IsEscapeHeld() const override { return interrupted_.load(); }
    std::uint32_t TickCount() const override {
      return static_cast<std::uint32_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
    }
    std::optional<MessageRequest> report;

   private:
    Line& line_;
    std::string path_;
    std::ostream& err_;
    const std::atomic<bool>& interrupted_;
    std::string status_;
    int percent_ = -1;
    bool drawn_ = false;
  };

  int Upgrade() {
    std::error_code error;
    const auto size = fs::file_size(request_.path, error);
    if (error || !std::ifstream(request_.path, std::ios::binary)) {
      return Fail(kExitUsage, Say(texts_, "upgrade: cannot read") + " " + request_.path);
    }
    if (RomBlockCount(size) > kMaxRomBlocks) {
      return Fail(kExitUsage, UpgradeReport(texts_, kUpgradeFileTooLarge).text);
    }
    return WithLine([&](Line& line) {
      TerminalUpgradeHost host(line, request_.path, err_, environment_.interrupted);
      FirmwareUpgrade upgrade(line.Session().Port(), line.Session().Upgrade(), texts_, host);
      upgrade.OnUpgrade();
      if (!host.report) return Fail(kExitUsage, Say(texts_, "upgrade: nothing was done"));
      // The outcome box says which result ended the sequence.
      struct Outcome {
        int result;
        int exitCode;
      };
      constexpr Outcome kOutcomes[] = {{kUpgradeDone, kExitDone},          {kUpgradeFileError, kExitUsage},
                                       {kUpgradeTimeOut, kExitTimeOut},    {kUpgradeInterrupted, kExitInterrupted},
                                       {kUpgradeFileTooLarge, kExitUsage}};
      for (const Outcome& outcome : kOutcomes) {
        if (*host.report == UpgradeReport(texts_, outcome.result)) {
          (outcome.exitCode == kExitDone ? out_ : err_) << host.report->caption << ": " << host.report->text << "\n";
          return outcome.exitCode;
        }
      }
      return Fail(kExitRefused, host.report->caption + ": " + host.report->text);
    });
  }

  // ---- line monitor ----

  // Sees the frames the receive path refuses (a wrong checksum, or an end not
  // confirmed by the next frame's start), so the monitor can show them among
  // the good ones.
  class RefusedFrames final : public LineTap {
   public:
    explicit RefusedFrames(std::function<void(std::span<const std::uint8_t>, std::string_view)> onRefused)
        : onRefused_(std::move(onRefused)) {}
    void OnLineOpened(LineClock::time_point) override {}
    void OnFrameSent(std::span<const std::uint8_t>, std::size_t, LineClock::time_point) override {}
    void OnFrameReceived(std::span<const std::uint8_t> frame, bool checksumGood, LineClock::time_point) override {
      if (!checksumGood) onRefused_(frame, "checksum");
    }
    void OnFrameRefused(std::span<const std::uint8_t> frame, LineClock::time_point) override {
      onRefused_(frame, "refused");
    }
    void OnBytesSkipped(const ByteRun&, LineClock::time_point) override {}

   private:
    std::function<void(std::span<const std::uint8_t>, std::string_view)> onRefused_;
  };

  void PrintMonitorRow(double seconds, int type, std::size_t length, int numth,
                       const std::array<std::string, 4>& values, std::string_view refused) {
    std::ostringstream time;
    time << std::fixed << std::setprecision(3) << seconds;
    switch (request_.format) {
      case OutputFormat::Csv:
        out_ << time.str() << "," << type << "," << length << "," << numth;
        for (const std::string& v : values) out_ << "," << v;
        out_ << "," << (refused.empty() ? "ok" : refused) << "\n";
        break;
      case OutputFormat::JsonLines:
        out_ << "{\"t\":" << time.str() << ",\"type\":" << type << ",\"length\":" << length
             << ",\"numth\":" << numth;
        if (!values[0].empty()) {
          out_ << ",\"values\":[" << values[0] << "," << values[1] << "," << values[2] << "," << values[3] << "]";
        }
        if (!refused.empty()) out_ << ",\"refused\":\"" << refused << "\"";
        out_ << "}\n";
        break;
      default:
        out_ << time.str() << "\t" << FrameStatusText(texts_, static_cast<std::uint8_t>(type), static_cast<std::int16_t>(numth));
        for (const std::string& v : values) out_ << (v.empty() ? "" : "\t" + v);
        if (!refused.empty()) out_ << "\t" << Say(texts_, refused == "checksum" ? "checksum error" : "refused");
        out_ << "\n";
    }
    out_.flush();
  }

  int Monitor(Line& line) {
    const auto start = Clock::now();
    const auto since = [&start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    if (request_.format == OutputFormat::Csv) out_ << "time_s,type,length,numth,value1,value2,value3,value4,frame\n";
    line.Session().SetFrameObserver([&](const std::uint8_t* frame, std::size_t length) {
      std::array<std::string, 4> values;
      if (ControllerFrameKindOf(frame[kCommandCodeOffset]) == ControllerFrameKind::Status) {
        const ControllerStatus& s = line.Session().Status();
        values = {ShortestFloatText(s.Value1), ShortestFloatText(s.Value2), ShortestFloatText(s.Value3),
                  ShortestFloatText(s.Value4)};
      }
      PrintMonitorRow(since(), frame[kCommandCodeOffset], length, NumthOf(frame, length), values, {});
    });
    RefusedFrames refused([&](std::span<const std::uint8_t> frame, std::string_view why) {
      const bool whole = frame.size() > kCommandCodeOffset + 2;
      PrintMonitorRow(since(), whole ? frame[kCommandCodeOffset] : -1, frame.size(),
                      whole ? NumthOf(frame.data(), frame.size()) : 0, {}, why);
    });
    line.Session().SetLineTap(&refused);
    const double seconds = request_.durationSeconds > 0 ? request_.durationSeconds : 1e9;
    // Ends early when the output cannot be written.
    const WaitResult result = line.WaitUntil([this] { return !out_; }, seconds);
    line.Session().SetFrameObserver({});
    line.Session().SetLineTap(nullptr);
    const ReceiveCounters& counters = line.Session().Counters();
    err_ << "monitor: " << counters.framesDispatched << " " << Say(texts_, "frames") << ", " << counters.checksumErrors
         << " " << Say(texts_, "failed their checksum") << ", " << counters.framesRefused << " "
         << Say(texts_, "refused (end not confirmed)") << ", " << counters.bytesSkipped << " "
         << Say(texts_, "bytes skipped") << "\n";
    if (!out_) return kExitOutputFailed;  // said by Run
    if (result == WaitResult::LineLost) return WaitFailure(result, "monitor");
    if (result == WaitResult::Interrupted && request_.durationSeconds > 0) return kExitInterrupted;
    if (counters.framesDispatched == 0) {
      return Fail(kExitTimeOut, counters.bytesReceived > 0 ? Say(texts_, "monitor: bytes arrived, but no valid frame")
                                                           : Say(texts_, "monitor: nothing arrived from the controller"));
    }
    return kExitDone;
  }

  const CliRequest& request_;
  const CliEnvironment& environment_;
  const TextLookup& texts_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int RunCommand(const CliRequest& request, const CliEnvironment& environment, std::ostream& out, std::ostream& err) {
  return Commands(request, environment, out, err).Run();
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const std::atomic<bool>& interrupted) {
  EnvLibrary library;
  const bool loaded = library.Load(1) == kEnvLoadOk;
  const IdentityLookup identity;
  const EnvTextLookup envTexts(library);
  const TextLookup& texts = loaded ? static_cast<const TextLookup&>(envTexts) : identity;
  const ParseResult parsed = ParseCliArgs(args, &texts);
  out << parsed.output;
  err << parsed.error;
  if (!parsed.request) {
    if (!out.flush()) {
      err << texts.Lookup("The output could not be written.") << "\n";
      return kExitOutputFailed;
    }
    return parsed.exitCode;
  }
  std::vector<std::string> ports;
  if (loaded) {
    PortList list;
    library.GetSerialPortInfo(list);
    ports = PortNames(list);
  }
  const ConsoleSettings settings = LoadSettings(SettingsFilePath()).value_or(kDefaultSettings);
  const CliEnvironment environment{texts, ports, loaded, interrupted, settings.portIndex, settings.speedIndex};
  return RunCommand(*parsed.request, environment, out, err);
}

}  // namespace rolta::cli
