#include "scripted_services.h"

namespace rolta::test {

MessageAnswer ScriptedMessageBoxes::Show(const MessageRequest& request) {
  shown_.push_back(request);
  if (hook_) hook_(request);
  if (answers_.empty()) return MessageAnswer::Ok;
  const MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

}  // namespace rolta::test
