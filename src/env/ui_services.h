// What the console's logic needs from the window system, as small interfaces:
// message boxes, key state, pumping pending events, pausing. The Qt windows
// implement them; tests script them, so no test waits on a modal box.
#pragma once

#include <string>
#include <string_view>

namespace rolta {

enum class MessageIcon { None, Information, Warning, Stop, Question };
enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

struct MessageRequest {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::None;
  MessageButtons buttons = MessageButtons::Ok;

  bool operator==(const MessageRequest&) const = default;
};

class MessageBoxService {
 public:
  virtual ~MessageBoxService() = default;
  // Shows the box modally and returns the operator's answer.
  virtual MessageAnswer Show(const MessageRequest& request) = 0;
};

// The box every action that needs an open channel shows when it is closed.
inline MessageRequest ChannelClosedMessage() {
  return {"通讯口未打开!", "通讯错误", MessageIcon::Stop, MessageButtons::Ok};
}

class KeyState {
 public:
  virtual ~KeyState() = default;
  virtual bool IsCtrlHeld() const = 0;
  virtual bool IsEscapeHeld() const = 0;
};

// Nested loops (start-up wait, repeat-send loop) hand control back to the
// window system through this, and pause through it so tests can run fast.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void ProcessPendingEvents() = 0;
  virtual void SleepMilliseconds(int milliseconds) = 0;
};

// Caption of every confirmation and information box (translated when shown).
inline constexpr std::string_view kConfirmCaption = "请确认";

// The services a front end hands to the logic it drives.
struct HostServices {
  MessageBoxService& boxes;
  EventPump& pump;
  KeyState& keys;
};

}  // namespace rolta
