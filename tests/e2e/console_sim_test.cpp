// The real console window against the controller simulator over a
// pseudo-terminal, driven as an operator drives it: pick the port, press
// "设置", pick a command, type its values, press "执行", and watch the
// readouts and the status line follow the simulated bench.
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/ui/about_dlg.h"
#include "session/safety_messages.h"
#include "console/ui/rolta_dlg.h"
#include "console_rig.h"
#include "fake_environment.h"
#include "scripted_services.h"
#include "controller_simulator.h"
#include "widgets/ui/digistring.h"

using namespace std::chrono_literals;
using rolta::CDigistring;
using rolta::CommandInput;
using rolta::CRoltaDlg;
using rolta::test::FakeEnvironment;
using rolta::test::ScriptedServices;
namespace sim = rolta::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Catalogue positions the operator picks.
constexpr int kConstantSpeed = 0;      // "恒速测试"
constexpr int kConstantLoadCoast = 8;  // "恒负荷滑行"
constexpr int kStopTest = 14;          // "停止测试"
constexpr int kLoopTest = 34;          // "通讯测试LOOP"
constexpr int kStopLoopTest = 35;      // "关闭通讯测试"

using Rig = rolta::test::ConsoleRig;
using namespace rolta::test;

const CDigistring& Readout(const CRoltaDlg& console, int readout) {
  return *console.Readouts()[static_cast<std::size_t>(readout)].display;
}
QString Caption(const CRoltaDlg& console, int readout) {
  return console.Readouts()[static_cast<std::size_t>(readout)].frame->title();
}
QStringList Captions(const CRoltaDlg& console) {
  QStringList captions;
  for (int i = 0; i < 4; ++i) captions << Caption(console, i);
  return captions;
}
QStringList DisplayTexts(const CRoltaDlg& console) {
  QStringList texts;
  for (int i = 0; i < 4; ++i) texts << QString::fromStdString(Readout(console, i).text());
  return texts;
}
double Value(const CDigistring& display) { return QString::fromStdString(display.text()).toDouble(); }

// The values a display takes while events run, each new text once, in the
// order they appear; stops after `wanted` changes or the timeout.
std::vector<double> WatchValues(const CDigistring& display, std::size_t wanted, int timeoutMs = kWaitMs) {
  std::vector<double> values;
  std::string last = display.text();
  QDeadlineTimer deadline(timeoutMs);
  while (values.size() < wanted && !deadline.hasExpired()) {
    QTest::qWait(5);
    if (display.text() != last) {
      last = display.text();
      values.push_back(Value(display));
    }
  }
  return values;
}

bool StrictlyRising(const std::vector<double>& v) {
  for (std::size_t i = 1; i < v.size(); ++i) {
    if (!(v[i] > v[i - 1])) return false;
  }
  return true;
}
bool StrictlyFalling(const std::vector<double>& v) {
  for (std::size_t i = 1; i < v.size(); ++i) {
    if (!(v[i] < v[i - 1])) return false;
  }
  return true;
}

std::vector<std::uint8_t> ReceivedCodes(const sim::ControllerSimulator& controller) {
  std::vector<std::uint8_t> codes;
  for (const sim::ReceivedCommand& c : controller.ReceivedCommands()) codes.push_back(c.code);
  return codes;
}

// True when nobody holds the line: a third party can open and lock it.
bool LineFree(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return locked;
}

std::chrono::nanoseconds ProcessCpuTime() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// Starts the constant-speed test at 50 km/h from the operator's side.
void StartConstantSpeed(CRoltaDlg& console) {
  Choose(console, kConstantSpeed);
  Type(console, CommandInput::ParamA, QStringLiteral("50"));
  Press(console.Buttons().execute);
}

// The constant-speed frame for 50 km/h, flywheel mask 0.
const Bytes kConstantSpeed50 = {0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0x00, 0x00, 0x00, 0x48, 0x42};
// Coast-down from 100 to 10 km/h against a 5 kW load.
const Bytes kCoast100To10At5 = {0x55, 0xAA, 0x32, 0x10, 0x74, 0xFC, 0x00, 0x00, 0xC8, 0x42, 0x00,
                                0x00, 0x20, 0x41, 0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x00};
