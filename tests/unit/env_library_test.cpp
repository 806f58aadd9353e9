// The environment library loader against the stand-in library and its
// broken variants, and the stand-in's services as the console sees them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "env/env_library.h"

namespace rolta {
namespace {

namespace fs = std::filesystem;

const fs::path kBin = ROLTA_BIN_DIR;
const fs::path kVariants = kBin / "envkit-test";

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
 public:
  ~ScopedEnv() {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  void Set(const std::string& name, const std::string& value) {
    Remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void Unset(const std::string& name) {
    Remember(name);
    ::unsetenv(name.c_str());
  }

 private:
  void Remember(const std::string& name) {
    if (saved_.contains(name)) return;
    const char* value = std::getenv(name.c_str());
    saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

using TempDir = test::TempFolder;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Each test starts from a loaded stand-in whose files live in fresh folders.
class EnvLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set(kEnvkitDirVariable, kBin.string());
    env_.Set("XDG_CONFIG_HOME", config_.path().string());
    env_.Set("XDG_STATE_HOME", state_.path().string());
    env_.Unset("ROLTA_LANGUAGE");
    env_.Unset("ROLTA_DICTIONARY_DIR");
    env_.Unset("ROLTA_EXTRA_PORTS");
  }

  int LoadFrom(const fs::path& directory, int selector = 1) {
    env_.Set(kEnvkitDirVariable, directory.string());
    return library_.Load(selector);
  }

  ScopedEnv env_;
  TempDir config_;
  TempDir state_;
  EnvLibrary library_;
};

// ---------------------------------------------------------------- loading

TEST_F(EnvLibraryTest, EverySelectorLoadsItsOwnFile) {
  for (const int selector : {1, 2, 4, 8, 16, 0, 3, -1}) {
    SCOPED_TRACE(selector);
    EXPECT_EQ(LoadFrom(kBin, selector), 1);
    EXPECT_TRUE(library_.IsLoaded());
  }
  // A folder holding only libEnvkit.so serves the selectors that map to it.
  EXPECT_EQ(LoadFrom(kVariants / "missing-GetVers", 2), -1);
  EXPECT_EQ(LoadFrom(kVariants / "missing-GetVers", 16), -1);
  EXPECT_EQ(LoadFrom(kVariants / "wrong-size", 5), -9999);
}

TEST_F(EnvLibraryTest, LoadResultsNameWhatWentWrong) {
  TempDir empty;
  // No system directory at all.
  EXPECT_EQ(LoadFrom(empty.path() / "no-such-folder"), -1000);
  // A folder without the file, and a file that is not a library.
  EXPECT_EQ(LoadFrom(empty.path()), -1);
  EXPECT_EQ(LoadFrom(kVariants / "not-a-library"), -1);
  // The first missing entry in table order: the first (position 0), GetVers
  // (position 12) and the last of the 123 (position 122).
  EXPECT_EQ(LoadFrom(kVariants / "missing-GetEnvkitStrSize"), -2);
  EXPECT_EQ(LoadFrom(kVariants / "missing-GetVers"), -14);
  EXPECT_EQ(LoadFrom(kVariants / "missing-Hardware_GetScanData"), -124);
  // Complete, but reporting a record size other than 188910.
  EXPECT_EQ(LoadFrom(kVariants / "wrong-size"), -9999);
}

TEST_F(EnvLibraryTest, FailedLoadLeavesEveryEntryEmpty) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  ASSERT_EQ(LoadFrom(kVariants / "missing-GetVers"), -14);
  EXPECT_FALSE(library_.IsLoaded());
  for (int i = 0; i < kEnvkitEntryCount; ++i) EXPECT_FALSE(library_.HasEntry(i)) << i;
  EXPECT_EQ(library_.GetEnvkitStrSize(), -1000);
}

TEST_F(EnvLibraryTest, SystemDirectoryDefaultsToTheProgramsFolder) {
  env_.Unset(kEnvkitDirVariable);
  const auto directory = EnvLibrary::SystemDirectory();
  ASSERT_TRUE(directory.has_value());
  EXPECT_EQ(fs::canonical(*directory), fs::canonical(kBin));  // the tests live in build/bin
  env_.Set(kEnvkitDirVariable, "");
  EXPECT_EQ(EnvLibrary::SystemDirectory(), directory);
  EXPECT_EQ(library_.Load(1), 1);
}

TEST_F(EnvLibraryTest, UnloadEmptiesEveryEntry) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  for (int i = 0; i < kEnvkitEntryCount; ++i) EXPECT_TRUE(library_.HasEntry(i)) << i;
  EXPECT_EQ(library_.GetEnvkitStrSize(), 188910);

