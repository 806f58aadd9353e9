#include "readouts/console_texts.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

#include "readouts/string_resources.h"
#include "env/shown_text.h"
#include "link/command_codes.h"

namespace rolta {

std::string FrameStatusText(const TextLookup& lookup, std::uint8_t frameType, std::int16_t numth) {
  if (numth == kRejectedNumth) return lookup.Lookup(kInvalidCommandText);
  // Digits by hand: this runs for every frame the screen shows. A signed
  // 16-bit number takes at most 6 characters, a signed byte 4.
  char text[32] = "Numth: ";
  char* at = std::to_chars(text + 7, text + 14, static_cast<long>(numth)).ptr;
  *at++ = ' ';
  at = std::to_chars(at, at + 4, static_cast<int>(static_cast<std::int8_t>(frameType))).ptr;
  return std::string(text, at);
}

std::string EnvLoadErrorText(const TextLookup& lookup, int loadResult) {
  const std::string reason = lookup.Lookup("版本不匹配_加载错误_该文件不存在");
  return FormatText("envkit.dll %s ErrCode: [%d]", reason.c_str(), loadResult);
}

std::string AlreadyRunningText() { return FormatText("%s已经运行!", std::string(kConsoleTitle).c_str()); }

std::string AboutVersionLine(std::string_view versionText) {
  std::string cleaned;
  for (char c : versionText) {
    if (c == ' ') continue;
    cleaned += (c == ',') ? '.' : c;
  }
  return FormatText("ROLTA Version %s (%d点标定) for Win2000/NT/XP", cleaned.c_str(), kCalibrationPointCount);
}

std::string AboutVersionLine(std::string_view versionText, const TextLookup& lookup) {
  if (lookup.IsDefaultLanguage()) return AboutVersionLine(versionText);
  // The translated words go in as a piece, never as a format: a dictionary
  // entry cannot bring conversions of its own.
  std::string line = AboutVersionLine(versionText);
  const std::string_view points = "点标定";
  if (const std::size_t at = line.find(points); at != std::string::npos) {
    line.replace(at, points.size(), lookup.Lookup(points));
  }
  return line;
}

std::vector<std::string> VersionTipsLines(const TextLookup& lookup) {
  const std::string andLater = lookup.Lookup("以上版本");
  auto matchLine = [&](const char* format) { return lookup.Lookup(FormatText(format, andLater.c_str())); };
  auto resource = [&lookup](int id) { return ShownText(lookup, StringResource(id)); };
  return {
      resource(104),
      resource(105),
      resource(106),
      resource(107),
      std::string(58, '-'),
      matchLine("ROLTA V3.74 －  QRX5000B 7.34  %s"),
      matchLine("ROLTA V3.72 －  QRX5000B 7.33  %s"),
      resource(122),
      resource(121),
      resource(109),
      resource(108),
      std::string(59, '-'),
  };
}

ControllerVersionTexts VersionAnswerTexts(const TextLookup& lookup, bool fromUpgradeProgram, double version) {
  return {lookup.Lookup(fromUpgradeProgram ? "QRX5000升级程序版本" : "QRX5000控制器版本"),
          FormatText("Ver%.2f", version)};
}

ControllerVersionTexts VersionQueryTexts(const TextLookup& lookup) {
  return {lookup.Lookup("通讯端口未打开"), ShownText(lookup, "版本小于Ver6.66或通讯错误")};
}

MessageRequest OpenFailureMessage(const TextLookup& lookup, const std::string& portName, std::error_code error) {
  struct Advice {
    std::errc reason;
    const char* text;
  };
  static constexpr Advice kAdvice[] = {
      {std::errc::permission_denied, "没有访问权限: 请把用户加入 dialout 组 (sudo adduser $USER dialout) 后重新登录"},
      {std::errc::operation_not_permitted,
       "没有访问权限: 请把用户加入 dialout 组 (sudo adduser $USER dialout) 后重新登录"},
      {std::errc::device_or_resource_busy, "通讯口被其他程序占用: 请先关闭占用它的程序"},
      {std::errc::no_such_file_or_directory, "设备不存在: 请检查串口线或USB转换器是否插好"},
      {std::errc::no_such_device, "设备不存在: 请检查串口线或USB转换器是否插好"},
      {std::errc::no_such_device_or_address, "设备不存在: 请检查串口线或USB转换器是否插好"},
      {std::errc::invalid_argument, "该设备不支持所选的通讯参数"},
  };
  std::string text = lookup.Lookup("无法打开通讯口") + " " + portName;
  const char* advice = nullptr;
  for (const Advice& row : kAdvice) {
    if (error == row.reason) advice = row.text;
  }
  if (advice != nullptr) {
    text += '\n';
    text += lookup.Lookup(advice);
  } else if (error) {
    text += '\n';
    text += error.message();
  }
  return {text, lookup.Lookup("通讯错误"), MessageIcon::Stop, MessageButtons::Ok};
}

}  // namespace rolta
