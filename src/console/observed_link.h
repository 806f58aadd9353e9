// The session's link as every sender sees it: each call goes to the real
// link, and every frame written is reported with the count that went out,
// so a frame that did not leave the PC is never silent and the answer to a
// command can be waited for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/serial_link.h"

namespace rolta {

class ObservedLink final : public SerialLink {
 public:
  // wasOpen: the channel was open when the write began.
  using WriteObserver =
      std::function<void(const std::uint8_t* bytes, std::size_t length, std::size_t written, bool wasOpen)>;

  explicit ObservedLink(SerialLink& inner) : inner_(inner) {}
  void SetWriteObserver(WriteObserver observer) { observer_ = std::move(observer); }
  SerialLink& Inner() { return inner_; }

  bool IsOpen() const override { return inner_.IsOpen(); }
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override { return inner_.Read(buffer, max); }
  std::size_t Write(const std::uint8_t* bytes, std::size_t length) override {
    const bool wasOpen = inner_.IsOpen();
    const std::size_t written = inner_.Write(bytes, length);
    if (observer_) observer_(bytes, length, written, wasOpen);
    return written;
  }
  void AcknowledgeNotification() override { inner_.AcknowledgeNotification(); }
  void SetNotifyCallback(NotifyCallback callback) override { inner_.SetNotifyCallback(std::move(callback)); }
  int Open(const std::string& portName, int byteSize, int stopBitCode, int parityCode,
           std::uint32_t baudRate) override {
    return inner_.Open(portName, byteSize, stopBitCode, parityCode, baudRate);
  }
  void Close() override { inner_.Close(); }
  std::error_code LastOpenError() const override { return inner_.LastOpenError(); }
  std::uint32_t BaudRate() const override { return inner_.BaudRate(); }
  bool LineLost() const override { return inner_.LineLost(); }

 private:
  SerialLink& inner_;
  WriteObserver observer_;
};

}  // namespace rolta
