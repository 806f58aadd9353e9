#include "env/config_home.h"

#include <cstdlib>

namespace rolta {

std::filesystem::path ConfigHome() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) return config;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".config";
}

}  // namespace rolta
