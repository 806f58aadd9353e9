// Qt implementations of the console's window-system services, and the one
// place the process's current services are looked up, so a test can install
// scripted ones (answers to message boxes, keys held).
#pragma once

#include <QObject>

#include "env/text_lookup.h"
#include "env/ui_services.h"

namespace rolta {

class QtMessageBoxService final : public MessageBoxService {
 public:
  MessageAnswer Show(const MessageRequest& request) override;
};

// Ctrl comes from the keyboard's current state; Escape is tracked by an
// application event filter (pressed and not yet released).
class QtKeyState final : public QObject, public KeyState {
  Q_OBJECT
 public:
  QtKeyState();
  ~QtKeyState() override;
  bool IsCtrlHeld() const override;
  bool IsEscapeHeld() const override { return escapeHeld_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool escapeHeld_ = false;
};

class QtEventPump final : public EventPump {
 public:
  void ProcessPendingEvents() override;
  void SleepMilliseconds(int milliseconds) override;
};

// The services in force; the Qt ones unless a test installed others.
MessageBoxService& MessageBoxes();
KeyState& Keys();
EventPump& Pump();
// nullptr restores the Qt service.
void InstallMessageBoxService(MessageBoxService* service);
void InstallKeyState(KeyState* keys);
void InstallEventPump(EventPump* pump);
// In a language other than Chinese the text and caption of every message box
// pass through this lookup on their way to the service in force, so fixed
// messages (the closed channel, string resources) are translated too;
// nullptr: none.
void InstallMessageTranslation(const TextLookup* lookup);
const TextLookup* MessageTranslation();
// Services that forward every call to the ones in force at that moment.
HostServices CurrentServices();

}  // namespace rolta
