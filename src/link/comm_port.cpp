#include "link/comm_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <system_error>

#include "link/frames.h"

namespace rolta {

namespace {

using namespace std::chrono_literals;

// The hand-shake wait: a missed acknowledgement delays the next notification
// by at most this much.
constexpr auto kHandshakeWait = 10ms;
// A line delivers bytes in pieces (one at a time from a UART's receiver, a
// FIFO's trigger level, an adapter's packets). The monitor gathers them until
// a status frame's worth is queued, and lets at least that long pass between
// notifications, so a frame costs one wake-up of each thread instead of one
// per piece. Longer frames arrive over several notifications, as before.
constexpr int kGatherBytes = static_cast<int>(kStatusFrameLength);
// Slack on the gathering for a sender that falls a little behind its pace.
constexpr int kGatherSlackBytes = 2;
// While bytes stream without a pause (the status frames of a running test),
// two frames are gathered when that still takes less than this, which halves
// the wake-ups at the line's full rate. Bytes after a quiet spell (an answer
// to a command or a firmware block) are reported after one frame's worth.
constexpr int kSteadyGatherFrames = 2;
constexpr auto kSteadyGatherLimit = 4500us;
constexpr unsigned long kMonitorTimerSlackNs = 10'000;
// While answers are awaited, the gathering sleeps only to this long before a
// frame's last byte is due and looks for it awake from there: longer than a
// wake-up is late on a busy machine, and short enough to cost little.
constexpr auto kAwakeLookAhead = 150us;
// Write time limit: a constant plus a per-byte allowance.
constexpr auto kWriteTimeConstant = 2000ms;
constexpr auto kWriteTimePerByte = 50ms;

struct BaudCode {
  std::uint32_t baud;
  speed_t code;
};
// The rates the controller link runs at; the last one is also the fallback.
constexpr BaudCode kBaudCodes[] = {
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};
constexpr std::uint32_t kFallbackBaud = 115200;

bool SpeedCode(std::uint32_t baud, speed_t& code) {
  for (const BaudCode& entry : kBaudCodes) {
    if (entry.baud == baud) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

// Bytes waiting in the input queue, -1 when the device no longer answers
// (after a hang-up every ioctl fails with EIO).
int BytesWaiting(int fd) {
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) < 0) return -1;
  return waiting;
}

// How long one character takes on the line: start bit, data bits, parity,
// stop bits.
std::chrono::nanoseconds CharacterTime(const LineSettings& line) {
  const int parityBits = (line.parityCode == 1 || line.parityCode == 2) ? 1 : 0;
  const int stopBits = line.stopBitCode == 2 ? 2 : 1;
  const long long bits = 1 + line.byteSize + parityBits + stopBits;
  return std::chrono::nanoseconds(bits * 1'000'000'000LL / std::max<std::uint32_t>(line.baudRate, 1));
}

void CloseQuietly(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

// ---- HandshakeEvent ------------------------------------------------------------

void HandshakeEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void HandshakeEvent::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool HandshakeEvent::IsSet() const {
  std::lock_guard lock(mutex_);
  return signalled_;
}

bool HandshakeEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return signalled_; });
}

// ---- Line settings -------------------------------------------------------------

bool ConfigureLine(termios& line, const LineSettings& settings) {
  tcflag_t size = 0;
  switch (settings.byteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
  }
  speed_t speed = 0;
  if (!SpeedCode(settings.baudRate, speed)) return false;

  // Codes outside the table keep what the device had before.
  const tcflag_t deviceParity = line.c_cflag & (PARENB | PARODD | CMSPAR);
  const tcflag_t deviceStop = line.c_cflag & CSTOPB;

  // Binary line: no echo, no line editing, no character translation.
  ::cfmakeraw(&line);
  // No software flow control. Parity errors are neither checked nor marked:
  // the byte arrives as received and the error is not reported.
  line.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  // No hardware flow control; ignore modem lines, enable the receiver.
  line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  line.c_cflag |= CLOCAL | CREAD | size;

  switch (settings.parityCode) {
    case 0: break;
    case 1: line.c_cflag |= PARENB; break;
    case 2: line.c_cflag |= PARENB | PARODD; break;
    default: line.c_cflag |= deviceParity; break;
  }
  switch (settings.stopBitCode) {
    // termios has no one-and-a-half stop bits; such a line runs with one.
    case 0:
    case 1: break;
    case 2: line.c_cflag |= CSTOPB; break;
    default: line.c_cflag |= deviceStop; break;
  }

  // Reads return at once with what has arrived.
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  // The usual XON/XOFF characters, although software flow control stays off.
  line.c_cc[VSTART] = 0x11;
  line.c_cc[VSTOP] = 0x13;

  return ::cfsetispeed(&line, speed) == 0 && ::cfsetospeed(&line, speed) == 0;
}

// ---- CCommPort -----------------------------------------------------------------

CCommPort::CCommPort() = default;

CCommPort::~CCommPort() { Close(); }

void CCommPort::SetNotifyCallback(NotifyCallback callback) {
  auto shared = callback ? std::make_shared<const NotifyCallback>(std::move(callback)) : nullptr;
  std::lock_guard lock(notifyMutex_);
  notify_ = std::move(shared);
}

std::uint32_t CCommPort::SupportedBaudRate(std::uint32_t requested) {
  speed_t unused = 0;
  return SpeedCode(requested, unused) ? requested : kFallbackBaud;
}

std::string CCommPort::DevicePathForPortName(const std::string& portName) {
  if (!portName.empty() && portName.front() == '/') return portName;
  const char* dir = std::getenv(kDeviceDirVariable);
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/dev";
  return path + "/" + portName;
}

int CCommPort::Open(const std::string& portName, int byteSize, int stopBitCode, int parityCode,
                    std::uint32_t baudRate) {
  auto fail = [this](std::errc reason) {
    lastOpenError_ = std::make_error_code(reason);
    return 0;
  };
  auto failWithErrno = [this](int error) {
    lastOpenError_ = std::error_code(error, std::generic_category());
    return 0;
  };
  if (isOpen_.load()) return fail(std::errc::already_connected);
  lastOpenError_.clear();

  LineSettings line;
  line.byteSize = byteSize;
  line.stopBitCode = stopBitCode;
  line.parityCode = parityCode;
  line.baudRate = SupportedBaudRate(baudRate);
  const std::string path = DevicePathForPortName(portName);

  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failWithErrno(errno);
  // Nobody else may use the line while we hold it: the advisory lock keeps out
  // other cooperating programs (and other channels of this process), TIOCEXCL
  // refuses further opens of the terminal outright.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    CloseQuietly(fd);
    return failWithErrno(error);
  }
  termios settings{};
  if (::ioctl(fd, TIOCEXCL) != 0 || ::tcgetattr(fd, &settings) != 0) {
    const int error = errno;
    ::ioctl(fd, TIOCNXCL);
    CloseQuietly(fd);
    return failWithErrno(error);
  }
  if (!ConfigureLine(settings, line) || ::tcsetattr(fd, TCSANOW, &settings) != 0) {
    ::ioctl(fd, TIOCNXCL);
    CloseQuietly(fd);
    return fail(std::errc::invalid_argument);
  }
  int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0) {
    const int error = errno;
    ::ioctl(fd, TIOCNXCL);
    CloseQuietly(fd);
    return failWithErrno(error);
  }

  fd_ = fd;
  wakeFd_ = wakeFd;
  line_ = line;
  devicePath_ = path;
  handshake_.Set();
  lineLost_.store(false);
  isOpen_.store(true);
  try {
    monitor_ = std::thread(&CCommPort::MonitorThread, this);
  } catch (const std::system_error& error) {
    isOpen_.store(false);
    ::ioctl(fd_, TIOCNXCL);
    CloseQuietly(fd_);
    CloseQuietly(wakeFd_);
    lastOpenError_ = error.code();
    return 0;
  }
  return 1;
}

