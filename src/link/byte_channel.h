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
  // While a sender waits for each answer before it goes on (a firmware
  // upload), a channel that gathers arriving bytes reports a frame as soon as
  // its last byte is in, not after its own wake-up comes late.
  virtual void SetAnswersAwaited(bool /*awaited*/) {}
};

// Answers are awaited for as long as it lives.
class AwaitingAnswers {
 public:
  explicit AwaitingAnswers(ByteChannel& channel) : channel_(channel) { channel_.SetAnswersAwaited(true); }
  ~AwaitingAnswers() { channel_.SetAnswersAwaited(false); }
  AwaitingAnswers(const AwaitingAnswers&) = delete;
  AwaitingAnswers& operator=(const AwaitingAnswers&) = delete;

 private:
  ByteChannel& channel_;
};

}  // namespace rolta
