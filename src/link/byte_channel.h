// The serial channel as the receive path and the command senders see it.
// CCommPort implements it on a real device; tests use in-memory channels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rolta {

class ByteChannel {
 public:
  virtual ~ByteChannel() = default;
  virtual bool IsOpen() const = 0;
  // Copies waiting bytes without waiting: max 0 means all waiting, else at most max.
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t max) = 0;
  // Writes the whole frame; returns the bytes written, 0 on a closed channel or error.
  virtual std::size_t Write(const std::uint8_t* bytes, std::size_t length) = 0;
  // Tells the monitor that the current bytes-waiting notification was handled.
  virtual void AcknowledgeNotification() = 0;
};

}  // namespace rolta
