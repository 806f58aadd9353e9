// The tools window's lift buttons and where the tools page, help file and operator's guide are looked up.
#include "console/tool_strip.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "memory_channel.h"

namespace rolta::test {
namespace {

namespace fs = std::filesystem;

TEST(ToolStripTest, ButtonSequencesSetLiftStateManualPairAndSendTheLiftCommands) {
  using B = ToolButton;
  struct Row {
    std::vector<B> presses;
    int lift;
    bool manual;
    std::vector<int> sent;
    bool hides;
  } rows[] = {
      {{}, 1, false, {}, false},
      {{B::Down}, 0, true, {31}, false},
      {{B::Down, B::Manual}, 0, false, {31}, false},
      {{B::Down, B::Manual, B::ManualStop}, 0, true, {31}, false},
      {{B::Down, B::Up, B::ManualStop}, 1, false, {31, 30}, false},
      {{B::Up, B::Up}, 1, false, {30, 30}, false},
      {{B::Down, B::Ok}, 0, true, {31}, true},
  };
  for (const Row& row : rows) {
    MemoryChannel channel;
    ToolStrip strip(channel);
    bool hides = false;
    for (B b : row.presses) hides = strip.Press(b);
    EXPECT_EQ(strip.LiftState(), row.lift);
    EXPECT_EQ(strip.ManualEnabled(), row.manual);
    EXPECT_TRUE(strip.ManualStopEnabled());
    EXPECT_EQ(hides, row.hides);
    std::vector<int> sent;
    for (const auto& frame : channel.Writes()) {
      ASSERT_EQ(frame.size(), 6u);
      EXPECT_EQ(VerifyChecksum(frame.data(), frame.size()), 0);
      sent.push_back(frame[2]);
    }
    EXPECT_EQ(sent, row.sent);
  }
}

TEST(ToolStripTest, HelpIsTheMakersFileThenOurGuideThenNothing) {
  const fs::path root = fs::temp_directory_path() / ("rolta_help_" + std::to_string(::getpid()));
  const fs::path bin = root / "bin";
  fs::create_directories(bin);
  fs::create_directories(root / "share" / "rolta");
  EXPECT_FALSE(FindHelp(bin).has_value());
  std::ofstream(root / "share" / "rolta" / kGuideFileName) << "<html></html>";
  ASSERT_TRUE(FindHelp(bin).has_value());
  EXPECT_EQ(FindHelp(bin)->kind, HelpTarget::Kind::Guide);
  EXPECT_EQ(FindHelp(bin)->path, root / "share" / "rolta" / kGuideFileName);
  std::ofstream(bin / "QRX5000说明.CHM") << "x";
  EXPECT_EQ(FindHelp(bin)->kind, HelpTarget::Kind::HelpFile);
  EXPECT_EQ(FindHelp(bin)->path, bin / "QRX5000说明.CHM");
  EXPECT_EQ(HelpFilePath("/opt/rolta/"), fs::path("/opt/rolta/QRX5000说明.CHM"));
  EXPECT_EQ(ToolsPagePath("/work/line"), fs::path("/work/line/tools.htm"));
  fs::remove_all(root);
}

TEST(ToolStripTest, ToolsPageIsTheBenchsOwnThenTheShippedOneThenNothing) {
  const fs::path root = fs::temp_directory_path() / ("rolta_tools_" + std::to_string(::getpid()));
  const fs::path bench = root / "bench";
  const fs::path bin = root / "usr" / "bin";
  const fs::path installed = root / "usr" / "share" / "rolta" / "tools.htm";
  struct Row {
    bool inBench, besideProgram, inShare;
    fs::path expected;  // empty: nothing shown
  } rows[] = {
      {true, true, true, bench / "tools.htm"}, {true, false, false, bench / "tools.htm"},
      {false, true, true, bin / "tools.htm"},  // a build folder
      {false, false, true, installed},         {false, false, false, {}},
  };
  for (const Row& row : rows) {
    fs::remove_all(root);
    fs::create_directories(bench);
    fs::create_directories(bin);
    fs::create_directories(installed.parent_path());
    if (row.inBench) std::ofstream(bench / "tools.htm") << "<html></html>";
    if (row.besideProgram) std::ofstream(bin / "tools.htm") << "<html></html>";
    if (row.inShare) std::ofstream(installed) << "<html></html>";
    if (!row.inBench) fs::create_directories(bench / "tools.htm" / "not-a-page");  // a folder is no page
    EXPECT_EQ(FindToolsPage(bench, bin).value_or(fs::path()), row.expected)
        << row.inBench << row.besideProgram << row.inShare;
  }
  fs::remove_all(root);
}

TEST(ToolStripTest, PagesInTheLanguagesOwnFolderComeFirstInEachPlace) {
  const fs::path root = fs::temp_directory_path() / ("rolta_pages_" + std::to_string(::getpid()));
  const fs::path bench = root / "bench";
  const fs::path bin = root / "usr" / "bin";
  const fs::path share = root / "usr" / "share" / "rolta";
  struct Row {
    const char* language;
    std::vector<fs::path> present;
    fs::path tools, guide;  // empty: nothing
  } rows[] = {
      {"en",
       {share / "en" / "tools.htm", share / "tools.htm", share / "en" / kGuideFileName, share / kGuideFileName},
       share / "en" / "tools.htm",
       share / "en" / kGuideFileName},
      {"",
       {share / "en" / "tools.htm", share / "tools.htm", share / "en" / kGuideFileName, share / kGuideFileName},
       share / "tools.htm",
       share / kGuideFileName},
      {"en",
       {bench / "en" / "tools.htm", bench / "tools.htm", share / "en" / "tools.htm"},
       bench / "en" / "tools.htm",
       {}},
      {"en", {bench / "tools.htm", share / "en" / "tools.htm"}, bench / "tools.htm", {}},  // a bench's own page
      {"en", {share / "tools.htm", share / kGuideFileName}, share / "tools.htm", share / kGuideFileName},
      {"../en", {share / "en" / "tools.htm", share / "tools.htm"}, share / "tools.htm", {}},  // not a folder name
      {"en", {share / "en" / "tools.htm"}, share / "en" / "tools.htm", {}},
      {"", {share / "en" / "tools.htm"}, {}, {}},
  };
  for (const Row& row : rows) {
    fs::remove_all(root);
    fs::create_directories(bench);
    fs::create_directories(bin);
    for (const fs::path& file : row.present) {
      fs::create_directories(file.parent_path());
      std::ofstream(file) << "<html></html>";
    }
    EXPECT_EQ(FindToolsPage(bench, bin, row.language).value_or(fs::path()), row.tools) << row.language;
    const auto help = FindHelp(bin, row.language);
    EXPECT_EQ(help ? help->path : fs::path(), row.guide) << row.language;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace rolta::test
