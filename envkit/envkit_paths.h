// Where the stand-in environment library keeps its files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace envkit {

// $XDG_CONFIG_HOME/rolta, or ~/.config/rolta; nothing when neither is known.
std::optional<std::filesystem::path> ConfigDirectory();
// $XDG_STATE_HOME/rolta, or ~/.local/state/rolta; nothing when neither is known.
std::optional<std::filesystem::path> StateDirectory();
// The folder this library was loaded from.
std::optional<std::filesystem::path> LibraryDirectory();

// Writes bytes to path through a temporary file and a rename, so a reader
// never sees half a file; creates the folders. False on any failure.
bool ReplaceFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace envkit
