// The one reader of the console's key=value files: what a line becomes, and where a file too large stops.
#include "env/key_value_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace rolta::test {
namespace {

// A line read, as "<number>:<key>=<value>", or "<number>!<text>" without "=".
std::vector<std::string> Shapes(const KeyValueFile& file) {
  std::vector<std::string> shapes;
  for (const KeyValueLine& line : file.lines) {
    shapes.push_back(std::to_string(line.number) +
                     (line.hasEquals ? ":" + line.key + "=" + line.value : "!" + line.text));
  }
  return shapes;
}

TEST(KeyValueFile, ReadsLinesAsTheSettingsFilesWriteThem) {
  struct Row {
    std::string text;
    std::vector<std::string> lines;
    KeyValueState state = KeyValueState::Whole;
    std::size_t stopLine = 0;
    KeyValueLimits limits = {};
  };
  const Row rows[] = {
      {"", {}},
      {"# comment\n  # indented comment\na=1\n", {"3:a=1"}},
      {"\n   \n\t\na=1", {"4:a=1"}},
      {"a=1\r\nb=2\r\n", {"1:a=1", "2:b=2"}},
      {"  key  =  some value \t\n", {"1:key=some value"}},
      {"key=\n=5\n", {"1:key=", "2:=5"}},
      {"a=b=c\n", {"1:a=b=c"}},
      {"  no equals here \r\nx=1\n", {"1!  no equals here ", "2:x=1"}},
      {"\xEF\xBB\xBF"
       "a=1\n",
       {"1:a=1"}},
      // Capped: the lines before the one not taken are kept.
      {"a=1\n" + std::string(4097, 'x') + "\nb=2\n", {"1:a=1"}, KeyValueState::TooLarge, 2},
      {std::string(4096, 'y'), {"1!" + std::string(4096, 'y')}},
      {"a=1\n#\nb=2\nc=3\n", {"1:a=1", "3:b=2"}, KeyValueState::TooLarge, 4, {3, 4096}},
      {"a=1\nb=23456\r\n", {"1:a=1"}, KeyValueState::TooLarge, 2, {1000, 6}},
      {"a=1\nb=2345\r\n", {"1:a=1", "2:b=2345"}, KeyValueState::Whole, 0, {1000, 7}},
  };
  for (const Row& row : rows) {
    std::istringstream in(row.text);
    const KeyValueFile file = ReadKeyValues(in, row.limits);
    const std::string shown = row.text.substr(0, 40);
    EXPECT_EQ(file.state, row.state) << shown;
    EXPECT_EQ(file.stopLine, row.stopLine) << shown;
    EXPECT_EQ(Shapes(file), row.lines) << shown;
  }
}

TEST(KeyValueFile, FilesThatAreMissingOrNoFiles) {
  const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "key_value_file_test";
  std::filesystem::remove_all(dir);
  EXPECT_EQ(ReadKeyValueFile(dir / "none.conf").state, KeyValueState::Missing);
  std::filesystem::create_directories(dir);
  EXPECT_EQ(ReadKeyValueFile(dir).state, KeyValueState::Unreadable);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace rolta::test
