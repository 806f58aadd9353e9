// The screen side of a controller session: the status line's state and the
// live frames that came since the last present. Every frame is taken as it
// arrives; the view is asked once to present and then handed the latest
// status line and readouts, so painting follows the screen's pace.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "env/text_lookup.h"
#include "link/status_frames.h"
#include "readouts/readouts.h"
#include "session/session_view.h"

namespace rolta {

class LivePresenter {
 public:
  LivePresenter(const TextLookup& texts, SessionView& view);
  LivePresenter(const LivePresenter&) = delete;
  LivePresenter& operator=(const LivePresenter&) = delete;

  // The receive path's scan of waiting bytes begins.
  void OnScanBegin();
  // A frame with a good checksum: the status line names its type and Numth.
  void OnFrame(std::uint8_t frameType, std::int16_t numth);
  // A parameter record that does not add up: the firmware speaks another layout.
  void OnVersionMismatch();
  // The scan ended inside a frame: the line falls back to the scan's last
  // text, empty when there was none.
  void OnFrameIncomplete();
  // A decoded live frame for the readouts.
  void OnLiveFrame(const ControllerStatus& status);

  // Something new to show: the view is asked once until the next Present().
  void RequestPresent();
  // Hands the view the status line and the readouts as the latest frames
  // left them, each only when it changed.
  void Present();

 private:
  // What the status line says, kept unformatted until it is shown.
  struct StatusLineState {
    enum class Kind : std::uint8_t { Empty, Frame, VersionMismatch } kind = Kind::Empty;
    std::uint8_t frameType = 0;
    std::int16_t numth = 0;
    bool operator==(const StatusLineState&) const = default;
  };
  std::string StatusLineText(const StatusLineState& state) const;
  void SetStatusLine(const StatusLineState& state);

  const TextLookup& texts_;
  SessionView& view_;
  StatusLineState statusLine_;
  StatusLineState scanStatusLine_;  // the last text set during the running scan
  bool statusLineChanged_ = false;
  // Live frames since the last present, at most one per type, in the order
  // their latest frame came: later ones overwrite earlier ones' cells.
  std::array<ControllerStatus, 256> pendingLive_{};
  std::array<std::uint8_t, 256> pendingOrder_{};
  std::array<bool, 256> pendingType_{};
  std::size_t pendingCount_ = 0;
  ReadoutUpdate frameUpdate_;  // kept between presents so its strings are reused
  ReadoutUpdate presentUpdate_;
  bool presentRequested_ = false;
};

}  // namespace rolta
