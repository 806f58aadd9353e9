// The session remembers the line from the moment the port opens: connect,
// record, run a no-load coast-down against the simulator, and only when it
// has ended open the trend window and its coast-down analysis. The past is
// there, the coast-down time is whole and the analysis fits the bench.
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QtTest>

#include <cmath>

#include "analysis/ui/coast_analysis_dlg.h"
#include "recording/ui/record_control.h"
#include "console/ui/rolta_dlg.h"
#include "recording/ui/trend_dlg.h"
#include "console_rig.h"
#include "scripted_services.h"

using rolta::CommandInput;

class TrendHistorySimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void aTrendWindowOpenedAfterTheCoastDownShowsAndAnalysesIt();

 private:
  QTemporaryDir configDir_;
  QTemporaryDir home_;
  rolta::test::ScriptedServices services_;
};

void TrendHistorySimTest::initTestCase() {
  QVERIFY(configDir_.isValid() && home_.isValid());
  qputenv("XDG_CONFIG_HOME", configDir_.path().toUtf8());
  qputenv("HOME", home_.path().toUtf8());
}

void TrendHistorySimTest::aTrendWindowOpenedAfterTheCoastDownShowsAndAnalysesIt() {
  rolta::sim::SimulatorOptions options = rolta::test::FastBench();
  // Twenty times faster than the clock: against the clock the bench of
  // 1500 kg decelerates as 75 kg would, and the coast-down takes seconds.
  options.timeScale = 20;
  options.roadLoad = {.f0N = 120, .f1 = 0.8, .f2 = 0.035, .massKg = 1500, .speedNoiseKmh = 0.05};
  rolta::test::ConsoleRig rig(services_.Host(), options);
  QVERIFY(QTest::qWaitForWindowExposed(rig.console.get()));
  QVERIFY(rolta::test::Connect(*rig));
  rolta::CRecordControl& recorder = *rig->Recorder();
  QTest::keyClicks(recorder.MassEdit(), QStringLiteral("75"));
  QTest::mouseClick(recorder.RecordButton(), Qt::LeftButton);
  QVERIFY(recorder.Recording());
  QVERIFY(!recorder.TrendWindow());
  // As long as an operator takes to choose the test: a recording shows a
  // coast-down's start as seen only after a quiet line longer than the gap
  // that separates two coast-downs.
  QTest::qWait(2500);

  rig->CommandList()->setCurrentIndex(12);  // "空载滑行"
  rig->Edit(CommandInput::StartSpeed)->setText(QStringLiteral("100"));
  rig->Edit(CommandInput::EndSpeed)->setText(QStringLiteral("10"));
  QTest::mouseClick(rig->Buttons().execute, Qt::LeftButton);
  // Ended: the session decoded the end speed and then nothing for a second
  // (the line's last frame is held until the line stays quiet).
  const rolta::FrameHistory& history = rig->Session().History();
  QVERIFY(
      QTest::qWaitFor([&] { return !history.Empty() && history.At(history.End() - 1).status.Value2 <= 10.0f; }, 30000));
  std::uint64_t frames = 0;
  QVERIFY(QTest::qWaitFor(
      [&] {
        const bool quiet = history.End() == frames;
        frames = history.End();
        QTest::qWait(1000);
        return quiet && history.End() == frames;
      },
      20000));

  // Only now "趋势图" → "滑行分析".
  auto* trendButton = recorder.findChild<QPushButton*>(QStringLiteral("趋势图"));
  QVERIFY(trendButton);
  QTest::mouseClick(trendButton, Qt::LeftButton);
  rolta::CTrendDlg* trend = recorder.TrendWindow();
  QVERIFY(trend && trend->isVisible());
  QVERIFY(rolta::LatestCoastRun(trend->LiveStore()).has_value());
  // The whole coast-down, from its first frame at the start speed.
  QVERIFY(rolta::LatestCoastDownSamples(trend->LiveStore()).front().kmh > 99);
  QVERIFY2(trend->CoastText().contains(QStringLiteral(" s  (100.0 → 10.0 km/h)")), qPrintable(trend->CoastText()));
  QVERIFY2(!trend->CoastText().contains(QStringLiteral("滑行中")), qPrintable(trend->CoastText()));
  auto* analyse = trend->findChild<QPushButton*>(QStringLiteral("滑行分析"));
  QVERIFY(analyse);
  QTest::mouseClick(analyse, Qt::LeftButton);
  auto* analysis = trend->findChild<rolta::CCoastAnalysisDlg*>();
  QVERIFY(analysis && analysis->isVisible());
  QCOMPARE(analysis->MassText(), QStringLiteral("75"));
  QVERIFY2(analysis->Result().has_value(), qPrintable(analysis->ResultText()));
  QVERIFY(services_.boxes.Shown().empty());
  const rolta::RoadLoad truth{120, 0.8, 0.035};
  const double range = truth.ForceN(100) - truth.ForceN(20);
  for (double v = 20; v <= 100; v += 10) {
    QVERIFY2(std::abs(analysis->Result()->direct.load.ForceN(v) - truth.ForceN(v)) < 0.05 * range,
             qPrintable(analysis->ResultText()));
  }
  recorder.StopRecording();
  QVERIFY(QTest::qWaitFor([&] { return recorder.LastRecordingFinished(); }, 8000));

  // The open analysis follows the recording opened in the trend window.
  const QString file = QString::fromStdString(recorder.LastFile().string());
  QVERIFY(trend->OpenRecording(file));
  QVERIFY2(analysis->MassNote().startsWith(QFileInfo(file).fileName()), qPrintable(analysis->MassNote()));
  QVERIFY(analysis->Result().has_value());
  QVERIFY2(trend->CoastText().contains(QStringLiteral(" s  (100.0 → 10.0 km/h)")), qPrintable(trend->CoastText()));
}

QTEST_MAIN(TrendHistorySimTest)
#include "trend_history_sim_test.moc"
