// The tools window, the "工具" group's actions (picture button, tools page, help) and the upgrade's progress bar host.
#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <fstream>

#include "console/tool_strip.h"
#include "console/ui/anim_button.h"
#include "console/ui/console_tools.h"
#include "console/ui/html_view_dlg.h"
#include "upgrade/ui/qt_upgrade_host.h"
#include "console/ui/tool_dlg.h"
#include "memory_channel.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::test::MemoryChannel;
using rolta::test::ScriptedMessageBoxes;

class ToolsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void toolButtonsFollowTheLiftAndSendItsCommands() {
    MemoryChannel channel;
    IdentityLookup lookup;
    ScriptedMessageBoxes boxes;
    CTool tool(channel, lookup, boxes);
    tool.show();
    QVERIFY(!tool.Button(ToolButton::Manual)->isEnabled());
    QCOMPARE(tool.LiftState(), 1);
    QTest::mouseClick(tool.Button(ToolButton::Down), Qt::LeftButton);
    QVERIFY(tool.Button(ToolButton::Manual)->isEnabled());
    QTest::mouseClick(tool.Button(ToolButton::Manual), Qt::LeftButton);
    QVERIFY(!tool.Button(ToolButton::Manual)->isEnabled());
    QTest::mouseClick(tool.Button(ToolButton::ManualStop), Qt::LeftButton);
    QVERIFY(tool.Button(ToolButton::Manual)->isEnabled());
    QTest::mouseClick(tool.Button(ToolButton::Up), Qt::LeftButton);
    QTest::mouseClick(tool.Button(ToolButton::ManualStop), Qt::LeftButton);
    QVERIFY(!tool.Button(ToolButton::Manual)->isEnabled());
    QCOMPARE(channel.Writes().size(), std::size_t{2});
    QCOMPARE(int(channel.Writes()[0][2]), 31);
    QCOMPARE(int(channel.Writes()[1][2]), 30);
    QTest::mouseClick(tool.Button(ToolButton::Ok), Qt::LeftButton);
    QVERIFY(tool.isHidden());
  }

  void pictureButtonNeedsTheOpenChannelToolsAndHelpDoNot() {
    ScriptedMessageBoxes boxes;
    MemoryChannel channel;
    IdentityLookup lookup;
    QWidget console;
    CConsoleTools tools(channel, lookup, boxes, &console);
    QVERIFY(tools.AnimatedButton()->Animating());
    // The picture moves on by itself, and a repaint's step never comes after
    // the animation stopped.
    const int first = tools.AnimatedButton()->Frame();
    QTRY_VERIFY(tools.AnimatedButton()->Frame() != first);
    tools.AnimatedButton()->StopAnimation();
    QTest::qWait(160);
    const int stopped = tools.AnimatedButton()->Frame();
    tools.AnimatedButton()->StepIfDue();
    QCOMPARE(tools.AnimatedButton()->Frame(), stopped);

    channel.SetOpen(false);
    QTest::mouseClick(tools.AnimatedButton(), Qt::LeftButton);
    QCOMPARE(boxes.Shown().size(), std::size_t{1});
    QCOMPARE(boxes.Shown()[0], ChannelClosedMessage());
    QVERIFY(tools.ToolWindow()->isHidden());
    channel.SetOpen(true);
    QTest::mouseClick(tools.AnimatedButton(), Qt::LeftButton);
    QVERIFY(tools.ToolWindow()->isVisible());

    QTemporaryDir dir;
    tools.currentDirectory = [&] { return dir.path(); };
    tools.programDirectory = [&] { return dir.path(); };
    QStringList opened;
    tools.openExternal = [&](const QUrl& url) {
      opened << url.toLocalFile();
      return false;
    };

    // Nothing there: no page, no box.
    tools.OnToolsPage();
    tools.OnHelp();
    QVERIFY(opened.isEmpty());

    std::ofstream((dir.path() + "/tools.htm").toStdString()) << "<html><body><h1>Bench tools</h1></body></html>";
    std::ofstream((dir.path() + "/rolta-guide.html").toStdString())
        << "<html><body><p>Operator guide</p></body></html>";
    QString shownText;
    auto closeViewer = [&] {
      QTimer::singleShot(0, [&] {
        if (auto* viewer = qobject_cast<CHtmlViewDlg*>(QApplication::activeModalWidget())) {
          shownText = viewer->Browser()->toPlainText();
          viewer->reject();
        }
      });
    };
    closeViewer();
    tools.OnToolsPage();
    QVERIFY(shownText.contains("Bench tools"));
    // None in the current directory: the one shipped beside the program.
    QTemporaryDir elsewhere;
    tools.currentDirectory = [&] { return elsewhere.path(); };
    shownText.clear();
    closeViewer();
    tools.OnToolsPage();
    QVERIFY(shownText.contains("Bench tools"));
    closeViewer();
    tools.OnHelp();  // no maker's help file: our guide in the viewer
    QVERIFY(shownText.contains("Operator guide"));
    QVERIFY(opened.isEmpty());

    std::ofstream((dir.path() + "/QRX5000说明.CHM").toStdString()) << "x";
    tools.OnHelp();  // the viewer failing is silent too
    QCOMPARE(opened, QStringList{dir.path() + "/QRX5000说明.CHM"});
    QCOMPARE(boxes.Shown().size(), std::size_t{1});
  }

  void shippedPagesLoad() {
    for (const char* name : {"tools.htm", "rolta-guide.html", "en/tools.htm", "en/rolta-guide.html"}) {
      const QString path = QStringLiteral(ROLTA_SOURCE_DIR "/share/") + name;
      CHtmlViewDlg viewer(path, name);
      QVERIFY2(viewer.Browser()->toPlainText().contains("qrx5000b-sim"), name);
    }
  }

  void upgradeHostStepsTheBarOnceAfterItsPositionAndLocksTheButtons() {
    QWidget console;
    auto* bar = new QProgressBar(&console);
    bar->setRange(0, 102);
    auto* upgrade = new QPushButton(&console);
    auto* execute = new QPushButton(&console);
    std::vector<std::string> status;
    test::ScriptedServices services;
    QtUpgradeHost host(
        {bar, {upgrade, execute}, [&](const std::string& s) { status.push_back(s); }, [](std::uint8_t) {}, &console},
        services.Host());
    console.show();
    bar->hide();
    host.SetUpgradeRunning(true);
    QVERIFY(bar->isVisible() && bar->isEnabled());
    QVERIFY(!upgrade->isEnabled() && !execute->isEnabled());
    for (auto [percent, shown] : {std::pair{0, 1}, {50, 51}, {100, 101}}) {
      host.SetProgress(percent);
      QCOMPARE(bar->value(), shown);
    }
    host.SetUpgradeRunning(false);
    QVERIFY(bar->isHidden() && !bar->isEnabled());
    QVERIFY(upgrade->isEnabled() && execute->isEnabled());
  }
};

QTEST_MAIN(ToolsWindowTest)
#include "tools_window_test.moc"
