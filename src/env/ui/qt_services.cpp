#include "env/ui/qt_services.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <chrono>
#include <thread>

namespace rolta {
namespace {

MessageBoxService* installedMessageBoxes = nullptr;
KeyState* installedKeys = nullptr;
EventPump* installedPump = nullptr;
const TextLookup* installedTranslation = nullptr;

// Hands each box to the service in force, translated where the language asks.
class TranslatingMessageBoxes final : public MessageBoxService {
 public:
  explicit TranslatingMessageBoxes(MessageBoxService& qtService) : qtService_(qtService) {}
  MessageAnswer Show(const MessageRequest& request) override {
    MessageBoxService& target = installedMessageBoxes ? *installedMessageBoxes : qtService_;
    if (installedTranslation == nullptr || installedTranslation->IsDefaultLanguage()) {
      return target.Show(request);
    }
    MessageRequest translated = request;
    translated.text = installedTranslation->Lookup(request.text);
    translated.caption = installedTranslation->Lookup(request.caption);
    return target.Show(translated);
  }

 private:
  MessageBoxService& qtService_;
};

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
  QMessageBox box(ToQtIcon(request.icon), QString::fromStdString(request.caption),
                  QString::fromStdString(request.text),
                  request.buttons == MessageButtons::OkCancel
                      ? QMessageBox::Ok | QMessageBox::Cancel
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

bool QtKeyState::IsCtrlHeld() const {
  return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

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

void QtEventPump::SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

MessageBoxService& MessageBoxes() {
  static QtMessageBoxService qtService;
  static TranslatingMessageBoxes translating(qtService);
  return translating;
}

KeyState& Keys() {
  static QtKeyState qtKeys;
  return installedKeys ? *installedKeys : qtKeys;
}

EventPump& Pump() {
  static QtEventPump qtPump;
  return installedPump ? *installedPump : qtPump;
}

void InstallMessageBoxService(MessageBoxService* service) { installedMessageBoxes = service; }
void InstallKeyState(KeyState* keys) { installedKeys = keys; }
void InstallEventPump(EventPump* pump) { installedPump = pump; }
void InstallMessageTranslation(const TextLookup* lookup) { installedTranslation = lookup; }
const TextLookup* MessageTranslation() { return installedTranslation; }

}  // namespace rolta

namespace rolta {
namespace {

// Each call goes to the service in force at that moment, so a test may
// install its scripted services after a window was built.
class CurrentMessageBoxes final : public MessageBoxService {
 public:
  MessageAnswer Show(const MessageRequest& request) override { return MessageBoxes().Show(request); }
};
class CurrentKeys final : public KeyState {
 public:
  bool IsCtrlHeld() const override { return Keys().IsCtrlHeld(); }
  bool IsEscapeHeld() const override { return Keys().IsEscapeHeld(); }
};
class CurrentPump final : public EventPump {
 public:
  void ProcessPendingEvents() override { Pump().ProcessPendingEvents(); }
  void SleepMilliseconds(int milliseconds) override { Pump().SleepMilliseconds(milliseconds); }
};

}  // namespace

HostServices CurrentServices() {
  static CurrentMessageBoxes boxes;
  static CurrentKeys keys;
  static CurrentPump pump;
  return {boxes, pump, keys};
}

}  // namespace rolta
