#include "console/ui/rolta_app.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLockFile>
#include <QScreen>
#include <chrono>
#include <unistd.h>

#include "readouts/console_texts.h"
#include "console/env_console_environment.h"
#include "console/ui/diag_tips_list.h"
#include "env/ui/qt_translations.h"
#include "console/ui/rolta_dlg.h"
#include "env/env_library.h"
#include "env/ui/log_categories.h"

namespace rolta {
namespace {

constexpr int kTipsPollMilliseconds = 100;

void CentreOnScreen(QWidget& window) {
  window.adjustSize();
  if (QScreen* screen = window.screen()) {
    window.move(screen->availableGeometry().center() - window.rect().center());
  }
}

// Says (rolta.ui debug) when the window system first asks the window to
// paint, in microseconds since the epoch, so a start-up can be timed from
// outside against the moment the program was started.
class FirstPaintLog : public QObject {
 public:
  explicit FirstPaintLog(const char* window) : window_(window) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && lcUi().isDebugEnabled()) {
      const auto now = std::chrono::system_clock::now().time_since_epoch();
      qCDebug(lcUi).nospace() << window_ << " window painted at "
                              << std::chrono::duration_cast<std::chrono::microseconds>(now).count() << " us";
      watched->removeEventFilter(this);
    }
    return false;
  }

 private:
  const char* window_;
};

}  // namespace

QString CRoltaApp::InstanceLockPath() {
  // One console per user session: another user or another session of the
  // machine starts its own. Two programs on one port are still kept apart by
  // the port's exclusive open.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()) {
    return QDir(runtime).filePath(QStringLiteral("rolta-QRX5000B.lock"));
  }
  // The temporary folder is shared by every user: the user's number keeps
  // one user's lock from refusing another's console.
  return QDir::temp().filePath(QStringLiteral("rolta-QRX5000B-%1.lock").arg(getuid()));
}

int CRoltaApp::InitInstance() {
  EnvLibrary library;
  const int loadResult = library.Load(1);
  if (loadResult != kEnvLoadOk) {
    // Nothing is loaded, so the lookup answers with the library's fallback text.
    const EnvTextLookup lookup(library);
    services_.boxes.Show({EnvLoadErrorText(lookup, loadResult), "ROLTA", MessageIcon::Stop, MessageButtons::Ok});
    return 1;
  }

  // Qt's own buttons and dialogs speak the console's language from here on.
  InstallQtTranslations(EnvTextLookup(library));

  EnvRecord record;
  library.GetEnvkit(record);  // 1, 0 or -1: start-up goes on in every case
  library.SaveLog("QRX5000B", "加载成功");

  // The lock is taken before the tips window opens, so a copy started while
  // another still shows its tips is refused as well.
  QLockFile instanceLock(InstanceLockPath());
  instanceLock.setStaleLockTime(0);
  if (!instanceLock.tryLock(0)) {
    services_.boxes.Show(
        {AlreadyRunningText(), std::string(kAlreadyRunningCaption), MessageIcon::Information, MessageButtons::Ok});
    library.Unload();
    return 1;
  }

  EnvConsoleEnvironment environment(library, std::move(record));
  {
    CDiagTipsList tips(environment.Texts(), services_.boxes);
    FirstPaintLog firstPaint("tips");
    tips.installEventFilter(&firstPaint);
    CentreOnScreen(tips);
    tips.show();
    // Wait for "知道了" (or Escape held); the tips window closed any other way
    // ends the wait too, so start-up never hangs on a window nobody sees.
    while (!tips.Acknowledged() && tips.isVisible()) {
      services_.pump.ProcessPendingEvents();
      if (services_.keys.IsEscapeHeld()) break;
      services_.pump.SleepMilliseconds(kTipsPollMilliseconds);
    }
  }

  {
    CRoltaDlg console(environment, services_);
    console.exec();
  }
  library.Unload();
  return 0;
}

}  // namespace rolta
