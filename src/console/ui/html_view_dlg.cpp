#include "console/ui/html_view_dlg.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "widgets/ui/screen_fit.h"

namespace rolta {

CHtmlViewDlg::CHtmlViewDlg(const QString& path, const QString& title, QWidget* owner) : QDialog(owner) {
  KeepOnScreen(this);
  setWindowTitle(title);
  browser_ = new QTextBrowser(this);
  browser_->setOpenExternalLinks(true);
  browser_->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_);
  layout->addWidget(buttons);
  resize(760, 560);
}

bool ShowHtmlPage(const QString& path, const QString& title, QWidget* owner) {
  if (!QFileInfo(path).isFile()) return false;
  CHtmlViewDlg dialog(path, title, owner);
  dialog.exec();
  return true;
}

}  // namespace rolta
