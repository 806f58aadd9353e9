// Qt implementations of the console's window-system services. A program's
// entry creates them once and hands them to the windows it opens; tests hand
// in scripted ones instead.
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
// application event filter (pressed and not yet released), so it is created
// after the application object and before any window shows.
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

// The window system's own services together, as a program's entry holds them.
struct QtServices {
  QtMessageBoxService boxes;
  QtEventPump pump;
  QtKeyState keys;

  HostServices Host() { return {boxes, pump, keys}; }
};

// Hands each box to `target`; in a language other than Chinese its text and
// caption pass through the lookup first, so fixed messages (the closed
// channel, string resources) are translated too.
class TranslatingMessageBoxes final : public MessageBoxService {
 public:
  TranslatingMessageBoxes(const TextLookup& lookup, MessageBoxService& target) : lookup_(lookup), target_(target) {}
  MessageAnswer Show(const MessageRequest& request) override;

 private:
  const TextLookup& lookup_;
  MessageBoxService& target_;
};

}  // namespace rolta
