#include "env/ui/log_categories.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "env/rotating_log.h"

namespace rolta {

// Debug messages are off until the rules turn them on.
Q_LOGGING_CATEGORY(lcLink, "rolta.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "rolta.ui", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpgrade, "rolta.upgrade", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRecording, "rolta.recording", QtInfoMsg)

namespace {

std::atomic<RotatingLogFile*> messageFile{nullptr};
std::atomic<QtMessageHandler> previousHandler{nullptr};

const char* MessageTypeName(QtMsgType type) {
  switch (type) {
    case QtDebugMsg: return "qt-debug";
    case QtInfoMsg: return "qt-info";
    case QtWarningMsg: return "qt-warning";
    case QtCriticalMsg: return "qt-critical";
    case QtFatalMsg: return "qt-fatal";
  }
  return "qt-message";
}

bool IsNamedCategory(const char* category) { return category && std::strcmp(category, "default") != 0; }

// Debug and info reach a handler only when their category is enabled; the
// unnamed default category's are always on and stay out of the file.
bool GoesToFile(QtMsgType type, const char* category) {
  return (type != QtDebugMsg && type != QtInfoMsg) || IsNamedCategory(category);
}

void HandleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (RotatingLogFile* file = messageFile.load(); file && GoesToFile(type, context.category)) {
    std::string detail = IsNamedCategory(context.category) ? std::string(context.category) + ": " : std::string();
    detail += message.toStdString();
    file->WriteLine(MessageTypeName(type), detail);
  }
  if (QtMessageHandler previous = previousHandler.load()) {
    previous(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
  }
}

}  // namespace

ScopedLogMessageHandler::ScopedLogMessageHandler(RotatingLogFile* file) {
  if (!file) return;
  messageFile.store(file);
  previous_ = qInstallMessageHandler(&HandleMessage);
  previousHandler.store(previous_);
  installed_ = true;
}

ScopedLogMessageHandler::~ScopedLogMessageHandler() {
  if (!installed_) return;
  qInstallMessageHandler(previous_);
  messageFile.store(nullptr);
}

}  // namespace rolta
