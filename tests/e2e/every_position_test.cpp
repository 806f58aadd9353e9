// Every position of the command list, selected and executed from the real
// console window against the simulated controller: what goes out reaches
// the controller, and the controller's answer comes back to the status line
// under the type of the command it answers.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QtTest>

#include <map>
#include <memory>
#include <set>

#include "console/ui/rolta_dlg.h"
#include "controller_simulator.h"
#include "console_rig.h"
#include "scripted_services.h"

using rolta::CommandInput;
using rolta::CRoltaDlg;
using rolta::MessageAnswer;
using rolta::test::ScriptedServices;
namespace sim = rolta::sim;

namespace {

// Positions that send nothing of their own: the external programs (9, 48,
// 84; the confirmation is cancelled here), the two messages (22, 23), the
// loop stop (35), the channel-map window (39) and the unused 40 and 50.
const std::set<int> kSendsNothing = {9, 22, 23, 35, 39, 40, 48, 50, 84};
constexpr int kStopTest = 14;
constexpr int kRepeatLoop = 34;
constexpr int kStopLoop = 35;

// A value for every input a position enables.
const std::map<CommandInput, QString> kTypedValues = {
    {CommandInput::ParamA, "50"},   {CommandInput::ParamB, "120"},    {CommandInput::ParamM, "5"},
    {CommandInput::ParamC, "10"},   {CommandInput::StartSpeed, "60"}, {CommandInput::EndSpeed, "20"},
    {CommandInput::StartLoad, "2"}, {CommandInput::EndLoad, "8"},
};

// The type of a "Numth: %ld %d" status text, or -1000 for any other text.
int StatusType(const QString& status) {
  const QStringList parts = status.split(' ');
  if (parts.size() != 3 || parts[0] != QStringLiteral("Numth:")) return -1000;
  return parts[2].toInt();
}

}  // namespace

class EveryPositionTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", home_->path().toUtf8());
    qputenv("XDG_STATE_HOME", home_->path().toUtf8());
    sim::SimulatorOptions options = rolta::test::FastBench();
    options.timeScale = 20.0;
    rig_ = std::make_unique<rolta::test::ConsoleRig>(services_.Host(), options);
    controller_ = rig_->controller.get();
    console_ = rig_->console.get();
    QVERIFY(rolta::test::Connect(*console_));
  }

  void cleanupTestCase() { rig_.reset(); }

  void everyPositionGoesOutAndItsAnswerComesBack_data() {
    QTest::addColumn<int>("position");
    for (int position = 0; position < console_->CommandList()->count(); ++position) {
      QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(position).arg(console_->CommandList()->itemText(position))))
          << position;
    }
  }

  void everyPositionGoesOutAndItsAnswerComesBack() {
    QFETCH(int, position);
    CRoltaDlg& console = *console_;
    QCOMPARE(console.CommandList()->count(), 91);
    // Quiet controller first: no test left running from the previous position.
    Execute(kStopTest);
    QVERIFY(controller_->WaitForReceived(1, std::chrono::seconds(2)));
    QTRY_COMPARE_WITH_TIMEOUT(StatusType(console.StatusText()->text()), 28, 3000);
    QTest::qWait(60);
    controller_->ClearReceived();

    services_.boxes = {};                           // a fresh script for each position
    services_.boxes.Answer(MessageAnswer::Cancel);  // the external programs' confirmation
    console.CommandList()->setCurrentIndex(position);
    for (const auto& [input, text] : kTypedValues) {
      if (console.Input(input)->isEnabled()) console.Edit(input)->setText(text);
    }
    if (console.Flywheel(0)->isEnabled()) console.Flywheel(0)->setChecked(true);
    if (position == kRepeatLoop) {
      // Stop the loop from inside it, as the operator does with position 35.
      QTimer::singleShot(350, [&] { Execute(kStopLoop); });
    }
    console.Buttons().execute->click();
    QVERIFY(console.Port().IsOpen());

    if (kSendsNothing.count(position)) {
      QTest::qWait(150);
      QCOMPARE(controller_->ReceivedCount(), std::size_t{0});
      return;
    }
    QVERIFY(controller_->WaitForReceived(1, std::chrono::seconds(2)));
    QTest::qWait(80);
    const std::uint8_t lastCommand = controller_->ReceivedCommands().back().code;
    QVERIFY(controller_->ReceivedCommands().back().checksumGood);
    QTRY_COMPARE_WITH_TIMEOUT(StatusType(console.StatusText()->text()),
                              static_cast<int>(static_cast<std::int8_t>(lastCommand)), 3000);
  }

  void confirmingAnExternalProgramClosesTheChannel() {
    services_.boxes = {};  // a fresh script for each position
    services_.boxes.Answer(MessageAnswer::Ok);
    console_->CommandList()->setCurrentIndex(9);
    console_->Buttons().execute->click();
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
    QVERIFY(!console_->Port().IsOpen());
    QVERIFY(console_->Buttons().connect->isEnabled());
    // The operator connects again afterwards.
    console_->Buttons().connect->click();
    QVERIFY(console_->Port().IsOpen());
  }

 private:
  void Execute(int position) {
    console_->CommandList()->setCurrentIndex(position);
    console_->Buttons().execute->click();
  }

  std::unique_ptr<QTemporaryDir> home_;
  ScriptedServices services_;
  std::unique_ptr<rolta::test::ConsoleRig> rig_;
  sim::ControllerSimulator* controller_ = nullptr;
  CRoltaDlg* console_ = nullptr;
};

QTEST_MAIN(EveryPositionTest)
#include "every_position_test.moc"
