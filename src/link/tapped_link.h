// A serial link that shows every frame written to an observer. It wraps the
// link a session owns, so every window that writes through the session's port
// is seen, whoever built the frame.
#pragma once

#include <functional>
#include <memory>

#include "link/line_tap.h"
#include "link/serial_link.h"

namespace rolta {

class TappedLink final : public SerialLink {
 public:
  explicit TappedLink(std::unique_ptr<SerialLink> inner);

  // wasOpen: the channel was open when the write began.
  using WriteObserver =
      std::function<void(const std::uint8_t* bytes, std::size_t length, std::size_t written, bool wasOpen)>;

  // nullptr: nobody watches.
  void SetTap(LineTap* tap) { tap_ = tap; }
  // Told of every write with the count that went out, so a frame that did not
  // leave the PC is never silent and its answer can be waited for.
  void SetWriteObserver(WriteObserver observer) { observer_ = std::move(observer); }
  LineTap* Tap() const { return tap_; }
  // When the last successful Open returned; nullopt-like epoch before any.
  LineClock::time_point OpenedAt() const { return openedAt_; }
  SerialLink& Inner() { return *inner_; }

  bool IsOpen() const override { return inner_->IsOpen(); }
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override { return inner_->Read(buffer, max); }
  std::size_t Write(const std::uint8_t* bytes, std::size_t length) override;
  void AcknowledgeNotification() override { inner_->AcknowledgeNotification(); }
  void SetAnswersAwaited(bool awaited) override { inner_->SetAnswersAwaited(awaited); }
  void SetNotifyCallback(NotifyCallback callback) override { inner_->SetNotifyCallback(std::move(callback)); }
  int Open(const std::string& portName, int byteSize, int stopBitCode, int parityCode, std::uint32_t baudRate) override;
  void Close() override { inner_->Close(); }
  std::error_code LastOpenError() const override { return inner_->LastOpenError(); }
  std::uint32_t BaudRate() const override { return inner_->BaudRate(); }
  bool LineLost() const override { return inner_->LineLost(); }

 private:
  std::unique_ptr<SerialLink> inner_;
  LineTap* tap_ = nullptr;
  WriteObserver observer_;
  LineClock::time_point openedAt_{};
};

}  // namespace rolta
