#include "console/ui/console_tools.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>

#include "console/tool_strip.h"
#include "console/ui/anim_button.h"
#include "console/ui/html_view_dlg.h"
#include "env/ui/log_categories.h"
#include "console/ui/tool_dlg.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "link/byte_channel.h"

namespace rolta {
namespace {

std::filesystem::path ToPath(const QString& text) { return std::filesystem::path(text.toStdString()); }
QString ToQString(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

}  // namespace

CConsoleTools::CConsoleTools(ByteChannel& channel, const TextLookup& lookup, MessageBoxService& boxes, QWidget* console)
    : QObject(console),
      openExternal([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      showPage(&ShowHtmlPage),
      currentDirectory([] { return QDir::currentPath(); }),
      programDirectory([] { return QCoreApplication::applicationDirPath(); }),
      channel_(channel),
      lookup_(lookup),
      boxes_(boxes),
      console_(console),
      tool_(new CTool(channel, lookup, boxes, console)),
      animated_(new CAnimButton(console)) {
  tool_->setWindowFlag(Qt::Window);
  tool_->hide();
  animated_->setObjectName(QStringLiteral("toolsPicture"));
  connect(animated_, &CAnimButton::clicked, this, &CConsoleTools::OnToolWindowButton);
}

void CConsoleTools::OnToolWindowButton() {
  if (!channel_.IsOpen()) {
    boxes_.Show(ChannelClosedMessage());
    return;
  }
  tool_->BringUp();
}

void CConsoleTools::OnToolsPage() {
  const std::optional<std::filesystem::path> page =
      FindToolsPage(ToPath(currentDirectory()), ToPath(programDirectory()), PagesLanguage(lookup_));
  if (!page) {
    qCWarning(lcUi) << "no tools page beside the program or in the current folder";
    return;
  }
  if (!showPage(ToQString(*page), QString::fromStdString(lookup_.Lookup("其它工具")), console_)) {
    qCWarning(lcUi).noquote() << "the tools page" << ToQString(*page) << "could not be shown";
  }
}

void CConsoleTools::OnHelp() {
  const std::optional<HelpTarget> help = FindHelp(ToPath(programDirectory()), PagesLanguage(lookup_));
  if (!help) {
    qCWarning(lcUi) << "no operator's guide beside the program";
    return;
  }
  const bool shown =
      help->kind == HelpTarget::Kind::HelpFile
          ? openExternal(QUrl::fromLocalFile(ToQString(help->path)))
          : showPage(ToQString(help->path), QString::fromStdString(lookup_.Lookup("操作提示")), console_);
  if (!shown) qCWarning(lcUi).noquote() << "the operator's guide" << ToQString(help->path) << "could not be shown";
}

}  // namespace rolta
