// Where the console and its tools keep their settings files.
#pragma once

#include <filesystem>

namespace rolta {

// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path ConfigHome();

}  // namespace rolta
