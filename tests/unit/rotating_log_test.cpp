// The field log file: its rotation, one event per line, writers in threads
// and processes at once, a place it cannot write, and a program's run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "temp_folder.h"
#include "env/rotating_log.h"

namespace rolta {
namespace {

namespace fs = std::filesystem;

using TempFolder = test::TempFolder;

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The details of a file's lines, after "<time> <program>[<pid>] <name> ".
std::vector<std::string> Details(const fs::path& path) {
  std::vector<std::string> details;
  for (const std::string& line : ReadLines(path)) {
    std::size_t at = 0;
    for (int field = 0; field < 3 && at != std::string::npos; ++field) at = line.find(' ', at + 1);
    details.push_back(at == std::string::npos ? std::string() : line.substr(at + 1));
  }
  return details;
}

fs::path Rotated(const fs::path& path, int number) { return path.string() + "." + std::to_string(number); }

// The live file and the rotated ones beside it, newest first.
std::vector<fs::path> LogFiles(const fs::path& path) {
  std::vector<fs::path> files{path};
  while (fs::exists(Rotated(path, static_cast<int>(files.size())))) {
    files.push_back(Rotated(path, static_cast<int>(files.size())));
  }
  return files;
}

// "0007": every numbered line is as long as the others.
std::string Numbered(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", number);
  return text;
}

struct RotationCase {
  const char* name;
  double linesPerFile;  // the size limit, in lines
  int keptFiles;
  int written;
  std::vector<int> linesInFiles;  // the live file, then name.1, name.2, ...: what exists
};

void PrintTo(const RotationCase& c, std::ostream* out) { *out << c.name; }

class RotationTest : public ::testing::TestWithParam<RotationCase> {};

TEST_P(RotationTest, KeepsTheNewestLinesInOrder) {
  const RotationCase& c = GetParam();
  TempFolder folder;
  const fs::path probe = folder.path() / "probe.log";
  RotatingLogFile(probe, "t").WriteLine("n", Numbered(0));
  const auto lineBytes = fs::file_size(probe);

  const fs::path path = folder.path() / "rolta.log";
  {
    RotatingLogFile log(path, "t", {static_cast<std::uint64_t>(c.linesPerFile * lineBytes), c.keptFiles});
    for (int n = 1; n <= c.written; ++n) log.WriteLine("n", Numbered(n));
    EXPECT_EQ(log.Failures(), 0u);
  }
  std::vector<int> counts;
  std::vector<std::string> oldestFirst;
  for (const fs::path& file : LogFiles(path)) {
    const std::vector<std::string> details = Details(file);
    counts.push_back(static_cast<int>(details.size()));
    oldestFirst.insert(oldestFirst.begin(), details.begin(), details.end());
  }
  EXPECT_EQ(counts, c.linesInFiles);
  // What is kept is the newest lines, none missing between them.
  for (std::size_t i = 0; i < oldestFirst.size(); ++i) {
    EXPECT_EQ(oldestFirst[i], Numbered(c.written - static_cast<int>(oldestFirst.size() - 1 - i)));
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RotationTest,
                         ::testing::Values(RotationCase{"below_the_limit", 3, 3, 2, {2}},
                                           RotationCase{"exactly_at_the_limit", 3, 3, 3, {3}},
                                           RotationCase{"one_past_the_limit", 3, 3, 4, {1, 3}},
                                           RotationCase{"all_rotated_files_in_use", 3, 3, 12, {3, 3, 3, 3}},
                                           RotationCase{"the_oldest_file_dropped", 3, 3, 13, {1, 3, 3, 3}},
                                           RotationCase{"one_kept", 2, 1, 5, {1, 2}},
                                           RotationCase{"none_kept", 2, 0, 3, {1}},
                                           RotationCase{"a_line_longer_than_the_limit", 0.5, 2, 3, {1, 1, 1}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RotatingLog, AFileLeftFullIsRotatedOnOpen) {
  TempFolder folder;
  const fs::path path = folder.path() / "rolta.log";
  std::ofstream(path) << std::string(100, 'x') << '\n';
  RotatingLogFile(path, "t", {100, 3}).WriteLine("n", "first");
  EXPECT_EQ(Details(path), std::vector<std::string>{"first"});
  EXPECT_EQ(ReadLines(Rotated(path, 1)), std::vector<std::string>{std::string(100, 'x')});
}

struct EscapeCase {
  std::string detail;
  std::size_t maxBytes;
  std::string expected;
};

TEST(RotatingLog, EscapesControlCharactersAndCutsLongDetails) {
  const std::vector<EscapeCase> cases = {
      {"COM1 9600", 500, "COM1 9600"},
      {"a\nb\r\tc\\d", 500, "a\\nb\\r\\tc\\\\d"},
      {std::string("\x01\x1b\x7f\0", 4), 500, "\\x01\\x1b\\x7f\\x00"},
      {"串口已断开", 500, "串口已断开"},
      {"bad \xff\xe4\xb8 end", 500, "bad \\xff\\xe4\\xb8 end"},
      {std::string(600, 'a'), 500, std::string(500, 'a') + "...(+100 bytes)"},
      {"aa串", 4, "aa...(+3 bytes)"},  // never half a character
      {"a\nb", 2, "a...(+2 bytes)"},   // never half an escape
  };
  for (const EscapeCase& c : cases) EXPECT_EQ(EscapeLogDetail(c.detail, c.maxBytes), c.expected) << c.detail;

  TempFolder folder;
  const fs::path path = folder.path() / "rolta.log";
  RotatingLogFile(path, "t").Write(FieldEvent::CommandRefused, "line one\nline two");
  EXPECT_EQ(ReadLines(path).size(), 1u);
  EXPECT_EQ(Details(path), std::vector<std::string>{"line one\\nline two"});
}

// Every line of every file is whole, and each writer's lines are all there.
void ExpectWholeLinesFrom(const fs::path& path, const std::map<std::string, int>& linesPerWriter) {
  const std::regex whole(R"(\S+ t\[\d+\] n ([a-z0-9]+) (\d+) x{100})");
  std::map<std::string, std::vector<bool>> seen;
  for (const auto& [writer, count] : linesPerWriter) seen[writer].assign(count, false);
  for (const fs::path& file : LogFiles(path)) {
    for (const std::string& line : ReadLines(file)) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
      const int n = std::stoi(match[2]);
      ASSERT_TRUE(seen.contains(match[1]) && n < static_cast<int>(seen[match[1]].size())) << line;
      seen[match[1]][n] = true;
    }
  }
  for (const auto& [writer, lines] : seen) EXPECT_EQ(std::count(lines.begin(), lines.end(), false), 0) << writer;
}

void WriteNumbered(RotatingLogFile& log, const std::string& writer, int count) {
  for (int n = 0; n < count; ++n) log.WriteLine("n", writer + " " + std::to_string(n) + " " + std::string(100, 'x'));
}

// Two threads of this process and a second process write one file at once,
// in files small enough that they also meet in rotations, and enough of them
// kept that none is dropped.
TEST(RotatingLog, ThreadsAndProcessesWriteWholeLines) {
  constexpr RotatingLogLimits kSmallFiles{16 * 1024, 60};
  constexpr int kLines = 1500;
  TempFolder folder;
  const fs::path path = folder.path() / "rolta.log";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RotatingLogFile log(path, "t", kSmallFiles);
    WriteNumbered(log, "process", kLines);
    ::_exit(log.Failures() == 0 ? 0 : 1);
  }
  {
    RotatingLogFile log(path, "t", kSmallFiles);
    std::thread other([&] { WriteNumbered(log, "thread", kLines); });
    WriteNumbered(log, "main", kLines);
    other.join();
    EXPECT_EQ(log.Failures(), 0u);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ExpectWholeLinesFrom(path, {{"main", kLines}, {"thread", kLines}, {"process", kLines}});
}

TEST(RotatingLog, AFolderThatCannotBeMadeIsCountedAndNamedOnce) {
  TempFolder folder;
  std::ofstream(folder.path() / "taken") << "a file where the folder should be";
  RotatingLogFile log(folder.path() / "taken" / "rolta" / "rolta.log", "t");
  ::testing::internal::CaptureStderr();
  log.Write(FieldEvent::LineLost, "one");
  log.Write(FieldEvent::LineLost, "two");
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(log.Failures(), 2u);
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

// Sets the program's environment for one test and puts it back.
class ProgramLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_STATE_HOME", "ROLTA_LOG"}) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    ::setenv("XDG_STATE_HOME", state_.path().c_str(), 1);
    ::unsetenv("ROLTA_LOG");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  TempFolder state_;
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(ProgramLogTest, ARunIsFramedByItsStartAndEnd) {
  {
    ProgramLog log("rolta-test", "9.9");
    LogFieldEvent(FieldEvent::LineLost, "/dev/ttyS0");
    log.Finish(3);
    LogFieldEvent(FieldEvent::LineLost, "after the end");
  }
  const fs::path path = state_.path() / "rolta" / "rolta.log";
  EXPECT_EQ(DefaultLogPath(), path);
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 3u);
  const std::string prefix =
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d rolta-test\[)" + std::to_string(::getpid()) + R"(\] )";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(prefix + R"(program-started version 9\.9)"))) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(prefix + "line-lost /dev/ttyS0"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(prefix + R"(program-ended version 9\.9, exit code 3)")))
      << lines[2];
  struct stat folderInfo {
  }, fileInfo{};
  ASSERT_EQ(::stat(path.parent_path().c_str(), &folderInfo), 0);
  ASSERT_EQ(::stat(path.c_str(), &fileInfo), 0);
  EXPECT_EQ(folderInfo.st_mode & 0777, 0700u);
  EXPECT_EQ(fileInfo.st_mode & 0777, 0600u);
}

TEST_F(ProgramLogTest, TurnedOffItWritesNothing) {
  ::setenv("ROLTA_LOG", "off", 1);
  {
    ProgramLog log("rolta-test", "9.9");
    EXPECT_EQ(log.File(), nullptr);
    LogFieldEvent(FieldEvent::LineLost, "/dev/ttyS0");
    log.Finish(0);
  }
  EXPECT_FALSE(fs::exists(state_.path() / "rolta"));
}

}  // namespace
}  // namespace rolta
