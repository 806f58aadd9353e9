#include "controller_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "link/frames.h"

namespace rolta::sim {
namespace {

// Output kept for a console that does not read; beyond it the oldest whole
// frames go.
constexpr std::size_t kTxQueueLimit = 256 * 1024;
// A paced line holds as much as a controller's transmit buffer: a status frame
// that would wait behind more than this is not made.
constexpr std::size_t kTxLineBuffer = 3 * kStatusFrameLength;
constexpr std::size_t kReadChunk = 4096;
// A frame whose rest does not come within this quiet time never will.
constexpr auto kStallTime = std::chrono::milliseconds(200);

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

speed_t SpeedCode(int baud) {
  switch (baud) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}

}  // namespace

ControllerSimulator::ControllerSimulator(SimulatorOptions options)
    : options_(std::move(options)),
      model_(ModelConfig{.seed = options_.seed,
                         .firmwareVersionX100 = options_.firmwareVersionX100,
                         .startInUpgradeProgram = options_.startInUpgradeProgram,
                         .baud = options_.baud,
                         .roadLoad = options_.roadLoad,
                         .appliedLoads = options_.appliedLoads}),
      faultRng_(options_.seed ^ 0x9E3779B9u) {
  if (options_.periodMs < 1) options_.periodMs = 1;
  if (!(options_.timeScale > 0)) options_.timeScale = 1.0;
  faults_.store(options_.faults.Bits());
}

ControllerSimulator::~ControllerSimulator() { Stop(); }

bool ControllerSimulator::Start(std::string* error) {
  auto fail = [&](std::string message) {
    CloseAll();
    if (error) *error = std::move(message);
    return false;
  };
  if (running_.load() || thread_.joinable()) return fail("already started");

  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return fail(ErrnoText("posix_openpt"));
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) return fail(ErrnoText("unlockpt"));
  char name[128] = {};
  if (ptsname_r(master_, name, sizeof name) != 0) return fail(ErrnoText("ptsname_r"));
  slavePath_ = name;
  if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) return fail(ErrnoText("fcntl"));

  // Holding the slave open keeps the master from seeing a hang-up while no
  // console is connected, and lets the console connect and leave repeatedly.
  keeper_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (keeper_ < 0) return fail(ErrnoText("open slave"));
  termios tio{};
  if (tcgetattr(keeper_, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= static_cast<tcflag_t>(~CRTSCTS);
    cfsetspeed(&tio, SpeedCode(options_.baud));
    tcsetattr(keeper_, TCSANOW, &tio);
  }

  notify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (notify_ >= 0 && inotify_add_watch(notify_, name, IN_OPEN | IN_CLOSE) < 0) {
    close(notify_);
    notify_ = -1;
  }
  if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) return fail(ErrnoText("pipe2"));

  if (!options_.linkPath.empty()) {
    struct stat st {};
    if (lstat(options_.linkPath.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) return fail("refusing to replace " + options_.linkPath);
      unlink(options_.linkPath.c_str());
    }
    if (symlink(name, options_.linkPath.c_str()) != 0) return fail(ErrnoText("symlink"));
    linkMade_ = true;
  }

  start_ = Clock::now();
  rxNext_ = txNext_ = lastRxByte_ = start_;
  stopRequested_.store(false);
  hungUp_.store(false);
  running_.store(true);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ControllerSimulator::Stop() {
  stopRequested_.store(true);
  if (wake_[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(wake_[1], &byte, 1);
  }
  if (thread_.joinable()) thread_.join();
  running_.store(false);
  CloseAll();
  if (!options_.imageOutPath.empty()) {
    std::lock_guard lock(mutex_);
    // A partial image is written too: it shows how far an upload came.
    if (!model_.FirmwareImage().empty() &&
        (!model_.FirmwareComplete() || model_.FirmwareGeneration() != imageWritten_)) {
      std::ofstream out(options_.imageOutPath, std::ios::binary | std::ios::trunc);
      const auto& image = model_.FirmwareImage();
      out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
      imageWritten_ = model_.FirmwareGeneration();
    }
  }
}

void ControllerSimulator::CloseAll() {
  for (int* fd : {&master_, &keeper_, &notify_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  if (linkMade_) {
    // Remove the link only while it is still ours.
    char target[256] = {};
    const ssize_t n = readlink(options_.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && slavePath_ == std::string(target, static_cast<std::size_t>(n))) unlink(options_.linkPath.c_str());
    linkMade_ = false;
  }
}

double ControllerSimulator::MillisSinceStart(Clock::time_point t) const {
  return std::chrono::duration<double, std::milli>(t - start_).count();
}

void ControllerSimulator::HangUp() {
  // As an unplugged adapter: the device goes away at once, mid-frame or not.
  hungUp_.store(true);
  if (master_ >= 0) close(master_);
  if (keeper_ >= 0) close(keeper_);
  master_ = keeper_ = -1;
  if (options_.verbose) std::fprintf(stderr, "qrx5000b-sim: line hung up\n");
}

void ControllerSimulator::Log(const ReaderEvent& event) const {
  if (!options_.verbose) return;
  std::string text;
  char hex[4];
  for (std::size_t i = 0; i < event.frame.size() && i < 40; ++i) {
    std::snprintf(hex, sizeof hex, " %02X", event.frame[i]);
    text += hex;
  }
  if (event.frame.size() > 40) text += " ...";
  const char* kind = event.kind == ReaderEvent::Kind::Command   ? "command"
                     : event.kind == ReaderEvent::Kind::Unknown ? "unknown command"
                                                                : "bad checksum";
  std::fprintf(stderr, "qrx5000b-sim: %s %d (%zu bytes):%s\n", kind, event.frame.size() > 2 ? event.frame[2] : 0,
               event.frame.size(), text.c_str());
}

void ControllerSimulator::Emit(Frame frame, OutKind kind) {
  const FaultSet faults = Faults();
  if (faults.Has(SimFault::Silence)) {
    ++counters_.framesSilenced;
    return;
  }
  if (frame.size() < kHeaderLength + 2) return;
  if (faults.Has(SimFault::Reject)) {
    PutUInt16LE(&frame[frame.size() - 2], static_cast<std::uint16_t>(kNumthRejected));
    StoreChecksum(frame.data(), frame.size());
  }
  if (faults.Has(SimFault::BadChecksum)) {
    PutUInt16LE(&frame[kChecksumOffset], static_cast<std::uint16_t>(GetUInt16LE(&frame[kChecksumOffset]) + 1));
  }
  if (faults.Has(SimFault::Truncated)) {
    std::uniform_int_distribution<std::size_t> cut(3, frame.size() - 1);
    frame.resize(cut(faultRng_));
  }
  Outgoing out{{}, kind};
  if (faults.Has(SimFault::Garbage)) {
    std::uniform_int_distribution<int> count(1, 16);
    std::uniform_int_distribution<int> value(0, 255);
    const int n = count(faultRng_);
    for (int i = 0; i < n; ++i) {
      std::uint8_t b;
      do {
        b = static_cast<std::uint8_t>(value(faultRng_));
      } while (b == kSync1 || b == kSync2);  // never a sync pair, not even across frames
      out.bytes.push_back(b);
    }
  }
  out.bytes.insert(out.bytes.end(), frame.begin(), frame.end());
  const bool paced = options_.baud > 0;
  if (paced && kind == OutKind::Status && txWaiting_ + out.bytes.size() > kTxLineBuffer) {
    ++counters_.statusSkipped;  // the line is busy: this one is never made
    return;
  }
  if (txQueue_.empty()) txNext_ = std::max(txNext_, Clock::now());
  auto at = txQueue_.end();
  if (paced && kind == OutKind::Answer) {
    // Ahead of the status frames that wait, never inside the one on the line.
    while (at != txQueue_.begin()) {
      const auto before = std::prev(at);
      if (before->kind != OutKind::Status || (before == txQueue_.begin() && txStarted_ > 0)) break;
      at = before;
    }
  }
  txWaiting_ += out.bytes.size();
  txQueue_.insert(at, std::move(out));
  ++counters_.framesSent;
  // Nobody reads: the oldest frames not yet started go, whole.
  while (txWaiting_ > kTxQueueLimit && txQueue_.size() > 1) {
    const auto oldest = txQueue_.begin() + (txStarted_ > 0 ? 1 : 0);
    txWaiting_ -= oldest->bytes.size();
    counters_.bytesDropped += oldest->bytes.size();
    txQueue_.erase(oldest);
  }
}

void ControllerSimulator::FlushOutput(Clock::time_point now) {
  if (master_ < 0 || txQueue_.empty()) return;
  std::size_t allowed = txWaiting_;
  if (options_.baud > 0) {
    if (now < txNext_) return;
    const auto byteTime = std::chrono::duration<double>(10.0 / options_.baud);
    allowed = 1 + static_cast<std::size_t>((now - txNext_) / byteTime);
    allowed = std::min(allowed, txWaiting_);
  }
  while (allowed > 0 && !txQueue_.empty()) {
    const std::vector<std::uint8_t>& bytes = txQueue_.front().bytes;
    const std::size_t n = std::min(allowed, bytes.size() - txStarted_);
    const ssize_t written = write(master_, bytes.data() + txStarted_, n);
    if (written <= 0) {
      txBlocked_ = true;  // the line is full: wait for POLLOUT
      break;
    }
    const auto count = static_cast<std::size_t>(written);
    txStarted_ += count;
    txWaiting_ -= count;
    allowed -= count;
    if (txStarted_ == bytes.size()) {
      txQueue_.pop_front();
      txStarted_ = 0;
    }
    if (options_.baud > 0) {
      txNext_ += std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(10.0 * static_cast<double>(count) / options_.baud));
    }
  }
}

void ControllerSimulator::HandleNotifications() {
  if (notify_ < 0) return;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(notify_, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t off = 0; off < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + off);
      if (keeper_ >= 0 && (event->mask & IN_OPEN)) {
        // A new session: what the last one left unread is stale. The frame
        // on the line goes too, its start flushed with the rest.
        tcflush(keeper_, TCIFLUSH);
        std::lock_guard lock(mutex_);
        counters_.bytesDropped += txWaiting_;
        txQueue_.clear();
        txStarted_ = txWaiting_ = 0;
        ++counters_.connects;
      }
      if (keeper_ >= 0 && (event->mask & IN_CLOSE)) {
        // Our own descriptor keeps the terminal open, so the exclusive flag
        // the console set would outlive its session and lock it out next time.
        ioctl(keeper_, TIOCNXCL);
      }
      off += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

void ControllerSimulator::ProcessInput(Clock::time_point now) {
  // Bytes "arrive" no faster than the emulated line carries them.
  std::size_t release = rxPending_.size();
  if (options_.baud > 0 && release > 0) {
    const auto byteTime = std::chrono::duration<double>(10.0 / options_.baud);
    const auto carried = static_cast<std::size_t>((now - rxNext_) / byteTime);
    release = std::min(release, carried);
    rxNext_ += std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(10.0 * static_cast<double>(release) / options_.baud));
  }
  std::lock_guard lock(mutex_);
  if (release > 0) {
    std::vector<std::uint8_t> bytes(rxPending_.begin(), rxPending_.begin() + static_cast<std::ptrdiff_t>(release));
    rxPending_.erase(rxPending_.begin(), rxPending_.begin() + static_cast<std::ptrdiff_t>(release));
    reader_.Feed(bytes.data(), bytes.size());
    lastRxByte_ = now;
  } else if (reader_.HasPartialFrame() && rxPending_.empty() && now - lastRxByte_ > kStallTime) {
    reader_.DropStalledByte();
    lastRxByte_ = now;
  }

  const double elapsed = MillisSinceStart(now);
  while (std::optional<ReaderEvent> event = reader_.Next()) {
    Log(*event);
    ReceivedCommand entry;
    entry.code = event->frame[kCommandCodeOffset];
    entry.checksumGood = event->kind != ReaderEvent::Kind::BadChecksum;
    entry.frame = event->frame;
    entry.at = now;
    log_.push_back(std::move(entry));
    received_cv_.notify_all();

    if (Faults().Has(SimFault::Hangup) && options_.hangupAfterMs <= 0 &&
        event->kind != ReaderEvent::Kind::BadChecksum) {
      hangupNow_ = true;
      return;  // gone before it could answer
    }
    std::vector<Frame> answers;
    switch (event->kind) {
      case ReaderEvent::Kind::Command: answers = model_.HandleCommand(event->frame, elapsed); break;
      case ReaderEvent::Kind::Unknown: answers = model_.HandleUnknown(event->frame); break;
      case ReaderEvent::Kind::BadChecksum: answers = model_.HandleBadChecksum(event->frame); break;
    }
    for (Frame& f : answers) Emit(std::move(f), OutKind::Answer);
  }

  if (!options_.imageOutPath.empty() && model_.FirmwareComplete() && model_.FirmwareGeneration() != imageWritten_) {
    std::ofstream out(options_.imageOutPath, std::ios::binary | std::ios::trunc);
    const auto& image = model_.FirmwareImage();
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    imageWritten_ = model_.FirmwareGeneration();
  }
}

void ControllerSimulator::Run() {
  // A paced line's bytes are a character time apart (87 us at 115200); the
  // default timer slack would bunch them.
  if (options_.baud > 0) prctl(PR_SET_TIMERSLACK, 1'000UL);
  const auto period = std::chrono::milliseconds(options_.periodMs);
  auto lastAdvance = start_;
  auto nextTick = start_ + period;
  const auto hangupAt = start_ + std::chrono::milliseconds(std::max(0, options_.hangupAfterMs));

  while (!stopRequested_.load()) {
    auto now = Clock::now();
    // How long may we sleep?
    auto wakeAt = nextTick;
    if (!txQueue_.empty() && options_.baud > 0 && !txBlocked_) wakeAt = std::min(wakeAt, txNext_);
    if (!rxPending_.empty()) {
      wakeAt = std::min(wakeAt, options_.baud > 0 ? rxNext_ + std::chrono::duration_cast<Clock::duration>(
                                                                  std::chrono::duration<double>(10.0 / options_.baud))
                                                  : now);
    }
    {
      std::lock_guard lock(mutex_);
      if (reader_.HasPartialFrame()) wakeAt = std::min(wakeAt, lastRxByte_ + kStallTime);
    }
    if (Faults().Has(SimFault::Hangup) && options_.hangupAfterMs > 0) wakeAt = std::min(wakeAt, hangupAt);
    // To the microsecond: a paced line sends and takes its bytes one at a time,
    // as a UART does, not in millisecond bursts.
    timespec timeout{};
    if (wakeAt > now) {
      const auto left = std::chrono::ceil<std::chrono::nanoseconds>(wakeAt - now);
      timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
    }

    pollfd fds[3] = {};
    fds[0].fd = master_;
    // POLLOUT only while the terminal is full: a paced line waits on its clock.
    fds[0].events = static_cast<short>(POLLIN | (txBlocked_ ? POLLOUT : 0));
    fds[1].fd = wake_[0];
    fds[1].events = POLLIN;
    fds[2].fd = notify_;
    fds[2].events = POLLIN;
    const int ready = ppoll(fds, 3, &timeout, nullptr);
    if (ready < 0 && errno != EINTR) break;
    if (stopRequested_.load()) break;
    now = Clock::now();

    if (fds[0].revents & POLLOUT) txBlocked_ = false;
    // Notifications first: an open must flush before the new session's bytes.
    if (fds[2].revents & POLLIN) HandleNotifications();

    if (fds[0].revents & POLLIN) {
      std::uint8_t buffer[kReadChunk];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) {
        // The first byte of a burst starts on the line now, not in the past.
        if (rxPending_.empty()) rxNext_ = std::max(rxNext_, now);
        rxPending_.insert(rxPending_.end(), buffer, buffer + n);
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      // Only possible if our own slave descriptor went away; do not spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    ProcessInput(now);
    if (hangupNow_ || (Faults().Has(SimFault::Hangup) && options_.hangupAfterMs > 0 && now >= hangupAt)) {
      HangUp();
      break;
    }

    if (now >= nextTick) {
      std::lock_guard lock(mutex_);
      const double seconds = std::chrono::duration<double>(now - lastAdvance).count();
      model_.Advance(seconds * options_.timeScale);
      lastAdvance = now;
      // While a test runs its frames are status; after it, its closing frame.
      const OutKind kind = model_.TestRunning() ? OutKind::Status : OutKind::Closing;
      if (std::optional<Frame> frame = model_.PeriodicFrame()) Emit(std::move(*frame), kind);
      nextTick += period;
      if (nextTick <= now) nextTick = now + period;  // we fell behind: do not burst
    }
    {
      std::lock_guard lock(mutex_);
      FlushOutput(now);
    }
  }
  running_.store(false);
}

std::vector<ReceivedCommand> ControllerSimulator::ReceivedCommands() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::size_t ControllerSimulator::ReceivedCount() const {
  std::lock_guard lock(mutex_);
  return log_.size();
}

bool ControllerSimulator::WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return received_cv_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
}

void ControllerSimulator::ClearReceived() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

std::vector<std::uint8_t> ControllerSimulator::FirmwareImage() const {
  std::lock_guard lock(mutex_);
  return model_.FirmwareImage();
}

bool ControllerSimulator::FirmwareComplete() const {
  std::lock_guard lock(mutex_);
  return model_.FirmwareComplete();
}

bool ControllerSimulator::WriteFirmwareImage(const std::string& path) const {
  const std::vector<std::uint8_t> image = FirmwareImage();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  return static_cast<bool>(out);
}

std::array<std::uint8_t, kParamRecordSize> ControllerSimulator::ParamRecord() const {
  std::lock_guard lock(mutex_);
  return model_.ParamRecord();
}

std::array<std::uint8_t, kChannelMapSize> ControllerSimulator::ChannelMap() const {
  std::lock_guard lock(mutex_);
  return model_.ChannelMap();
}

std::vector<std::uint8_t> ControllerSimulator::CalibImage(std::uint8_t requestCode) const {
  std::lock_guard lock(mutex_);
  return model_.CalibImage(requestCode);
}

void ControllerSimulator::SetParamRecord(const std::array<std::uint8_t, kParamRecordSize>& record) {
  std::lock_guard lock(mutex_);
  model_.SetParamRecord(record);
}

bool ControllerSimulator::SetCalibImage(std::uint8_t requestCode, std::span<const std::uint8_t> image) {
  std::lock_guard lock(mutex_);
  return model_.SetCalibImage(requestCode, image);
}

bool ControllerSimulator::InUpgradeProgram() const {
  std::lock_guard lock(mutex_);
  return model_.InUpgradeProgram();
}

double ControllerSimulator::Speed() const {
  std::lock_guard lock(mutex_);
  return model_.Speed();
}

void ControllerSimulator::SetAppliedLoad(SensorInput input, std::optional<double> load) {
  std::lock_guard lock(mutex_);
  model_.SetAppliedLoad(input, load);
}

AppliedLoads ControllerSimulator::Loads() const {
  std::lock_guard lock(mutex_);
  return model_.Loads();
}

std::string CountersText(const SimulatorCounters& c) {
  char text[200];
  std::snprintf(text, sizeof text,
                "%zu commands received, %zu frames sent, %zu status frames skipped (line busy), "
                "%zu bytes dropped (line not read)",
                c.reader.commands, c.framesSent, c.statusSkipped, c.bytesDropped);
  return text;
}

SimulatorCounters ControllerSimulator::Counters() const {
  std::lock_guard lock(mutex_);
  SimulatorCounters c = counters_;
  c.reader = reader_.Counters();
  return c;
}

}  // namespace rolta::sim
