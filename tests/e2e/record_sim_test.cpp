// Recording and trends of the real console against the simulated controller:
// a constant-speed test recorded frame for frame, a coast-down marked in the
// trend window, replay of the file, and failing disks that leave the console running.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QtTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "recording/recording.h"
#include "recording/ui/record_control.h"
#include "console/ui/rolta_dlg.h"
#include "analysis/ui/coast_analysis_dlg.h"
#include "recording/ui/trend_dlg.h"
#include "controller_simulator.h"
#include "console_rig.h"
#include "scripted_services.h"

using namespace std::chrono_literals;
using rolta::CommandInput;
using rolta::ControllerStatus;
using rolta::CRoltaDlg;
using rolta::test::FakeEnvironment;
using rolta::test::ScriptedServices;
namespace sim = rolta::sim;

namespace {

constexpr int kWaitMs = 8000;

struct Rig : rolta::test::ConsoleRig {
  using ConsoleRig::ConsoleRig;
  rolta::CRecordControl& Recorder() const { return *console->Recorder(); }
};

void Run(CRoltaDlg& console, int position, CommandInput input, const char* value) {
  console.CommandList()->setCurrentIndex(position);
  console.Edit(input)->setText(QString::fromUtf8(value));
  QTest::mouseClick(console.Buttons().execute, Qt::LeftButton);
}

rolta::RecordParseResult ReadBack(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return rolta::ParseRecording(in);
}

}  // namespace

class RecordSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void constantSpeedIsRecordedFrameForFrameAndReplayed();
  void coastDownIsMarkedInTheTrendWindowAndExported();
  void failingDisksStopTheRecordingWithAMessageAndTheConsoleRuns();

 private:
  QTemporaryDir configDir_;
  QTemporaryDir records_;
  ScriptedServices services_;
};

void RecordSimTest::initTestCase() {
  QVERIFY(configDir_.isValid() && records_.isValid());
  qputenv("XDG_CONFIG_HOME", configDir_.path().toUtf8());
  qputenv("HOME", records_.path().toUtf8());
}

void RecordSimTest::constantSpeedIsRecordedFrameForFrameAndReplayed() {
  services_.boxes.Clear();
  Rig rig(services_.Host());
  QVERIFY(QTest::qWaitForWindowExposed(rig.console.get()));
  QTest::mouseClick(rig->Buttons().connect, Qt::LeftButton);
  QVERIFY(rig->Port().IsOpen());

  // The "记录" button records to ~/rolta-records under a time-stamped name;
  // the test watches the same frames beside it.
  std::vector<ControllerStatus> seen;
  QTest::mouseClick(rig.Recorder().RecordButton(), Qt::LeftButton);
  QVERIFY(rig.Recorder().Recording());
  const auto watch = rig->Session().AddStatusObserver([&](const ControllerStatus& s, auto) { seen.push_back(s); });
  QVERIFY(rig.Recorder().Indicator()->text().contains(QStringLiteral("记录中")));

  Run(*rig, 0, CommandInput::ParamA, "50");  // "恒速测试"
  QVERIFY(QTest::qWaitFor([&] { return seen.size() >= 40; }, kWaitMs));
  QTest::mouseClick(rig.Recorder().RecordButton(), Qt::LeftButton);
  rig->Session().RemoveStatusObserver(watch);
  QVERIFY(!rig.Recorder().Recording());
  QVERIFY(QTest::qWaitFor([&] { return rig.Recorder().LastRecordingFinished(); }, kWaitMs));

  const std::filesystem::path file = rig.Recorder().LastFile();
  QCOMPARE(file.parent_path(), std::filesystem::path(records_.path().toStdString()) / "rolta-records");
  const rolta::RecordParseResult parsed = ReadBack(file);
  QVERIFY(!parsed.error);
  QCOMPARE(parsed.recording.rows.size(), seen.size());
  double lastMs = -1;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    const rolta::RecordRow& row = parsed.recording.rows[i];
    const rolta::RecordRow expected = rolta::MakeRecordRow(seen[i], 0);
    QCOMPARE(row.frameType, seen[i].FrameType);
    for (std::size_t c = 0; c < row.values.size(); ++c) {
      QVERIFY((std::isnan(row.values[c]) && std::isnan(expected.values[c])) || row.values[c] == expected.values[c]);
    }
    QVERIFY(row.msSinceStart >= lastMs);
    lastMs = row.msSinceStart;
  }
  QCOMPARE(int(seen.back().FrameType), 16);

  // Opened in the trend window it shows the same rows.
  QTest::mouseClick(rig->findChild<QPushButton*>(QStringLiteral("趋势图")), Qt::LeftButton);
  rolta::CTrendDlg* trend = rig.Recorder().TrendWindow();
  QVERIFY(trend && trend->isVisible());
  QVERIFY(trend->OpenRecording(QString::fromStdString(file.string())));
  QVERIFY(trend->ShowingFile());
  QCOMPARE(trend->FileStore().FrameTypes().size(), seen.size());

  // A damaged copy names its line.
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string damaged = text.str();
  std::size_t at = 0;
  for (int line = 0; line < 4; ++line) at = damaged.find('\n', at) + 1;
  damaged.insert(at, "garbage,");
  const std::string damagedPath = (file.parent_path() / "damaged.csv").string();
  std::ofstream(damagedPath, std::ios::binary) << damaged;
  QVERIFY(!trend->OpenRecording(QString::fromStdString(damagedPath)));
  QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
  const std::string& shown = services_.boxes.Shown()[0].text;
  QVERIFY2(shown.find(": 行 5: ") != std::string::npos, shown.c_str());
}

