// The effective mass kept with a recording against the simulated bench: typed
// beside "记录", written beside the file, restored for the coast-down analysis
// live and on replay, saved back from the analysis, and refused from damaged details.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QtTest>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <variant>

#include "recording/record_meta.h"
#include "analysis/ui/coast_analysis_dlg.h"
#include "recording/ui/record_control.h"
#include "console/ui/rolta_dlg.h"
#include "recording/ui/trend_dlg.h"
#include "history/service_history.h"
#include "console_rig.h"
#include "scripted_services.h"

using rolta::CommandInput;
using rolta::test::ScriptedServices;
namespace fs = std::filesystem;

class CoastMassSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void massIsKeptWithTheRecordingAndRestoredForTheAnalysis();

 private:
  QTemporaryDir configDir_;
  QTemporaryDir home_;
  ScriptedServices services_;
};

void CoastMassSimTest::initTestCase() {
  QVERIFY(configDir_.isValid() && home_.isValid());
  qputenv("XDG_CONFIG_HOME", configDir_.path().toUtf8());
  qputenv("HOME", home_.path().toUtf8());
  qputenv("XDG_DATA_HOME", home_.path().toUtf8());  // a service history of its own
}

void CoastMassSimTest::massIsKeptWithTheRecordingAndRestoredForTheAnalysis() {
  rolta::sim::SimulatorOptions options = rolta::test::FastBench();
  // The bench runs ten times faster than the clock the frames are timed by:
  // against that clock it decelerates as a tenth of its mass (150 kg) would.
  options.roadLoad = {.f0N = 120, .f1 = 0.8, .f2 = 0.035, .massKg = 1500, .speedNoiseKmh = 0.05};
  rolta::test::ConsoleRig rig(services_.Host(), options);
  QVERIFY(QTest::qWaitForWindowExposed(rig.console.get()));
  QVERIFY(rolta::test::Connect(*rig));
  rolta::CRecordControl& recorder = *rig->Recorder();

  // Typed beside "记录" and taken when the recording starts.
  QTest::keyClicks(recorder.MassEdit(), QStringLiteral("150"));
  QTest::mouseClick(recorder.RecordButton(), Qt::LeftButton);
  QVERIFY(recorder.Recording());
  const fs::path file = recorder.LastFile();
  const fs::path meta = rolta::RecordMetaPath(file);
  QCOMPARE(meta.filename().string(), file.filename().string() + ".meta");
  QCOMPARE(rolta::ReadRecordMeta(meta).meta.massKg, std::optional<double>(150));
  QCOMPARE(rolta::ReadRecordMeta(rolta::CoastSettingsPath()).meta.massKg, std::optional<double>(150));

  // A no-load coast-down from 100 to 10 km/h, watched live.
  recorder.OpenTrendWindow();
  rolta::CTrendDlg* trend = recorder.TrendWindow();
  rig->CommandList()->setCurrentIndex(12);  // "空载滑行"
  rig->Edit(CommandInput::StartSpeed)->setText(QStringLiteral("100"));
  rig->Edit(CommandInput::EndSpeed)->setText(QStringLiteral("10"));
  QTest::mouseClick(rig->Buttons().execute, Qt::LeftButton);
  QVERIFY(QTest::qWaitFor([&] { return trend->CoastText().contains(QStringLiteral("滑行时间")); }, 8000));
  QVERIFY2(QTest::qWaitFor([&] { return !trend->CoastText().contains(QStringLiteral("滑行中")); }, 60000),
           qPrintable(trend->CoastText()));

  // Right after the test the analysis starts with the recording's mass and
  // finds the bench's road load.
  rolta::CCoastAnalysisDlg* analysis = trend->OpenCoastAnalysis();
  QCOMPARE(analysis->MassText(), QStringLiteral("150"));
  QVERIFY(analysis->Result().has_value());  // shown at once, the mass being known
  QVERIFY(analysis->Analyse());
  {
    // The connect and the analysis asked for are in the service history.
    auto opened = rolta::ServiceHistory::Open(rolta::DefaultHistoryPath(), {});
    QVERIFY(std::holds_alternative<std::unique_ptr<rolta::ServiceHistory>>(opened));
    const rolta::ServiceHistory& history = *std::get<std::unique_ptr<rolta::ServiceHistory>>(opened);
    rolta::HistoryFilter kind;
    kind.kind = rolta::HistoryKind::Connect;
    QCOMPARE(history.List(kind).size(), std::size_t{1});
    kind.kind = rolta::HistoryKind::CoastDown;
    QCOMPARE(history.List(kind).size(), std::size_t{1});
  }
  const rolta::RoadLoad truth{120, 0.8, 0.035};
  const double range = truth.ForceN(100) - truth.ForceN(20);
  for (double v = 20; v <= 100; v += 10) {
    QVERIFY2(std::abs(analysis->Result()->direct.load.ForceN(v) - truth.ForceN(v)) < 0.02 * range,
             qPrintable(analysis->ResultText()));
  }
  recorder.StopRecording();
  QVERIFY(QTest::qWaitFor([&] { return recorder.LastRecordingFinished(); }, 8000));

  // A corrected mass saved from the analysis is the one the replay starts with.
  analysis->SetMass(148);
  QVERIFY(analysis->SaveMassToRecording());
  QVERIFY(trend->OpenRecording(QString::fromStdString(file.string())));
  QCOMPARE(trend->OpenCoastAnalysis()->MassText(), QStringLiteral("148"));
  QVERIFY(trend->OpenCoastAnalysis()->Result().has_value());
  QVERIFY(services_.boxes.Shown().empty());

  // Damaged details give no mass and say where; missing ones give no mass quietly.
  struct Row {
    const char* text;     // nullptr: no details file
    const char* message;  // nullptr: no box
  };
  const Row rows[] = {
      {"format=1\neffective_mass_kg=15OO\n", ": 行 2: 等效质量无法读取"},
      {nullptr, nullptr},
  };
  for (const Row& row : rows) {
    services_.boxes.Clear();
    fs::remove(meta);
    if (row.text != nullptr) std::ofstream(meta, std::ios::binary) << row.text;
    analysis = trend->OpenCoastAnalysis();
    QCOMPARE(analysis->MassText(), QString());
    if (row.message == nullptr) {
      QVERIFY(services_.boxes.Shown().empty());
      QVERIFY(analysis->MassNote().contains(QStringLiteral("记录中没有等效质量")));
    } else {
      QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
      const std::string& shown = services_.boxes.Shown()[0].text;
      QVERIFY2(shown.find(row.message) != std::string::npos, shown.c_str());
    }
    QVERIFY(!analysis->Analyse());  // no number from no mass
  }

  // A recording started after the live coast-down did not see it: the
  // analysis takes the mass typed last and saves into no recording.
  QVERIFY(recorder.StartRecording(home_.filePath(QStringLiteral("later.csv")).toStdString()));
  trend->ShowLive();
  analysis = trend->OpenCoastAnalysis();
  QCOMPARE(analysis->MassText(), QStringLiteral("150"));
  QVERIFY2(analysis->MassNote().contains(QStringLiteral("等效质量取自上次输入")), qPrintable(analysis->MassNote()));
  QVERIFY(!analysis->SaveMassToRecording());
  recorder.StopRecording();
  QVERIFY(QTest::qWaitFor([&] { return recorder.LastRecordingFinished(); }, 8000));
}

QTEST_MAIN(CoastMassSimTest)
#include "coast_mass_sim_test.moc"
