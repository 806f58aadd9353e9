// The command catalogue: its 91 positions, their frames, inputs and captions.
#include "commands/catalogue.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <utility>

#include "link/frames.h"

namespace rolta {
namespace {

using enum CommandInput;

TEST(Catalogue, PositionsKeepTheirPlaceAroundTheUnusedEntries) {
  ASSERT_EQ(CommandCatalogue().size(), 91u);
  // The settings file stores positions, so a shifted row would restore the
  // wrong command.
  const std::pair<int, const char*> anchors[] = {
      {0, "恒速测试"},       {8, "恒负荷滑行"},        {26, "读QRX参数"},
      {34, "通讯测试LOOP"},  {39, "查看缺省通道配置"}, {41, "读环境参数"},
      {49, "柴油-引擎转数"}, {51, "读取IO指令"},       {84, "双轴柴油－变负荷滑行"},
      {90, "大反拖"},
  };
  for (const auto& [position, caption] : anchors) {
    EXPECT_EQ(CatalogueRowAt(position)->caption, caption) << position;
  }
  for (int unused : {40, 50}) {
    const CatalogueRow* row = CatalogueRowAt(unused);
    EXPECT_TRUE(row->caption.empty());
    EXPECT_EQ(row->action, CatalogueAction::None);
    EXPECT_TRUE(row->inputs.Empty());
  }
  EXPECT_EQ(CatalogueRowAt(-1), nullptr);
  EXPECT_EQ(CatalogueRowAt(91), nullptr);
}

TEST(Catalogue, EveryUsedPositionHasItsOwnCaption) {
  std::set<std::string_view> captions;
  for (const CatalogueRow& row : CommandCatalogue()) {
    if (row.action == CatalogueAction::None) continue;
    EXPECT_FALSE(row.caption.empty());
    EXPECT_TRUE(captions.insert(row.caption).second) << row.caption;
  }
  EXPECT_EQ(captions.size(), 89u);
}

// The catalogue and the table of command lengths are two descriptions of the
// same commands; they must name the same command bytes with the same lengths.
TEST(Catalogue, SendsExactlyTheCatalogueCommandsOfTheLengthTable) {
  std::set<std::pair<std::size_t, int>> sent;
  for (const CatalogueRow& row : CommandCatalogue()) {
    switch (row.frame) {
      case FrameKind::None: break;
      case FrameKind::Short:
        for (std::uint8_t code : row.ShortCodes()) sent.insert({6, code});
        break;
      case FrameKind::ParamRequest: sent.insert({10, row.CommandCode()}); break;
      case FrameKind::Setpoint: sent.insert({11, row.CommandCode()}); break;
      case FrameKind::Profile: sent.insert({22, row.CommandCode()}); break;
    }
  }
  std::set<std::pair<std::size_t, int>> listed;
  for (const CommandLengthClass& lengthClass : CommandLengthTable()) {
    if (lengthClass.description != "command catalogue" && lengthClass.description != "parameter record request") {
      continue;
    }
    for (std::uint8_t code : lengthClass.commandCodes) listed.insert({lengthClass.frameLength, code});
  }
  EXPECT_EQ(sent, listed);
}

TEST(Catalogue, InputsEnabledForTheEdgePositions) {
  EXPECT_TRUE(InputsEnabledFor(90).Empty());
  EXPECT_EQ(InputsEnabledFor(29), (InputSet{Flywheel1, Flywheel2, Flywheel3, Flywheel4}));
  EXPECT_EQ(InputsEnabledFor(89), (InputSet{StartSpeed, EndSpeed, ParamM}));
  EXPECT_EQ(InputsEnabledFor(24), (InputSet{StartSpeed, EndSpeed, StartLoad, EndLoad}));
  EXPECT_EQ(InputsEnabledFor(86), (InputSet{ParamA, ParamB, ParamM, ParamC}));
  // No selection: everything stays disabled, as after the common reset.
  EXPECT_TRUE(InputsEnabledFor(-1).Empty());
  EXPECT_TRUE(InputsEnabledFor(91).Empty());
}

std::optional<CommandInput> InputOf(FieldSource source) {
  switch (source) {
    case FieldSource::ParamA: return ParamA;
    case FieldSource::ParamB: return ParamB;
    case FieldSource::ParamM: return ParamM;
    case FieldSource::ParamC: return ParamC;
    case FieldSource::StartSpeed: return StartSpeed;
    case FieldSource::EndSpeed: return EndSpeed;
    case FieldSource::StartLoad: return StartLoad;
    case FieldSource::EndLoad: return EndLoad;
    default: return std::nullopt;
  }
}

// A typed value that goes into a frame has its field enabled, and an enabled
// field is sent; the only exception are the no-load coast-downs, which carry
// ParamB without enabling it.
TEST(Catalogue, WrittenAndEnabledInputsAgreeExceptForTheNoLoadCoastDowns) {
  for (int position = 0; position < kCataloguePositions; ++position) {
    SCOPED_TRACE(position);
    const CatalogueRow& row = *CatalogueRowAt(position);
    std::uint16_t writtenBits = 0;
    for (FieldSource source : row.fields) {
      if (auto input = InputOf(source)) writtenBits |= InputSet{*input}.Bits();
      if (source == FieldSource::FlywheelMask) {
        writtenBits |= InputSet{Flywheel1, Flywheel2, Flywheel3, Flywheel4}.Bits();
      }
    }
    const bool noLoadCoastDown = position == 12 || position == 81 || position == 88;
    const std::uint16_t expected =
        noLoadCoastDown ? static_cast<std::uint16_t>(writtenBits & ~InputSet{ParamB}.Bits()) : writtenBits;
    EXPECT_EQ(row.inputs.Bits(), expected);
    if (noLoadCoastDown) {
      EXPECT_EQ(row.fields[2], FieldSource::ParamB);
    }
  }
}

TEST(Catalogue, RowTextsOfTheBoxesAndPrograms) {
  struct Expected {
    int position;
    CatalogueAction action;
    const char* text;
    const char* program;
  };
  const Expected rows[] = {
      {9, CatalogueAction::ExternalProgram, "运行变负荷滑行功能,将关闭ROLTA通讯口!", "vlcoast.exe"},
      {48, CatalogueAction::ExternalProgram, "运行柴油－变负荷滑行功能,将关闭ROLTA通讯口!", "vlcoastdiesel.exe"},
      {84, CatalogueAction::ExternalProgram, "运行双轴柴油－变负荷滑行功能,将关闭ROLTA通讯口!", "vlcoastdiesel2w.exe"},
      {22, CatalogueAction::Message, "请点击下方<标定>按钮!", ""},
      {23, CatalogueAction::Message, "该功能暂不提供!", ""},
  };
  for (const Expected& expected : rows) {
    const CatalogueRow& row = *CatalogueRowAt(expected.position);
    EXPECT_EQ(row.action, expected.action) << expected.position;
    EXPECT_EQ(row.text, expected.text) << expected.position;
    EXPECT_EQ(row.program, expected.program) << expected.position;
    EXPECT_EQ(row.frame, FrameKind::None) << expected.position;
  }
}

}  // namespace
}  // namespace rolta