const Bytes kEmergencyStop = {0x55, 0xAA, 0x1D, 0x00, 0xE4, 0xFE};
const Bytes kVersionQuery = {0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE};

const QStringList kStartCaptions = {"速度", "力矩", "电压", "里程"};
const QStringList kStartTexts = {"0", "0", "0", "0"};

}  // namespace

class ConsoleSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();

  void constantSpeedSendsItsFrameAndTheReadoutsClimbTowardTheSetSpeed();
  void coastDownDeceleratesUntilStopTestEndsIt();
  void oneSessionRunsConstantSpeedCoastDownAndStopInTurn();
  void emergencyStopAndVersionQuery();
  void rejectedCommandsShowInvalidCommand();
  void badChecksumFramesChangeNothingUntilTheLineIsClean();
  void lineNoiseBetweenFramesIsSkipped();
  void truncatedFramesDoNotStopLaterGoodFrames();
  void silentControllerChangesNothing();
  void hungUpLineIsReportedClosedAndIdle();
  void closeReleasesTheLineAndLaterActionsAskForIt();
  void exitSavesTheSelections();
  void repeatLoopResendsStopUntilTheStopPosition();

 private:
  QTemporaryDir configDir_;
  QTemporaryDir stateDir_;
  QTemporaryDir linkDir_;
  ScriptedServices services_;
};

void ConsoleSimTest::initTestCase() {
  QVERIFY(configDir_.isValid() && stateDir_.isValid() && linkDir_.isValid());
  qputenv("XDG_CONFIG_HOME", configDir_.path().toUtf8());
  qputenv("XDG_STATE_HOME", stateDir_.path().toUtf8());
}

void ConsoleSimTest::init() {
  // Every window starts from the default selections.
  QFile::remove(QDir(configDir_.path()).filePath(QStringLiteral("QRX5000B.CFG")));
  services_.boxes.Clear();
  services_.keys.ctrl = false;
  services_.keys.escape = false;
}

void ConsoleSimTest::constantSpeedSendsItsFrameAndTheReadoutsClimbTowardTheSetSpeed() {
  Rig rig(services_.Host());
  QVERIFY(rig.Up());
  // Connecting sends nothing.
  QVERIFY(Connect(*rig));
  QTest::qWait(100);
  QCOMPARE(rig.controller->ReceivedCount(), std::size_t{0});

  StartConstantSpeed(*rig);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  const auto received = rig.controller->ReceivedCommands();
  QCOMPARE(received.size(), std::size_t{1});
  QCOMPARE(received[0].frame, kConstantSpeed50);
  QVERIFY(received[0].checksumGood);

  QVERIFY(WaitForStatusType(*rig, 16));
  QCOMPARE(Captions(*rig), (QStringList{"速度", "力矩", "转速", "参数"}));

  // Frame after frame the speed climbs toward 50 and never passes it.
  const std::vector<double> speeds = WatchValues(Readout(*rig, 0), 6);
  QVERIFY2(speeds.size() >= 6, "the speed display stopped changing");
  QVERIFY(StrictlyRising(speeds));
  QVERIFY(speeds.front() > 0.0);
  QVERIFY(speeds.back() <= 50.0);
  QVERIFY(QTest::qWaitFor([&] { return Value(Readout(*rig, 0)) > 49.0; }, kWaitMs));
  QVERIFY(Value(Readout(*rig, 0)) <= 50.0);
  // The controller counts its frames; each one reaches the status line.
  const std::optional<int> numth = StatusNumth(*rig);
  QVERIFY(numth.has_value());
  QVERIFY(QTest::qWaitFor([&] { return StatusNumth(*rig) != numth; }, kWaitMs));
  QCOMPARE(StatusType(*rig), std::optional<int>(16));
  QVERIFY(services_.boxes.Shown().empty());
}

