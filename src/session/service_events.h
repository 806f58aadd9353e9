// What the service history is told: every connect and every change the
// session's exchanges made to the controller, each once its frames went out
// whole and before the front end reports it done. The session tells every
// observer added (the history, the test line), in the order they were added.
#pragma once

#include <optional>
#include <string>

#include "calib/calib_table.h"
#include "config/channel_map.h"
#include "config/controller_params.h"

namespace rolta {

class ServiceEvents {
 public:
  virtual ~ServiceEvents() = default;
  // The port opened by the operator (not a reconnection); the controller's
  // version when a query on this session already answered, else empty.
  virtual void OnConnected(const std::string& port, const std::string& controllerVersion) = 0;
  // A version answer ("3.74").
  virtual void OnControllerVersion(const std::string& port, const std::string& controllerVersion) = 0;
  virtual void OnParamsWritten(const std::optional<ParamsPayload>& before, const ParamsPayload& written) = 0;
  virtual void OnChannelMapStored(const std::optional<ChannelMap>& before, const ChannelMap& stored) = 0;
  virtual void OnCalibTableStored(CalibChannel channel, const std::optional<CalibTable>& before,
                                  const CalibTable& stored) = 0;
  virtual void OnFirmwareUpgraded(const std::string& file, int result) = 0;
};

}  // namespace rolta
