#include "scripted_services.h"

#include "env/ui/qt_services.h"

namespace rolta::test {

ScriptedMessageBoxes::ScriptedMessageBoxes() { InstallMessageBoxService(this); }
ScriptedMessageBoxes::~ScriptedMessageBoxes() { InstallMessageBoxService(nullptr); }

MessageAnswer ScriptedMessageBoxes::Show(const MessageRequest& request) {
  shown_.push_back(request);
  if (hook_) hook_(request);
  if (answers_.empty()) return MessageAnswer::Ok;
  const MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

ScriptedKeys::ScriptedKeys() { InstallKeyState(this); }
ScriptedKeys::~ScriptedKeys() { InstallKeyState(nullptr); }

}  // namespace rolta::test
