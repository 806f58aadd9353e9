#include "upgrade/upgrade_replies.h"

#include "link/command_codes.h"
#include "upgrade/firmware_upgrade.h"

namespace rolta {

void UpgradeReplies::OnCommandAnswer(const ControllerStatus& status) {
  switch (status.FrameType) {
    case command::kStandby:
      WaitReply = TruncateToInt32(status.Value1);
      BlockStatus = static_cast<float>(kBlockResend);
      return;
    case command::kStopTest:
      StopReply = TruncateToInt32(status.Value1);
      BlockStatus = static_cast<float>(kBlockResend);
      return;
    case command::kRomBlock:
      BlockStatus = status.Value1;
      AckedBlock = TruncateToInt32(status.Value2);
      return;
    default: return;
  }
}

}  // namespace rolta
