// "标定向导" in the real console window against the simulator: the FL channel
// is zeroed, found out of tolerance against the factory table, given a new
// table (the store question answered by the test) and left within tolerance.
// A line lost while the store's answer is awaited ends the run at once; the
// console reconnects and the window starts a new run.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <optional>

#include "console_rig.h"
#include "scripted_services.h"
#include "session/safety_messages.h"

using namespace rolta;
using namespace rolta::test;

class CalibrationWizardSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(configDir_.isValid());
    qputenv("XDG_CONFIG_HOME", configDir_.path().toUtf8());
  }

  void forceChannelIsFoundOutStoredAndLeftWithinTolerance() {
    sim::SimulatorOptions options = FastBench();
    options.periodMs = 5;
    ConsoleRig rig(services_.Host(), options);
    CCalibrationWizard* wizard = OpenWizard(rig);
    QVERIFY(wizard != nullptr);
    QVERIFY(wizard->isVisible());
    std::optional<CalibrationRun> finished;
    wizard->SetRunObserver([&finished](const CalibrationRun& run) { finished = run; });

    wizard->SerialField()->setText(QStringLiteral("LC-7"));
    wizard->CertificateField()->setText(QStringLiteral("W-2026-17"));
    QVERIFY(StartZeroed(rig, *wizard));
    // Three loads as found, the same three as left.
    QVERIFY(TakePoints(rig, *wizard, 2 * std::size(kLoads)));
    QTRY_VERIFY_WITH_TIMEOUT(finished.has_value(), kWaitMs);

    QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
    QCOMPARE(services_.boxes.Shown()[0].text, std::string("新标定表已生成，是否存储？"));
    QVERIFY(finished->outcome == CalibrationOutcome::Completed);
    QCOMPARE(finished->sensorSerial, std::string("LC-7"));
    QCOMPARE(finished->reference.certificate, std::string("W-2026-17"));
    QCOMPARE(finished->controllerVersion, std::string("7.34"));
    QVERIFY(!finished->asFoundPass);
    QVERIFY(finished->tableStored);
    QVERIFY(finished->asLeftPass);
    QCOMPARE(finished->tableAfter.Count(), std::int16_t{3});
    QCOMPARE(wizard->AsLeftTable()->rowCount(), 3);
    QCOMPARE(wizard->AsLeftTable()->item(2, 6)->text(), QStringLiteral("合格"));
    QCOMPARE(wizard->AsFoundTable()->item(0, 6)->text(), QStringLiteral("不合格"));
    QCOMPARE(wizard->InstructionLabel()->text(), QStringLiteral("标定完成：校后合格。"));
  }

  void lineLostWhileTheStoreIsAwaitedEndsTheRun() {
    services_.boxes.Clear();
    QTemporaryDir linkDir;
    QVERIFY(linkDir.isValid());
    sim::SimulatorOptions options = FastBench();
    options.periodMs = 5;
    options.linkPath = QDir(linkDir.path()).filePath(QStringLiteral("ttyBench")).toStdString();
    ConsoleRig rig(services_.Host(), options, options.linkPath);
    CCalibrationWizard* wizard = OpenWizard(rig);
    QVERIFY(wizard != nullptr);
    const CalibrationAssistant& assistant = wizard->Assistant();

    // The controller takes the new table but its answer never comes.
    services_.boxes.OnShow([&rig](const MessageRequest& request) {
      if (request.text == "新标定表已生成，是否存储？") rig.controller->SetFaults({sim::SimFault::Silence});
    });
    QVERIFY(StartZeroed(rig, *wizard));
    QVERIFY(TakePoints(rig, *wizard, std::size(kLoads)));
    QTRY_VERIFY_WITH_TIMEOUT(assistant.Step() == CalibrationStep::Storing, kWaitMs);
    services_.boxes.OnShow({});
    rig.controller->Stop();

    QTRY_VERIFY_WITH_TIMEOUT(assistant.Step() == CalibrationStep::Finished, kWaitMs);
    QVERIFY(assistant.Run().outcome == CalibrationOutcome::Failed);
    QVERIFY(!assistant.Run().tableStored);
    // Said as it is: the line went, and the table went out before it.
    const QString said = wizard->InstructionLabel()->text();
    QVERIFY2(said.startsWith(QStringLiteral("与控制器的连接已断开。")), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("新标定表可能已在控制器中")), qPrintable(said));
    QVERIFY(!wizard->ResultLabel()->text().contains(QStringLiteral("已存储")));
    QVERIFY(wizard->StartButton()->isEnabled());
    QVERIFY(!wizard->ContinueButton()->isEnabled());
    QVERIFY(!wizard->AbortButton()->isEnabled());
    // The console's own report of the lost line, its box answered.
    QCOMPARE(services_.boxes.Shown().back(), LineLostMessage(IdentityLookup(), options.linkPath));
    QVERIFY(rig->LinkIndicatorLabel()->text().contains(QStringLiteral("通讯中断")));
    QVERIFY(rig->Buttons().connect->isEnabled());

    // A controller back on the same port: a new run starts, and the window closes.
    rig.controller = std::make_unique<sim::ControllerSimulator>(options);
    QVERIFY(rig.controller->Start());
    QVERIFY(Connect(*rig));
    QVERIFY(StartZeroed(rig, *wizard));
    QVERIFY(assistant.Running());
    wizard->close();
    QVERIFY(!wizard->isVisible());
    QVERIFY(assistant.Run().outcome == CalibrationOutcome::Aborted);
  }

  // The port closed while the store question is open: "store" then sends
  // nothing and the run says the controller's table is unchanged.
  void portClosedWhileTheStoreIsAskedStoresNothing() {
    services_.boxes.Clear();
    ConsoleRig rig(services_.Host(), FastBench());
    CCalibrationWizard* wizard = OpenWizard(rig);
    QVERIFY(wizard != nullptr);
    const CalibrationAssistant& assistant = wizard->Assistant();
    services_.boxes.OnShow([&rig](const MessageRequest& request) {
      if (request.text == "新标定表已生成，是否存储？") rig->Buttons().close->click();
    });
    QVERIFY(StartZeroed(rig, *wizard));
    QVERIFY(TakePoints(rig, *wizard, std::size(kLoads)));
    QTRY_VERIFY_WITH_TIMEOUT(assistant.Step() == CalibrationStep::Finished, kWaitMs);
    services_.boxes.OnShow({});
    QVERIFY(assistant.Run().outcome == CalibrationOutcome::Failed);
    QVERIFY(!assistant.Run().tableStored);
    const QString said = wizard->InstructionLabel()->text();
    QVERIFY2(said.contains(QStringLiteral("控制器的标定表保持不变")), qPrintable(said));
    QVERIFY2(!said.contains(QStringLiteral("新标定表可能已在控制器中")), qPrintable(said));
  }

 private:
  static constexpr double kLoads[] = {0, 1000, 2000};

  // Brings the console up, connects it and opens the assistant's window;
  // null when a step fails.
  static CCalibrationWizard* OpenWizard(ConsoleRig& rig) {
    if (!rig.Up() || !Connect(*rig)) return nullptr;
    Press(rig->Buttons().calibrationAssistant);
    return rig->CalibrationAssistantWindow();
  }

  // Starts a run at the loads above and zeroes the unloaded channel; true
  // once the first load is asked for.
  static bool StartZeroed(ConsoleRig& rig, CCalibrationWizard& wizard) {
    const CalibrationAssistant& assistant = wizard.Assistant();
    wizard.LoadsField()->setText(QStringLiteral("0, 1000, 2000"));
    wizard.StartButton()->click();
    if (!QTest::qWaitFor([&] { return assistant.Step() == CalibrationStep::AwaitingUnloaded; }, kWaitMs)) return false;
    rig.controller->SetAppliedLoad(sim::SensorInput::FrontLeft, 0.0);
    wizard.ContinueButton()->click();
    return QTest::qWaitFor([&] { return assistant.Step() == CalibrationStep::AwaitingLoad; }, kWaitMs);
  }

  // For the next `points` points (as found, then as left): waits until the
  // point is asked for, applies its load and continues; false when one is
  // not asked for.
  static bool TakePoints(ConsoleRig& rig, CCalibrationWizard& wizard, std::size_t points) {
    const CalibrationAssistant& assistant = wizard.Assistant();
    for (std::size_t k = 0; k < points; ++k) {
      const bool asked = QTest::qWaitFor(
          [&] {
            return assistant.Step() == CalibrationStep::AwaitingLoad &&
                   assistant.Run().asFound.size() + assistant.Run().asLeft.size() == k;
          },
          kWaitMs);
      if (!asked) return false;
      rig.controller->SetAppliedLoad(sim::SensorInput::FrontLeft, kLoads[k % std::size(kLoads)]);
      wizard.ContinueButton()->click();
    }
    return true;
  }

  QTemporaryDir configDir_;
  ScriptedServices services_;
};

QTEST_MAIN(CalibrationWizardSimTest)
#include "calibration_wizard_sim_test.moc"
