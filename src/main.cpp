#include <QApplication>

#include "console/ui/rolta_app.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ROLTA"));
  return rolta::CRoltaApp().InitInstance();
}
