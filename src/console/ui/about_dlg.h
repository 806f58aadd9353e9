#pragma once

#include "widgets/ui/bk_dialog.h"

class QLabel;

namespace rolta {

class ConsoleEnvironment;
struct ControllerVersionTexts;

// "关于 ROLTA调试器": the console's version and, for the console's own
// modeless instance, the controller version last reported.
class CAboutDlg : public CBkDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(ConsoleEnvironment& environment, QWidget* parent = nullptr);

  void SetControllerVersion(const ControllerVersionTexts& texts);

  QString VersionLine() const;
  QString ControllerVersionCaption() const;
  QString ControllerVersionValue() const;

 private:
  QLabel* versionLine_;
  QLabel* controllerCaption_;
  QLabel* controllerValue_;
};

}  // namespace rolta