  library_.Unload();
  EXPECT_FALSE(library_.IsLoaded());
  for (int i = 0; i < kEnvkitEntryCount; ++i) EXPECT_FALSE(library_.HasEntry(i)) << i;
  EXPECT_EQ(library_.GetEnvkitStrSize(), -1000);
  EnvRecord record;
  EXPECT_EQ(library_.GetEnvkit(record), -1000);
  EXPECT_EQ(library_.GetLangueString("速度"), "No This Funciont");
  PortList ports;
  EXPECT_EQ(library_.GetSerialPortInfo(ports), -1000);
  EXPECT_EQ(ports.count, 0);
  std::array<char, 512> version{};
  EXPECT_EQ(library_.GetVers(0, version), -1000);
  EXPECT_EQ(library_.VersionText(), "");
  EXPECT_EQ(library_.SaveLog("QRX5000B", "加载成功"), -1000);
  EXPECT_EQ(library_.entries().OpenHardware(), -1000);
  EXPECT_FALSE(fs::exists(state_.path() / "rolta" / "envkit.log"));
  library_.Unload();  // twice is harmless
}

TEST_F(EnvLibraryTest, NeverLoadedEntriesAnswerLikeEmptyOnes) {
  EnvLibrary fresh;
  EXPECT_EQ(fresh.entries().Hardware_ReadAI(), -1000);
  EXPECT_EQ(fresh.GetLangueString("急停"), "No This Funciont");
}

TEST_F(EnvLibraryTest, EntriesTheConsoleNeverCallsAnswerMinus1000) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  const auto& entries = library_.entries();
  EXPECT_EQ(entries.OpenHardware(), -1000);
  EXPECT_EQ(entries.Hardware_ReadAI(), -1000);
  EXPECT_EQ(entries.SaveSysInertia(), -1000);
  EXPECT_EQ(entries.XmlOpen(), -1000);
}

TEST_F(EnvLibraryTest, VersionTextIsTheConsolesVersion) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  std::array<char, 512> buffer;
  buffer.fill('x');
  library_.GetVers(0, buffer);
  EXPECT_STREQ(buffer.data(), "3, 7, 4, 0");
  EXPECT_EQ(library_.VersionText(), "3, 7, 4, 0");
}

// ------------------------------------------------------- environment record

TEST_F(EnvLibraryTest, RecordFileMissingThenIntact) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  const fs::path file = config_.path() / "rolta" / "envkit.dat";
  EnvRecord record;
  EXPECT_EQ(library_.GetEnvkit(record), 0);  // defaults restored and written
  EXPECT_EQ(record.size(), 188910u);
  EXPECT_EQ(ReadPicturePath(record), "");
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(library_.GetEnvkit(record), 1);
}

TEST_F(EnvLibraryTest, PicturePathSurvivesASaveAndALoad) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  EnvRecord record;
  library_.GetEnvkit(record);
  ASSERT_TRUE(WritePicturePath(record, "/opt/bench/logo.png"));
  EXPECT_EQ(record[114990], '/');
  EXPECT_EQ(record[114990 + 19], 0);
  ASSERT_EQ(library_.entries().SaveEnvkit(record.data()), 1);

  EnvRecord again;
  EXPECT_EQ(library_.GetEnvkit(again), 1);
  EXPECT_EQ(ReadPicturePath(again), "/opt/bench/logo.png");
  EXPECT_EQ(again, record);
}

TEST_F(EnvLibraryTest, AlteredOrForeignRecordFileIsCorrected) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  const fs::path file = config_.path() / "rolta" / "envkit.dat";
  EnvRecord record;
  library_.GetEnvkit(record);
  WritePicturePath(record, "/opt/bench/logo.png");
  library_.entries().SaveEnvkit(record.data());
  const std::string good = ReadFile(file);

  std::string altered = good;
  altered[altered.size() - 100] ^= 0x01;  // one bit deep inside the record
  const std::string others = "[environment]\npicture=/tmp/x.png\n";
  const std::string cut = good.substr(0, good.size() - 1);
  std::string wrong_header = good;
  wrong_header[0] = 'X';
  for (const std::string& damaged : {altered, others, cut, wrong_header, std::string()}) {
    SCOPED_TRACE(damaged.size());
    WriteFile(file, damaged);
    EXPECT_EQ(library_.GetEnvkit(record), -1);
    EXPECT_EQ(ReadPicturePath(record), "");    // the defaults, not the damaged bytes
    EXPECT_EQ(library_.GetEnvkit(record), 1);  // the file was corrected
  }
}

