#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>

namespace rolta {

class ByteChannel;
class CAnimButton;
class CTool;
class MessageBoxService;
class TextLookup;

// The "工具" group of the console: the animated picture button that brings
// up the tools window, the tools page "tools.htm" of the current directory,
// and the help file beside the program (our operator's guide when the
// maker's help file is not there). Missing pages and viewers are silent.
class CConsoleTools : public QObject {
  Q_OBJECT
 public:
  // `console` owns the tools window, the animated button and the page viewer.
  CConsoleTools(ByteChannel& channel, const TextLookup& lookup, MessageBoxService& boxes, QWidget* console);

  CAnimButton* AnimatedButton() const { return animated_; }
  CTool* ToolWindow() const { return tool_; }

  // The animated button: the tools window to the front when the channel is
  // open, else the channel-closed box.
  void OnToolWindowButton();
  // "工具"
  void OnToolsPage();
  // "帮助"
  void OnHelp();

  // What the desktop and the process offer; tests replace them.
  std::function<bool(const QUrl&)> openExternal;
  std::function<bool(const QString& path, const QString& title, QWidget* owner)> showPage;
  std::function<QString()> currentDirectory;
  std::function<QString()> programDirectory;

 private:
  ByteChannel& channel_;
  const TextLookup& lookup_;
  MessageBoxService& boxes_;
  QWidget* console_;
  CTool* tool_;
  CAnimButton* animated_;
};

}  // namespace rolta
