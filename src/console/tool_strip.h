// The tools window's logic: lift up and down, the manual pair "M"/"MS", and
// where the tools page, the help file and our own operator's guide are found.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "env/text_lookup.h"
#include "link/byte_channel.h"
#include "link/frames.h"

namespace rolta {

enum class ToolButton : std::uint8_t { Up, Down, Manual, ManualStop, Ok };

// What "M" becomes after a button.
enum class ManualEnable : std::uint8_t { Keep, Enable, Disable, WhileLiftDown };

struct ToolButtonRow {
  ToolButton button;
  std::string_view text;
  int liftState;           // -1: unchanged
  ManualEnable manual;     // "M"
  bool enablesManualStop;  // "MS"
  std::uint8_t command;    // 0: nothing is sent
  bool hides;
};
std::span<const ToolButtonRow> ToolButtons();
const ToolButtonRow& ToolButtonOf(ToolButton button);

class ToolStrip {
 public:
  explicit ToolStrip(ByteChannel& channel) : channel_(channel) {}

  // Applies a button: states, and the lift command through the strip's own
  // ShortFrame. The channel is not tested: on a closed one nothing goes out.
  // Returns true when the window is to hide.
  bool Press(ToolButton button);

  int LiftState() const { return liftState_; }
  bool ManualEnabled() const { return manualEnabled_; }
  bool ManualStopEnabled() const { return manualStopEnabled_; }

 private:
  ByteChannel& channel_;
  ShortFrame shortFrame_;
  int liftState_ = 1;
  bool manualEnabled_ = false;
  bool manualStopEnabled_ = true;
};

// The folder of the pages in the console's language ("en" for en/tools.htm),
// as its dictionary names it under kPagesLanguageKey; empty for the default
// language and for a dictionary without the entry.
inline constexpr std::string_view kPagesLanguageKey = "页面语言";
std::string PagesLanguage(const TextLookup& lookup);

// "<current directory>/tools.htm".
inline constexpr std::string_view kToolsPageName = "tools.htm";
std::filesystem::path ToolsPagePath(const std::filesystem::path& currentDirectory);
// What "工具" shows: the tools page of the current directory (a bench's own)
// when there is one, else the page shipped with the program; nothing when
// neither is there. In each place the language's own page comes first.
std::optional<std::filesystem::path> FindToolsPage(const std::filesystem::path& currentDirectory,
                                                   const std::filesystem::path& programDirectory,
                                                   std::string_view language = {});
// "QRX5000说明.CHM" beside the program.
std::filesystem::path HelpFilePath(const std::filesystem::path& programDirectory);

// What "帮助" shows: the maker's help file when it is there, else our own
// operator's guide shipped with the program (in the language's own version
// when there is one), else nothing.
struct HelpTarget {
  enum class Kind : std::uint8_t { HelpFile, Guide } kind;
  std::filesystem::path path;
};
inline constexpr std::string_view kGuideFileName = "rolta-guide.html";
std::optional<HelpTarget> FindHelp(const std::filesystem::path& programDirectory, std::string_view language = {});

}  // namespace rolta
