#include "serial_ports.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "envkit_paths.h"

namespace envkit {
namespace {

namespace fs = std::filesystem;

// The number after prefix, when name is prefix followed by digits only.
std::optional<long> DeviceNumber(const std::string& name, std::string_view prefix) {
  if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 9) {
    return std::nullopt;
  }
  long number = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

std::vector<std::string> DeviceFamily(std::string_view prefix) {
  std::vector<std::pair<long, std::string>> found;
  std::error_code error;
  for (fs::directory_iterator it("/dev", error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (const auto number = DeviceNumber(name, prefix)) found.emplace_back(*number, std::move(name));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& entry : found) names.push_back(std::move(entry.second));
  return names;
}

// A ttyS node exists for every possible legacy port; only those bound to a
// driver and of a known UART type are real.
bool HasUart(const std::string& name) {
  std::error_code error;
  const fs::path sys = fs::path("/sys/class/tty") / name;
  if (!fs::exists(sys / "device" / "driver", error)) return false;
  std::ifstream type_file(sys / "type");
  int type = -1;
  if (type_file >> type) return type != PORT_UNKNOWN;
  const int fd = ::open(("/dev/" + name).c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return true;  // not readable by us: the driver binding decides
  serial_struct info{};
  const bool unknown = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
  ::close(fd);
  return !unknown;
}

std::vector<std::string> ConfiguredPorts() {
  std::vector<std::string> paths;
  if (const char* variable = std::getenv("ROLTA_EXTRA_PORTS")) {
    std::string_view rest(variable);
    while (!rest.empty()) {
      const std::size_t colon = rest.find(':');
      paths.emplace_back(rest.substr(0, colon));
      rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    }
  }
  if (const auto directory = ConfigDirectory()) {
    std::ifstream file(*directory / "extra-ports");
    std::string line;
    while (std::getline(file, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      paths.push_back(line);
    }
  }
  return paths;
}

class PortListBuilder {
 public:
  explicit PortListBuilder(rolta::PortList& list) : list_(list) { list_ = rolta::PortList{}; }

  void AddPath(std::string_view path) {
    if (path.empty() || path[0] != '/') return;
    if (path.starts_with("/dev/")) path.remove_prefix(5);
    AddName(path);
  }

  void AddName(std::string_view name) {
    if (name.empty() || name.size() >= static_cast<std::size_t>(rolta::kPortNameSize)) return;
    if (list_.count >= rolta::kPortListCapacity) return;
    for (int i = 0; i < list_.count; ++i) {
      if (name == list_.names[i]) return;
    }
    std::memcpy(list_.names[list_.count], name.data(), name.size());
    list_.names[list_.count][name.size()] = '\0';
    ++list_.count;
  }

 private:
  rolta::PortList& list_;
};

}  // namespace

int CollectSerialPorts(rolta::PortList& list) {
  PortListBuilder builder(list);
  for (const std::string& path : ConfiguredPorts()) builder.AddPath(path);
  for (const std::string& name : DeviceFamily("ttyS")) {
    if (HasUart(name)) builder.AddName(name);
  }
  for (const std::string& name : DeviceFamily("ttyUSB")) builder.AddName(name);
  for (const std::string& name : DeviceFamily("ttyACM")) builder.AddName(name);
  return list.count;
}

}  // namespace envkit
