// The details kept beside a recording: what reads as a mass, what is damaged and where, and rewrites that keep the
// rest.
#include "recording/record_meta.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace rolta::test {
namespace {

TEST(RecordMeta, OnlyWholeFilesGiveAMass) {
  struct Row {
    const char* text;
    RecordMetaState state;
    std::optional<double> mass;
    std::size_t line;
  };
  const Row rows[] = {
      {"# ROLTA\r\nformat=1\r\neffective_mass_kg = 1450.5\r\n", RecordMetaState::Read, 1450.5, 0},
      {"\xEF\xBB\xBF"
       "effective_mass_kg=900\nvehicle=ABC=1\n",
       RecordMetaState::Read, 900, 0},
      {"vehicle=ABC\n", RecordMetaState::Read, std::nullopt, 0},
      {"effective_mass_kg=15OO\n", RecordMetaState::Damaged, std::nullopt, 1},
      {"format=1\neffective_mass_kg=-1500\n", RecordMetaState::Damaged, std::nullopt, 2},
      {"effective_mass_kg=0\n", RecordMetaState::Damaged, std::nullopt, 1},
      {"effective_mass_kg=inf\n", RecordMetaState::Damaged, std::nullopt, 1},
      {"effective_mass_kg=1e7\n", RecordMetaState::Damaged, std::nullopt, 1},
      {"effective_mass_kg=\n", RecordMetaState::Damaged, std::nullopt, 1},
      {"effective_mass_kg 1500\n", RecordMetaState::Damaged, std::nullopt, 1},
      {"=1500\n", RecordMetaState::Damaged, std::nullopt, 1},
      {"format=2\neffective_mass_kg=1500\n", RecordMetaState::Damaged, std::nullopt, 1},
      {"effective_mass_kg=1500\neffective_mass_kg=1400\n", RecordMetaState::Damaged, std::nullopt, 2},
  };
  for (const Row& row : rows) {
    std::istringstream in(row.text);
    const RecordMetaResult result = ParseRecordMeta(in);
    EXPECT_EQ(result.state, row.state) << row.text;
    EXPECT_EQ(result.meta.massKg, row.mass) << row.text;
    EXPECT_EQ(result.line, row.line) << row.text;
  }
}

TEST(RecordMeta, StoringTheMassKeepsOtherKeysAndDamagedFiles) {
  const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "record_meta_test";
  std::filesystem::remove_all(dir);
  const std::filesystem::path file = RecordMetaPath(dir / "run.csv");
  EXPECT_EQ(file.filename(), "run.csv.meta");
  EXPECT_EQ(ReadRecordMeta(file).state, RecordMetaState::Missing);

  ASSERT_FALSE(WriteRecordMeta(file, RecordMeta{1500, {{"vehicle", "ABC"}}}));
  ASSERT_FALSE(StoreMass(file, 1480.25));
  RecordMetaResult read = ReadRecordMeta(file);
  EXPECT_EQ(read.meta.massKg, 1480.25);
  ASSERT_EQ(read.meta.others.size(), 1u);
  EXPECT_EQ(read.meta.others[0].second, "ABC");

  std::ofstream(file) << "effective_mass_kg=oops\n";
  ASSERT_FALSE(StoreMass(file, std::nullopt));
  read = ReadRecordMeta(file);
  EXPECT_EQ(read.state, RecordMetaState::Read);
  EXPECT_FALSE(read.meta.massKg);
  std::filesystem::path kept = file;
  kept += ".damaged";
  EXPECT_EQ(ReadRecordMeta(kept).line, 1u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace rolta::test