void RecordSimTest::coastDownIsMarkedInTheTrendWindowAndExported() {
  services_.boxes.Clear();
  Rig rig(services_.Host());
  QVERIFY(QTest::qWaitForWindowExposed(rig.console.get()));
  QTest::mouseClick(rig->Buttons().connect, Qt::LeftButton);
  rig.Recorder().OpenTrendWindow();
  rolta::CTrendDlg* trend = rig.Recorder().TrendWindow();
  QVERIFY(trend);
  // The widest window: its pixel columns are longer than the last frames of
  // the run, which must still be painted once nothing follows them.
  QComboBox* spans = trend->findChild<QComboBox*>(QStringLiteral("spanList"));
  QVERIFY(spans);
  spans->setCurrentIndex(spans->count() - 1);
  rig->CommandList()->setCurrentIndex(8);  // "恒负荷滑行" 100 -> 10 km/h against 5 kW
  rig->Edit(CommandInput::StartSpeed)->setText(QStringLiteral("100"));
  rig->Edit(CommandInput::EndSpeed)->setText(QStringLiteral("10"));
  rig->Edit(CommandInput::ParamM)->setText(QStringLiteral("5"));
  QTest::mouseClick(rig->Buttons().execute, Qt::LeftButton);
  QVERIFY(QTest::qWaitFor([&] { return trend->CoastText().contains(QStringLiteral("滑行时间")); }, kWaitMs));
  QVERIFY(QTest::qWaitFor([&] { return !trend->CoastText().contains(QStringLiteral("滑行中")); }, 30000));
  QVERIFY2(trend->CoastText().contains(QStringLiteral("(100.0 → 10.0 km/h)")), qPrintable(trend->CoastText()));
  QVERIFY(!trend->LiveStore().Empty());
  // The repaint tick runs only while live frames can change the picture.
  QVERIFY(trend->Ticking());
  trend->SetPaused(true);
  QVERIFY(!trend->Ticking());
  trend->SetPaused(false);
  trend->hide();
  QVERIFY(!trend->Ticking());
  trend->show();
  QVERIFY(trend->Ticking());

  // The README's picture: ROLTA_TREND_SCREENSHOT=<file> (run under xvfb-run).
  if (const QByteArray shot = qgetenv("ROLTA_TREND_SCREENSHOT"); !shot.isEmpty()) {
    trend->SetSeriesShown(static_cast<std::size_t>(rolta::RecordColumnIndex("coast_time")), true);
    trend->SetSeriesShown(static_cast<std::size_t>(rolta::RecordColumnIndex("force")), false);
    trend->SetPaused(true);
    const double end = trend->LiveStore().LastTime();
    trend->ShowRange(std::max(0.0, end - 14), end + 1);
    trend->Plot()->SetCursorTime(end - 2);
    trend->Refresh();
    QTest::qWait(100);
    QVERIFY(trend->grab().save(QString::fromLocal8Bit(shot)));
  }
  const QString png = QDir(records_.path()).filePath(QStringLiteral("trend.png"));
  QVERIFY(trend->ExportPng(png));
  QImage image(png);
  QVERIFY(!image.isNull() && image.width() > 400);
  QVERIFY(services_.boxes.Shown().empty());

  // The analysis of that coast-down: refused without a mass, then fitted
  // over its 10 km/h bands and exported. (Its curve is the rollers' losses
  // plus the 5 kW load; the coefficients against known losses are checked
  // with the controller model itself.)
  rolta::CCoastAnalysisDlg* analysis = trend->OpenCoastAnalysis();
  QVERIFY(analysis && analysis->isVisible());
  analysis->SetMass(0);
  QVERIFY(!analysis->Analyse());
  QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
  QCOMPARE(services_.boxes.Shown()[0].text, std::string("等效质量必须是正数"));
  analysis->SetMass(90.7);
  QVERIFY(analysis->Analyse());
  QVERIFY(analysis->Result()->bands.size() >= 4);
  QVERIFY(analysis->ResultText().contains(QStringLiteral("F0 = ")));
  const QString csv = QDir(records_.path()).filePath(QStringLiteral("coast.csv"));
  QVERIFY(analysis->ExportCsv(csv));
  QVERIFY(QFile(csv).size() > 100);
  if (const QByteArray shot = qgetenv("ROLTA_COAST_SCREENSHOT"); !shot.isEmpty()) {
    QTest::qWait(100);
    QVERIFY(analysis->ExportPng(QString::fromLocal8Bit(shot)));
  }
}