void ConsoleSimTest::coastDownDeceleratesUntilStopTestEndsIt() {
  Rig rig(services_.Host());
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  Choose(*rig, kConstantLoadCoast);
  Type(*rig, CommandInput::StartSpeed, QStringLiteral("100"));
  Type(*rig, CommandInput::EndSpeed, QStringLiteral("10"));
  Type(*rig, CommandInput::ParamM, QStringLiteral("5"));
  Press(rig->Buttons().execute);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QCOMPARE(rig.controller->ReceivedCommands().at(0).frame, kCoast100To10At5);

  QVERIFY(WaitForStatusType(*rig, 50));
  QCOMPARE(Caption(*rig, 1), QStringLiteral("滑行时间"));
  QCOMPARE(Caption(*rig, 2), QStringLiteral("当前负荷"));
  const std::vector<double> speeds = WatchValues(Readout(*rig, 0), 4);
  QVERIFY2(speeds.size() >= 4, "the speed display stopped changing");
  QVERIFY(StrictlyFalling(speeds));
  QVERIFY(speeds.front() <= 100.0);
  QVERIFY(speeds.back() > 10.0);
  // The coast time counts up beside it.
  const std::vector<double> coastTimes = WatchValues(Readout(*rig, 1), 2);
  QVERIFY(coastTimes.size() >= 2);
  QVERIFY(StrictlyRising(coastTimes));

  Choose(*rig, kStopTest);
  Press(rig->Buttons().execute);
  QVERIFY(WaitForStatusType(*rig, 28));
  QCOMPARE(FramesWithCode(*rig.controller, 28).size(), std::size_t{1});
  QCOMPARE(Caption(*rig, 0), QStringLiteral("速度"));
  // The test is over: no further coast-down frames, the readouts stay.
  const QStringList shown = DisplayTexts(*rig);
  QTest::qWait(400);
  QCOMPARE(StatusType(*rig), std::optional<int>(28));
  QCOMPARE(DisplayTexts(*rig), shown);
  QVERIFY(Value(Readout(*rig, 0)) > 10.0);
}

// One connection, three commands: each row rewrites its own captions and
// leaves the rest as the previous command left them.
void ConsoleSimTest::oneSessionRunsConstantSpeedCoastDownAndStopInTurn() {
  Rig rig(services_.Host());
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));

  StartConstantSpeed(*rig);
  QVERIFY(WaitForStatusType(*rig, 16));
  QVERIFY(QTest::qWaitFor([&] { return Value(Readout(*rig, 0)) > 20.0; }, kWaitMs));
  QCOMPARE(Captions(*rig), (QStringList{"速度", "力矩", "转速", "参数"}));
  const double rpmAt = Value(Readout(*rig, 2));
  QVERIFY(rpmAt > 0.0);  // the roller speed goes with the road speed

  Choose(*rig, kConstantLoadCoast);
  Type(*rig, CommandInput::StartSpeed, QStringLiteral("100"));
  Type(*rig, CommandInput::EndSpeed, QStringLiteral("10"));
  Type(*rig, CommandInput::ParamM, QStringLiteral("5"));
  Press(rig->Buttons().execute);
  QVERIFY(WaitForStatusType(*rig, 50));
  QCOMPARE(Captions(*rig), (QStringList{"速度", "滑行时间", "当前负荷", "参数"}));
  // The coast starts from the start speed, above where the constant-speed test stood.
  QVERIFY(QTest::qWaitFor([&] { return Value(Readout(*rig, 0)) > 60.0; }, kWaitMs));
  const std::vector<double> coasting = WatchValues(Readout(*rig, 0), 3);
  QVERIFY(coasting.size() >= 3);
  QVERIFY(StrictlyFalling(coasting));
  // Type 50 leaves the fourth readout's value as the last type-16 frame set it.
  const QString distanceText = QString::fromStdString(Readout(*rig, 3).text());

  Choose(*rig, kStopTest);
  Press(rig->Buttons().execute);
  QVERIFY(WaitForStatusType(*rig, 28));
  QCOMPARE(Captions(*rig), (QStringList{"速度", "滑行时间", "当前负荷", "参数"}));
  QCOMPARE(QString::fromStdString(Readout(*rig, 3).text()), distanceText);
  QCOMPARE(ReceivedCodes(*rig.controller), (std::vector<std::uint8_t>{16, 50, 28}));
}

