#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <cerrno>
#include <system_error>

namespace rolta::test {

namespace {

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PtyPair::PtyPair() {
  masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (masterFd_ < 0) Fail("posix_openpt");
  char name[128] = {};
  if (::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0 || ::ptsname_r(masterFd_, name, sizeof name) != 0) {
    const int error = errno;
    ::close(masterFd_);
    errno = error;
    Fail("pseudo-terminal slave");
  }
  slavePath_ = name;
  const int flags = ::fcntl(masterFd_, F_GETFL);
  ::fcntl(masterFd_, F_SETFL, flags | O_NONBLOCK);

  heldSlaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios raw{};
  if (heldSlaveFd_ < 0 || ::tcgetattr(heldSlaveFd_, &raw) != 0) {
    const int error = errno;
    if (heldSlaveFd_ >= 0) ::close(heldSlaveFd_);
    ::close(masterFd_);
    errno = error;
    Fail("pseudo-terminal slave open");
  }
  // No echo and no line discipline: bytes sent before the console opens the
  // line must reach it unchanged, and nothing may be echoed back.
  ::cfmakeraw(&raw);
  ::tcsetattr(heldSlaveFd_, TCSANOW, &raw);
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (heldSlaveFd_ >= 0) ::close(heldSlaveFd_);
}

bool PtyPair::SlaveSettings(termios& settings) const {
  return heldSlaveFd_ >= 0 && ::tcgetattr(heldSlaveFd_, &settings) == 0;
}

bool PtyPair::Send(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) {
  if (masterFd_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(masterFd_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    pollfd out{masterFd_, POLLOUT, 0};
    const int wait = RemainingMs(deadline);
    if (wait == 0 || ::poll(&out, 1, wait) < 0) return false;
  }
  return true;
}

bool PtyPair::Send(std::string_view text, std::chrono::milliseconds timeout) {
  return Send(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), timeout);
}

std::vector<std::uint8_t> PtyPair::ReceiveUntil(std::size_t limit, std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::uint8_t chunk[4096];
  while (masterFd_ >= 0 && got.size() < limit) {
    const std::size_t want = std::min(sizeof chunk, limit - got.size());
    const ssize_t r = ::read(masterFd_, chunk, want);
    if (r > 0) {
      got.insert(got.end(), chunk, chunk + r);
      continue;
    }
    if (r == 0 || (errno != EAGAIN && errno != EINTR)) break;
    pollfd in{masterFd_, POLLIN, 0};
    const int wait = RemainingMs(deadline);
    if (wait == 0 || ::poll(&in, 1, wait) < 0) break;
  }
  return got;
}

std::vector<std::uint8_t> PtyPair::ReceiveExactly(std::size_t n, std::chrono::milliseconds timeout) {
  return ReceiveUntil(n, timeout);
}

std::vector<std::uint8_t> PtyPair::ReceiveFor(std::chrono::milliseconds duration) {
  return ReceiveUntil(std::numeric_limits<std::size_t>::max(), duration);
}

void PtyPair::CloseMaster() {
  if (masterFd_ >= 0) ::close(masterFd_);
  masterFd_ = -1;
}

}  // namespace rolta::test