void RecordSimTest::failingDisksStopTheRecordingWithAMessageAndTheConsoleRuns() {
  services_.boxes.Clear();
  Rig rig(services_.Host());
  QVERIFY(QTest::qWaitForWindowExposed(rig.console.get()));
  QTest::mouseClick(rig->Buttons().connect, Qt::LeftButton);
  Run(*rig, 0, CommandInput::ParamA, "30");

  // A folder that cannot be made: the message, and no recording.
  rig.Recorder().SetRecordFolder("/proc/rolta-records");
  QVERIFY(!rig.Recorder().StartRecording());
  QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
  QVERIFY(services_.boxes.Shown()[0].text.find("无法建立记录文件夹") != std::string::npos);
  QVERIFY(!rig.Recorder().Recording());

  // A full disk: the first write fails, the recording stops with the message.
  QVERIFY(rig.Recorder().StartRecording("/dev/full"));
  QVERIFY(QTest::qWaitFor([&] { return services_.boxes.Shown().size() == 2; }, kWaitMs));
  QVERIFY(services_.boxes.Shown()[1].text.find("记录文件写入失败") != std::string::npos);
  QVERIFY(!rig.Recorder().Recording());
  QVERIFY(!rig.Recorder().RecordButton()->isChecked());
  QCOMPARE(rig.Recorder().Indicator()->text(), QStringLiteral("未记录"));

  // The console goes on: frames still arrive and a new recording works.
  const std::int16_t numth = rig->Session().Status().Numth;
  QVERIFY(QTest::qWaitFor([&] { return rig->Session().Status().Numth != numth; }, kWaitMs));
  rig.Recorder().SetRecordFolder(records_.path().toStdString() + "/again");
  QVERIFY(rig.Recorder().StartRecording());
  QTest::qWait(300);
  rig.Recorder().StopRecording();
  QVERIFY(QTest::qWaitFor([&] { return rig.Recorder().LastRecordingFinished(); }, kWaitMs));
  QVERIFY(!ReadBack(rig.Recorder().LastFile()).recording.rows.empty());
  QCOMPARE(services_.boxes.Shown().size(), std::size_t{2});
}

QTEST_MAIN(RecordSimTest)
#include "record_sim_test.moc"
