// Recording files: columns of every readout row, rows read back bit for bit,
// damaged files by line, the writer's failures, and the trend's coast-down marks.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "recording/frame_recorder.h"
#include "readouts/readouts.h"
#include "recording/recording.h"
#include "recording/trend_data.h"

namespace rolta::test {
namespace {

using namespace std::chrono_literals;

ControllerStatus Status(std::uint8_t type, float v1, float v2, float v3, float v4, std::int16_t numth = 1) {
  ControllerStatus status;
  status.FrameType = type;
  status.Value1 = v1;
  status.Value2 = v2;
  status.Value3 = v3;
  status.Value4 = v4;
  status.Numth = numth;
  return status;
}

double Cell(const RecordRow& row, const char* column) {
  return row.values[static_cast<std::size_t>(RecordColumnIndex(column))];
}

bool SameValue(double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0; }

TEST(RecordingTest, EveryReadoutValueOfEveryTypeHasAColumn) {
  for (int type = 0; type < 256; ++type) {
    const ReadoutValues values = LiveFrameValues(Status(static_cast<std::uint8_t>(type), 1, 2, 3, 4));
    for (std::size_t i = 0; i < kReadoutCount; ++i) {
      if (values[i].caption.empty()) continue;
      EXPECT_GE(RecordColumnOfCaption(values[i].caption, i), 5) << "type " << type << " caption " << values[i].caption;
    }
  }
}

TEST(RecordingTest, NamedColumnsTakeTheReadoutValues) {
  ControllerStatus accel = Status(75, 0, 33.5f, 120, 0);
  accel.AccelMilli = -1500;
  accel.Revolutions = 42;
  ControllerStatus io = Status(42, 0, 0, 0, 0);
  io.IoDigits = {0, 1, 0, 1, 1};
  struct Case {
    ControllerStatus status;
    const char* column;
    double expected;  // NaN: empty
  };
  const double empty = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {Status(16, 100, 40, 3, 2000), "speed", 40},
      {Status(16, 100, 40, 3, 2000), "force", 100},
      {Status(16, 100, 40, 3, 2000), "roller_rpm", 2000},
      {Status(16, 100, 40, 3, 2000), "power", empty},
      {Status(50, 100, 40, 12.5f, 0), "power", 11.1f},         // P1, truncated to tenths
      {Status(52, 100, 40, 0, 0), "power", 4000.0f / 360.0f},  // P
      {Status(50, 100, 40, 12.5f, 0), "coast_time", 12.5},
      {Status(21, 7, 80, 3, 0), "speed", 80},  // caption kept, still the speed
      {Status(58, 250, 30, 0.25f, 0), "response_1", 250},
      {Status(58, 250, 30, 0.25f, 0), "response_2", 0.25},
      {Status(35, 2500000, 1, 2, 3), "frequency", 2500000},
      {accel, "acceleration", -1.5},
      {accel, "revolutions", 42},
      {io, "io", 1011},
      {Status(126, 100, 3, 0, 0), "speed", empty},
      {Status(126, 100, 3, 0, 0), "v2", 3},
  };
  for (const Case& c : cases) {
    const RecordRow row = MakeRecordRow(c.status, 0);
    EXPECT_TRUE(SameValue(Cell(row, c.column), c.expected))
        << "type " << int(c.status.FrameType) << " " << c.column << " = " << Cell(row, c.column);
  }
}

TEST(RecordingTest, RowsReadBackBitForBit) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const ControllerStatus statuses[] = {Status(16, 123.456f, 49.99f, 0.1f, 2345.5f, 17),
                                       Status(50, 1e-30f, 3.4e38f, -0.0f, 7, -6), Status(33, nan, inf, -inf, 1, 0),
                                       Status(0, 1, 2, 3, 4, 32767), Status(255, 5, 6, 7, 8, -32768)};
  std::string file = RecordHeader();
  std::vector<RecordRow> written;
  double ms = 0;
  for (const ControllerStatus& status : statuses) {
    written.push_back(MakeRecordRow(status, ms));
    AppendRecordRow(file, "2026-01-02T03:04:05.678+08:00", written.back());
    ms += 2.083;
  }
  std::istringstream in(file);
  const RecordParseResult parsed = ParseRecording(in);
  ASSERT_FALSE(parsed.error) << parsed.error->line << " " << parsed.error->reason;
  ASSERT_EQ(parsed.recording.rows.size(), written.size());
  for (std::size_t r = 0; r < written.size(); ++r) {
    const RecordRow& row = parsed.recording.rows[r];
    EXPECT_EQ(row.frameType, written[r].frameType);
    EXPECT_NEAR(row.msSinceStart, written[r].msSinceStart, 0.0005);
    for (std::size_t c = 0; c < row.values.size(); ++c) {
      EXPECT_TRUE(SameValue(row.values[c], written[r].values[c])) << "row " << r << " column " << c;
    }
    EXPECT_EQ(parsed.recording.wallClock[r], "2026-01-02T03:04:05.678+08:00");
  }
}

