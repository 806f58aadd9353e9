#include "session/live_presenter.h"

#include <algorithm>

#include "readouts/console_texts.h"

namespace rolta {

LivePresenter::LivePresenter(const TextLookup& texts, SessionView& view) : texts_(texts), view_(view) {}

void LivePresenter::OnScanBegin() { scanStatusLine_ = {}; }

void LivePresenter::OnFrame(std::uint8_t frameType, std::int16_t numth) {
  scanStatusLine_ = {StatusLineState::Kind::Frame, frameType, numth};
  SetStatusLine(scanStatusLine_);
}

void LivePresenter::OnVersionMismatch() {
  scanStatusLine_ = {StatusLineState::Kind::VersionMismatch};
  SetStatusLine(scanStatusLine_);
}

void LivePresenter::OnFrameIncomplete() { SetStatusLine(scanStatusLine_); }

void LivePresenter::SetStatusLine(const StatusLineState& state) {
  statusLine_ = state;
  statusLineChanged_ = true;
  RequestPresent();
}

std::string LivePresenter::StatusLineText(const StatusLineState& state) const {
  switch (state.kind) {
    case StatusLineState::Kind::Empty: return {};
    case StatusLineState::Kind::Frame: return FrameStatusText(texts_, state.frameType, state.numth);
    case StatusLineState::Kind::VersionMismatch: return texts_.Lookup(kVersionMismatchText);
  }
  return {};
}

void LivePresenter::OnLiveFrame(const ControllerStatus& status) {
  const std::uint8_t type = status.FrameType;
  if (pendingType_[type]) {
    // Already waiting: it moves to the end, so its cells win over the others'.
    auto* const first = pendingOrder_.data();
    auto* const last = first + pendingCount_;
    std::rotate(std::find(first, last, type), std::find(first, last, type) + 1, last);
  } else {
    pendingType_[type] = true;
    pendingOrder_[pendingCount_++] = type;
  }
  pendingLive_[type] = status;
  RequestPresent();
}

void LivePresenter::RequestPresent() {
  if (presentRequested_) return;
  presentRequested_ = true;
  view_.RequestPresent();
}

void LivePresenter::Present() {
  presentRequested_ = false;
  if (statusLineChanged_) {
    statusLineChanged_ = false;
    view_.ShowStatusLine(StatusLineText(statusLine_));
  }
  if (pendingCount_ == 0) return;
  // The cells of every type seen since the last present, the latest last.
  for (ReadoutChange& change : presentUpdate_) change = {};
  for (std::size_t i = 0; i < pendingCount_; ++i) {
    const std::uint8_t type = pendingOrder_[i];
    pendingType_[type] = false;
    PresentLiveFrame(pendingLive_[type], texts_, frameUpdate_);
    for (std::size_t cell = 0; cell < kReadoutCount; ++cell) {
      if (frameUpdate_[cell].caption) presentUpdate_[cell].caption = frameUpdate_[cell].caption;
      if (frameUpdate_[cell].text) presentUpdate_[cell].text = frameUpdate_[cell].text;
    }
  }
  pendingCount_ = 0;
  view_.ShowReadouts(presentUpdate_);
}

}  // namespace rolta
