// The guided calibration of one channel, as a step machine driven by the
// session's status frames and by Tick, so it never waits inside a call: the
// console's window and rolta-cli drive the same machine. It asks the
// controller's version and calibration mode, fetches the channel's table,
// zeroes the channel where it has a zero command, takes the as-found readings
// at each reference, builds the new table from them, stores it, reads it back
// and takes the as-left readings at the same references. Whatever ends a run
// (completed, aborted, failed), the run's record goes to the run observer; a
// table stored before an abort or a failure is replaced by the fetched one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "calib/calib_fit.h"
#include "calib/calibration_run.h"
#include "calibration/calibration_channels.h"
#include "calibration/settle_window.h"
#include "env/text_lookup.h"
#include "session/controller_session.h"

namespace rolta {

enum class CalibrationStep : std::uint8_t {
  Idle,
  AskingVersion,     // the controller's version, for the record
  ReadingMode,       // the parameter record: how the controller uses its tables
  FetchingTable,     // the table as found
  AwaitingUnloaded,  // the engineer takes every load off; then the channel is zeroed
  Zeroing,
  AwaitingLoad,     // the engineer applies the next reference and continues
  Settling,         // readings are taken until they settle
  ConfirmingStore,  // the new table is ready; the front end confirms storing it
  Storing,
  ReadingBack,
  Restoring,  // the fetched table goes back after an abort or a failure
  Finished,
};

enum class CalibrationPhase : std::uint8_t { AsFound, AsLeft };

struct CalibrationSetup {
  CalibChannel channel = CalibChannel::TorqueFrontLeft;
  // In the channel's unit, lowest first; at most the table's capacity.
  std::vector<double> references;
  double fullScale = 0;  // 0: the largest reference's magnitude
  double tolerancePercentFullScale = 0.5;
  double resolutionVolts = 0.001;
  SettleRule settle;
  double answerTimeoutSeconds = 3;
  // Stop at ConfirmingStore until ConfirmStore; otherwise store at once.
  bool confirmStore = false;
  // Who, where and against what: bench, engineer, port, sensor serial,
  // reference, traceability; the rest of the run is the assistant's.
  CalibrationRun identity;
};

class CalibrationAssistant {
 public:
  using Clock = std::chrono::steady_clock;
  using RunObserver = std::function<void(const CalibrationRun&)>;

  CalibrationAssistant(ControllerSession& session, const TextLookup& texts);
  ~CalibrationAssistant();
  CalibrationAssistant(const CalibrationAssistant&) = delete;
  CalibrationAssistant& operator=(const CalibrationAssistant&) = delete;

  // Told once when a run ends, with its whole record.
  void SetRunObserver(RunObserver observer) { runObserver_ = std::move(observer); }
  // Told whenever what a front end shows may have changed.
  void SetChangeObserver(std::function<void()> observer) { changeObserver_ = std::move(observer); }

  // Starts a run; a setup it refuses gives the reason (translated) and
  // nothing is sent.
  std::optional<std::string> Start(const CalibrationSetup& setup, Clock::time_point now);
  // The engineer has done what AwaitingUnloaded or AwaitingLoad asked.
  void Continue(Clock::time_point now);
  // At ConfirmingStore: store the new table, or end the run as aborted.
  void ConfirmStore(bool store, Clock::time_point now);
  // Ends the run; a table already stored is replaced by the fetched one.
  void Abort(Clock::time_point now);
  // Time-outs, the environment's polling and the steps that wait for a table
  // or a record; a few times a second at least.
  void Tick(Clock::time_point now);

  CalibrationStep Step() const { return step_; }
  CalibrationPhase Phase() const { return phase_; }
  bool Running() const { return step_ != CalibrationStep::Idle && step_ != CalibrationStep::Finished; }
  std::size_t PointIndex() const { return pointIndex_; }
  std::size_t PointCount() const { return setup_.references.size(); }
  // The reference the current point is taken at.
  double CurrentReference() const;
  // The readings of the current point, and the latest voltage of any point.
  const SettleWindow& Reading() const { return window_; }
  std::optional<double> LiveVolts() const { return liveVolts_; }
  CalibFit Fit() const { return fit_; }
  const CalibrationRun& Run() const { return run_; }
  const CalibrationChannelRow* Channel() const { return channel_; }
  // What the engineer is asked to do or waits for now, translated.
  std::string Instruction() const;

 private:
  void OnStatus(const ControllerStatus& status, Clock::time_point at);
  void Go(CalibrationStep step, Clock::time_point now);
  bool TimedOut(Clock::time_point now) const { return now >= deadline_; }
  void StartPoint(std::size_t index, CalibrationPhase phase, Clock::time_point now);
  void TakePoint(Clock::time_point now);
  void EndAsFound(Clock::time_point now);
  // Storing: the new table; Restoring: the fetched one back.
  void Store(const CalibTable& table, CalibrationStep step, Clock::time_point now);
  void OnReadBack(Clock::time_point now);
  void Fail(const std::string& message, Clock::time_point now);
  void EndRun(CalibrationOutcome outcome, const std::string& message, Clock::time_point now);
  void Finish();
  // Ends the run when the line is closed; true if it did.
  bool EndedByClosedLine(Clock::time_point now);
  // A further sentence after the run's message.
  void AddToMessage(const std::string& sentence);
  void StartMeasuring(Clock::time_point now);
  void PollEnvironment(Clock::time_point now);
  void StopMeasuring();
  void Send(std::uint8_t shortCommand);
  void Changed();
  std::string Say(std::string_view text) const { return texts_.Lookup(text); }
  std::string Value(double value) const;

  ControllerSession& session_;
  const TextLookup& texts_;
  StatusObserverId observerId_;
  RunObserver runObserver_;
  std::function<void()> changeObserver_;

  CalibrationSetup setup_;
  const CalibrationChannelRow* channel_ = nullptr;
  CalibrationRun run_;
  CalibrationStep step_ = CalibrationStep::Idle;
  CalibrationPhase phase_ = CalibrationPhase::AsFound;
  CalibFit fit_ = CalibFit::PiecewiseLinear;
  std::size_t pointIndex_ = 0;
  SettleWindow window_;
  std::optional<double> liveVolts_;
  Clock::time_point deadline_{};
  Clock::time_point ignoreUntil_{};
  Clock::time_point nextPoll_{};

  // What the status frames brought since the step began.
  bool versionSeen_ = false;
  bool zeroAnswered_ = false;
  bool storeAnswered_ = false;
  bool answerRefused_ = false;  // the zero or store answer carried the refusal
  std::uint32_t paramsBefore_ = 0;
  std::uint32_t tablesBefore_ = 0;

  bool measuring_ = false;  // the voltage command runs (or is polled)
  bool tableSent_ = false;  // the new table may be in the controller
  CalibTable sent_;
};

}  // namespace rolta