TEST(RecordingTest, DamagedFilesAreReportedByLine) {
  const std::string header = RecordHeader();
  std::string row;
  AppendRecordRow(row, "2026-01-02T03:04:05.678+00:00", MakeRecordRow(Status(16, 1, 2, 3, 4), 5));
  std::string badNumber = row;
  badNumber.replace(badNumber.find(",5.000,") + 1, 5, "5.0x0");
  std::string shortRow = row.substr(0, row.find(",16,")) + "\r\n";
  struct Case {
    std::string text;
    std::size_t line;  // 0: reads
    std::size_t rows;
    bool cutOff;
  };
  const Case cases[] = {
      {"", 1, 0, false},
      {"a,b,c\r\n" + row, 1, 0, false},
      {"\xEF\xBB\xBF" + header + row, 0, 1, false},
      {header + row + row, 0, 2, false},
      {header + row + badNumber + row, 3, 0, false},
      {header + shortRow, 2, 0, false},
      {header + row + row.substr(0, row.size() / 2), 0, 1, true},  // cut off by a crash
      {header + row + "\r\n" + row, 3, 0, false},                  // an empty line inside
  };
  for (const Case& c : cases) {
    std::istringstream in(c.text);
    const RecordParseResult parsed = ParseRecording(in);
    EXPECT_EQ(parsed.error ? parsed.error->line : 0, c.line) << c.text.substr(0, 40);
    if (!parsed.error) {
      EXPECT_EQ(parsed.recording.rows.size(), c.rows);
    }
    EXPECT_EQ(parsed.cutOffTail, c.cutOff);
  }
  std::istringstream tooMany(header + row + row + row);
  EXPECT_EQ(ParseRecording(tooMany, 2).error, (RecordParseError{4, "记录文件太大"}));
}

std::filesystem::path TempFolder(const char* name) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("rolta-recording-test-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::remove_all(folder);
  return folder;
}

RecorderProgress WaitFinished(const FrameRecorder& recorder) {
  for (int i = 0; i < 300 && !recorder.Progress().finished; ++i) std::this_thread::sleep_for(10ms);
  return recorder.Progress();
}

