#include <QApplication>

#include "console/ui/rolta_app.h"

int main(int argc, char* argv[]) {
  // Qt 6 scales for high-DPI screens by itself; fractional factors (125 %,
  // 150 %) are kept as they are instead of being rounded to whole ones.
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ROLTA"));
  return rolta::CRoltaApp().InitInstance();
}
