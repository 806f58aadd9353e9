// The console window on its own: start-up state, the settings file, the
// connect and close buttons on a pseudo-terminal, translated texts, ignored
// close requests, dragging, and the about box.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>

#include "console/console_settings.h"
#include "console/ui/about_dlg.h"
#include "rolta_version.h"
#include "console/ui/rolta_dlg.h"
#include "fake_environment.h"
#include "pty_pair.h"
#include "scripted_services.h"
#include "widgets/ui/digistring.h"

using namespace rolta;
using rolta::test::FakeEnvironment;
using rolta::test::MarkingLookup;

namespace {

std::vector<std::string> PortNames(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("ttyFAKE" + std::to_string(i));
  return names;
}

void WriteSettingsFile(const std::filesystem::path& path, std::vector<std::int32_t> words) {
  std::ofstream file(path, std::ios::binary);
  for (std::int32_t word : words) {
    for (int i = 0; i < 4; ++i) file.put(static_cast<char>(static_cast<std::uint32_t>(word) >> (8 * i)));
  }
}

QList<bool> EnabledInputs(const CRoltaDlg& console) {
  QList<bool> enabled;
  for (int i = 0; i < kCommandInputCount; ++i) enabled << console.Input(static_cast<CommandInput>(i))->isEnabled();
  return enabled;
}

}  // namespace

class ConsoleWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    configDir_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", configDir_->path().toUtf8());
    settingsPath_ = std::filesystem::path(configDir_->path().toStdString()) / "QRX5000B.CFG";
    services_.boxes = {};
  }

  void withoutSettingsFileTheDefaultsAreSelected() {
    FakeEnvironment environment(PortNames(6));
    CRoltaDlg console(environment, services_.Host());
    QCOMPARE(console.PortList()->currentIndex(), 0);
    QCOMPARE(console.SpeedList()->currentText(), QStringLiteral("115.2K"));
    QCOMPARE(console.CommandList()->currentIndex(), 26);
    QCOMPARE(console.CommandList()->currentText(), QStringLiteral("读QRX参数"));
    QCOMPARE(console.Settings(), (ConsoleSettings{0, 4, 26}));
  }

  void outOfRangeValuesAreReplacedAndAFarSpeedSelectsNothing() {
    WriteSettingsFile(settingsPath_, {-1, 7, 5000});
    FakeEnvironment environment(PortNames(6));
    CRoltaDlg console(environment, services_.Host());
    QCOMPARE(console.PortList()->currentIndex(), 4);
    QCOMPARE(console.SpeedList()->currentIndex(), -1);
    QCOMPARE(console.CommandList()->currentIndex(), 26);
  }

  void farSpeedConnectsAt115200() {
    WriteSettingsFile(settingsPath_, {0, 7, 26});
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    console.Buttons().connect->click();
    QVERIFY(console.Port().IsOpen());
    QCOMPARE(console.Port().BaudRate(), 115200u);
    console.Buttons().close->click();
  }

  void restoredCommandEnablesItsInputsAtOnce() {
    WriteSettingsFile(settingsPath_, {2, 0, 8});
    FakeEnvironment environment(PortNames(3));
    CRoltaDlg console(environment, services_.Host());
    QCOMPARE(console.PortList()->currentIndex(), 2);
    QCOMPARE(console.SpeedList()->currentText(), QStringLiteral("9.6K"));
    QCOMPARE(console.CommandList()->currentIndex(), 8);
    // Position 8 (恒负荷滑行) takes StartSpeed, EndSpeed and ParamM.
    QVERIFY(console.Input(CommandInput::StartSpeed)->isEnabled());
    QVERIFY(console.Input(CommandInput::EndSpeed)->isEnabled());
    QVERIFY(console.Input(CommandInput::ParamM)->isEnabled());
    QCOMPARE(EnabledInputs(console).count(true), 3);
  }

  void commandIndexStartsFromTheFileAndFollowsEachExecution() {
    WriteSettingsFile(settingsPath_, {0, 4, 8});
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    QCOMPARE(console.Settings().commandIndex, 8);
    // A closed channel leaves it as it is.
    console.CommandList()->setCurrentIndex(14);
    console.Buttons().execute->click();
    QCOMPARE(console.Settings().commandIndex, 8);
    console.Buttons().connect->click();
    console.Buttons().execute->click();
    QCOMPARE(console.Settings().commandIndex, 14);
    console.Buttons().close->click();
  }

  void selectingACommandEnablesExactlyItsInputs() {
    FakeEnvironment environment(PortNames(1));
    CRoltaDlg console(environment, services_.Host());
    console.CommandList()->setCurrentIndex(29);
    for (int i = 0; i < 4; ++i) QVERIFY(console.Flywheel(i)->isEnabled());
    QCOMPARE(EnabledInputs(console).count(true), 4);
    console.CommandList()->setCurrentIndex(90);
    QCOMPARE(EnabledInputs(console).count(true), 0);
    console.CommandList()->setCurrentIndex(0);
    QVERIFY(console.Input(CommandInput::ParamA)->isEnabled());
    QCOMPARE(EnabledInputs(console).count(true), 1);
  }

  void exitWithAnEmptyPortListStoresMinusOneAndTheNextStartTakesFour() {
    {
      FakeEnvironment environment;
      CRoltaDlg console(environment, services_.Host());
      QCOMPARE(console.PortList()->currentIndex(), -1);
      console.Buttons().exit->click();
    }
    const auto stored = LoadSettings(settingsPath_);
    QVERIFY(stored.has_value());
    QCOMPARE(stored->portIndex, 4);  // -1 on disk, replaced on reading
    std::ifstream file(settingsPath_, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), {});
    QCOMPARE(bytes.size(), std::size_t{12});
    QCOMPARE(bytes[0], 0xFF);
    FakeEnvironment sixPorts(PortNames(6));
    CRoltaDlg next(sixPorts, services_.Host());
    QCOMPARE(next.PortList()->currentIndex(), 4);
  }

  void exitSavesTheSelectionsAndTheNextStartRestoresThem() {
    {
      FakeEnvironment environment(PortNames(4));
      CRoltaDlg console(environment, services_.Host());
      console.PortList()->setCurrentIndex(3);
      console.SpeedList()->setCurrentIndex(1);
      console.CommandList()->setCurrentIndex(14);
      console.Buttons().exit->click();
      QCOMPARE(console.result(), int(QDialog::Accepted));
    }
    FakeEnvironment environment(PortNames(4));
    CRoltaDlg console(environment, services_.Host());
    QCOMPARE(console.PortList()->currentIndex(), 3);
    QCOMPARE(console.SpeedList()->currentIndex(), 1);
    QCOMPARE(console.CommandList()->currentIndex(), 14);
  }

  void anUnwritableSettingsFileIsSilentlyNotSaved() {
    std::filesystem::create_directory(settingsPath_);  // a folder where the file should be
    FakeEnvironment environment(PortNames(2));
    CRoltaDlg console(environment, services_.Host());
    console.Buttons().exit->click();
    QVERIFY(services_.boxes.Shown().empty());
    QVERIFY(std::filesystem::is_directory(settingsPath_));
  }

  void connectOpensThePortAndDisablesSetupCloseReenablesIt() {
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    QVERIFY(console.Buttons().connect->isEnabled());
    console.Buttons().connect->click();
    QVERIFY(console.Port().IsOpen());
    QVERIFY(!console.Buttons().connect->isEnabled());
    QCOMPARE(console.Port().BaudRate(), 115200u);
    // Nothing is sent on connect.
    QVERIFY(pty.ReceiveFor(std::chrono::milliseconds(100)).empty());
    console.Buttons().close->click();
    QVERIFY(!console.Port().IsOpen());
    QVERIFY(console.Buttons().connect->isEnabled());
    // "关闭" on a closed channel only re-enables "设置".
    console.Buttons().close->click();
    QVERIFY(console.Buttons().connect->isEnabled());
  }

  void aFailedOpenNamesThePortAndLaterActionsReportTheClosedChannel() {
    FakeEnvironment environment({"/nonexistent/ttyNOTHERE"});
    CRoltaDlg console(environment, services_.Host());
    console.Buttons().connect->click();
    QVERIFY(!console.Port().IsOpen());
    QVERIFY(!console.Buttons().connect->isEnabled());
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
    QCOMPARE(services_.boxes.Shown()[0].text, std::string("无法打开通讯口 /nonexistent/ttyNOTHERE\n"
                                                          "设备不存在: 请检查串口线或USB转换器是否插好"));
    QCOMPARE(services_.boxes.Shown()[0].icon, MessageIcon::Stop);
    services_.boxes.Clear();
    console.Buttons().execute->click();
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{1});
    QCOMPARE(services_.boxes.Shown()[0], ChannelClosedMessage());
    console.Buttons().emergencyStop->click();
    QCOMPARE(services_.boxes.Shown().size(), std::size_t{2});
    QCOMPARE(services_.boxes.Shown()[1].text, std::string("通讯口未打开!"));
  }

  void receivedBytesReachTheStatusLine() {
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    console.Buttons().connect->click();
    // Type 16, V2 = 12.5, Numth 7.
    std::uint8_t frame[24] = {0x55, 0xAA, 16, 0};
    const float speed = 12.5f;
    std::memcpy(frame + 10, &speed, 4);
    frame[22] = 7;
    StoreChecksum(frame, sizeof frame);
    QVERIFY(pty.Send(std::span<const std::uint8_t>(frame)));
    QTRY_COMPARE(console.StatusText()->text(), QStringLiteral("Numth: 7 16"));
    QCOMPARE(QString::fromStdString(console.Readouts()[0].display->text()), QStringLiteral("12.50"));
    console.Buttons().close->click();
  }

  void groupAndButtonTextsAreTranslatedLabelsAndTooltipsAreNot() {
    MarkingLookup marking;
    FakeEnvironment environment(PortNames(1), &marking);
    CRoltaDlg console(environment, services_.Host());
    QCOMPARE(console.Buttons().connect->text(), QStringLiteral("<设置>"));
    QCOMPARE(console.Buttons().connect->toolTip(), QStringLiteral("启动通讯"));
    QCOMPARE(console.Buttons().exit->toolTip(), QStringLiteral("退出ROLTA"));
    QCOMPARE(console.Buttons().execute->toolTip(), QStringLiteral("执行当前指令"));
    QStringList groups;
    for (QGroupBox* box : console.findChildren<QGroupBox*>()) groups << box->title();
    for (const char* title : {"速度", "力矩", "电压", "里程", "控制参数", "通讯设置", "指令区", "滑行参数", "工具"}) {
      QVERIFY2(groups.contains(QStringLiteral("<%1>").arg(QString::fromUtf8(title))), title);
    }
    QVERIFY(groups.contains(QStringLiteral("飞轮组")));
    QStringList labels;
    for (QLabel* label : console.findChildren<QLabel*>()) labels << label->text();
    QVERIFY(labels.contains(QStringLiteral("恒速/恒功速度/a")));
    QVERIFY(labels.contains(QStringLiteral("状态:")));
    QCOMPARE(console.StatusText()->text(), QStringLiteral("-"));
    QCOMPARE(console.Flywheel(0)->text(), QStringLiteral("飞轮1"));
    QCOMPARE(console.windowTitle(), QStringLiteral("QRX5000B控制器"));
  }

  void startStateOfDisplaysProgressAndCommandList() {
    FakeEnvironment environment(PortNames(1));
    CRoltaDlg console(environment, services_.Host());
    for (const auto& readout : console.Readouts()) QCOMPARE(readout.display->text(), std::string("0"));
    QVERIFY(console.Progress()->isHidden());
    QVERIFY(!console.Progress()->isEnabled());
    QCOMPARE(console.Progress()->minimum(), 0);
    QCOMPARE(console.Progress()->maximum(), 102);
    QCOMPARE(console.Progress()->value(), 0);
    QCOMPARE(console.CommandList()->count(), 91);
    QCOMPARE(console.CommandList()->itemText(0), QStringLiteral("恒速测试"));
    QCOMPARE(console.CommandList()->itemText(40), QString());
    QCOMPARE(console.CommandList()->itemText(50), QString());
    QCOMPARE(console.CommandList()->itemText(90), QStringLiteral("大反拖"));
    QCOMPARE(console.SpeedList()->count(), 5);
  }

  void escapeAndCloseRequestsAreIgnored() {
    FakeEnvironment environment(PortNames(1));
    CRoltaDlg console(environment, services_.Host());
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QTest::keyClick(&console, Qt::Key_Escape);
    QVERIFY(console.isVisible());
    QVERIFY(!console.close());
    QVERIFY(console.isVisible());
    console.Buttons().exit->click();
    QVERIFY(!console.isVisible());
  }

  void draggingTheBackgroundMovesTheWindow() {
    FakeEnvironment environment(PortNames(1));
    CRoltaDlg console(environment, services_.Host());
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    console.move(100, 100);
    QTRY_COMPARE(console.pos(), QPoint(100, 100));
    const QPoint grip(5, console.height() / 2);  // the margin: no control there
    QVERIFY(console.childAt(grip) == nullptr);
    QTest::mousePress(&console, Qt::LeftButton, {}, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(40, 25)),
                     QPointF(console.mapToGlobal(grip + QPoint(40, 25))), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&console, &move);
    QTest::mouseRelease(&console, Qt::LeftButton, {}, grip + QPoint(40, 25));
    QTRY_COMPARE(console.pos(), QPoint(140, 125));
    console.Buttons().exit->click();
  }

  void aboutBoxShowsTheVersionLineAndTheControllerPlaceholder() {
    FakeEnvironment environment(PortNames(1));
    environment.version = "3, 7, 4, 0";
    CRoltaDlg console(environment, services_.Host());
    CAboutDlg* about = console.AboutBox();
    QVERIFY(about != nullptr);
    QVERIFY(about->isHidden());
    QCOMPARE(about->VersionLine(), QStringLiteral("ROLTA Version 3.7.4.0 (10点标定) for Win2000/NT/XP"));
    QCOMPARE(about->ControllerVersionValue(), QStringLiteral("111"));
    QCOMPARE(about->ControllerVersionCaption(), QStringLiteral("当前QRX5000控制器版本"));
    // The program's own version from the build, beside the library's line.
    auto* programVersion = about->findChild<QLabel*>(QStringLiteral("aboutProgramVersion"));
    QVERIFY(programVersion);
    QVERIFY(programVersion->text().endsWith(QStringLiteral("rolta ") + QString::fromUtf8(rolta::kRoltaVersion)));
    // The menu's about box is a modal one of its own; answer it from a timer.
    QString modalValue;
    QTimer::singleShot(50, [&] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<CAboutDlg*>(window);
        if (box && box != about && box->isVisible()) {
          modalValue = box->ControllerVersionValue();
          box->accept();
        }
      }
    });
    console.OnAbout();
    QCOMPARE(modalValue, QStringLiteral("111"));
  }

  void versionQueryWithoutAnswerShowsTheQueryTexts() {
    FakeEnvironment environment(PortNames(1));
    CRoltaDlg console(environment, services_.Host());
    console.show();
    console.Buttons().version->click();
    QVERIFY(console.AboutBox()->isVisible());
    QCOMPARE(console.AboutBox()->ControllerVersionCaption(), QStringLiteral("通讯端口未打开"));
    QCOMPARE(console.AboutBox()->ControllerVersionValue(), QStringLiteral("版本小于Ver6.66或通讯错误"));
    console.Buttons().exit->click();
  }

  void versionAnswerWithoutQueryBringsTheAboutBoxUp() {
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    console.show();
    console.Buttons().connect->click();
    std::uint8_t frame[24] = {0x55, 0xAA, 4, 0};
    const float fromUpgrade = 100.0f, version = 734.0f;
    std::memcpy(frame + 6, &fromUpgrade, 4);
    std::memcpy(frame + 10, &version, 4);
    StoreChecksum(frame, sizeof frame);
    QVERIFY(pty.Send(std::span<const std::uint8_t>(frame)));
    QTRY_VERIFY(console.AboutBox()->isVisible());
    QCOMPARE(console.AboutBox()->ControllerVersionCaption(), QStringLiteral("QRX5000升级程序版本"));
    QCOMPARE(console.AboutBox()->ControllerVersionValue(), QStringLiteral("Ver7.34"));
    console.Buttons().exit->click();
  }

  void emergencyStopSendsTwentyNineEachTime() {
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    console.Buttons().connect->click();
    console.Buttons().emergencyStop->click();
    console.Buttons().emergencyStop->click();
    const auto sent = pty.ReceiveExactly(12, std::chrono::seconds(2));
    const std::vector<std::uint8_t> stop = {0x55, 0xAA, 0x1D, 0x00, 0xE4, 0xFE};
    QCOMPARE(sent.size(), std::size_t{12});
    QVERIFY(std::equal(stop.begin(), stop.end(), sent.begin()));
    QVERIFY(std::equal(stop.begin(), stop.end(), sent.begin() + 6));
    console.Buttons().close->click();
  }

  void exitDuringTheRepeatLoopEndsTheLoopAndTheConsole() {
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    console.Buttons().connect->click();
    console.CommandList()->setCurrentIndex(14);  // 停止测试, a short command to repeat
    console.Buttons().execute->click();
    console.CommandList()->setCurrentIndex(34);  // 通讯测试LOOP
    bool loopWasRunning = false;
    QTimer::singleShot(350, [&] {
      loopWasRunning = console.Executor().InRepeatLoop();
      console.Buttons().exit->click();
    });
    console.Buttons().execute->click();  // returns once the loop has ended
    QVERIFY(loopWasRunning);
    QVERIFY(!console.Executor().InRepeatLoop());
    QVERIFY(!console.Port().IsOpen());
    QCOMPARE(console.result(), int(QDialog::Accepted));
    // 14 once, then 28 repeated while the loop ran.
    const auto sent = pty.ReceiveFor(std::chrono::milliseconds(100));
    QVERIFY(sent.size() >= 12);
    QCOMPARE(sent.size() % 6, std::size_t{0});
    for (std::size_t at = 0; at < sent.size(); at += 6) QCOMPARE(int(sent[at + 2]), 28);
  }

  void aPictureNamedByTheEnvironmentReplacesTheLogo() {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("logo.png"));
    QImage picture(300, 80, QImage::Format_RGB32);
    picture.fill(QColor(200, 10, 10));
    QVERIFY(picture.save(path));
    FakeEnvironment environment(PortNames(1));
    environment.picture = path.toStdString();
    CRoltaDlg console(environment, services_.Host());
    auto* logo = console.findChild<QLabel*>(QStringLiteral("logo"));
    QVERIFY(logo != nullptr);
    const QImage shown = logo->pixmap().toImage();
    QVERIFY(!shown.isNull());
    QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(200, 10, 10));

    FakeEnvironment missingPicture(PortNames(1));
    missingPicture.picture = folder.filePath(QStringLiteral("none.png")).toStdString();
    CRoltaDlg builtIn(missingPicture, services_.Host());
    const QImage builtInLogo = builtIn.findChild<QLabel*>(QStringLiteral("logo"))->pixmap().toImage();
    QVERIFY(!builtInLogo.isNull());
    QVERIFY(builtInLogo.pixelColor(builtInLogo.width() / 2, 2) != QColor(200, 10, 10));
  }

 private:
  std::unique_ptr<QTemporaryDir> configDir_;
  std::filesystem::path settingsPath_;
  test::ScriptedServices services_;
};

QTEST_MAIN(ConsoleWindowTest)
#include "console_window_test.moc"
