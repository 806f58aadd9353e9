// The console's line safety against the simulator: a lost line is reported
// and reconnected, every command's answer is shown, and typed values are
// checked before anything is sent.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "commands/input_checks.h"
#include "session/safety_messages.h"
#include "console/ui/rolta_dlg.h"
#include "controller_simulator.h"
#include "env/number_text.h"
#include "fake_environment.h"
#include "link/frames.h"
#include "scripted_services.h"
#include "widgets/ui/digistring.h"

using namespace std::chrono_literals;
using rolta::CommandInput;
using rolta::CRoltaDlg;
using rolta::IdentityLookup;
using rolta::MessageAnswer;
using rolta::test::FakeEnvironment;
using rolta::test::ScriptedServices;
namespace sim = rolta::sim;

namespace rolta::test {
namespace {

constexpr int kWaitMs = 5000;

sim::SimulatorOptions Bench(const std::string& link = {}, sim::FaultSet faults = {}) {
  sim::SimulatorOptions options;
  options.periodMs = 20;
  options.timeScale = 10.0;
  options.linkPath = link;
  options.faults = faults;
  return options;
}

struct Rig {
  std::unique_ptr<sim::ControllerSimulator> controller;
  std::unique_ptr<FakeEnvironment> environment;
  std::unique_ptr<CRoltaDlg> console;

  Rig(HostServices services, sim::SimulatorOptions options) {
    StartController(options);
    const std::string port = options.linkPath.empty() ? controller->SlavePath() : options.linkPath;
    environment = std::make_unique<FakeEnvironment>(std::vector<std::string>{port});
    console = std::make_unique<CRoltaDlg>(*environment, services);
    console->show();
  }
  void StartController(sim::SimulatorOptions options) {
    controller = std::make_unique<sim::ControllerSimulator>(options);
    QVERIFY(controller->Start());
  }
  CRoltaDlg* operator->() const { return console.get(); }

  void Connect() {
    console->PortList()->setCurrentIndex(0);
    console->Buttons().connect->click();
    QVERIFY(console->Port().IsOpen());
  }
  void Run(int position, CommandInput field = CommandInput::ParamA, const QString& text = {}) {
    console->CommandList()->setCurrentIndex(position);
    if (QLineEdit* edit = console->Edit(field); edit && !text.isNull()) edit->setText(text);
    console->Buttons().execute->click();
  }
  QString Indicator() const { return console->LinkIndicatorLabel()->text(); }
  bool WaitIndicator(const QString& part, int ms = kWaitMs) const {
    return QTest::qWaitFor([&] { return Indicator().contains(part); }, ms);
  }
  bool ReadoutsStale() const {
    for (const auto& readout : console->Readouts()) {
      if (!readout.display->IsStale()) return false;
    }
    return true;
  }
};

}  // namespace

class LineSafetySimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(configDir_.isValid() && linkDir_.isValid());
    qputenv("XDG_CONFIG_HOME", configDir_.path().toUtf8());
    qputenv("XDG_STATE_HOME", configDir_.path().toUtf8());
  }
  void init() { services_.boxes.Clear(); }

  void lostLineIsReportedAndTheSamePortReconnects();
  void everyCommandShowsWhatBecameOfIt();
  void typedValuesAreCheckedBeforeAnythingIsSent();

 private:
  QTemporaryDir configDir_;
  QTemporaryDir linkDir_;
  ScriptedServices services_;
};

void LineSafetySimTest::lostLineIsReportedAndTheSamePortReconnects() {
  const std::string link = QDir(linkDir_.path()).filePath(QStringLiteral("ttyLost")).toStdString();
  Rig rig(services_.Host(), Bench(link));
  rig.Connect();
  rig.Run(0, CommandInput::ParamA, QStringLiteral("50"));
  QVERIFY(rig.WaitIndicator(QStringLiteral("接收中")));
  QVERIFY(!rig.ReadoutsStale());

  // The adapter is pulled during the running test.
  rig.controller->Stop();
  QVERIFY(QTest::qWaitFor([&] { return !rig->Port().IsOpen(); }, 1000));
  QVERIFY(rig.WaitIndicator(QString::fromStdString("通讯中断: " + link), 1000));
  QVERIFY(rig.ReadoutsStale());
  QVERIFY(rig->Buttons().connect->isEnabled());
  QCOMPARE(services_.boxes.Shown().back(), LineLostMessage(IdentityLookup(), link));
  rig->Buttons().emergencyStop->click();
  QCOMPARE(services_.boxes.Shown().back(), EmergencyStopNotSentMessage(IdentityLookup(), link));
  QCOMPARE(services_.boxes.Shown().back().icon, MessageIcon::Stop);

  // A new controller on the same path: "设置" connects it.
  rig.StartController(Bench(link));
  rig.Connect();
  rig.Run(14);
  QVERIFY2(rig.WaitIndicator(QStringLiteral("停止测试: 已应答")), qPrintable(rig.Indicator()));
  QVERIFY(!rig.ReadoutsStale());

  // With "自动重连" the console takes the port again by itself, without a box.
  rig->AutoReconnectBox()->setChecked(true);
  QVERIFY(LoadSafetySettings(SafetySettingsPath()).autoReconnect);
  const std::size_t boxes = services_.boxes.Shown().size();
  rig.controller->Stop();
  QVERIFY(rig.WaitIndicator(QStringLiteral("等待自动重连"), 1000));
  QTest::qWait(1200);  // the port is missing: attempts fail quietly
  QVERIFY(!rig->Port().IsOpen());
  rig.StartController(Bench(link));
  QVERIFY(QTest::qWaitFor([&] { return rig->Port().IsOpen(); }, kWaitMs));
  QVERIFY(!rig->Buttons().connect->isEnabled());
  QCOMPARE(services_.boxes.Shown().size(), boxes);
  QVERIFY2(!rig.Indicator().contains(QStringLiteral("已应答")), qPrintable(rig.Indicator()));
  rig.Run(14);
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QVERIFY(rig.WaitIndicator(QStringLiteral("停止测试: 已应答")));
}

