#include "console/tool_strip.h"

#include <algorithm>
#include <system_error>

#include "env/shipped_files.h"
#include "link/command_codes.h"

namespace rolta {
namespace {

constexpr ToolButtonRow kToolButtons[] = {
    {ToolButton::Up, "U", 1, ManualEnable::Disable, true, command::kLiftUp, false},
    {ToolButton::Down, "D", 0, ManualEnable::Enable, true, command::kLiftDown, false},
    {ToolButton::Manual, "M", -1, ManualEnable::Disable, true, 0, false},
    {ToolButton::ManualStop, "MS", -1, ManualEnable::WhileLiftDown, true, 0, false},
    {ToolButton::Ok, "OK", -1, ManualEnable::Keep, false, 0, true},
};

bool IsFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::span<const ToolButtonRow> ToolButtons() { return kToolButtons; }

const ToolButtonRow& ToolButtonOf(ToolButton button) {
  return *std::find_if(std::begin(kToolButtons), std::end(kToolButtons),
                       [button](const ToolButtonRow& row) { return row.button == button; });
}

bool ToolStrip::Press(ToolButton button) {
  const ToolButtonRow& row = ToolButtonOf(button);
  if (row.liftState >= 0) liftState_ = row.liftState;
  switch (row.manual) {
    case ManualEnable::Keep: break;
    case ManualEnable::Enable: manualEnabled_ = true; break;
    case ManualEnable::Disable: manualEnabled_ = false; break;
    case ManualEnable::WhileLiftDown: manualEnabled_ = liftState_ == 0; break;
  }
  if (row.enablesManualStop) manualStopEnabled_ = true;
  if (row.command != 0) {
    shortFrame_.SetCommand(row.command);
    const auto bytes = shortFrame_.Seal();
    channel_.Write(bytes.data(), bytes.size());
  }
  return row.hides;
}

std::filesystem::path ToolsPagePath(const std::filesystem::path& currentDirectory) {
  return currentDirectory / kToolsPageName;
}

std::string PagesLanguage(const TextLookup& lookup) {
  if (lookup.IsDefaultLanguage()) return {};
  std::string language = lookup.Lookup(kPagesLanguageKey);
  return language == kPagesLanguageKey ? std::string() : language;
}

std::optional<std::filesystem::path> FindToolsPage(const std::filesystem::path& currentDirectory,
                                                   const std::filesystem::path& programDirectory,
                                                   std::string_view language) {
  for (const auto& name : LanguageNames(language, kToolsPageName)) {
    if (const auto own = currentDirectory / name; IsFile(own)) return own;
  }
  return FindShippedForProgram(programDirectory, kToolsPageName, language);
}

std::filesystem::path HelpFilePath(const std::filesystem::path& programDirectory) {
  return programDirectory / "QRX5000说明.CHM";
}

std::optional<HelpTarget> FindHelp(const std::filesystem::path& programDirectory, std::string_view language) {
  if (const auto chm = HelpFilePath(programDirectory); IsFile(chm)) return HelpTarget{HelpTarget::Kind::HelpFile, chm};
  if (auto guide = FindShippedForProgram(programDirectory, kGuideFileName, language)) {
    return HelpTarget{HelpTarget::Kind::Guide, std::move(*guide)};
  }
  return std::nullopt;
}

}  // namespace rolta
