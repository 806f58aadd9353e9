// Where the files we ship with the programs are: in the build folder they lie
// beside the programs and the library; installed, the programs are in
// <prefix>/bin, the library in <prefix>/lib/rolta and the files in
// <prefix>/share/rolta. Header-only, so the environment library uses the same
// rule without linking the console's areas.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace rolta {

enum class ShippedKind : unsigned char { File, Folder };

// The file or folder `name` beside the program or library in `beside`, else
// in the share folder of the installation whose prefix is `prefix`; nothing
// when neither has it.
inline std::optional<std::filesystem::path> FindShipped(const std::filesystem::path& beside,
                                                        const std::filesystem::path& prefix,
                                                        const std::filesystem::path& name,
                                                        ShippedKind kind = ShippedKind::File) {
  std::error_code error;
  for (const auto& place : {beside / name, prefix / "share" / "rolta" / name}) {
    const bool found = kind == ShippedKind::File ? std::filesystem::is_regular_file(place, error)
                                                 : std::filesystem::is_directory(place, error);
    if (found) return place.lexically_normal();
  }
  return std::nullopt;
}

// The same for a program in `programDirectory` (bin/ when installed).
inline std::optional<std::filesystem::path> FindShippedForProgram(const std::filesystem::path& programDirectory,
                                                                  const std::filesystem::path& name) {
  return FindShipped(programDirectory, programDirectory / "..", name);
}

// The names a file is looked for under in a language: "<language>/<name>"
// (the files shipped in that language), then "<name>". The default language
// (empty), and a language that is not a plain folder name, give "<name>" alone.
inline std::vector<std::filesystem::path> LanguageNames(std::string_view language, const std::filesystem::path& name) {
  const bool plain = !language.empty() && language.size() <= 32 &&
                     language.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") ==
                         std::string_view::npos;
  if (!plain) return {name};
  return {std::filesystem::path(language) / name, name};
}

// The language's own file beside the program or installed, else the file itself.
inline std::optional<std::filesystem::path> FindShippedForProgram(const std::filesystem::path& programDirectory,
                                                                  const std::filesystem::path& name,
                                                                  std::string_view language) {
  for (const auto& variant : LanguageNames(language, name)) {
    if (auto found = FindShippedForProgram(programDirectory, variant)) return found;
  }
  return std::nullopt;
}

}  // namespace rolta
