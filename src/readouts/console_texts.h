// Texts the console composes: start-up errors, the about box's version line,
// the version tips list, the version display and the receive path's status line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "env/number_text.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"

namespace rolta {

inline constexpr std::string_view kConsoleTitle = "QRX5000B控制器";
inline constexpr std::string_view kTipsTitle = "重要提示";
inline constexpr int kCalibrationPointCount = 10;

// "envkit.dll %s ErrCode: [%d]" after a failed library load.
std::string EnvLoadErrorText(const TextLookup& lookup, int loadResult);
// "%s已经运行!" filled with the console title.
std::string AlreadyRunningText();
inline constexpr std::string_view kAlreadyRunningCaption = "ROLTA错误提示";

// "ROLTA Version %s (%d点标定) for Win2000/NT/XP": spaces removed from the
// library's version text and commas turned into dots.
std::string AboutVersionLine(std::string_view versionText);
// The same in the lookup's language ("(10-point calibration)" in English).
std::string AboutVersionLine(std::string_view versionText, const TextLookup& lookup);

// The twelve lines of the version tips list, in order.
std::vector<std::string> VersionTipsLines(const TextLookup& lookup);

// Caption and value of the about box after a version answer.
struct ControllerVersionTexts {
  std::string caption;
  std::string value;
  bool operator==(const ControllerVersionTexts&) const = default;
};
ControllerVersionTexts VersionAnswerTexts(const TextLookup& lookup, bool fromUpgradeProgram, double version);
// What the about box shows right after a query, until an answer comes.
ControllerVersionTexts VersionQueryTexts(const TextLookup& lookup);

// Status-line texts of the receive path.
inline constexpr const char* kInvalidCommandText = "无效指令";
inline constexpr const char* kVersionMismatchText = "ROLTA/QRX5000版本不匹配。请点击\"版本号\"获取信息";

// The status line for a frame with a good checksum: "Numth: %ld %d" of Numth
// and the type as a signed byte, or the rejected-command text.
std::string FrameStatusText(const TextLookup& lookup, std::uint8_t frameType, std::int16_t numth);

// The box after a port could not be opened: the port, the reason and, where
// the cause is known, what to do about it.
MessageRequest OpenFailureMessage(const TextLookup& lookup, const std::string& portName, std::error_code error);

}  // namespace rolta
