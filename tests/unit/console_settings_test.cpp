// The 12-byte settings file: reading, range checks and writing.
#include "console/console_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace rolta {
namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/rolta-settings-XXXXXX";
    folder_ = mkdtemp(pattern);
    path_ = folder_ / "QRX5000B.CFG";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void WriteWords(const std::vector<std::int32_t>& words, std::size_t byteCount) {
    std::vector<std::uint8_t> bytes;
    for (std::int32_t word : words) {
      for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(word) >> (8 * i)));
    }
    bytes.resize(byteCount);
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::filesystem::path folder_;
  std::filesystem::path path_;
};

TEST_F(SettingsFileTest, MissingFileGivesNothingSoTheCallerUsesTheDefaults) {
  EXPECT_FALSE(LoadSettings(path_).has_value());
  EXPECT_EQ(kDefaultSettings, (ConsoleSettings{0, 4, 26}));
}

TEST_F(SettingsFileTest, ValuesInRangeAreKeptEvenBeyondTheListLength) {
  WriteWords({2, 0, 8}, 12);
  EXPECT_EQ(LoadSettings(path_), (ConsoleSettings{2, 0, 8}));
  WriteWords({0, 7, 1000}, 12);
  EXPECT_EQ(LoadSettings(path_), (ConsoleSettings{0, 7, 1000}));
}

TEST_F(SettingsFileTest, OutOfRangeValuesAreReplacedPortByFour) {
  WriteWords({-1, 7, 5000}, 12);
  EXPECT_EQ(LoadSettings(path_), (ConsoleSettings{4, 7, 26}));
  WriteWords({1001, -5, -1}, 12);
  EXPECT_EQ(LoadSettings(path_), (ConsoleSettings{4, 4, 26}));
}

TEST_F(SettingsFileTest, FieldsAShortFileDoesNotCoverCountAsOutOfRange) {
  WriteWords({3, 2, 9}, 7);
  EXPECT_EQ(LoadSettings(path_), (ConsoleSettings{3, 4, 26}));
  WriteWords({}, 0);
  EXPECT_EQ(LoadSettings(path_), (ConsoleSettings{4, 4, 26}));
  WriteWords({3, 2, 9}, 11);
  EXPECT_EQ(LoadSettings(path_), (ConsoleSettings{3, 2, 26}));
}

TEST_F(SettingsFileTest, SaveWritesTwelveLittleEndianBytesAndLoadReadsThemBack) {
  ASSERT_TRUE(SaveSettings(path_, {-1, 3, 45}));
  std::ifstream file(path_, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(bytes, (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 45, 0, 0, 0}));
  // A port list that was empty at exit stores -1; the next start takes 4.
  EXPECT_EQ(LoadSettings(path_), (ConsoleSettings{4, 3, 45}));
}

TEST_F(SettingsFileTest, SaveCreatesAMissingConfigurationFolder) {
  const auto nested = folder_ / "fresh" / "config" / "QRX5000B.CFG";
  ASSERT_TRUE(SaveSettings(nested, {1, 2, 3}));
  EXPECT_EQ(LoadSettings(nested), (ConsoleSettings{1, 2, 3}));
}

TEST_F(SettingsFileTest, AnUnwritableFileIsReportedToTheCallerOnly) {
  ASSERT_TRUE(SaveSettings(path_, {1, 2, 3}));
  if (geteuid() == 0) {
    // root writes through permissions; a folder in place of the file cannot be written by anyone.
    std::filesystem::remove(path_);
    std::filesystem::create_directory(path_);
  } else {
    chmod(path_.c_str(), 0444);
  }
  EXPECT_FALSE(SaveSettings(path_, {5, 1, 7}));
}

TEST(SettingsPathTest, FollowsXdgConfigHomeThenHome) {
  const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string keptConfig = savedConfig ? savedConfig : "";
  setenv("XDG_CONFIG_HOME", "/srv/cfg", 1);
  EXPECT_EQ(SettingsFilePath(), std::filesystem::path("/srv/cfg/QRX5000B.CFG"));
  unsetenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (home) {
    EXPECT_EQ(SettingsFilePath(), std::filesystem::path(home) / ".config" / "QRX5000B.CFG");
  }
  if (savedConfig) setenv("XDG_CONFIG_HOME", keptConfig.c_str(), 1);
}

TEST(SpeedListTest, PositionsMapToBaudAndAnythingElseTo115200) {
  const std::uint32_t expected[] = {9600, 19200, 38400, 57600, 115200};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(BaudFromSpeedIndex(i), expected[i]);
  EXPECT_EQ(kSpeedList[0].text, "9.6K");
  EXPECT_EQ(kSpeedList[4].text, "115.2K");
  EXPECT_EQ(BaudFromSpeedIndex(-1), 115200u);
  EXPECT_EQ(BaudFromSpeedIndex(7), 115200u);
}

}  // namespace
}  // namespace rolta
