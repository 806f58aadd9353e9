#include "envkit_paths.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace envkit {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> XdgDirectory(const char* variable, const char* home_relative) {
  const char* configured = std::getenv(variable);
  // The XDG rules ignore relative values.
  if (configured != nullptr && configured[0] == '/') return fs::path(configured) / "rolta";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return fs::path(home) / home_relative / "rolta";
  return std::nullopt;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

std::optional<fs::path> ConfigDirectory() { return XdgDirectory("XDG_CONFIG_HOME", ".config"); }

std::optional<fs::path> StateDirectory() { return XdgDirectory("XDG_STATE_HOME", ".local/state"); }

std::optional<fs::path> LibraryDirectory() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&LibraryDirectory), &info) == 0 || info.dli_fname == nullptr) {
    return std::nullopt;
  }
  std::error_code error;
  const fs::path library = fs::weakly_canonical(info.dli_fname, error);
  if (error) return std::nullopt;
  return library.parent_path();
}

bool ReplaceFile(const fs::path& path, const std::string& bytes) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  if (error) return false;
  const fs::path temporary = path.string() + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace envkit
