#include "env/ui/qt_services.h"

#include "env/precise_pause.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <chrono>

namespace rolta {
namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Stop: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MessageAnswer QtMessageBoxService::Show(const MessageRequest& request) {
  QMessageBox box(ToQtIcon(request.icon), QString::fromStdString(request.caption), QString::fromStdString(request.text),
                  request.buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                              : QMessageBox::StandardButtons(QMessageBox::Ok),
                  QApplication::activeWindow());
  return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

QtKeyState::QtKeyState() {
  if (qApp) qApp->installEventFilter(this);
}

QtKeyState::~QtKeyState() {
  if (qApp) qApp->removeEventFilter(this);
}

bool QtKeyState::IsCtrlHeld() const { return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier); }

bool QtKeyState::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) {
      escapeHeld_ = event->type() == QEvent::KeyPress;
    }
  }
  return QObject::eventFilter(watched, event);
}

void QtEventPump::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void QtEventPump::SleepMilliseconds(int milliseconds) { PauseThread(std::chrono::milliseconds(milliseconds)); }

MessageAnswer TranslatingMessageBoxes::Show(const MessageRequest& request) {
  if (lookup_.IsDefaultLanguage()) return target_.Show(request);
  MessageRequest translated = request;
  translated.text = lookup_.Lookup(request.text);
  translated.caption = lookup_.Lookup(request.caption);
  return target_.Show(translated);
}

}  // namespace rolta