void CCommPort::Close() {
  if (!isOpen_.load()) return;
  isOpen_.store(false);
  // Release the monitor from its hand-shake wait and from its poll.
  handshake_.Set();
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
  if (monitor_.joinable()) monitor_.join();
  // Let the next owner open the terminal; fails harmlessly after a hang-up.
  ::ioctl(fd_, TIOCNXCL);
  CloseQuietly(fd_);  // also drops the lock
  CloseQuietly(wakeFd_);
}

void CCommPort::Notify(std::uint32_t events) {
  std::shared_ptr<const NotifyCallback> notify;
  {
    std::lock_guard lock(notifyMutex_);
    notify = notify_;
  }
  if (notify) (*notify)(events);
}

void CCommPort::ReportLineLost() {
  if (lineLost_.exchange(true)) return;
  Notify(kEventLineLost);
}

bool CCommPort::PauseUnlessClosed(std::chrono::nanoseconds pause) {
  if (pause.count() <= 0) return isOpen_.load();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(pause);
  const timespec timeout{static_cast<time_t>(seconds.count()), static_cast<long>((pause - seconds).count())};
  // Close's wake-up ends the pause; it stays signalled for the monitor's poll.
  pollfd wake{wakeFd_, POLLIN, 0};
  ::ppoll(&wake, 1, &timeout, nullptr);
  return isOpen_.load();
}

