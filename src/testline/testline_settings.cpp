#include "testline/testline_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "env/config_home.h"
#include "env/key_value_file.h"

namespace rolta {
namespace {

constexpr std::string_view kKeyringService = "rolta-testline";

bool ParseBool(std::string_view text, bool& value) {
  if (text == "1" || text == "true" || text == "yes" || text == "on") return value = true, true;
  if (text == "0" || text == "false" || text == "no" || text == "off") return value = false, true;
  return false;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  Number parsed{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc{} || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

// Sets the field the key names; false for an unknown key or a bad value.
bool ApplySetting(TestLineSettings& s, const std::string& key, const std::string& value) {
  if (key == "enabled") return ParseBool(value, s.enabled);
  if (key == "port") return ParseNumber(value, s.port) && s.port > 0 && s.port < 65536;
  if (key == "live_rate") {
    return ParseNumber(value, s.liveRate) && s.liveRate >= kMinLiveRate && s.liveRate <= kMaxLiveRate;
  }
  if (key == "bench") return IsValidBenchName(value) && (s.benchName = value, true);
  if (key == "topic_prefix") return !value.empty() && IsValidBenchName(value) && (s.topicPrefix = value, true);
  std::string TestLineSettings::*text = key == "host"        ? &TestLineSettings::host
                                        : key == "ca_file"   ? &TestLineSettings::caFile
                                        : key == "cert_file" ? &TestLineSettings::certFile
                                        : key == "key_file"  ? &TestLineSettings::keyFile
                                        : key == "username"  ? &TestLineSettings::username
                                                             : nullptr;
  if (text == nullptr) return false;
  s.*text = value;
  return true;
}

bool KeyringTurnedOff() {
  const char* value = std::getenv("ROLTA_KEYRING");
  return value != nullptr && (std::string_view(value) == "off" || std::string_view(value) == "0");
}

bool SecretToolInstalled() {
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "";
  while (!rest.empty()) {
    const std::size_t colon = std::min(rest.find(':'), rest.size());
    const std::string candidate = std::string(rest.substr(0, colon)) + "/secret-tool";
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    rest.remove_prefix(std::min(colon + 1, rest.size()));
  }
  return false;
}

std::string KeyringCommand(std::string_view verb) {
  return "secret-tool " + std::string(verb) + " service " + std::string(kKeyringService) + " 2>/dev/null";
}

}  // namespace

std::filesystem::path TestLineSettingsPath() { return ConfigHome() / "rolta" / "testline.conf"; }
std::filesystem::path TestLinePasswordPath() { return ConfigHome() / "rolta" / "testline.secret"; }

bool IsValidBenchName(const std::string& name) {
  if (name.size() > 64) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || c == '/' || c == '+' || c == '#') return false;
  }
  return true;
}

std::string BenchNameOr(const TestLineSettings& settings, const std::string& portName) {
  if (!settings.benchName.empty()) return settings.benchName;
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) != 0) host = {};
  std::string name = host.data();
  if (!portName.empty()) name += "-" + std::filesystem::path(portName).filename().string();
  for (char& c : name) {
    if (!IsValidBenchName(std::string(1, c))) c = '_';
  }
  return name.substr(0, 64);
}

TestLineSettingsResult LoadTestLineSettings(const std::filesystem::path& path) {
  TestLineSettingsResult result;
  for (const KeyValueLine& line : ReadKeyValueFile(path).lines) {
    if (!line.hasEquals || !ApplySetting(result.settings, line.key, line.value)) {
      if (result.problem.empty()) result.problem = std::to_string(line.number) + ": " + line.text;
    }
  }
  return result;
}

bool SaveTestLineSettings(const std::filesystem::path& path, const TestLineSettings& s) {
  std::error_code ignored;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file << "# ROLTA test line (MQTT); the password is kept apart\n"
       << "enabled=" << (s.enabled ? "true" : "false") << "\nhost=" << s.host << "\nport=" << s.port
       << "\nca_file=" << s.caFile << "\ncert_file=" << s.certFile << "\nkey_file=" << s.keyFile
       << "\nusername=" << s.username << "\ntopic_prefix=" << s.topicPrefix << "\nbench=" << s.benchName
       << "\nlive_rate=" << s.liveRate << "\n";
  file.close();
  return static_cast<bool>(file);
}

std::string UnusableSettings(const TestLineSettings& settings) {
  if (settings.host.empty()) return "no broker host";
  for (const std::string* file : {&settings.caFile, &settings.certFile, &settings.keyFile}) {
    if (!file->empty() && !std::ifstream(*file, std::ios::binary)) return "cannot read " + *file;
  }
  if (settings.certFile.empty() != settings.keyFile.empty()) return "a client certificate needs its key";
  if (!settings.certFile.empty() && settings.caFile.empty()) return "a client certificate needs the CA file";
  return {};
}

PasswordStore::PasswordStore(std::filesystem::path fallbackFile)
    : file_(std::move(fallbackFile)), keyring_(!KeyringTurnedOff() && SecretToolInstalled()) {}

std::optional<std::string> PasswordStore::Load() const {
  if (keyring_) {
    if (FILE* pipe = ::popen(KeyringCommand("lookup").c_str(), "r")) {
      std::string password;
      std::array<char, 256> chunk{};
      std::size_t n = 0;
      while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0 && password.size() < 4096) {
        password.append(chunk.data(), n);
      }
      if (::pclose(pipe) == 0) return password;
    }
  }
  std::ifstream file(file_, std::ios::binary);
  if (!file) return std::nullopt;
  std::string password;
  std::getline(file, password);
  return password;
}

bool PasswordStore::Save(const std::string& password) const {
  if (keyring_) {
    if (password.empty()) return std::system(KeyringCommand("clear").c_str()) == 0;
    if (FILE* pipe = ::popen(
            ("secret-tool store --label='ROLTA test line' service " + std::string(kKeyringService) + " >/dev/null 2>&1")
                .c_str(),
            "w")) {
      std::fwrite(password.data(), 1, password.size(), pipe);
      if (::pclose(pipe) == 0) return true;
    }
  }
  std::error_code ignored;
  if (password.empty()) return std::filesystem::remove(file_, ignored) || !std::filesystem::exists(file_, ignored);
  if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ignored);
  // Created readable by the user only, and made so again if it existed.
  const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written =
      ::fchmod(fd, 0600) == 0 && ::write(fd, password.data(), password.size()) == static_cast<ssize_t>(password.size());
  return ::close(fd) == 0 && written;
}

TestLineSettings LoadTestLineSettingsWithPassword() {
  TestLineSettings settings = LoadTestLineSettings(TestLineSettingsPath()).settings;
  settings.password = PasswordStore().Load().value_or("");
  return settings;
}

}  // namespace rolta
