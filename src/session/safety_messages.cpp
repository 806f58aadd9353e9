#include "session/safety_messages.h"

namespace rolta {
namespace {

constexpr std::string_view kHardwareStopAdvice = "请立即使用试验台的硬件急停!";

}  // namespace

MessageRequest LineLostMessage(const TextLookup& lookup, const std::string& port) {
  return {lookup.Lookup("通讯中断") + ": " + port + "\n" +
              lookup.Lookup("读数已停止更新。请检查串口线或USB转换器, 然后按\"设置\"重新连接。"),
          lookup.Lookup("通讯错误"), MessageIcon::Warning, MessageButtons::Ok};
}

MessageRequest WriteFailedMessage(const TextLookup& lookup, std::string_view command, const std::string& port) {
  return {lookup.Lookup("指令未能发送") + ": " + lookup.Lookup(command) + "\n" + lookup.Lookup("通讯口") + ": " + port,
          lookup.Lookup("通讯错误"), MessageIcon::Warning, MessageButtons::Ok};
}

MessageRequest EmergencyStopNotSentMessage(const TextLookup& lookup, const std::string& port) {
  return {lookup.Lookup("急停指令未能发送") + "\n" + lookup.Lookup("通讯口") + ": " + port + "\n" +
              lookup.Lookup(kHardwareStopAdvice),
          lookup.Lookup("急停未确认"), MessageIcon::Stop, MessageButtons::Ok};
}

MessageRequest EmergencyStopUnconfirmedMessage(const TextLookup& lookup, bool refused) {
  return {lookup.Lookup(refused ? "控制器拒绝了急停指令。" : "控制器在1秒内没有应答急停指令。") + "\n" +
              lookup.Lookup(kHardwareStopAdvice),
          lookup.Lookup("急停未确认"), MessageIcon::Stop, MessageButtons::Ok};
}

}  // namespace rolta