TEST(PicturePathField, ReadsOnlyInsideTheRecord) {
  EnvRecord record(188910, 0);
  EXPECT_EQ(ReadPicturePath(record), "");
  // A path running to the last byte without a terminator is not a path.
  std::fill(record.begin() + 114990, record.end(), 'a');
  EXPECT_EQ(ReadPicturePath(record), "");
  record.back() = 0;
  EXPECT_EQ(ReadPicturePath(record).size(), 188910u - 114990u - 1u);
  EXPECT_EQ(ReadPicturePath(EnvRecord(114990, 'a')), "");
  EXPECT_EQ(ReadPicturePath(EnvRecord()), "");

  EnvRecord small(114995, 0);
  EXPECT_TRUE(WritePicturePath(small, "/a/b"));
  EXPECT_FALSE(WritePicturePath(small, "/a/bc"));  // no room for the terminator
  EXPECT_EQ(ReadPicturePath(small), "/a/b");
}

// ------------------------------------------------------------ serial ports

TEST_F(EnvLibraryTest, ConfiguredSimulatorPortsComeFirst) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  const std::string too_long = "/tmp/" + std::string(45, 'p');  // 50 bytes
  const std::string longest = "/tmp/" + std::string(44, 'q');   // 49 bytes
  env_.Set("ROLTA_EXTRA_PORTS", "/tmp/qrx-sim:/dev/pts/7::relative/port:" + too_long + ":" + longest + ":/tmp/qrx-sim");
  WriteFile(config_.path() / "rolta" / "extra-ports", "/dev/ttyV0\r\n\n/tmp/qrx-sim\n");

  PortList list;
  const int count = library_.GetSerialPortInfo(list);
  const std::vector<std::string> names = PortNames(list);
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(count, list.count);
  EXPECT_EQ(names[0], "/tmp/qrx-sim");
  EXPECT_EQ(names[1], "pts/7");
  EXPECT_EQ(names[2], longest);
  EXPECT_EQ(names[3], "ttyV0");
  for (std::size_t i = 4; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    // The machine's own devices, named without /dev/.
    EXPECT_TRUE(names[i].starts_with("ttyS") || names[i].starts_with("ttyUSB") || names[i].starts_with("ttyACM"));
    EXPECT_TRUE(fs::exists("/dev/" + names[i]));
  }
}

TEST_F(EnvLibraryTest, PortListHoldsAtMostOneHundredNames) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  std::string many;
  for (int i = 0; i < 150; ++i) many += "/tmp/sim" + std::to_string(i) + ":";
  env_.Set("ROLTA_EXTRA_PORTS", many);
  PortList list;
  library_.GetSerialPortInfo(list);
  EXPECT_EQ(list.count, 100);
  EXPECT_STREQ(list.names[99], "/tmp/sim99");
}

TEST(PortNames, BadCountsAndUnterminatedSlotsStayInsideTheList) {
  PortList list;
  std::memset(list.names, 'x', sizeof list.names);
  list.count = 1000;
  const auto names = PortNames(list);
  ASSERT_EQ(names.size(), 100u);
  EXPECT_EQ(names[99], std::string(50, 'x'));
  list.count = -7;
  EXPECT_TRUE(PortNames(list).empty());
}

// ------------------------------------------------------------- translation

TEST_F(EnvLibraryTest, ChineseIsTheDefaultLanguage) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  EXPECT_EQ(library_.GetLangueString("速度"), "速度");
  env_.Set("ROLTA_LANGUAGE", "zh_CN.UTF-8");
  EXPECT_EQ(library_.GetLangueString("速度"), "速度");
  // A language without a dictionary, or a name that is not one, falls back to Chinese.
  env_.Set("ROLTA_LANGUAGE", "fr");
  EXPECT_EQ(library_.GetLangueString("速度"), "速度");
  env_.Set("ROLTA_LANGUAGE", "../en");
  EXPECT_EQ(library_.GetLangueString("速度"), "速度");
}

