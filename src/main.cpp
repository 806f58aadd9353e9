#include <QApplication>

#include <cstdio>
#include <cstring>

#include "console/ui/rolta_app.h"
#include "env/rotating_log.h"
#include "env/ui/log_categories.h"
#include "env/ui/qt_services.h"
#include "rolta_version.h"

int main(int argc, char* argv[]) {
  // Answered before any window system is needed, so it works without a display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("rolta %s\n", rolta::kRoltaVersion);
    return 0;
  }
  // The field log outlives the application, so Qt's messages from its start
  // and end reach the file too.
  rolta::ProgramLog log("rolta", rolta::kRoltaVersion);
  const rolta::ScopedLogMessageHandler qtMessages(log.File());
  // Qt 6 scales for high-DPI screens by itself; fractional factors (125 %,
  // 150 %) are kept as they are instead of being rounded to whole ones.
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ROLTA"));
  // The one place the window system's services are chosen; Escape is
  // tracked from here on, before any window shows.
  rolta::QtServices services;
  const int exitCode = rolta::CRoltaApp(services.Host()).InitInstance();
  log.Finish(exitCode);
  return exitCode;
}
