// The "测试线" settings: where this bench publishes its state, readouts and
// events (an MQTT broker), shared by the console and `rolta-cli monitor
// --mqtt`. The password never stands in the settings file: it is kept in the
// platform keyring when one is reachable, else in a file only the user reads.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace rolta {

struct TestLineSettings {
  bool enabled = false;
  std::string host = "127.0.0.1";
  int port = 1883;
  // TLS when a CA file is given; the client certificate and key are optional.
  std::string caFile;
  std::string certFile;
  std::string keyFile;
  std::string username;
  std::string password;  // not written by SaveTestLineSettings
  std::string topicPrefix = "rolta";
  // Empty: the host's name and the port's (BenchNameOr).
  std::string benchName;
  double liveRate = 10.0;  // live messages a second at most

  bool operator==(const TestLineSettings&) const = default;
};

inline constexpr double kMaxLiveRate = 10.0;
inline constexpr double kMinLiveRate = 0.1;

// config_home/rolta/testline.conf
std::filesystem::path TestLineSettingsPath();
// config_home/rolta/testline.secret, the password when no keyring is reachable.
std::filesystem::path TestLinePasswordPath();

struct TestLineSettingsResult {
  TestLineSettings settings;
  // The first line not understood ("3: port=x"); empty when all was read.
  std::string problem;
};
// A missing file gives the defaults (publishing off). The password is not read here.
TestLineSettingsResult LoadTestLineSettings(const std::filesystem::path& path);
bool SaveTestLineSettings(const std::filesystem::path& path, const TestLineSettings& settings);

// A bench name usable in a topic: no '/', '+', '#' or control characters.
bool IsValidBenchName(const std::string& name);
// The settings' bench name, else "<host>-<port base name>" (the host alone without a port).
std::string BenchNameOr(const TestLineSettings& settings, const std::string& portName);

// Why these settings cannot be used (no host, a TLS file that cannot be
// read); empty when they can. Checked before anything connects.
std::string UnusableSettings(const TestLineSettings& settings);

// Where the password lives: the keyring through secret-tool when it is
// installed and answers (ROLTA_KEYRING=off leaves it out), else a file
// created with mode 0600.
class PasswordStore {
 public:
  explicit PasswordStore(std::filesystem::path fallbackFile = TestLinePasswordPath());
  std::optional<std::string> Load() const;
  // An empty password removes it. False when it could not be kept.
  bool Save(const std::string& password) const;
  bool UsesKeyring() const { return keyring_; }

 private:
  std::filesystem::path file_;
  bool keyring_ = false;
};

// The settings file and the password together, as both programs start.
TestLineSettings LoadTestLineSettingsWithPassword();

}  // namespace rolta