void ConsoleSimTest::emergencyStopAndVersionQuery() {
  Rig rig(services_.Host());
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  StartConstantSpeed(*rig);
  QVERIFY(WaitForStatusType(*rig, 16));

  Press(rig->Buttons().emergencyStop);
  QVERIFY(rig.controller->WaitForReceived(2, 2s));
  QCOMPARE(rig.controller->ReceivedCommands().at(1).frame, kEmergencyStop);
  QVERIFY(WaitForStatusType(*rig, 29));
  QCOMPARE(Caption(*rig, 0), QStringLiteral("速度"));
  // The bench is stopped: no more frames of the constant-speed test.
  QTest::qWait(200);
  QCOMPARE(StatusType(*rig), std::optional<int>(29));

  rolta::CAboutDlg* about = rig->AboutBox();
  QVERIFY(about);
  QVERIFY(!about->isVisible());
  Press(rig->Buttons().version);
  QVERIFY(about->isVisible());
  QVERIFY(rig.controller->WaitForReceived(3, 2s));
  QCOMPARE(rig.controller->ReceivedCommands().at(2).frame, kVersionQuery);
  QVERIFY(QTest::qWaitFor([&] { return about->ControllerVersionValue() == QStringLiteral("Ver7.34"); }, kWaitMs));
  QCOMPARE(about->ControllerVersionCaption(), QStringLiteral("QRX5000控制器版本"));
  QVERIFY(about->isVisible());
  QVERIFY(WaitForStatusType(*rig, 4));
  QVERIFY(services_.boxes.Shown().empty());
}

void ConsoleSimTest::rejectedCommandsShowInvalidCommand() {
  sim::SimulatorOptions options = FastBench();
  options.faults.Add(sim::SimFault::Reject);
  Rig rig(services_.Host(), options);
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  StartConstantSpeed(*rig);
  QVERIFY(QTest::qWaitFor([&] { return Status(*rig) == QStringLiteral("无效指令"); }, kWaitMs));
  // A rejected frame is still decoded: its row is applied.
  QCOMPARE(Captions(*rig), (QStringList{"速度", "力矩", "转速", "参数"}));
  QTest::qWait(200);
  QCOMPARE(Status(*rig), QStringLiteral("无效指令"));
}

void ConsoleSimTest::badChecksumFramesChangeNothingUntilTheLineIsClean() {
  sim::SimulatorOptions options = FastBench();
  options.faults.Add(sim::SimFault::BadChecksum);
  Rig rig(services_.Host(), options);
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  StartConstantSpeed(*rig);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QVERIFY(QTest::qWaitFor([&] { return rig.controller->Counters().framesSent >= 10; }, kWaitMs));
  QTest::qWait(200);
  // Neither a status text nor a readout for a frame that fails its checksum;
  // a frame still arriving may only empty the status line.
  QVERIFY2(Status(*rig) == "-" || Status(*rig).isEmpty(), qPrintable(Status(*rig)));
  QCOMPARE(Captions(*rig), kStartCaptions);
  QCOMPARE(DisplayTexts(*rig), kStartTexts);

  rig.controller->SetFaults({});
  QVERIFY(WaitForStatusType(*rig, 16));
  QVERIFY(QTest::qWaitFor([&] { return Value(Readout(*rig, 0)) > 0.0; }, kWaitMs));
}

void ConsoleSimTest::lineNoiseBetweenFramesIsSkipped() {
  sim::SimulatorOptions options = FastBench();
  options.faults.Add(sim::SimFault::Garbage);
  Rig rig(services_.Host(), options);
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  StartConstantSpeed(*rig);
  QVERIFY(WaitForStatusType(*rig, 16));
  const std::vector<double> speeds = WatchValues(Readout(*rig, 0), 4);
  QVERIFY(speeds.size() >= 4);
  QVERIFY(StrictlyRising(speeds));
  QCOMPARE(Captions(*rig), (QStringList{"速度", "力矩", "转速", "参数"}));
}

