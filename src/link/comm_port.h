// The one serial channel of the console: a termios device opened exclusively,
// a monitor thread that reports waiting bytes through a posted callback, a
// non-blocking read and a write with a time limit.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "link/serial_link.h"

struct termios;

namespace rolta {

// Manual-reset event: stays signalled until Reset, releases every waiter.
class HandshakeEvent {
 public:
  explicit HandshakeEvent(bool signalled = true) : signalled_(signalled) {}
  HandshakeEvent(const HandshakeEvent&) = delete;
  HandshakeEvent& operator=(const HandshakeEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when signalled within the timeout; does not reset the event.
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_;
};

// Line settings as the console passes them to Open.
struct LineSettings {
  int byteSize = kEightDataBits;      // data bits, 5..8
  int stopBitCode = kOneStopBitCode;  // 0 one, 1 one and a half, 2 two, other: keep the device's
  int parityCode = kNoParityCode;     // 0 none, 1 even, 2 odd, other: keep the device's
  std::uint32_t baudRate = 115200;
};

// Rewrites a device's termios for a raw 8-bit line with the given settings and
// no flow control. False for a byte size the line cannot carry or a baud rate
// termios does not know; the termios is then unusable.
bool ConfigureLine(termios& line, const LineSettings& settings);

class CCommPort final : public SerialLink {
 public:
  // Overrides the folder of port names given without a leading '/' (normally /dev).
  static constexpr const char* kDeviceDirVariable = "ROLTA_DEV_DIR";

  CCommPort();
  ~CCommPort() override;
  CCommPort(const CCommPort&) = delete;
  CCommPort& operator=(const CCommPort&) = delete;

  // Called from the monitor thread each time bytes wait; it must only post the
  // event to the thread that owns the receive handler. May be set at any time.
  void SetNotifyCallback(NotifyCallback callback) override;

  // 1 on success, 0 when already open or the device cannot be opened,
  // locked or configured; LastOpenError then says why.
  int Open(const std::string& portName, int byteSize, int stopBitCode, int parityCode, std::uint32_t baudRate) override;
  void Close() override;
  // Why the last Open failed (errno of the step that failed; busy when another
  // program holds the line); clear after a successful Open.
  std::error_code LastOpenError() const override { return lastOpenError_; }

  bool IsOpen() const override { return isOpen_.load(); }
  // With max 0 the buffer must hold everything waiting (a terminal queues at
  // most a few kilobytes for reading; the console passes 40960).
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override;
  std::size_t Write(const std::uint8_t* bytes, std::size_t length) override;
  void AcknowledgeNotification() override { handshake_.Set(); }
  // Kept across Close and Open.
  void SetAnswersAwaited(bool awaited) override { answersAwaited_.store(awaited); }
  bool LineLost() const override { return lineLost_.load(); }

  // The settings of the last successful Open (the baud rate as configured).
  std::uint32_t BaudRate() const override { return line_.baudRate; }
  int ByteSize() const { return line_.byteSize; }
  int ParityCode() const { return line_.parityCode; }
  int StopBitCode() const { return line_.stopBitCode; }
  const std::string& DevicePath() const { return devicePath_; }

  // 9600, 19200, 38400 and 57600 are kept; anything else runs at 115200.
  static std::uint32_t SupportedBaudRate(std::uint32_t requested);
  // "COM12" -> "/dev/COM12" (or $ROLTA_DEV_DIR/COM12); an absolute path is kept.
  static std::string DevicePathForPortName(const std::string& portName);

 private:
  void MonitorThread();
  // Waits until gatherBytes wait or the line has had the time to bring
  // them, and not before notBefore; returns the bytes then
  // waiting (-1 when the device is gone). Close ends the wait early.
  int GatherPieces(int waiting, int gatherBytes, std::chrono::steady_clock::time_point notBefore);
  // False when Close ended the pause or had already been called.
  bool PauseUnlessClosed(std::chrono::nanoseconds pause);
  void Notify(std::uint32_t events);
  // Marks the line lost and posts kEventLineLost, once per Open, from
  // whichever thread sees it first.
  void ReportLineLost();

  std::atomic<bool> isOpen_{false};
  std::atomic<bool> lineLost_{false};
  std::atomic<bool> answersAwaited_{false};
  HandshakeEvent handshake_{true};
  int fd_ = -1;
  int wakeFd_ = -1;  // eventfd that Close signals to end the monitor's poll
  std::thread monitor_;
  LineSettings line_;
  std::string devicePath_;
  std::error_code lastOpenError_;

  std::mutex notifyMutex_;
  std::shared_ptr<const NotifyCallback> notify_;
};

}  // namespace rolta