void LineSafetySimTest::everyCommandShowsWhatBecameOfIt() {
  struct Row {
    const char* name;
    sim::FaultSet faults;
    const char* linkText;
    const char* ackText;
  };
  const Row rows[] = {
      {"answered", {}, "接收中", "恒速测试: 已应答 ("},
      {"refused", {sim::SimFault::Reject}, "接收中", "恒速测试: 控制器拒绝"},
      {"silent", {sim::SimFault::Silence}, "已连接, 无数据", "恒速测试: 无应答"},
      {"bad checksums", {sim::SimFault::BadChecksum}, "收到数据但无有效帧", "恒速测试: 无应答"},
  };
  for (const Row& row : rows) {
    services_.boxes.Clear();
    Rig rig(services_.Host(), Bench({}, row.faults));
    rig.Connect();
    QVERIFY2(rig.Indicator().contains(QStringLiteral("已连接, 无数据")), row.name);
    rig.Run(0, CommandInput::ParamA, QStringLiteral("50"));
    QVERIFY2(rig.WaitIndicator(QString::fromUtf8(row.ackText)), qPrintable(rig.Indicator()));
    QVERIFY2(rig.WaitIndicator(QString::fromUtf8(row.linkText)), qPrintable(rig.Indicator()));
    QVERIFY2(services_.boxes.Shown().empty(), row.name);
  }

  // An emergency stop nobody answers: the stop box points to the hardware stop.
  Rig rig(services_.Host(), Bench({}, {sim::SimFault::Silence}));
  rig.Connect();
  rig->Buttons().emergencyStop->click();
  QVERIFY(rig.controller->WaitForReceived(1, 2s));
  QVERIFY(QTest::qWaitFor([&] { return !services_.boxes.Shown().empty(); }, 2000));
  QCOMPARE(services_.boxes.Shown().back(), EmergencyStopUnconfirmedMessage(IdentityLookup(), false));
  QVERIFY(rig.Indicator().contains(QStringLiteral("急停: 无应答")));
}

void LineSafetySimTest::typedValuesAreCheckedBeforeAnythingIsSent() {
  enum Outcome { Sent, Refused, ConfirmedSent, Declined };
  struct Row {
    int position;
    CommandInput field;
    const char* text;
    Outcome outcome;
  };
  const Row rows[] = {
      {0, CommandInput::ParamA, "50", Sent},
      {0, CommandInput::ParamA, "", Sent},
      {0, CommandInput::ParamA, " 1e2 ", Sent},
      {0, CommandInput::ParamA, "-3.5", Sent},
      {0, CommandInput::ParamA, "abc", Refused},
      {0, CommandInput::ParamA, "12abc", Refused},
      {0, CommandInput::ParamA, "nan", Refused},
      {0, CommandInput::ParamA, "inf", Refused},
      {0, CommandInput::ParamA, "0x1A", Refused},
      {0, CommandInput::ParamA, "99999999999999999999", Declined},
      {0, CommandInput::ParamA, "99999999999999999999", ConfirmedSent},
      {1, CommandInput::ParamB, "20000", ConfirmedSent},
      {1, CommandInput::ParamB, "9999", Sent},
      {8, CommandInput::ParamM, "5abc", Refused},
      {8, CommandInput::StartSpeed, "300", Declined},
  };
  Rig rig(services_.Host(), Bench());
  rig.Connect();
  for (const Row& row : rows) {
    const QString name = QStringLiteral("%1 %2").arg(row.position).arg(QString::fromUtf8(row.text));
    services_.boxes.Clear();
    rig.controller->ClearReceived();
    for (const InputFieldInfo& field : InputFields()) rig->Edit(field.input)->clear();
    if (row.outcome == Declined) services_.boxes.Answer(MessageAnswer::Cancel);
    rig.Run(row.position, row.field, QString::fromUtf8(row.text));

    if (row.outcome == Sent || row.outcome == ConfirmedSent) {
      QVERIFY2(rig.controller->WaitForReceived(1, 2s), qPrintable(name));
      const std::vector<std::uint8_t> frame = rig.controller->ReceivedCommands().at(0).frame;
      // Exactly the value the conversion has always given this text.
      const std::size_t at = row.position == 8 ? 6 : 7;
      const std::size_t offset = row.field == CommandInput::ParamM ? at + 8 : at;
      QCOMPARE(GetFloat32LE(frame.data() + offset), TextToFloat(row.text));
      QCOMPARE(services_.boxes.Shown().size(), std::size_t(row.outcome == ConfirmedSent ? 1 : 0));
      continue;
    }
    QTest::qWait(100);
    QVERIFY2(rig.controller->ReceivedCount() == 0, qPrintable(name));
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
    const QString text = QString::fromStdString(services_.boxes.Shown().back().text);
    QVERIFY2(text.contains(QString::fromUtf8(InputFieldOf(row.field)->label)), qPrintable(text));
    QCOMPARE(rig->focusWidget(), static_cast<QWidget*>(rig->Edit(row.field)));
  }
}

}  // namespace rolta::test

QTEST_MAIN(rolta::test::LineSafetySimTest)
#include "line_safety_sim_test.moc"