void ConsoleSimTest::truncatedFramesDoNotStopLaterGoodFrames() {
  sim::SimulatorOptions options = FastBench();
  options.faults.Add(sim::SimFault::Truncated);
  Rig rig(services_.Host(), options);
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  StartConstantSpeed(*rig);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QVERIFY(QTest::qWaitFor([&] { return rig.controller->Counters().framesSent >= 15; }, kWaitMs));
  QTest::qWait(100);
  QVERIFY(rig->isVisible());

  rig.controller->SetFaults({});
  QVERIFY(WaitForStatusType(*rig, 16));
  const std::vector<double> speeds = WatchValues(Readout(*rig, 0), 3);
  QVERIFY(speeds.size() >= 3);
  QVERIFY(StrictlyRising(speeds));
}

void ConsoleSimTest::silentControllerChangesNothing() {
  sim::SimulatorOptions options = FastBench();
  options.faults.Add(sim::SimFault::Silence);
  Rig rig(services_.Host(), options);
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  StartConstantSpeed(*rig);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QVERIFY(QTest::qWaitFor([&] { return rig.controller->Counters().framesSilenced >= 10; }, kWaitMs));
  QCOMPARE(Status(*rig), QStringLiteral("-"));
  QCOMPARE(Captions(*rig), kStartCaptions);
  QCOMPARE(DisplayTexts(*rig), kStartTexts);
  QVERIFY(services_.boxes.Shown().empty());

  // The controller speaks again: the running test's frames are shown.
  rig.controller->SetFaults({});
  QVERIFY(WaitForStatusType(*rig, 16));
}

void ConsoleSimTest::hungUpLineIsReportedClosedAndIdle() {
  const std::string link = QDir(linkDir_.path()).filePath(QStringLiteral("ttyQRX")).toStdString();
  sim::SimulatorOptions options = FastBench();
  options.linkPath = link;
  options.faults.Add(sim::SimFault::Hangup);  // on the first command
  Rig rig(services_.Host(), options, link);
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  StartConstantSpeed(*rig);
  QVERIFY(QTest::qWaitFor([&] { return rig.controller->HungUp(); }, kWaitMs));
  QTest::qWait(100);

  // The monitor thread must not spin on the dead line.
  const auto before = ProcessCpuTime();
  QTest::qWait(500);
  const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(ProcessCpuTime() - before);
  QVERIFY2(used < 250ms, qPrintable(QStringLiteral("%1 ms of CPU in 500 ms").arg(used.count())));

  // The lost line is reported and closed; later actions say they cannot send.
  QVERIFY(!rig->Port().IsOpen());
  QVERIFY(rig->Buttons().connect->isEnabled());
  QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
  QCOMPARE(services_.boxes.Shown().back(), rolta::LineLostMessage(rolta::IdentityLookup(), link));
  Press(rig->Buttons().emergencyStop);
  QCOMPARE(services_.boxes.Shown().back(), rolta::EmergencyStopNotSentMessage(rolta::IdentityLookup(), link));
  Press(rig->Buttons().execute);
  QCOMPARE(services_.boxes.Shown().back(), rolta::ChannelClosedMessage());
  Press(rig->Buttons().close);
  QVERIFY(!rig->Port().IsOpen());
  QVERIFY(rig->Buttons().connect->isEnabled());

  // A new controller on the same link: connect again and run.
  rig.controller->Stop();
  sim::SimulatorOptions again = FastBench();
  again.linkPath = link;
  rig.controller = std::make_unique<sim::ControllerSimulator>(again);
  QVERIFY(rig.controller->Start());
  QVERIFY(Connect(*rig));
  StartConstantSpeed(*rig);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QCOMPARE(rig.controller->ReceivedCommands().at(0).frame, kConstantSpeed50);
  QVERIFY(WaitForStatusType(*rig, 16));
}

