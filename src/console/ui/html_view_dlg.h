#pragma once

#include <QDialog>

class QTextBrowser;

namespace rolta {

// A modal page viewer: an HTML file shown with Qt's rich-text browser,
// its links followed inside it (other schemes go to the desktop).
class CHtmlViewDlg : public QDialog {
  Q_OBJECT
 public:
  CHtmlViewDlg(const QString& path, const QString& title, QWidget* owner = nullptr);
  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

// Shows the file modally; false, with nothing shown, when it is not there.
bool ShowHtmlPage(const QString& path, const QString& title, QWidget* owner);

}  // namespace rolta
