// One unit per quantity on every surface that names one: the readouts, the
// recording's header, the line monitor and the coast-down export, with each
// choice of the bench's units; the bench settings file; old headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "analysis/coast_analysis.h"
#include "readouts/bench_settings.h"
#include "monitor/line_monitor.h"
#include "monitor/monitor_texts.h"
#include "readouts/quantities.h"
#include "readouts/readouts.h"
#include "recording/recording.h"
#include "status_frame.h"

namespace rolta::test {
namespace {

// The unit in a header cell "name [unit]" of the named column.
std::string HeaderUnit(const std::string& header, std::string_view column) {
  const std::size_t at = header.find("," + std::string(column));
  const std::size_t end = header.find_first_of(",\r", at + 1);
  const std::string cell = header.substr(at + 1, end - at - 1);
  const std::size_t open = cell.find(" [");
  return open == std::string::npos ? "" : cell.substr(open + 2, cell.size() - open - 3);
}

TEST(Quantities, EverySurfaceNamesOneUnitPerQuantity) {
  const IdentityLookup chinese;
  const ReadoutUnits readoutUnits(chinese);
  for (std::size_t choice = 0; choice < DistanceUnitChoices().size(); ++choice) {
    const BenchUnits units{static_cast<std::uint8_t>(choice)};
    UseBenchUnits(units);
    const std::string header = RecordHeader(units);
    for (int type = 0; type < 256; ++type) {
      const auto frame = StatusFrame(static_cast<std::uint8_t>(type), 1500, 42, 3, 4, 1);
      LineMonitor monitor;
      monitor.OnFrameReceived(frame, true, {});
      std::istringstream fields(MonitorSummary(*monitor.Row(0), chinese));
      std::string field;
      std::getline(fields, field, ';');  // the status line's part
      ControllerStatus status;
      status.FrameType = static_cast<std::uint8_t>(type);
      const ReadoutUpdate update = PresentLiveFrame(status, chinese);
      const ReadoutValues values = LiveFrameValues(status);
      for (std::size_t i = 0; i < kReadoutCount; ++i) {
        if (!update[i].text) continue;
        std::getline(fields, field, ';');
        SCOPED_TRACE("type " + std::to_string(type) + ", readout " + std::to_string(i) + ": " + field);
        const int column = RecordColumnOfCaption(values[i].caption, i);
        if (column < 0) continue;  // "--" shows no value
        const std::string recorded = HeaderUnit(header, RecordColumns()[static_cast<std::size_t>(column)].column);
        const std::string shownCaption = update[i].caption ? *update[i].caption : std::string(values[i].caption);
        if (values[i].caption == "频率") {
          // Its caption carries the unit, scaled: "频率(KHz)".
          EXPECT_NE(shownCaption.find(recorded + ")"), std::string::npos);
          continue;
        }
        EXPECT_EQ(readoutUnits.UnitOf(shownCaption), recorded);
        EXPECT_EQ(field.ends_with(" " + recorded), !recorded.empty());
      }
    }
    // The coast-down export names the speed and the coast time as recorded.
    CoastAnalysis analysis;
    const std::string csv = CoastAnalysisCsv(analysis, 1);
    EXPECT_NE(csv.find("band_high [" + HeaderUnit(header, "speed") + "]"), std::string::npos);
    EXPECT_NE(csv.find("coast_time [" + HeaderUnit(header, "coast_time") + "]"), std::string::npos);
    EXPECT_EQ(HeaderUnit(header, "distance"), DistanceUnitChoices()[choice]);
  }
  UseBenchUnits({});
}

TEST(Quantities, HeadersReadBackWithTheirUnits) {
  const std::string row =
      "2026-01-01T00:00:00.000+00:00,1.5,16,1" + std::string(RecordColumns().size() - 1, ',') + "\r\n";
  std::string old = RecordHeader({});
  old.replace(old.find("m/s²"), std::string("m/s²").size(), "m/s2");
  struct Case {
    std::string header;
    bool reads;
    std::uint8_t distance;
  };
  const Case cases[] = {
      {RecordHeader({0}), true, 0},
      {RecordHeader({1}), true, 1},
      {old, true, 0},  // as written before the unit was spelt m/s²
      {RecordHeader({}).replace(RecordHeader({}).find("distance [m]"), 12, "distance [mi]"), false, 0},
      {RecordHeader({}).replace(RecordHeader({}).find("force [daN]"), 11, "force [N]"), false, 0},
      {RecordHeader({}).replace(RecordHeader({}).find("numth"), 5, "numth [s]"), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    std::istringstream in(c.header + row);
    const RecordParseResult read = ParseRecording(in);
    ASSERT_EQ(!read.error, c.reads);
    if (c.reads) {
      EXPECT_EQ(read.recording.units.distance, c.distance);
      EXPECT_EQ(read.recording.rows.size(), 1u);
    }
  }
}

TEST(Quantities, BenchSettingsFile) {
  const auto path = std::filesystem::temp_directory_path() / ("rolta-bench-" + std::to_string(::getpid()) + ".conf");
  struct Case {
    const char* text;  // nullptr: no file
    std::uint8_t distance;
    const char* problem;
  };
  const Case cases[] = {
      {nullptr, 0, ""},
      {"# bench\ndistance_unit=km\n", 1, ""},
      {"distance_unit = m \r\nlater_setting=3\n", 0, ""},
      {"distance_unit=mile\n", 0, "1: distance_unit=mile"},
      {"\ngarbage\ndistance_unit=km\n", 1, "2: garbage"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(path);
    if (c.text != nullptr) std::ofstream(path, std::ios::binary) << c.text;
    const BenchSettingsResult result = LoadBenchSettings(path);
    EXPECT_EQ(result.units.distance, c.distance) << (c.text ? c.text : "none");
    EXPECT_EQ(result.problem, c.problem);
  }
  ASSERT_TRUE(SaveBenchSettings(path, {1}));
  EXPECT_EQ(LoadBenchSettings(path).units, BenchUnits{1});
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace rolta::test
