// A receive side for tests of one exchange: good frames go to the handler of
// their kind, nothing else happens (no status line, no pause).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/frame_sync.h"
#include "link/frames.h"

namespace rolta::test {

class FrameRouter final : public FrameSink {
 public:
  using Handler = std::function<void(const std::uint8_t* frame, std::size_t length)>;
  void On(ControllerFrameKind kind, Handler handler) { handlers_[static_cast<std::size_t>(kind)] = std::move(handler); }

  void OnScanBegin() override {}
  void OnFrame(std::uint8_t type, const std::uint8_t* frame, std::size_t length) override {
    if (const Handler& handler = handlers_[static_cast<std::size_t>(ControllerFrameKindOf(type))]) {
      handler(frame, length);
    }
  }
  bool OnBadFrame(std::uint8_t, const std::uint8_t*, std::size_t) override { return false; }
  void OnFrameIncomplete() override {}
  void PauseAfterFrame() override {}

 private:
  std::array<Handler, 4> handlers_;
};

}  // namespace rolta::test
