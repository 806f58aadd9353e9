#include "calibration/calibration_assistant.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <variant>

#include "calibration/calibration_math.h"
#include "config/controller_params.h"
#include "link/command_codes.h"

namespace rolta {
namespace {

using Clock = CalibrationAssistant::Clock;

// The environment's voltages are asked for again this often while measured.
constexpr auto kPollInterval = std::chrono::milliseconds(100);

Clock::time_point After(Clock::time_point now, double seconds) {
  return now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

float ValueOf(const ControllerStatus& status, int index) {
  switch (index) {
    case 1: return status.Value1;
    case 2: return status.Value2;
    case 3: return status.Value3;
    default: return status.Value4;
  }
}

std::int64_t UnixNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool AllPass(const std::vector<CalibrationPoint>& points) {
  return !points.empty() && std::all_of(points.begin(), points.end(), [](const CalibrationPoint& p) { return p.pass; });
}

}  // namespace

CalibrationAssistant::CalibrationAssistant(ControllerSession& session, const TextLookup& texts)
    : session_(session), texts_(texts) {
  observerId_ = session_.AddStatusObserver(
      [this](const ControllerStatus& status, Clock::time_point at) { OnStatus(status, at); });
}

CalibrationAssistant::~CalibrationAssistant() { session_.RemoveStatusObserver(observerId_); }

std::string CalibrationAssistant::Value(double value) const { return FixedText(value, 3); }

double CalibrationAssistant::CurrentReference() const {
  return pointIndex_ < setup_.references.size() ? setup_.references[pointIndex_] : 0.0;
}

std::optional<std::string> CalibrationAssistant::Start(const CalibrationSetup& setup, Clock::time_point now) {
  if (Running()) return Say("标定正在进行。");
  const CalibrationChannelRow* channel = CalibrationChannelOf(setup.channel);
  if (channel == nullptr) return Say("标定向导不标定此表。");
  const std::size_t capacity = CalibChannelInfo(setup.channel).capacity;
  if (setup.references.size() < 2) return Say("请至少给出两个参考载荷。");
  if (setup.references.size() > capacity) {
    return Say("参考载荷多于标定表的容量：") + " " + std::to_string(capacity);
  }
  for (std::size_t i = 0; i < setup.references.size(); ++i) {
    if (!std::isfinite(setup.references[i])) return Say("参考载荷不是数字。");
    if (i > 0 && !(setup.references[i] > setup.references[i - 1])) {
      return Say("参考载荷顺序有误（每个须大于前一个）：") + " " + Value(setup.references[i - 1]) + " → " +
             Value(setup.references[i]);
    }
  }
  double fullScale = setup.fullScale;
  if (!(fullScale > 0)) {
    for (double r : setup.references) fullScale = std::max(fullScale, std::abs(r));
  }
  if (!(fullScale > 0)) return Say("满量程须大于0。");
  if (!(setup.tolerancePercentFullScale > 0)) return Say("允差须大于0。");
  if (setup.settle.samples < 2 || !(setup.settle.maxSpread > 0)) return Say("稳定判据须至少两个读数且波动大于0。");
  if (!session_.IsOpen()) return Say("通讯口未打开!");

  setup_ = setup;
  channel_ = channel;
  run_ = setup.identity;
  run_.channel = setup.channel;
  run_.unit = std::string(channel->unit);
  run_.fullScale = fullScale;
  run_.tolerancePercentFullScale = setup.tolerancePercentFullScale;
  run_.startedAtUnixSeconds = UnixNow();
  run_.finishedAtUnixSeconds = 0;
  run_.asFound.clear();
  run_.asLeft.clear();
  run_.asFoundPass = run_.asLeftPass = run_.tableStored = run_.tableRestored = false;
  run_.tableBefore = run_.tableAfter = CalibTable(capacity);
  run_.linearityPercentFullScale = 0;
  run_.outcome = CalibrationOutcome::Completed;
  run_.message.clear();
  if (run_.port.empty()) run_.port = session_.PortName();
  window_ = SettleWindow(setup.settle);
  liveVolts_.reset();
  measuring_ = tableSent_ = false;
  pointIndex_ = 0;
  phase_ = CalibrationPhase::AsFound;

  versionSeen_ = false;
  Go(CalibrationStep::AskingVersion, now);
  session_.Executor().SendShort(command::kVersion);
  Changed();
  return std::nullopt;
}

void CalibrationAssistant::Go(CalibrationStep step, Clock::time_point now) {
  step_ = step;
  deadline_ = After(now, setup_.answerTimeoutSeconds);
}

void CalibrationAssistant::OnStatus(const ControllerStatus& status, Clock::time_point at) {
  if (!Running()) return;
  const std::uint8_t type = status.FrameType;
  const bool refused = status.Numth == kRejectedNumth;
  if (type == command::kVersion && step_ == CalibrationStep::AskingVersion) {
    run_.controllerVersion = FixedText(static_cast<double>(status.Value2) / 100.0, 2);
    versionSeen_ = true;
  }
  if (channel_->zeroCommand != 0 && type == channel_->zeroCommand && step_ == CalibrationStep::Zeroing) {
    zeroAnswered_ = true;
    answerRefused_ = refused;
  }
  if (type == CalibChannelInfo(setup_.channel).storeCode &&
      (step_ == CalibrationStep::Storing || step_ == CalibrationStep::Restoring)) {
    storeAnswered_ = true;
    answerRefused_ = refused;
  }
  if (measuring_ && type == channel_->voltageCommand && !refused) {
    const double volts = ValueOf(status, channel_->voltageValue);
    liveVolts_ = volts;
    // The point itself is taken by Tick, outside the receive path.
    if (step_ == CalibrationStep::Settling && at >= ignoreUntil_ && !window_.Settled()) window_.Add(volts);
    Changed();
  }
}

void CalibrationAssistant::Tick(Clock::time_point now) {
  if (!Running() || EndedByClosedLine(now)) return;
  const CalibExchange& calib = session_.Calib();
  switch (step_) {
    case CalibrationStep::AskingVersion:
      if (versionSeen_) {
        paramsBefore_ = session_.Params().RepliesReceived();
        Go(CalibrationStep::ReadingMode, now);
        session_.Params().RequestParams(ParamReplyTarget::Summary);
        Changed();
      } else if (TimedOut(now)) {
        Fail(Say("控制器未回答版本查询。"), now);
      }
      break;
    case CalibrationStep::ReadingMode:
      if (session_.Params().RepliesReceived() != paramsBefore_) {
        const ParamsPayload& record = session_.Params().LatestRecord();
        fit_ = CalibFitFromRecord(DecodeParams(record).calibFit);
        tablesBefore_ = calib.TablesReceived();
        Go(CalibrationStep::FetchingTable, now);
        session_.Calib().RequestTable(setup_.channel);
        Changed();
      } else if (TimedOut(now)) {
        Fail(Say("控制器未发送参数记录。"), now);
      }
      break;
    case CalibrationStep::FetchingTable:
      if (calib.TablesReceived() != tablesBefore_) {
        run_.tableBefore = TableOfCapacity(calib.WorkingTable(), CalibChannelInfo(setup_.channel).capacity);
        if (channel_->zeroCommand != 0) {
          step_ = CalibrationStep::AwaitingUnloaded;
        } else {
          StartPoint(0, CalibrationPhase::AsFound, now);
        }
        Changed();
      } else if (TimedOut(now)) {
        Fail(Say("控制器未发送标定表。"), now);
      }
      break;
    case CalibrationStep::Zeroing:
      if (zeroAnswered_) {
        if (answerRefused_) {
          Fail(Say("控制器拒绝清零。"), now);
        } else {
          StartPoint(0, CalibrationPhase::AsFound, now);
          Changed();
        }
      } else if (TimedOut(now)) {
        Fail(Say("控制器未回答清零指令。"), now);
      }
      break;
    case CalibrationStep::AwaitingLoad: PollEnvironment(now); break;
    case CalibrationStep::Settling:
      PollEnvironment(now);
      if (window_.Settled()) {
        TakePoint(now);
      } else if (now >= deadline_) {
        Fail(Say("读数未稳定：") + " " + std::to_string(window_.Count()) + " " + Say("个读数") + ", " + Say("波动") +
                 " " + FixedText(window_.Spread(), 4) + " V, " + Say("允许") + " " +
                 FixedText(setup_.settle.maxSpread, 4) + " V",
             now);
      }
      break;
    case CalibrationStep::Storing:
    case CalibrationStep::Restoring:
      if (storeAnswered_) {
        if (answerRefused_) {
          if (step_ == CalibrationStep::Storing) {
            tableSent_ = false;  // refused: the controller kept its table
            Fail(Say("控制器拒绝新标定表，其标定表保持不变。"), now);
          } else {
            AddToMessage(Say("控制器拒绝恢复原标定表，请检查控制器中的标定表。"));
            Finish();
          }
          break;
        }
        storeAnswered_ = false;
        tablesBefore_ = calib.TablesReceived();
        session_.Calib().RequestTable(setup_.channel);
        deadline_ = After(now, setup_.answerTimeoutSeconds);
        if (step_ == CalibrationStep::Storing) step_ = CalibrationStep::ReadingBack;
        // Restoring stays Restoring and waits for the table below.
      } else if (step_ == CalibrationStep::Restoring && calib.TablesReceived() != tablesBefore_) {
        OnReadBack(now);
      } else if (TimedOut(now)) {
        if (step_ == CalibrationStep::Storing) {
          Fail(Say("控制器未回答标定表存储。"), now);
        } else {
          AddToMessage(Say("原标定表未能恢复，请检查控制器中的标定表。"));
          Finish();
        }
      }
      break;
    case CalibrationStep::ReadingBack:
      if (calib.TablesReceived() != tablesBefore_) {
        OnReadBack(now);
      } else if (TimedOut(now)) {
        Fail(Say("控制器未回读标定表。"), now);
      }
      break;
    default: break;
  }
}

void CalibrationAssistant::Continue(Clock::time_point now) {
  if (step_ == CalibrationStep::AwaitingUnloaded) {
    zeroAnswered_ = answerRefused_ = false;
    Go(CalibrationStep::Zeroing, now);
    Send(channel_->zeroCommand);
    Changed();
  } else if (step_ == CalibrationStep::AwaitingLoad) {
    window_.Clear();
    step_ = CalibrationStep::Settling;
    ignoreUntil_ = After(now, setup_.settle.ignoreSeconds);
    deadline_ = After(now, setup_.settle.ignoreSeconds + setup_.settle.timeoutSeconds);
    Changed();
  }
}

void CalibrationAssistant::StartPoint(std::size_t index, CalibrationPhase phase, Clock::time_point now) {
  pointIndex_ = index;
  phase_ = phase;
  window_.Clear();
  step_ = CalibrationStep::AwaitingLoad;
  if (!measuring_) StartMeasuring(now);
}

void CalibrationAssistant::StartMeasuring(Clock::time_point now) {
  measuring_ = true;
  nextPoll_ = now;
  if (channel_->voltageStreams) Send(channel_->voltageCommand);
  PollEnvironment(now);
}

void CalibrationAssistant::PollEnvironment(Clock::time_point now) {
  if (!measuring_ || channel_->voltageStreams || now < nextPoll_) return;
  nextPoll_ = now + kPollInterval;
  Send(channel_->voltageCommand);
}

void CalibrationAssistant::StopMeasuring() {
  if (!measuring_) return;
  measuring_ = false;
  // The force channels' voltage runs until the controller is told to stop.
  if (channel_->voltageStreams && session_.IsOpen()) Send(command::kStopTest);
}

void CalibrationAssistant::Send(std::uint8_t shortCommand) {
  // Through the catalogue's own position, so the line's safety awaits its
  // answer as for the operator's "执行".
  if (const std::optional<int> position = PositionOfShortCommand(shortCommand)) {
    // The console's list selection, which its settings file keeps, stays the operator's.
    const int selected = session_.Executor().CommandIndex();
    session_.Execute(*position, CommandInputs{});
    session_.Executor().SetCommandIndex(selected);
  } else {
    session_.Executor().SendShort(shortCommand);
  }
}

void CalibrationAssistant::TakePoint(Clock::time_point now) {
  CalibrationPoint point;
  point.reference = CurrentReference();
  point.voltageMean = window_.Mean();
  point.voltageSpread = window_.Spread();
  point.samples = window_.Count();
  std::vector<CalibrationPoint>& points = phase_ == CalibrationPhase::AsFound ? run_.asFound : run_.asLeft;
  points.push_back(point);
  if (pointIndex_ + 1 < setup_.references.size()) {
    StartPoint(pointIndex_ + 1, phase_, now);
  } else if (phase_ == CalibrationPhase::AsFound) {
    EndAsFound(now);
  } else {
    const std::vector<CalibPoint> table = CalibPoints(run_.tableAfter);
    for (CalibrationPoint& p : run_.asLeft) {
      AssessPoint(p, table, fit_, run_.fullScale, run_.tolerancePercentFullScale, setup_.resolutionVolts,
                  run_.reference.expandedUncertainty);
    }
    run_.asLeftPass = AllPass(run_.asLeft);
    EndRun(CalibrationOutcome::Completed, {}, now);
  }
  Changed();
}

void CalibrationAssistant::EndAsFound(Clock::time_point now) {
  const std::vector<CalibPoint> before = CalibPoints(run_.tableBefore);
  std::vector<CalibPoint> measured;
  for (CalibrationPoint& p : run_.asFound) {
    AssessPoint(p, before, fit_, run_.fullScale, run_.tolerancePercentFullScale, setup_.resolutionVolts,
                run_.reference.expandedUncertainty);
    measured.push_back({p.voltageMean, p.reference});
  }
  run_.asFoundPass = AllPass(run_.asFound);
  run_.linearityPercentFullScale = LinearityPercentFullScale(measured, run_.fullScale);
  auto built = BuildTable(measured, CalibChannelInfo(setup_.channel).capacity);
  if (const auto* refusal = std::get_if<TableRefusal>(&built)) {
    std::string which;
    if (refusal->first < run_.asFound.size() && refusal->second < run_.asFound.size()) {
      which = " (" + Value(run_.asFound[refusal->first].reference) + ", " +
              Value(run_.asFound[refusal->second].reference) + " " + run_.unit + ")";
    }
    Fail(Say("无法生成新标定表：") + " " + Say(refusal->reason) + which, now);
    return;
  }
  run_.tableAfter = std::get<CalibTable>(built);
  if (setup_.confirmStore) {
    step_ = CalibrationStep::ConfirmingStore;
  } else {
    Store(run_.tableAfter, CalibrationStep::Storing, now);
  }
}

bool CalibrationAssistant::EndedByClosedLine(Clock::time_point now) {
  if (session_.IsOpen()) return false;
  measuring_ = false;  // nothing can be sent any more
  Fail(Say("与控制器的连接已断开。"), now);
  return true;
}

void CalibrationAssistant::ConfirmStore(bool store, Clock::time_point now) {
  if (step_ != CalibrationStep::ConfirmingStore) return;
  // The line may have gone while the question was open: a store written to
  // a closed port goes nowhere, and the table must not be said to be sent.
  if (store && EndedByClosedLine(now)) return;
  if (store) {
    Store(run_.tableAfter, CalibrationStep::Storing, now);
    Changed();
  } else {
    EndRun(CalibrationOutcome::Aborted, Say("新标定表未存储，控制器的标定表保持不变。"), now);
  }
}

void CalibrationAssistant::Store(const CalibTable& table, CalibrationStep step, Clock::time_point now) {
  storeAnswered_ = answerRefused_ = false;
  tablesBefore_ = session_.Calib().TablesReceived();
  sent_ = table;
  Go(step, now);
  if (step == CalibrationStep::Storing) tableSent_ = true;
  session_.Calib().StoreTable(setup_.channel, table);
}

void CalibrationAssistant::OnReadBack(Clock::time_point now) {
  const CalibTable back = TableOfCapacity(session_.Calib().WorkingTable(), CalibChannelInfo(setup_.channel).capacity);
  if (step_ == CalibrationStep::Restoring) {
    run_.tableRestored = back == run_.tableBefore;
    AddToMessage(run_.tableRestored ? Say("已恢复原标定表。") : Say("原标定表回读不一致，请检查控制器中的标定表。"));
    Finish();
    return;
  }
  if (!(back == sent_)) {
    Fail(Say("回读的标定表与存储的不一致。"), now);
    return;
  }
  run_.tableStored = true;
  StartPoint(0, CalibrationPhase::AsLeft, now);
  Changed();
}

void CalibrationAssistant::Fail(const std::string& message, Clock::time_point now) {
  EndRun(CalibrationOutcome::Failed, message, now);
}

void CalibrationAssistant::Abort(Clock::time_point now) {
  if (!Running()) return;
  if (step_ == CalibrationStep::Restoring) return;  // already on the way out
  EndRun(CalibrationOutcome::Aborted, Say("已中止。"), now);
}

void CalibrationAssistant::EndRun(CalibrationOutcome outcome, const std::string& message, Clock::time_point now) {
  run_.outcome = outcome;
  run_.message = message;
  StopMeasuring();
  if (outcome != CalibrationOutcome::Completed && tableSent_ && session_.IsOpen()) {
    // The new table may be in the controller: the fetched one goes back.
    run_.tableStored = false;
    Store(run_.tableBefore, CalibrationStep::Restoring, now);
    Changed();
    return;
  }
  if (outcome != CalibrationOutcome::Completed) {
    AddToMessage(tableSent_ ? Say("新标定表可能已在控制器中，请检查控制器中的标定表。")
                            : Say("控制器的标定表保持不变。"));
  }
  Finish();
}

void CalibrationAssistant::AddToMessage(const std::string& sentence) {
  run_.message += ' ';
  run_.message += sentence;
}

void CalibrationAssistant::Finish() {
  StopMeasuring();
  step_ = CalibrationStep::Finished;
  run_.finishedAtUnixSeconds = UnixNow();
  if (runObserver_) runObserver_(run_);
  Changed();
}

void CalibrationAssistant::Changed() {
  if (changeObserver_) changeObserver_();
}

std::string CalibrationAssistant::Instruction() const {
  const std::string name = channel_ != nullptr ? std::string(channel_->name) : std::string();
  const std::string phase = phase_ == CalibrationPhase::AsFound ? Say("校前") : Say("校后");
  switch (step_) {
    case CalibrationStep::Idle: return Say("填写标识与参考载荷后开始。");
    case CalibrationStep::AskingVersion:
    case CalibrationStep::ReadingMode: return Say("正在读取控制器版本与标定模式。");
    case CalibrationStep::FetchingTable: return Say("正在获取标定表。");
    case CalibrationStep::AwaitingUnloaded: return Say("请卸下该通道的全部载荷后继续：将清零。") + " (" + name + ")";
    case CalibrationStep::Zeroing: return Say("正在清零。");
    case CalibrationStep::AwaitingLoad:
      return phase + " " + std::to_string(pointIndex_ + 1) + "/" + std::to_string(PointCount()) + ": " +
             Say("请施加参考载荷后继续：") + " " + Value(CurrentReference()) + " " + run_.unit + " (" + name + ")";
    case CalibrationStep::Settling:
      return phase + " " + std::to_string(pointIndex_ + 1) + "/" + std::to_string(PointCount()) + ": " +
             Say("等待读数稳定。");
    case CalibrationStep::ConfirmingStore: return Say("新标定表已生成，是否存储？");
    case CalibrationStep::Storing:
    case CalibrationStep::ReadingBack: return Say("正在存储并回读新标定表。");
    case CalibrationStep::Restoring: return Say("正在恢复原标定表。");
    case CalibrationStep::Finished: break;
  }
  switch (run_.outcome) {
    case CalibrationOutcome::Completed:
      return run_.asLeftPass ? Say("标定完成：校后合格。") : Say("标定完成：校后不合格。");
    case CalibrationOutcome::Aborted: return run_.message;
    case CalibrationOutcome::Failed: return run_.message;
  }
  return {};
}

}  // namespace rolta
