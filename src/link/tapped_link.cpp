#include "link/tapped_link.h"

#include <utility>

namespace rolta {

TappedLink::TappedLink(std::unique_ptr<SerialLink> inner) : inner_(std::move(inner)) {}

std::size_t TappedLink::Write(const std::uint8_t* bytes, std::size_t length) {
  const bool wasOpen = inner_->IsOpen();
  const std::size_t written = inner_->Write(bytes, length);
  if (tap_) tap_->OnFrameSent({bytes, length}, written, LineClock::now());
  if (observer_) observer_(bytes, length, written, wasOpen);
  return written;
}

int TappedLink::Open(const std::string& portName, int byteSize, int stopBitCode, int parityCode,
                     std::uint32_t baudRate) {
  const int result = inner_->Open(portName, byteSize, stopBitCode, parityCode, baudRate);
  if (result == 1) {
    openedAt_ = LineClock::now();
    if (tap_) tap_->OnLineOpened(openedAt_);
  }
  return result;
}

}  // namespace rolta
