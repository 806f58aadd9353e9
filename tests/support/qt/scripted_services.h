// Test doubles for the console's window-system services: message boxes are
// recorded and answered from a script, keys are held by the test. A test
// hands them to the window it builds.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "env/ui/qt_services.h"
#include "env/ui_services.h"

namespace rolta::test {

class ScriptedMessageBoxes final : public MessageBoxService {
 public:
  // Answers the next box; unanswered boxes get Ok.
  void Answer(MessageAnswer answer) { answers_.push_back(answer); }
  // Runs while the box is "open" (e.g. to check the window state at that moment).
  void OnShow(std::function<void(const MessageRequest&)> hook) { hook_ = std::move(hook); }

  MessageAnswer Show(const MessageRequest& request) override;

  const std::vector<MessageRequest>& Shown() const { return shown_; }
  void Clear() { shown_.clear(); }

 private:
  std::deque<MessageAnswer> answers_;
  std::vector<MessageRequest> shown_;
  std::function<void(const MessageRequest&)> hook_;
};

class ScriptedKeys final : public KeyState {
 public:
  bool IsCtrlHeld() const override { return ctrl; }
  bool IsEscapeHeld() const override { return escape; }
  bool ctrl = false;
  bool escape = false;
};

// Scripted boxes and keys with the window system's own event pump.
struct ScriptedServices {
  ScriptedMessageBoxes boxes;
  ScriptedKeys keys;
  QtEventPump pump;

  HostServices Host() { return {boxes, pump, keys}; }
};

}  // namespace rolta::test
