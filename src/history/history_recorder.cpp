#include "history/history_recorder.h"

#include <variant>

namespace rolta {

std::optional<std::int64_t> HistoryRecorder::Record(const HistoryRecord& record) {
  auto appended = history_.Append(record.kind, record.summary, record.fields);
  if (const auto* id = std::get_if<std::int64_t>(&appended)) return *id;
  if (onFailure_) onFailure_(HistoryErrorText(texts_, std::get<HistoryError>(appended), history_.Path()));
  return std::nullopt;
}

std::optional<std::int64_t> HistoryRecorder::RecordCalibrationRun(const CalibrationRun& run) {
  return Record(CalibrationRunRecord(texts_, run));
}

std::optional<std::int64_t> HistoryRecorder::RecordCoastDown(const CoastAnalysis& analysis, double massKg) {
  return Record(CoastDownRecord(texts_, analysis, massKg));
}

void HistoryRecorder::OnConnected(const std::string& port, const std::string& controllerVersion) {
  versionRecorded_ = controllerVersion;
  Record(ConnectRecord(texts_, port, controllerVersion));
}

void HistoryRecorder::OnControllerVersion(const std::string& port, const std::string& controllerVersion) {
  // One entry per version seen on a connection: a query repeated says nothing new.
  if (controllerVersion == versionRecorded_) return;
  versionRecorded_ = controllerVersion;
  Record(ConnectRecord(texts_, port, controllerVersion));
}

void HistoryRecorder::OnParamsWritten(const std::optional<ParamsPayload>& before, const ParamsPayload& written) {
  Record(ParamsWriteRecord(texts_, before, written));
}

void HistoryRecorder::OnChannelMapStored(const std::optional<ChannelMap>& before, const ChannelMap& stored) {
  Record(ChannelMapRecord(texts_, before, stored));
}

void HistoryRecorder::OnCalibTableStored(CalibChannel channel, const std::optional<CalibTable>& before,
                                         const CalibTable& stored) {
  Record(CalibStoreRecord(texts_, channel, before, stored));
}

void HistoryRecorder::OnFirmwareUpgraded(const std::string& file, int result) {
  Record(FirmwareUpgradeRecord(texts_, file, result));
}

}  // namespace rolta
