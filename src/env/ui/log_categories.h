// The console's logging categories and where Qt's messages go: the field log
// file as well as stderr. QT_LOGGING_RULES (e.g. "rolta.link.debug=true")
// turns a category's debug messages on.
#pragma once

#include <QLoggingCategory>
#include <QtGlobal>

namespace rolta {

class RotatingLogFile;

Q_DECLARE_LOGGING_CATEGORY(lcLink)       // rolta.link: the port and the line
Q_DECLARE_LOGGING_CATEGORY(lcUi)         // rolta.ui: windows, pages, programs started
Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)    // rolta.upgrade: the firmware upgrade
Q_DECLARE_LOGGING_CATEGORY(lcRecording)  // rolta.recording: recordings and exports

// While it lives, Qt's warnings, critical and fatal messages, and the debug
// and info messages of enabled named categories, also go to `file` as
// "qt-<type> <category>: <message>"; every message still goes where it went
// before (Qt's own handler writes stderr). A null `file` changes nothing.
// One at a time, on the thread that runs main; destroy it before the file.
class ScopedLogMessageHandler {
 public:
  explicit ScopedLogMessageHandler(RotatingLogFile* file);
  ~ScopedLogMessageHandler();
  ScopedLogMessageHandler(const ScopedLogMessageHandler&) = delete;
  ScopedLogMessageHandler& operator=(const ScopedLogMessageHandler&) = delete;

 private:
  bool installed_ = false;
  QtMessageHandler previous_ = nullptr;
};

}  // namespace rolta