TEST_F(EnvLibraryTest, EnglishDictionaryCoversTheConsoleTexts) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  env_.Set("ROLTA_LANGUAGE", "en_GB.UTF-8");  // falls back from en_GB to en
  EXPECT_EQ(library_.GetLangueString("速度"), "Speed");
  EXPECT_EQ(library_.GetLangueString("not in any dictionary"), "not in any dictionary");
  EXPECT_EQ(library_.GetLangueString(""), "");
  const char* const console_texts[] = {"速度",
                                       "力矩",
                                       "电压",
                                       "里程",
                                       "控制参数",
                                       "通讯设置",
                                       "指令区",
                                       "滑行参数",
                                       "工具",
                                       "设置",
                                       "关闭",
                                       "执行",
                                       "帮助",
                                       "版本",
                                       "升级",
                                       "急停",
                                       "标定",
                                       "退出",
                                       "无效指令",
                                       "请确认",
                                       "转速",
                                       "参数",
                                       "滑行时间",
                                       "力",
                                       "当前负荷",
                                       "负荷",
                                       "响应时间",
                                       "通道1",
                                       "通道2",
                                       "通道3",
                                       "通道4",
                                       "油耗",
                                       "加速度",
                                       "转数",
                                       "_E(速度",
                                       "力矩(小数)",
                                       "零点",
                                       "湿度",
                                       "温度",
                                       "大气压力",
                                       "引擎转数",
                                       "频率",
                                       "版本不匹配_加载错误_该文件不存在",
                                       "ROLTA/QRX5000版本不匹配。请点击\"版本号\"获取信息"};
  for (const char* text : console_texts) {
    const std::string translated = library_.GetLangueString(text);
    EXPECT_NE(translated, text) << text;
    EXPECT_FALSE(translated.empty()) << text;
  }
}

TEST_F(EnvLibraryTest, DictionaryFilesFollowTheirLineFormat) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  TempDir dictionaries;
  WriteFile(dictionaries.path() / "xx.txt",
            "\xEF\xBB\xBF# comment\t ignored\n"
            "速度\tvelocity\r\n"
            "no tab on this line\n"
            "\n"
            "两行\tline one\\nline two\\t\\\\end\n"
            "\\tkey\tkey with a tab\n"
            "力矩\tfirst\n"
            "力矩\tsecond\n");
  env_.Set("ROLTA_DICTIONARY_DIR", dictionaries.path().string());
  env_.Set("ROLTA_LANGUAGE", "xx");
  EXPECT_EQ(library_.GetLangueString("速度"), "velocity");
  EXPECT_EQ(library_.GetLangueString("两行"), "line one\nline two\t\\end");
  EXPECT_EQ(library_.GetLangueString("\tkey"), "key with a tab");
  EXPECT_EQ(library_.GetLangueString("力矩"), "second");
  EXPECT_EQ(library_.GetLangueString("no tab on this line"), "no tab on this line");
  EXPECT_EQ(library_.GetLangueString("# comment"), "# comment");

  EnvTextLookup lookup(library_);
  EXPECT_EQ(lookup.Lookup("速度"), "velocity");
}

TEST_F(EnvLibraryTest, ATextInAContextHasItsOwnTranslationAndStaysChineseInChinese) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  const EnvTextLookup lookup(library_);
  const struct {
    const char* language;
    const char* context;
    const char* text;
    const char* shown;
  } rows[] = {
      {"en", "参数表", "设置", "Write"},  // the form's own entry
      {"en", "", "设置", "Connect"},      // no context: the console's
      {"en", "参数表", "退出", "Exit"},   // no entry in the context: the text's own
      {"en", "参数表", "not in any dictionary", "not in any dictionary"},
      {"", "参数表", "设置", "设置"},  // Chinese shows the text, never the key
      {"", "参数表", "退出", "退出"},
  };
  for (const auto& row : rows) {
    env_.Set("ROLTA_LANGUAGE", row.language);
    EXPECT_EQ(lookup.LookupIn(row.context, row.text), row.shown) << row.language << row.context << row.text;
  }
}

// --------------------------------------------------------------------- log

TEST_F(EnvLibraryTest, SaveLogAppendsOneStampedLine) {
  ASSERT_EQ(LoadFrom(kBin), 1);
  const fs::path log = state_.path() / "rolta" / "envkit.log";
  EXPECT_EQ(library_.SaveLog("QRX5000B", "加载成功"), 1);
  EXPECT_EQ(library_.SaveLog("QRX5000B", "two\nlines"), 1);

  std::istringstream lines(ReadFile(log));
  std::string first, second, third;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, third));
  const std::regex stamped(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \[QRX5000B\] (.*))");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(first, match, stamped)) << first;
  EXPECT_EQ(match[1], "加载成功");
  ASSERT_TRUE(std::regex_match(second, match, stamped)) << second;
  EXPECT_EQ(match[1], "two lines");
}

}  // namespace
}  // namespace rolta
