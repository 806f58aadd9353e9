// The line monitor in the real console against the controller simulator:
// opened by its shortcut, it shows a test's frames both ways with decoded
// fields, the simulator's faults as bad frames and skipped bytes, filters,
// finds, saves CSV that reads back, and sends a typed frame.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <chrono>
#include <memory>

#include "monitor/monitor_texts.h"
#include "monitor/ui/line_monitor_dlg.h"
#include "console/ui/rolta_dlg.h"
#include "controller_simulator.h"
#include "console_rig.h"
#include "scripted_services.h"

using namespace std::chrono_literals;
using rolta::CLineMonitorDlg;
using rolta::CRoltaDlg;
using rolta::LineDirection;
using rolta::MonitorRow;
using rolta::test::ScriptedServices;
namespace sim = rolta::sim;

namespace {

using rolta::test::kWaitMs;

struct Rig : rolta::test::ConsoleRig {
  explicit Rig(rolta::HostServices services)
      : ConsoleRig(services, [] {
          sim::SimulatorOptions options;
          options.periodMs = 20;
          return options;
        }()) {}
};

// Rows of the monitor's list (as filtered) that satisfy `match`.
template <typename Match>
int CountRows(CLineMonitorDlg& monitor, Match match) {
  int n = 0;
  for (std::uint64_t sequence : monitor.Model().Sequences()) {
    if (const MonitorRow* row = monitor.Monitor().Row(sequence); row && match(*row)) ++n;
  }
  return n;
}

bool WaitForRows(CLineMonitorDlg& monitor, auto match) {
  return QTest::qWaitFor([&] { return CountRows(monitor, match) > 0; }, kWaitMs);
}

QString Cell(CLineMonitorDlg& monitor, int row, rolta::MonitorColumn column) {
  return monitor.Model().index(row, static_cast<int>(column)).data().toString();
}

}  // namespace

class LineMonitorSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(configDir_.isValid());
    qputenv("XDG_CONFIG_HOME", configDir_.path().toUtf8());
  }

  void showsATestBothWaysThenTheFaultsAndSavesWhatItShows() {
    Rig rig(services_.Host());
    CRoltaDlg& console = *rig.console;
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    CLineMonitorDlg* monitor = console.LineMonitorWindow();
    QVERIFY(monitor && monitor->isHidden());
    QVERIFY(console.findChild<QPushButton*>(QStringLiteral("通讯监视")));
    console.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&console));
    QTest::keyClick(&console, Qt::Key_M, Qt::ControlModifier);
    QVERIFY(QTest::qWaitFor([&] { return monitor->isVisible(); }, kWaitMs));
    QCOMPARE(monitor->windowTitle(), QStringLiteral("通讯监视"));

    console.PortList()->setCurrentIndex(0);
    QTest::mouseClick(console.Buttons().connect, Qt::LeftButton);
    QVERIFY(console.Port().IsOpen());
    console.CommandList()->setCurrentIndex(0);  // "恒速测试"
    console.Edit(rolta::CommandInput::ParamA)->setText(QStringLiteral("50"));
    QTest::mouseClick(console.Buttons().execute, Qt::LeftButton);

    // The command out with its catalogue caption, the replies in with the readout fields.
    QVERIFY(WaitForRows(*monitor, [](const MonitorRow& r) { return r.direction == LineDirection::Sent; }));
    QVERIFY(WaitForRows(*monitor, [](const MonitorRow& r) {
      return r.direction == LineDirection::Received && r.code == 16 && r.checksumGood;
    }));
    QCOMPARE(Cell(*monitor, 0, rolta::MonitorColumn::Bytes), QStringLiteral("55 AA 10 05 62 FE 00 00 00 48 42"));
    QCOMPARE(Cell(*monitor, 0, rolta::MonitorColumn::Summary), QStringLiteral("恒速测试 (飞轮 0, 50)"));
    QVERIFY(Cell(*monitor, 1, rolta::MonitorColumn::Summary).contains(QStringLiteral("速度 ")));
    QCOMPARE(Cell(*monitor, 1, rolta::MonitorColumn::Length), QStringLiteral("24"));
    QVERIFY(monitor->CounterValue(3)->text().toInt() > 0);  // frames received

    // Faults: noise between frames and wrong checksums show as what they are.
    rig.controller->SetFaults({sim::SimFault::Garbage, sim::SimFault::BadChecksum});
    QVERIFY(WaitForRows(*monitor, [](const MonitorRow& r) { return r.direction == LineDirection::Skipped; }));
    QVERIFY(WaitForRows(*monitor,
                        [](const MonitorRow& r) { return r.direction == LineDirection::Received && !r.checksumGood; }));
    rig.controller->SetFaults({});
    if (const QString shot = qEnvironmentVariable("ROLTA_MONITOR_SCREENSHOT"); !shot.isEmpty()) {
      // The README's picture: faults, then good frames again.
      QTest::qWait(450);
      monitor->RefreshNow();
      QVERIFY(monitor->grab().save(shot));
    }
    QVERIFY(monitor->CounterValue(4)->text().toInt() > 0);  // checksum errors
    QVERIFY(monitor->CounterValue(5)->text().toInt() > 0);  // skipped bytes

    // Only what was sent; then a type that does not exist.
    QVERIFY(monitor->SetFilter(1, QString()));
    QVERIFY(monitor->Model().rowCount() >= 1);
    QCOMPARE(CountRows(*monitor, [](const MonitorRow& r) { return r.direction != LineDirection::Sent; }), 0);
    // A malformed type is refused with a box, and the sent rows stay alone.
    const int sentRows = monitor->Model().rowCount();
    QVERIFY(!monitor->SetFilter(0, QStringLiteral("0x1g")));
    QCOMPARE(monitor->Model().rowCount(), sentRows);
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
    QVERIFY(services_.boxes.Shown().back().text.find("0x1g") != std::string::npos);
    services_.boxes.Clear();
    QVERIFY(monitor->SetFilter(0, QStringLiteral("0x10")));
    QVERIFY(monitor->FindNext(QStringLiteral("48 42")));
    QCOMPARE(monitor->View()->currentIndex().row(), 0);

    // Paused, nothing new is listed; saved rows read back as shown.
    monitor->SetPaused(true);
    monitor->RefreshNow();
    const int listed = monitor->Model().rowCount();
    QTest::qWait(300);
    monitor->RefreshNow();
    QCOMPARE(monitor->Model().rowCount(), listed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.csv"));
    QVERIFY(monitor->SaveRows(path, true));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const auto records = rolta::ParseCsv(file.readAll().toStdString());
    QCOMPARE(static_cast<int>(records.size()), listed + 1);
    QCOMPARE(QString::fromStdString(records[1][5]), Cell(*monitor, 0, rolta::MonitorColumn::Bytes));
    QVERIFY(services_.boxes.Shown().empty());
    QVERIFY(!monitor->SaveRows(dir.filePath(QStringLiteral("no/such/dir/x.csv")), false));
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});

    monitor->ClearRows();
    QCOMPARE(monitor->Model().rowCount(), 0);
    // Closed, the monitor no longer watches the line.
    monitor->hide();
    const auto seen = monitor->Monitor().Counters().framesReceived;
    QTest::qWait(200);
    QCOMPARE(monitor->Monitor().Counters().framesReceived, seen);
    QTest::mouseClick(console.Buttons().close, Qt::LeftButton);
  }

  void sendsATypedFrameAfterOneConfirmation() {
    Rig rig(services_.Host());
    CRoltaDlg& console = *rig.console;
    console.PortList()->setCurrentIndex(0);
    QTest::mouseClick(console.Buttons().connect, Qt::LeftButton);
    CLineMonitorDlg* monitor = console.LineMonitorWindow();
    console.OnLineMonitor();
    services_.boxes.Clear();

    QVERIFY(!monitor->SendLine(QStringLiteral("04 0")));  // refused, nothing sent
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
    services_.boxes.Answer(rolta::MessageAnswer::Ok);
    QTest::keyClicks(monitor->SendEdit(), QStringLiteral("04"));
    QTest::keyClick(monitor->SendEdit(), Qt::Key_Return);
    QVERIFY(rig.controller->WaitForReceived(1, 2s));
    QCOMPARE(rig.controller->ReceivedCommands()[0].frame,
             (std::vector<std::uint8_t>{0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE}));
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{2});  // the confirmation
    QVERIFY(monitor->SendLine(QStringLiteral("04")));
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{2});  // asked only once
    // The version answer, decoded as the about box shows it.
    QVERIFY(WaitForRows(*monitor,
                        [](const MonitorRow& r) { return r.direction == LineDirection::Received && r.code == 4; }));
    monitor->RefreshNow();
    bool versionShown = false;
    for (int row = 0; row < monitor->Model().rowCount(); ++row) {
      versionShown |= Cell(*monitor, row, rolta::MonitorColumn::Summary).contains(QStringLiteral("Ver7.34"));
    }
    QVERIFY(versionShown);
  }

 private:
  QTemporaryDir configDir_;
  ScriptedServices services_;
};

QTEST_MAIN(LineMonitorSimTest)
#include "line_monitor_sim_test.moc"