TEST(FrameRecorderTest, WritesEveryFrameWithinTheFlushIntervalAndReadsBack) {
  const auto folder = TempFolder("write");
  const auto file = folder / "sub" / "run.csv";  // folders are made
  FrameRecorder recorder({std::chrono::milliseconds(20), 1000, false});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_FALSE(recorder.Start(file, start, std::chrono::system_clock::now()));
  for (int i = 0; i < 100; ++i) {
    recorder.Add(Status(16, static_cast<float>(i), 0.5f * static_cast<float>(i), 0, 0, static_cast<std::int16_t>(i)),
                 start + std::chrono::microseconds(2083 * i));
  }
  // A second start is refused and leaves the running recording's file and times alone.
  EXPECT_TRUE(recorder.Start(folder / "other.csv", start + 1h, std::chrono::system_clock::now()));
  EXPECT_EQ(recorder.Path(), file);
  EXPECT_EQ(recorder.StartTime(), start);
  // Without stopping: on the disk within the flush interval.
  for (int i = 0; i < 200 && recorder.Progress().rowsWritten < 100; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(recorder.Progress().rowsWritten, 100u);
  recorder.Stop();
  recorder.Add(Status(16, 1, 1, 1, 1), start);  // after the stop: not recorded
  const RecorderProgress done = WaitFinished(recorder);
  EXPECT_TRUE(done.finished);
  EXPECT_FALSE(done.error);

  std::ifstream in(file);
  const RecordParseResult parsed = ParseRecording(in);
  ASSERT_FALSE(parsed.error);
  ASSERT_EQ(parsed.recording.rows.size(), 100u);
  EXPECT_NEAR(parsed.recording.rows[99].msSinceStart, 99 * 2.083, 0.001);
  EXPECT_EQ(Cell(parsed.recording.rows[99], "speed"), 49.5);
  EXPECT_EQ(Cell(parsed.recording.rows[99], "numth"), 99);
  std::filesystem::remove_all(folder);
}

TEST(FrameRecorderTest, FailuresAreReportedAndStopTheRecording) {
  const auto folder = TempFolder("fail");
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "plain-file") << "x";
  {
    // A folder where a file stands cannot be made.
    FrameRecorder recorder;
    const auto error = recorder.Start(folder / "plain-file" / "run.csv", {}, {});
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, RecordError::Kind::Folder);
    EXPECT_FALSE(recorder.Recording());
  }
  if (std::filesystem::exists("/dev/full")) {
    // Every write fails with a full disk: the header already.
    FrameRecorder recorder({std::chrono::milliseconds(10), 1000, true});
    ASSERT_FALSE(recorder.Start("/dev/full", std::chrono::steady_clock::now(), std::chrono::system_clock::now()));
    recorder.Add(Status(16, 1, 2, 3, 4), std::chrono::steady_clock::now());
    const RecorderProgress progress = WaitFinished(recorder);
    ASSERT_TRUE(progress.error);
    EXPECT_EQ(progress.error->kind, RecordError::Kind::Write);
    EXPECT_EQ(progress.error->code, std::errc::no_space_on_device);
    EXPECT_FALSE(recorder.Recording());
    const MessageRequest box = RecordErrorMessage(IdentityLookup(), *progress.error);
    EXPECT_NE(box.text.find("/dev/full"), std::string::npos);
    EXPECT_NE(box.text.find("记录已停止"), std::string::npos);
  }
  {
    // A disk that does not keep up: the queue's limit stops the recording.
    FrameRecorder recorder({std::chrono::milliseconds(10'000), 3, false});
    ASSERT_FALSE(
        recorder.Start(folder / "slow.csv", std::chrono::steady_clock::now(), std::chrono::system_clock::now()));
    for (int i = 0; i < 5; ++i) recorder.Add(Status(16, 1, 2, 3, 4), std::chrono::steady_clock::now());
    const RecorderProgress progress = WaitFinished(recorder);
    ASSERT_TRUE(progress.error);
    EXPECT_EQ(progress.error->kind, RecordError::Kind::Backlog);
    EXPECT_EQ(progress.rowsWritten, 3u);  // what was queued is still written
  }
  std::filesystem::remove_all(folder);
}

TEST(TrendDataTest, CoastDownTimeBetweenTheSpeedsAndMinMaxBuckets) {
  // A coast-down at 10 km/h per second from 95 km/h, after constant speed.
  TrendStore store;
  for (int i = 0; i < 10; ++i) store.AddFrame(Status(16, 50, 95, 0, 0), 0.1 * i);
  for (int i = 0; i <= 90; ++i) store.AddFrame(Status(54, 20, static_cast<float>(95 - i), 0, 0), 1.0 + 0.1 * i);
  struct Case {
    double start, end;
    double startTime, endTime;
    bool reached;
  };
  const Case cases[] = {
      {90, 10, 1.5, 9.5, true},
      {94.5, 20.25, 1.05, 8.475, true},     // between frames: interpolated
      {100, 10, 1.0, 9.5, true},            // began below the start speed
      {90, 2, 1.5, 10.0, false},            // not down to the end speed yet
      {std::nan(""), 10, 1.0, 10.0, true},  // no speeds: the run's own
  };
  for (const Case& c : cases) {
    const auto result = FindCoastDown(store, c.start, c.end);
    ASSERT_TRUE(result);
    EXPECT_NEAR(result->marks.startTime, c.startTime, 1e-9) << c.start;
    EXPECT_NEAR(result->marks.endTime, c.endTime, 1e-9) << c.end;
    EXPECT_EQ(result->reachedEnd, c.reached);
  }
  TrendStore constant;
  constant.AddFrame(Status(16, 50, 95, 0, 0), 0);
  EXPECT_FALSE(FindCoastDown(constant, 90, 10));

  std::vector<MinMaxBucket> buckets;
  DecimateMinMax(store.Series(static_cast<std::size_t>(RecordColumnIndex("speed"))), 1.0, 3.0, 4, buckets);
  ASSERT_EQ(buckets.size(), 4u);
  EXPECT_EQ(buckets[0].max, 95);
  EXPECT_EQ(buckets[0].min, 91);
  EXPECT_EQ(buckets[3].min, 76);
  EXPECT_EQ(ValueAt(store.Series(static_cast<std::size_t>(RecordColumnIndex("speed"))), 1.25, 0.5), 93);
  EXPECT_FALSE(ValueAt(store.Series(static_cast<std::size_t>(RecordColumnIndex("power"))), 1.25, 0.5));

  // Live stores keep their span and drop what is older.
  TrendStore live(10);
  for (int i = 0; i < 300; ++i) live.AddFrame(Status(16, 1, 2, 3, 4), 0.1 * i);
  EXPECT_GE(live.FirstTime(), 29.9 - 11.0 - 1e-9);
  EXPECT_LE(live.FirstTime(), 29.9 - 10.0);
}

}  // namespace
}  // namespace rolta::test
