// Start-up of the whole program: loading the environment library, the
// single-instance check, the version tips and its wait, the console, the end.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QLockFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include <unistd.h>

#include "console/ui/diag_tips_list.h"
#include "console/ui/rolta_app.h"
#include "console/ui/rolta_dlg.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::test::ScriptedServices;

namespace {

template <typename Window>
Window* VisibleTopLevel() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* window = qobject_cast<Window*>(widget); window && window->isVisible()) return window;
  }
  return nullptr;
}

// Runs `step` every 20 ms while the program's own loops run, until it returns true.
class Poller {
 public:
  explicit Poller(std::function<bool()> step) : step_(std::move(step)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (!done_ && step_()) done_ = true;
    });
    timer_.start(20);
  }
  bool Done() const { return done_; }

 private:
  std::function<bool()> step_;
  QTimer timer_;
  bool done_ = false;
};

}  // namespace

class RoltaAppTest : public QObject {
  Q_OBJECT

 private slots:
  // Each test's folder beside the last one, not inside it: TMPDIR names the
  // last one, which goes away with it.
  void initTestCase() { tempRoot_ = QDir::tempPath(); }
  void init() {
    home_.reset();
    home_ = std::make_unique<QTemporaryDir>(tempRoot_ + QStringLiteral("/rolta_app_test-XXXXXX"));
    QVERIFY(home_->isValid());
    qputenv("XDG_CONFIG_HOME", (home_->path() + "/config").toUtf8());
    qputenv("XDG_STATE_HOME", (home_->path() + "/state").toUtf8());
    qputenv("TMPDIR", home_->path().toUtf8());
    QDir(home_->path()).mkdir(QStringLiteral("run"));
    qputenv("XDG_RUNTIME_DIR", (home_->path() + "/run").toUtf8());
    qputenv("ROLTA_ENVKIT_DIR", ROLTA_BIN_DIR);
    qputenv("ROLTA_EXTRA_PORTS", "/tmp/ttyRoltaAppTest");
  }

  void aMissingLibraryEndsTheProgramWithItsLoadResult_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder without the library")
        << QStringLiteral("empty") << QStringLiteral("envkit.dll No This Funciont ErrCode: [-1]");
    QTest::newRow("no such folder") << QStringLiteral("missing")
                                    << QStringLiteral("envkit.dll No This Funciont ErrCode: [-1000]");
  }
  void aMissingLibraryEndsTheProgramWithItsLoadResult() {
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    if (folder == "empty") QDir(home_->path()).mkdir(folder);
    qputenv("ROLTA_ENVKIT_DIR", (home_->path() + "/" + folder).toUtf8());
    ScriptedServices services;
    QCOMPARE(CRoltaApp(services.Host()).InitInstance(), 1);
    QCOMPARE(services.boxes.Shown().size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(services.boxes.Shown()[0].text), expected);
    QVERIFY(VisibleTopLevel<CDiagTipsList>() == nullptr);
  }

  void aSecondCopyIsRefusedWhileTheFirstRuns() {
    QLockFile first(CRoltaApp::InstanceLockPath());
    QVERIFY(first.tryLock(0));
    ScriptedServices services;
    QCOMPARE(CRoltaApp(services.Host()).InitInstance(), 1);
    QCOMPARE(services.boxes.Shown().size(), std::size_t{1});
    QCOMPARE(services.boxes.Shown()[0].text, std::string("QRX5000B控制器已经运行!"));
    QCOMPARE(services.boxes.Shown()[0].caption, std::string("ROLTA错误提示"));
    QCOMPARE(services.boxes.Shown()[0].icon, MessageIcon::Information);
  }

  void theLockIsOnePerUserSession() {
    const QString home = home_->path();
    QDir(home).mkdir(QStringLiteral("other-run"));
    const QString inTemp = home + QStringLiteral("/rolta-QRX5000B-%1.lock").arg(getuid());
    const struct {
      QByteArray runtime;  // empty: unset
      QString lock;
    } rows[] = {
        {home.toUtf8() + "/run", home + "/run/rolta-QRX5000B.lock"},
        {{}, inTemp},
        {home.toUtf8() + "/no-such-run", inTemp},
    };
    for (const auto& row : rows) {
      if (row.runtime.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
      else
        qputenv("XDG_RUNTIME_DIR", row.runtime);
      QCOMPARE(CRoltaApp::InstanceLockPath(), row.lock);
    }

    // Another session's console does not block this one; this session's does.
    qputenv("XDG_RUNTIME_DIR", (home + "/other-run").toUtf8());
    QLockFile otherSession(CRoltaApp::InstanceLockPath());
    QVERIFY(otherSession.tryLock(0));
    qputenv("XDG_RUNTIME_DIR", (home + "/run").toUtf8());
    QLockFile thisSession(CRoltaApp::InstanceLockPath());
    QVERIFY(thisSession.tryLock(0));
    QVERIFY(!QLockFile(CRoltaApp::InstanceLockPath()).tryLock(0));
  }

  void tipsThenConsoleThenExitWithTheLogLineWritten() {
    ScriptedServices services;
    QStringList tipsLines;
    QString firstPort;
    bool secondCopyRefused = false;
    Poller driver([&]() -> bool {
      if (auto* tips = VisibleTopLevel<CDiagTipsList>()) {
        if (tipsLines.isEmpty()) {
          for (int i = 0; i < tips->List()->count(); ++i) tipsLines << tips->List()->item(i)->text();
          // A copy started while the tips window shows is refused.
          ScriptedServices inner;
          secondCopyRefused = CRoltaApp(inner.Host()).InitInstance() == 1 && inner.boxes.Shown().size() == 1;
          tips->findChild<QPushButton*>(QStringLiteral("tipsOk"))->click();
        }
        return false;
      }
      if (auto* console = VisibleTopLevel<CRoltaDlg>()) {
        firstPort = console->PortList()->itemText(0);
        console->Buttons().exit->click();
        return true;
      }
      return false;
    });
    QCOMPARE(CRoltaApp(services.Host()).InitInstance(), 0);
    QVERIFY(driver.Done());
    QCOMPARE(tipsLines.size(), 12);
    QCOMPARE(tipsLines[0], QStringLiteral("1、该版本只支持QRX5000B控制器！"));
    QVERIFY(secondCopyRefused);
    QCOMPARE(firstPort, QStringLiteral("/tmp/ttyRoltaAppTest"));
    QVERIFY(services.boxes.Shown().empty());
    QFile log(home_->path() + "/state/rolta/envkit.log");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains(QStringLiteral("[QRX5000B] 加载成功")));
    QVERIFY(QFile::exists(home_->path() + "/config/QRX5000B.CFG"));
  }

  void holdingEscapeEndsTheTipsWaitWithoutAcknowledging() {
    ScriptedServices services;
    bool sawTips = false;
    Poller driver([&]() -> bool {
      if (VisibleTopLevel<CDiagTipsList>()) {
        sawTips = true;
        services.keys.escape = true;
        return false;
      }
      if (auto* console = VisibleTopLevel<CRoltaDlg>()) {
        services.keys.escape = false;
        console->Buttons().exit->click();
        return true;
      }
      return false;
    });
    QCOMPARE(CRoltaApp(services.Host()).InitInstance(), 0);
    QVERIFY(sawTips);
    QVERIFY(driver.Done());
  }

 private:
  std::unique_ptr<QTemporaryDir> home_;
  QString tempRoot_;
};

QTEST_MAIN(RoltaAppTest)
#include "rolta_app_test.moc"
