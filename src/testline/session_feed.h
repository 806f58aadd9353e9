// Feeds a bench's publisher from its controller session: the decoded status
// frames (live readouts, the controller's version), the link state and the
// operator's commands with their answers (polled on the session's thread),
// and the field log's events (line lost, refusals, e-stop alarm, upgrades).
// It only reads the session: nothing the broker says can reach the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "env/field_log.h"
#include "session/controller_session.h"
#include "session/service_events.h"
#include "testline/testline_publisher.h"

namespace rolta {

// A stable English name of a link state for the messages ("receiving").
std::string_view LinkStateName(LinkState state);

class SessionFeed final : private FieldLogSink, private ServiceEvents {
 public:
  SessionFeed(ControllerSession& session, TestLinePublisher& publisher, double liveRate);
  ~SessionFeed() override;
  SessionFeed(const SessionFeed&) = delete;
  SessionFeed& operator=(const SessionFeed&) = delete;

  // On the session's thread, a few times a second (with its Tick).
  void Poll();
  // The recording was started or stopped; `file` once one was written.
  void SetRecording(bool on, const std::string& file = {});

 private:
  void Write(FieldEvent event, std::string_view detail) override;
  void OnStatus(const ControllerStatus& status, std::chrono::steady_clock::time_point at);
  // ServiceEvents: the changes made to the controller, as events.
  void OnConnected(const std::string& port, const std::string& controllerVersion) override;
  void OnControllerVersion(const std::string& port, const std::string& controllerVersion) override;
  void OnParamsWritten(const std::optional<ParamsPayload>& before, const ParamsPayload& written) override;
  void OnChannelMapStored(const std::optional<ChannelMap>& before, const ChannelMap& stored) override;
  void OnCalibTableStored(CalibChannel channel, const std::optional<CalibTable>& before,
                          const CalibTable& stored) override;
  void OnFirmwareUpgraded(const std::string& file, int result) override;

  ControllerSession& session_;
  TestLinePublisher& publisher_;
  StatusObserverId observer_ = 0;
  std::chrono::steady_clock::duration livePeriod_;
  std::chrono::steady_clock::time_point nextLive_{};
  BenchState state_;
  BenchState published_;
  bool anyPublished_ = false;
  std::uint64_t commandsSeen_ = 0;
  AckState ackSeen_ = AckState::None;
};

}  // namespace rolta
