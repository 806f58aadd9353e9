// A pseudo-terminal pair standing in for a serial line in tests: the console
// side opens the slave by its path like any serial device, the test plays the
// far end on the master.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct termios;

namespace rolta::test {

class PtyPair {
 public:
  // Opens the pair and sets the slave raw. Throws std::system_error when the
  // system has no pseudo-terminals to give.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The device path the console opens ("/dev/pts/N"). It disappears once the
  // master is closed.
  const std::string& SlavePath() const { return slavePath_; }
  // The far end; -1 after CloseMaster.
  int MasterFd() const { return masterFd_; }
  // The slave's current line settings as the console left them.
  bool SlaveSettings(termios& settings) const;

  // Sends bytes to the console side, waiting for room in the line's buffer up
  // to the timeout. True when every byte went out.
  bool Send(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout = std::chrono::seconds(2));
  bool Send(std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds(2));

  // Reads what the console wrote until n bytes have come or the timeout passes;
  // returns what arrived (fewer than n on time-out or a closed master).
  std::vector<std::uint8_t> ReceiveExactly(std::size_t n, std::chrono::milliseconds timeout);
  // Everything the console writes within the given time.
  std::vector<std::uint8_t> ReceiveFor(std::chrono::milliseconds duration);

  // Pulls the plug: the console's descriptor is hung up (poll reports
  // POLLHUP|POLLERR, ioctls and writes fail with EIO, reads give 0) and the
  // slave path is removed.
  void CloseMaster();

 private:
  // Reads until `limit` bytes came or the time is up.
  std::vector<std::uint8_t> ReceiveUntil(std::size_t limit, std::chrono::milliseconds timeout);

  int masterFd_ = -1;
  // Kept open so the master never reads EIO while the console has the slave
  // closed (before its first open, between a close and the next open). It is
  // never read: all input stays for the console.
  int heldSlaveFd_ = -1;
  std::string slavePath_;
};

}  // namespace rolta::test
