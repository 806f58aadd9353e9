// The controller's answers the firmware upgrade waits for, as the receive
// path leaves them: the latest of each, read and partly reset by the upgrade.
#pragma once

#include <cstdint>

#include "link/status_frames.h"

namespace rolta {

struct UpgradeReplies {
  std::int32_t StopReply = 0;
  std::int32_t WaitReply = 0;
  float BlockStatus = 0.0f;
  std::int32_t AckedBlock = 0;

  // A decoded status frame that answers a command (StatusFrameSinks::
  // OnCommandAnswer): type 27 sets WaitReply, 28 StopReply, both make an
  // outstanding block go out again; 126 acknowledges a block. Other types
  // leave the replies as they are.
  void OnCommandAnswer(const ControllerStatus& status);
};

}  // namespace rolta