int CCommPort::GatherPieces(int waiting, int gatherBytes, std::chrono::steady_clock::time_point notBefore) {
  using Clock = std::chrono::steady_clock;
  const std::chrono::nanoseconds characterTime = CharacterTime(line_);
  const Clock::time_point giveUpAt = Clock::now() + characterTime * (gatherBytes + kGatherSlackBytes);
  for (;;) {
    const Clock::time_point now = Clock::now();
    Clock::time_point until = now;
    if (waiting < gatherBytes && now < giveUpAt) {
      until = std::min(giveUpAt, now + characterTime * (gatherBytes - waiting));
    }
    until = std::max(until, notBefore);
    if (until <= now) return waiting;
    if (answersAwaited_.load() && waiting < gatherBytes) {
      if (until - now > kAwakeLookAhead) {
        if (!PauseUnlessClosed(until - now - kAwakeLookAhead)) return waiting;
      } else {
        std::this_thread::yield();
        if (!isOpen_.load()) return waiting;
      }
    } else if (!PauseUnlessClosed(until - now)) {
      return waiting;
    }
    waiting = BytesWaiting(fd_);
    if (waiting <= 0) return waiting;
  }
}

void CCommPort::MonitorThread() {
  // The terminal is watched edge-triggered: the thread wakes when bytes
  // arrive, not while they wait to be read, and the acknowledgement wakes
  // nobody. Arriving bytes are gathered for up to a frame time before they
  // are reported. Bytes still queued are looked at again one hand-shake wait
  // after each notification: unacknowledged, they are reported again; left
  // behind by the handler, they are reported at last.
  const int watch = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event lineEvent{};
  lineEvent.events = EPOLLIN | EPOLLET;
  lineEvent.data.fd = fd_;
  epoll_event wakeEvent{};
  wakeEvent.events = EPOLLIN;
  wakeEvent.data.fd = wakeFd_;
  if (watch < 0 || ::epoll_ctl(watch, EPOLL_CTL_ADD, fd_, &lineEvent) != 0 ||
      ::epoll_ctl(watch, EPOLL_CTL_ADD, wakeFd_, &wakeEvent) != 0) {
    if (watch >= 0) ::close(watch);
    if (isOpen_.load()) ReportLineLost();
    return;
  }
  // The gathering's pauses are a few character times long; the default
  // timer slack would stretch each by a sizeable share.
  ::prctl(PR_SET_TIMERSLACK, kMonitorTimerSlackNs);

  using Clock = std::chrono::steady_clock;
  // A little over a frame time, so that a steady stream's notification finds
  // a whole frame's worth of new bytes after one pause.
  const std::chrono::nanoseconds characterTime = CharacterTime(line_);
  const auto notifyInterval = characterTime * (kGatherBytes + kGatherSlackBytes);
  const int steadyGatherBytes =
      characterTime * (kSteadyGatherFrames * kGatherBytes + kGatherSlackBytes) < kSteadyGatherLimit
          ? kSteadyGatherFrames * kGatherBytes
          : kGatherBytes;
  bool hungUp = false;
  bool lookAtQueue = true;   // bytes may have waited since Open
  bool bytesArrived = true;  // the look follows new bytes: gather before reporting
  bool lineWoke = false;     // the line's readiness woke us; the look says why
  Clock::time_point postedAt = Clock::now() - kHandshakeWait;
  std::optional<Clock::time_point> lookAgainAt;
  // Looks in a row that found the line readable with nothing queued: a tty
  // that hung up without saying so reads 0 for ever.
  int emptyWakeups = 0;
  while (isOpen_.load()) {
    if (lookAtQueue) {
      lookAtQueue = false;
      int waiting = BytesWaiting(fd_);
      if (lineWoke) {
        lineWoke = false;
        if (waiting > 0) {
          bytesArrived = true;
        } else if (waiting == 0) {
          // Readable yet empty: usually the handler was quicker; looked at
          // again below so a dead tty is noticed.
          emptyWakeups = std::max(emptyWakeups, 1);
        }
      }
      if (waiting > 0 && bytesArrived && !hungUp) {
        // Bytes already there when the last notification went out belong to
        // a stream that has not paused.
        const bool steady = Clock::now() - postedAt < notifyInterval;
        const int gatherBytes = steady ? steadyGatherBytes : kGatherBytes;
        waiting = GatherPieces(waiting, gatherBytes, postedAt + characterTime * (gatherBytes + kGatherSlackBytes));
      }
      bytesArrived = false;
      if (!isOpen_.load()) break;
      if (waiting < 0) {  // EIO: the device is gone
        ReportLineLost();
        break;
      }
      if (waiting > 0) {
        emptyWakeups = 0;
        // At most one notification outstanding; a lost acknowledgement costs
        // at most one hand-shake wait from the last notification.
        if (!handshake_.IsSet()) {
          const auto left = std::chrono::ceil<std::chrono::milliseconds>(postedAt + kHandshakeWait - Clock::now());
          if (left.count() > 0) handshake_.WaitFor(left);
        }
        handshake_.Reset();
        if (!isOpen_.load()) break;  // closed meanwhile: nothing left to read
        Notify(kEventCharReceived);
        postedAt = Clock::now();
        lookAgainAt = postedAt + kHandshakeWait;
        // After a hang-up no more edges come; pace the last notifications so
        // a queue that does not drain cannot spin.
        if (hungUp) {
          std::this_thread::sleep_for(kHandshakeWait);
          lookAtQueue = true;
        }
        continue;
      }
      lookAgainAt.reset();
      if (hungUp) {
        // What was queued before the hang-up has been reported; say the line
        // is lost once and stop watching it.
        ReportLineLost();
        break;
      }
      if (emptyWakeups > 0) {
        // The window thread may just have taken the bytes; only a look that
        // still finds the line readable but empty after a pause means
        // end-of-file.
        pollfd line{fd_, POLLIN, 0};
        if (::poll(&line, 1, 0) == 1 && (line.revents & POLLIN) != 0 && BytesWaiting(fd_) == 0) {
          if (++emptyWakeups > 2)
            hungUp = true;
          else
            std::this_thread::sleep_for(kHandshakeWait);
          lookAtQueue = true;
          continue;
        }
        emptyWakeups = 0;
      }
    }

    int timeoutMs = -1;
    if (lookAgainAt) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*lookAgainAt - Clock::now());
      timeoutMs = static_cast<int>(std::max<long long>(left.count(), 0));
    }
    epoll_event events[2];
    const int ready = ::epoll_wait(watch, events, 2, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      if (isOpen_.load()) ReportLineLost();
      break;
    }
    lookAtQueue = true;  // bytes arrived, Close woke us, or it is time to look again
    for (int i = 0; i < ready; ++i) {
      if (events[i].data.fd == wakeFd_) {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t drained = ::read(wakeFd_, &count, sizeof count);
        continue;
      }
      // A hang-up keeps the port readable for ever; report what is still
      // queued, then stop watching it.
      if ((events[i].events & (EPOLLHUP | EPOLLERR)) != 0) {
        hungUp = true;
      } else {
        lineWoke = true;
      }
    }
  }
  ::close(watch);
}

