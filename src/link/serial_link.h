// A byte channel that is opened on a named port and reports waiting bytes
// from a thread of its own. CCommPort is the real one; tests and benchmarks
// bring others.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

#include "link/byte_channel.h"

namespace rolta {

// The codes Open takes for the controller's character format: 8 data bits,
// no parity, one stop bit.
inline constexpr int kEightDataBits = 8;
inline constexpr int kOneStopBitCode = 0;
inline constexpr int kNoParityCode = 0;

class SerialLink : public ByteChannel {
 public:
  using NotifyCallback = std::function<void(std::uint32_t events)>;
  // Event bits passed with a notification: bytes wait; the device hung up
  // (unplugged adapter, peer gone). The hang-up is posted once per Open and
  // the link then posts nothing more; the owner closes it.
  static constexpr std::uint32_t kEventCharReceived = 1;
  static constexpr std::uint32_t kEventLineLost = 2;

  // Called from the link's own thread each time bytes wait; it must only post
  // the event to the thread that owns the receive handler.
  virtual void SetNotifyCallback(NotifyCallback callback) = 0;
  // 1 on success, 0 on failure (LastOpenError says why).
  virtual int Open(const std::string& portName, int byteSize, int stopBitCode, int parityCode,
                   std::uint32_t baudRate) = 0;
  virtual void Close() = 0;
  virtual std::error_code LastOpenError() const = 0;
  // The line speed of the last successful Open.
  virtual std::uint32_t BaudRate() const = 0;
  // True once the open device has hung up; cleared by the next Open.
  virtual bool LineLost() const { return false; }
};

}  // namespace rolta