void ConsoleSimTest::closeReleasesTheLineAndLaterActionsAskForIt() {
  Rig rig(services_.Host());
  QVERIFY(rig.Up());
  const std::string line = rig.controller->SlavePath();
  QVERIFY(Connect(*rig));
  QVERIFY(!LineFree(line));

  Press(rig->Buttons().close);
  QVERIFY(!rig->Port().IsOpen());
  QVERIFY(rig->Buttons().connect->isEnabled());
  QVERIFY(LineFree(line));

  const auto connects = rig.controller->Counters().connects;
  Choose(*rig, kConstantSpeed);
  Type(*rig, CommandInput::ParamA, QStringLiteral("50"));
  Press(rig->Buttons().execute);
  QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
  QCOMPARE(services_.boxes.Shown().back(), rolta::ChannelClosedMessage());
  Press(rig->Buttons().emergencyStop);
  QCOMPARE(services_.boxes.Shown().size(), std::size_t{2});
  QCOMPARE(services_.boxes.Shown().back(), rolta::ChannelClosedMessage());
  QTest::qWait(100);
  QCOMPARE(rig.controller->ReceivedCount(), std::size_t{0});

  // Connecting again is a new session for the controller.
  QVERIFY(Connect(*rig));
  QVERIFY(QTest::qWaitFor([&] { return rig.controller->Counters().connects > connects; }, kWaitMs));
  Press(rig->Buttons().execute);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QCOMPARE(rig.controller->ReceivedCommands().at(0).frame, kConstantSpeed50);
}

void ConsoleSimTest::exitSavesTheSelections() {
  Rig rig(services_.Host());
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  rig->SpeedList()->setCurrentIndex(2);  // "38.4K"
  Choose(*rig, kStopTest);
  Press(rig->Buttons().exit);
  QVERIFY(!rig->Port().IsOpen());
  QVERIFY(!rig->isVisible());
  QCOMPARE(rig->result(), int(QDialog::Accepted));

  QFile file(QDir(configDir_.path()).filePath(QStringLiteral("QRX5000B.CFG")));
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  // portIndex 0, speedIndex 2, commandIndex 14, little-endian.
  QCOMPARE(bytes, QByteArray("\x00\x00\x00\x00\x02\x00\x00\x00\x0E\x00\x00\x00", 12));
  QVERIFY(QTest::qWaitFor([&] { return LineFree(rig.controller->SlavePath()); }, kWaitMs));
}

void ConsoleSimTest::repeatLoopResendsStopUntilTheStopPosition() {
  Rig rig(services_.Host());
  QVERIFY(rig.Up());
  QVERIFY(Connect(*rig));
  Choose(*rig, kStopTest);
  Press(rig->Buttons().execute);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QVERIFY(WaitForStatusType(*rig, 28));
  rig.controller->ClearReceived();

  using Clock = std::chrono::steady_clock;
  Clock::time_point stopAt{};
  std::optional<int> statusInLoop;
  bool stoppedByGuard = false;
  // Position 35 is executed from inside the running loop, as the operator would.
  QTimer::singleShot(1000, this, [&] {
    statusInLoop = StatusType(*rig);
    stopAt = Clock::now();
    Choose(*rig, kStopLoopTest);
    rig->Buttons().execute->click();
  });
  // Never hang here if the stop went unheard.
  QTimer::singleShot(4000, this, [&] {
    stoppedByGuard = true;
    rig->OnCloseChannel();
  });

  Choose(*rig, kLoopTest);
  const Clock::time_point startedAt = Clock::now();
  Press(rig->Buttons().execute);  // returns when the loop ends
  QVERIFY(!stoppedByGuard);
  QVERIFY(stopAt > startedAt);
  // Replies were received while the loop ran.
  QCOMPARE(statusInLoop, std::optional<int>(28));

  QTest::qWait(400);
  const auto received = rig.controller->ReceivedCommands();
  std::size_t during = 0;
  std::size_t after = 0;
  for (const sim::ReceivedCommand& c : received) {
    QCOMPARE(int(c.code), 28);
    QCOMPARE(c.frame, (Bytes{0x55, 0xAA, 0x1C, 0x00, 0xE5, 0xFE}));
    (c.at <= stopAt ? during : after) += 1;
  }
  QVERIFY2(during >= 5 && during <= 15, qPrintable(QStringLiteral("%1 frames in 1 s").arg(during)));
  QVERIFY2(after <= 1, qPrintable(QStringLiteral("%1 frames after the stop").arg(after)));
  // Nothing more goes out once the loop has ended.
  const std::size_t total = rig.controller->ReceivedCount();
  QTest::qWait(300);
  QCOMPARE(rig.controller->ReceivedCount(), total);
  QVERIFY(rig->Port().IsOpen());
}

QTEST_MAIN(ConsoleSimTest)
#include "console_sim_test.moc"