std::size_t CCommPort::Read(std::uint8_t* buffer, std::size_t max) {
  if (fd_ < 0 || buffer == nullptr) return 0;
  const int waiting = BytesWaiting(fd_);
  if (waiting < 0 && isOpen_.load()) ReportLineLost();
  if (waiting <= 0) return 0;
  const auto available = static_cast<std::size_t>(waiting);
  const std::size_t take = (max > 0 && max < available) ? max : available;
  ssize_t got;
  do {
    got = ::read(fd_, buffer, take);
  } while (got < 0 && errno == EINTR);
  // Bytes were queued, yet the read gives end-of-file or fails: the device
  // went away under us.
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) ReportLineLost();
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t CCommPort::Write(const std::uint8_t* bytes, std::size_t length) {
  if (!isOpen_.load() || fd_ < 0 || bytes == nullptr || length == 0) return 0;
  const auto deadline =
      std::chrono::steady_clock::now() + kWriteTimeConstant + kWriteTimePerByte * static_cast<long long>(length);
  std::size_t written = 0;
  while (written < length) {
    const ssize_t sent = ::write(fd_, bytes + written, length - written);
    if (sent > 0) {
      written += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {  // EIO: line gone
      ReportLineLost();
      break;
    }
    // Output queue full: wait for room until the time limit.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd out{fd_, POLLOUT, 0};
    const int ready = ::poll(&out, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (out.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      ReportLineLost();
      break;
    }
  }
  return written;
}

}  // namespace rolta
