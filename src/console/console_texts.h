// Texts the console composes outside the receive path: start-up errors, the
// about box's version line, the version tips list and the version display.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "env/text_lookup.h"

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

// The twelve lines of the version tips list, in order.
std::vector<std::string> VersionTipsLines(const TextLookup& lookup);

// Caption and value of the about box after a version answer.
struct ControllerVersionTexts {
  std::string caption;
  std::string value;
};
ControllerVersionTexts VersionAnswerTexts(const TextLookup& lookup, bool fromUpgradeProgram,
                                          double version);
// What the about box shows right after a query, until an answer comes.
ControllerVersionTexts VersionQueryTexts(const TextLookup& lookup);

// printf-style formatting into a std::string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace rolta
