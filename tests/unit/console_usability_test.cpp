// The units beside the readout captions, the command list's search filter
// and the texts that are translated only outside Chinese.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "config/param_summary.h"
#include "commands/catalogue.h"
#include "commands/command_filter.h"
#include "readouts/console_texts.h"
#include "readouts/readouts.h"
#include "env/shown_text.h"

namespace rolta::test {
namespace {

// A language other than Chinese with a few entries; other texts stay.
class SmallDictionary final : public TextLookup {
 public:
  explicit SmallDictionary(std::map<std::string, std::string, std::less<>> entries) : entries_(std::move(entries)) {}
  std::string Lookup(std::string_view text) const override {
    const auto at = entries_.find(text);
    return at == entries_.end() ? std::string(text) : at->second;
  }
  bool IsDefaultLanguage() const override { return false; }

 private:
  std::map<std::string, std::string, std::less<>> entries_;
};

struct UnitRow {
  std::vector<int> types;
  // Per readout the unit beside the caption the type sets; nullptr where the
  // type leaves the caption as it is.
  std::array<const char*, kReadoutCount> units;
};

TEST(ReadoutUnits, FollowTheCaptionOfEveryFrameTypeWithARow) {
  const char* keep = nullptr;
  const std::vector<UnitRow> rows = {
      {{16, 17, 37, 84, 85}, {"km/h", "daN", "r/min", ""}},
      {{21, 53, 54, 71, 74, 127}, {keep, "s", "daN", keep}},
      {{27, 28, 29, 30, 31, 40, 41, 55, 56, 102, 103, 104, 105, 106}, {"km/h", keep, keep, keep}},
      {{33, 110, 112, 113}, {keep, keep, "V", keep}},
      {{34, 114, 115, 116}, {"km/h", "daN", "V", keep}},
      {{35}, {"km/h", "", "m", ""}},
      {{36, 39, 93, 94}, {"km/h", "", "", "m"}},
      {{38, 111}, {"km/h", "daN", "", ""}},
      {{42}, {"", keep, keep, keep}},
      {{43, 124}, {"km/h", "daN", "V", "r/min"}},
      {{45}, {keep, keep, keep, keep}},
      {{50, 68, 70, 73, 88}, {keep, "s", "kW", keep}},
      {{51}, {keep, "kW", "s", keep}},
      {{52, 80, 82, 89, 90, 91, 92}, {"km/h", "daN", "kW", "r/min"}},
      {{58}, {"km/h", "", "", keep}},
      {{66}, {"", "", "", ""}},
      {{67, 69}, {"km/h", "daN", "", "m"}},
      {{75, 98}, {"km/h", "m/s²", "", "m"}},
      {{76, 123}, {"km/h", "daN", "m/s²", "m"}},
      {{79}, {keep, "s", "daN", keep}},
      {{81, 83, 86, 87}, {"km/h", "daN", "daN", "r/min"}},
      {{95, 101, 107, 108}, {"km/h", "daN", "", keep}},
      {{96, 100}, {"%", "°C", "kPa", keep}},
      {{125}, {"", "", "", ""}},
  };
  const IdentityLookup chinese;
  const ReadoutUnits units(chinese);
  for (const UnitRow& row : rows) {
    for (int type : row.types) {
      ControllerStatus status;
      status.FrameType = static_cast<std::uint8_t>(type);
      status.Value1 = 2500.0f;
      const ReadoutUpdate update = PresentLiveFrame(status, chinese);
      for (std::size_t i = 0; i < kReadoutCount; ++i) {
        SCOPED_TRACE("type " + std::to_string(type) + ", readout " + std::to_string(i));
        ASSERT_EQ(update[i].caption.has_value(), row.units[i] != nullptr);
        if (update[i].caption) {
          EXPECT_EQ(units.UnitOf(*update[i].caption), row.units[i]);
        }
      }
    }
  }
}

TEST(CommandFilter, KeepsThePositionsOfTheMatchingCaptions) {
  const SmallDictionary english({{"恒速测试", "Constant-speed test"}, {"停止测试", "Stop test"}, {"速度", "Speed"}});
  const IdentityLookup chinese;
  struct Row {
    const TextLookup* lookup;
    const char* typed;
    std::vector<int> positions;
  };
  const std::vector<Row> rows = {
      {&chinese, "恒速", {0, 47, 55, 65, 74, 82, 83, 85}},
      {&chinese, "  loop ", {34}},
      {&chinese, "(fl)", {2, 3, 38}},
      {&chinese, "100%", {82, 83}},       // the captions write "％"
      {&chinese, "双轴柴油-恒速", {65}},  // and "－"
      {&chinese, "RR", {70, 71, 72}},
      {&chinese, "xyz", {}},
      {&english, "constant-speed", {0}},
      {&english, "恒速测试", {0}},  // the Chinese caption still finds it
      {&english, "test", {0, 14}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    EXPECT_EQ(CommandFilter(*row.lookup).VisiblePositions(row.typed), row.positions);
  }
  // No text shows every position, the blank ones (40, 50) included.
  const CommandFilter all(chinese);
  EXPECT_EQ(all.VisiblePositions(" ").size(), std::size_t{kCataloguePositions});
  EXPECT_FALSE(all.Matches(kCataloguePositions, ""));
  EXPECT_EQ(CommandFilter(english).ShownCaption(0), "Constant-speed test");
  // Units are found by the caption as shown.
  EXPECT_EQ(ReadoutUnits(english).UnitOf("Speed"), "km/h");
}

TEST(ShownText, TranslatesFixedTextsOnlyOutsideChinese) {
  const SmallDictionary english(
      {{"状态:", "Status:"}, {"点标定", "-point calibration"}, {"：", ": "}, {"秒", "s"}, {"出车等待", "Exit wait"}});
  EXPECT_EQ(ShownText(english, "状态:"), "Status:");
  EXPECT_EQ(ShownText(IdentityLookup(), "状态:"), "状态:");
  EXPECT_EQ(AboutVersionLine("3, 7, 4, 0", english), "ROLTA Version 3.7.4.0 (10-point calibration) for Win2000/NT/XP");
  EXPECT_EQ(AboutVersionLine("3, 7, 4, 0", IdentityLookup()), AboutVersionLine("3, 7, 4, 0"));

  ControllerParams values{};
  values.exitWaitSeconds = 30;
  const std::vector<std::string> lines = BuildSummary(values, english);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Exit wait:   30s"), lines.end());
  for (const std::string& line : lines) EXPECT_EQ(line.find("："), std::string::npos) << line;
}

}  // namespace
}  // namespace rolta::test
