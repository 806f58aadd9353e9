// Writes what the session tells (connects, parameter writes, channel map and
// calibration stores, upgrades) and what the front end hands over
// (calibration assistant runs, coast-down analyses) into the service history,
// each entry committed before the call returns.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "calib/calibration_run.h"
#include "env/text_lookup.h"
#include "history/history_records.h"
#include "history/service_history.h"
#include "session/service_events.h"

namespace rolta {

class HistoryRecorder final : public ServiceEvents {
 public:
  // Summaries are written in the language of `texts`.
  HistoryRecorder(ServiceHistory& history, const TextLookup& texts) : history_(history), texts_(texts) {}

  // Told, with the text to show, when an entry could not be committed.
  void SetFailureHandler(std::function<void(const std::string& message)> handler) { onFailure_ = std::move(handler); }

  // The new entry's id; nothing (and the failure handler told) when it
  // could not be committed.
  std::optional<std::int64_t> Record(const HistoryRecord& record);
  std::optional<std::int64_t> RecordCalibrationRun(const CalibrationRun& run);
  std::optional<std::int64_t> RecordCoastDown(const CoastAnalysis& analysis, double massKg);

  // ServiceEvents
  void OnConnected(const std::string& port, const std::string& controllerVersion) override;
  void OnControllerVersion(const std::string& port, const std::string& controllerVersion) override;
  void OnParamsWritten(const std::optional<ParamsPayload>& before, const ParamsPayload& written) override;
  void OnChannelMapStored(const std::optional<ChannelMap>& before, const ChannelMap& stored) override;
  void OnCalibTableStored(CalibChannel channel, const std::optional<CalibTable>& before,
                          const CalibTable& stored) override;
  void OnFirmwareUpgraded(const std::string& file, int result) override;

 private:
  ServiceHistory& history_;
  const TextLookup& texts_;
  std::function<void(const std::string&)> onFailure_;
  std::string versionRecorded_;  // on the current connection
};

}  // namespace rolta
