// "标定向导" in the real console window against the simulator: the FL channel
// is zeroed, found out of tolerance against the factory table, given a new
// table (the store question answered by the test) and left within tolerance.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <optional>

#include "console_rig.h"
#include "scripted_services.h"

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
    QVERIFY(rig.Up());
    QVERIFY(Connect(*rig));
    Press(rig->Buttons().calibrationAssistant);
    CCalibrationWizard* wizard = rig->CalibrationAssistantWindow();
    QVERIFY(wizard->isVisible());
    std::optional<CalibrationRun> finished;
    wizard->SetRunObserver([&finished](const CalibrationRun& run) { finished = run; });

    const double loads[] = {0, 1000, 2000};
    wizard->SerialField()->setText(QStringLiteral("LC-7"));
    wizard->CertificateField()->setText(QStringLiteral("W-2026-17"));
    wizard->LoadsField()->setText(QStringLiteral("0, 1000, 2000"));
    wizard->StartButton()->click();
    const CalibrationAssistant& assistant = wizard->Assistant();
    QTRY_VERIFY_WITH_TIMEOUT(assistant.Step() == CalibrationStep::AwaitingUnloaded, kWaitMs);
    rig.controller->SetAppliedLoad(sim::SensorInput::FrontLeft, 0.0);
    wizard->ContinueButton()->click();
    // Three loads as found, the same three as left.
    for (std::size_t k = 0; k < 2 * std::size(loads); ++k) {
      QTRY_VERIFY_WITH_TIMEOUT(assistant.Step() == CalibrationStep::AwaitingLoad &&
                                   assistant.Run().asFound.size() + assistant.Run().asLeft.size() == k,
                               kWaitMs);
      rig.controller->SetAppliedLoad(sim::SensorInput::FrontLeft, loads[k % std::size(loads)]);
      wizard->ContinueButton()->click();
    }
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

 private:
  QTemporaryDir configDir_;
  ScriptedServices services_;
};

QTEST_MAIN(CalibrationWizardSimTest)
#include "calibration_wizard_sim_test.moc"
