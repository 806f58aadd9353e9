#include "console/ui/about_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "console/console_environment.h"
#include "readouts/console_texts.h"
#include "env/shown_text.h"

#include "rolta_version.h"

namespace rolta {

CAboutDlg::CAboutDlg(ConsoleEnvironment& environment, QWidget* parent) : CBkDialog(parent) {
  const TextLookup& lookup = environment.Texts();
  auto shown = [&lookup](std::string_view text) { return QString::fromStdString(ShownText(lookup, text)); };
  setWindowTitle(shown("关于 ROLTA调试器"));
  auto* title = new QLabel(shown("关于 ROLTA调试器"), this);
  title->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 14pt;"));
  versionLine_ = new QLabel(QString::fromStdString(AboutVersionLine(environment.VersionText(), lookup)), this);
  versionLine_->setObjectName(QStringLiteral("aboutVersionLine"));
  // The installed program's own version, beside the library's line above.
  auto* programVersion =
      new QLabel(QString::fromStdString(lookup.Lookup("程序版本") + ": rolta " + kRoltaVersion), this);
  programVersion->setObjectName(QStringLiteral("aboutProgramVersion"));
  auto* requirement = new QLabel(shown("需QRX5000B控制器V7.34以上版本支持"), this);
  controllerCaption_ = new QLabel(shown("当前QRX5000控制器版本"), this);
  controllerCaption_->setObjectName(QStringLiteral("aboutControllerCaption"));
  controllerValue_ = new QLabel(QStringLiteral("111"), this);
  controllerValue_->setObjectName(QStringLiteral("aboutControllerValue"));
  controllerValue_->setFrameShape(QFrame::StyledPanel);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("aboutOk"));
  ok->setToolTip(shown("关于ROLTA"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(24, 20, 24, 20);
  layout->addWidget(title, 0, 0, 1, 2);
  layout->addWidget(versionLine_, 1, 0, 1, 2);
  layout->addWidget(programVersion, 2, 0, 1, 2);
  layout->addWidget(requirement, 3, 0, 1, 2);
  layout->addWidget(controllerCaption_, 4, 0);
  layout->addWidget(controllerValue_, 4, 1);
  layout->addWidget(ok, 5, 1, Qt::AlignRight);
}

void CAboutDlg::SetControllerVersion(const ControllerVersionTexts& texts) {
  controllerCaption_->setText(QString::fromStdString(texts.caption));
  controllerValue_->setText(QString::fromStdString(texts.value));
}

QString CAboutDlg::VersionLine() const { return versionLine_->text(); }
QString CAboutDlg::ControllerVersionCaption() const { return controllerCaption_->text(); }
QString CAboutDlg::ControllerVersionValue() const { return controllerValue_->text(); }

}  // namespace rolta
