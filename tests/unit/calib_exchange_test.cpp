// Calibration tables: request and store frames from grid rows, stab.qrx, replies
// into the working table (malformed ones included), block transfers, rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "calib/calib_exchange.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Recorder final : EventPump, CalibView {
  void ProcessPendingEvents() override {}
  void SleepMilliseconds(int ms) override { pauses.push_back(ms); }
  void OnWorkingTableChanged() override { ++refreshes; }
  std::vector<int> pauses;
  int refreshes = 0;
};

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

Bytes Reply(std::uint8_t type, const Bytes& payload) {
  Bytes frame(ControllerFrameLength(type), 0);
  frame[0] = kSync1, frame[1] = kSync2, frame[2] = type;
  std::copy_n(payload.begin(), std::min(payload.size(), frame.size() - 6), frame.begin() + 6);
  return frame;
}

// count, then point i = (base + i, -base - i) at full capacity.
Bytes Points(std::int16_t count, std::size_t capacity, float base) {
  CalibTable table(capacity);
  table.SetCount(count);
  for (std::size_t i = 0; i < capacity; ++i) {
    table.SetFirst(i, base + static_cast<float>(i));
    table.SetSecond(i, -base - static_cast<float>(i));
  }
  return Bytes(table.Image().begin(), table.Image().end());
}

Bytes Block(std::int16_t total, std::uint16_t offset, std::int16_t length, const Bytes& image) {
  Bytes payload(213, 0);
  PutUInt16LE(&payload[0], static_cast<std::uint16_t>(total));
  PutUInt16LE(&payload[2], offset);
  PutUInt16LE(&payload[4], static_cast<std::uint16_t>(length));
  for (std::size_t i = 0; i < 205 && offset + i < image.size(); ++i) payload[6 + i] = image[offset + i];
  return payload;
}

class CalibExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("calib_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  CalibExchange Exchange() {
    CalibExchange exchange(channel_, recorder_, profile_, dir_ / "stab.qrx");
    exchange.SetView(&recorder_);
    return exchange;
  }

  std::filesystem::path dir_;
  MemoryChannel channel_;
  Recorder recorder_;
  ProfileFrame profile_;
};

TEST_F(CalibExchangeTest, RequestsAndStoresCarryTheGridRowsUpToTheFirstEmptyCell) {
  CalibExchange exchange = Exchange();
  exchange.RequestTable(CalibChannel::Speed);
  exchange.RequestTable(CalibChannel::TorqueRearRight);
  EXPECT_EQ(channel_.Writes(),
            (std::vector<Bytes>{{0x55, 0xAA, 0x3D, 0x00, 0xC4, 0xFE}, {0x55, 0xAA, 0x7A, 0x00, 0x87, 0xFE}}));
  std::vector<CalibGridRow> many;
  for (int i = 0; i < 60; ++i) many.push_back({std::to_string(i + 1), std::to_string(2 * i)});
  const struct {
    CalibChannel channel;
    std::vector<CalibGridRow> rows;
    std::int16_t count;
    std::vector<float> firstThenSecond;  // first[0], second[0], first[1], second[1]...
  } cases[] = {
      {CalibChannel::Temperature, {{"", "5"}, {"1", "2"}}, 0, {}},
      {CalibChannel::Humidity, {{" \t ", "5"}}, 0, {}},
      {CalibChannel::Speed, {{"1", "2"}, {"", "3"}, {"4", "5"}}, 1, {1, 2}},
      {CalibChannel::AirPressure, {{"  1.5  ", "abc"}, {"2e1", " 7x"}, {"3", ""}}, 3, {1.5f, 0, 20, 7, 3, 0}},
      {CalibChannel::TorqueFrontRight, many, 10, {}},
      {CalibChannel::Loss, many, 20, {}},
  };
  for (const auto& c : cases) {
    const CalibChannelRow& row = CalibChannelInfo(c.channel);
    SCOPED_TRACE(std::string(row.storeCaption));
    channel_.ClearWrites();
    exchange.StoreTable(c.channel, c.rows);
    const Bytes frame = channel_.Writes().at(0);
    ASSERT_EQ(frame.size(), CommandFrameLength(row.storeCode));
    EXPECT_EQ(frame[2], row.storeCode);
    EXPECT_EQ(frame[3], frame.size() - 6);
    EXPECT_EQ(VerifyChecksum(frame.data(), frame.size()), 0);
    EXPECT_EQ(GetInt16LE(&frame[6]), c.count);
    // Every entry at and above the count is 0; `many` holds point i = (i + 1, 2i).
    CalibTable expected(row.capacity);
    for (std::size_t i = 0; i < static_cast<std::size_t>(c.count); ++i) {
      const bool fromMany = c.rows.size() == many.size();
      expected.SetFirst(i, fromMany ? static_cast<float>(i + 1) : c.firstThenSecond[2 * i]);
      expected.SetSecond(i, fromMany ? static_cast<float>(2 * i) : c.firstThenSecond[2 * i + 1]);
    }
    EXPECT_TRUE(std::equal(expected.Image().begin() + 2, expected.Image().end(), frame.begin() + 8));
  }
}

TEST_F(CalibExchangeTest, OnlyASpeedStoreThatWentOutReplacesStabFile) {
  const std::filesystem::path stab = dir_ / "stab.qrx";
  std::ofstream(stab, std::ios::binary).write("old", 3);
  const Bytes old = {'o', 'l', 'd'};
  CalibExchange exchange = Exchange();
  const std::vector<CalibGridRow> rows = {{"100", "2"}, {"200", "4.5"}};
  exchange.StoreTable(CalibChannel::Temperature, rows);
  exchange.StoreTable(CalibChannel::Variable, rows);
  channel_.SetOpen(false);
  exchange.StoreTable(CalibChannel::Speed, rows);
  EXPECT_EQ(ReadFile(stab), old);
  // Replacements that fail leave the old file and no temporary behind.
  EXPECT_FALSE(ReplaceFileAtomically(dir_, Bytes(82, 7)));
  EXPECT_FALSE(ReplaceFileAtomically(dir_ / "missing" / "stab.qrx", Bytes(82, 7)));
  EXPECT_EQ(ReadFile(stab), old);

  channel_.SetOpen(true);
  channel_.ClearWrites();
  exchange.StoreTable(CalibChannel::Speed, rows);
  const Bytes frame = channel_.Writes().at(0);
  EXPECT_EQ(ReadFile(stab), Bytes(frame.begin() + 6, frame.begin() + 88));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

// A table as read from a file goes out bit for bit (NaN patterns, -0, a count
// below the capacity), by the same frames and stab.qrx copy as grid rows; one
// of another capacity goes out at the channel's size.
TEST_F(CalibExchangeTest, AGivenTableIsSentBitForBit) {
  CalibTable table(10);
  table.SetCount(3);
  const std::uint32_t bits[] = {0xFFFFFFFF, 0x7F800001, 0x80000000, 0x7F7FFFFF, 0xFF800000, 0x00000001};
  for (std::size_t i = 0; i < 3; ++i) {
    std::memcpy(table.FirstBytes(i), &bits[i], 4);
    std::memcpy(table.SecondBytes(i), &bits[3 + i], 4);
  }
  CalibExchange exchange = Exchange();
  exchange.StoreTable(CalibChannel::Speed, table);
  const Bytes image(table.Image().begin(), table.Image().end());
  const Bytes speed = channel_.Writes().at(0);
  EXPECT_EQ(Bytes(speed.begin() + 6, speed.end()), image);
  EXPECT_EQ(ReadFile(dir_ / "stab.qrx"), image);

  CalibTable wide(50);
  wide.SetCount(12);
  for (std::size_t i = 0; i < 12; ++i) std::memcpy(wide.FirstBytes(i), &bits[i % 6], 4);
  channel_.ClearWrites();
  exchange.StoreTable(CalibChannel::Humidity, wide);
  CalibTable expected(10);
  expected.SetCount(10);
  for (std::size_t i = 0; i < 10; ++i) std::memcpy(expected.FirstBytes(i), &bits[i % 6], 4);
  const Bytes humidity = channel_.Writes().at(0);
  EXPECT_EQ(Bytes(humidity.begin() + 6, humidity.end()), Bytes(expected.Image().begin(), expected.Image().end()));
}

TEST_F(CalibExchangeTest, PointRepliesReplaceTheFirstPointsOfTheWorkingTable) {
  const struct {
    std::uint8_t type;
    std::int16_t count, shownCount;
  } cases[] = {{61, 3, 3}, {78, 20, 20}, {60, 12, 10}, {78, 32767, 20}, {62, -5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    CalibExchange exchange = Exchange();
    // A complete 50-point table first: what lies past the reply's capacity stays.
    const Bytes var = Points(50, 50, 100);
    exchange.OnTableBlockReply(Block(402, 0, 200, var));
    exchange.OnTableBlockReply(Block(402, 200, 202, var));
    const std::size_t n = CalibChannelForReply(c.type)->capacity;
    const Bytes frame = Reply(c.type, Points(c.count, n, 7));
    EXPECT_TRUE(exchange.OnCalibFrame(frame.data(), frame.size()));
    const CalibTable& t = exchange.WorkingTable();
    EXPECT_EQ(t.Count(), c.shownCount);
    for (std::size_t i = 0; i < 50; ++i) {
      const float base = i < static_cast<std::size_t>(c.shownCount) ? 7.0f : i >= n ? 100.0f : NAN;
      EXPECT_EQ(t.First(i), std::isnan(base) ? 0.0f : base + static_cast<float>(i)) << i;
      EXPECT_EQ(t.Second(i), std::isnan(base) ? 0.0f : -base - static_cast<float>(i)) << i;
    }
  }
  EXPECT_EQ(recorder_.refreshes, 5);
  // Frames of the wrong length or type, and short payloads, change nothing.
  CalibExchange exchange = Exchange();
  const Bytes good = Reply(61, Points(3, 10, 1));
  EXPECT_FALSE(exchange.OnCalibFrame(good.data(), 89));
  EXPECT_FALSE(exchange.OnCalibFrame(Reply(16, {}).data(), 24));
  exchange.OnSensorTableReply(std::span(good).subspan(6, 40));
  EXPECT_EQ(exchange.WorkingTable(), CalibTable(50));
}

TEST_F(CalibExchangeTest, BlockRepliesCompleteTheImageOnlyWithTheBlockEndingIt) {
  const Bytes old = Points(5, 50, 1);
  struct Step {
    std::int16_t total;
    std::uint16_t offset;
    std::int16_t length;
    bool completes;
  };
  const struct {
    const char* name;
    std::int16_t freshCount;
    std::vector<Step> steps;
    std::int16_t count;
    std::size_t freshFrom, freshTo;  // bytes of the new image; the rest stays old
  } cases[] = {
      {"in order", 30, {{402, 0, 200, false}, {402, 200, 200, false}, {402, 400, 2, true}}, 30, 0, 402},
      {"last first", 30, {{402, 400, 2, true}, {402, 0, 200, false}, {402, 200, 200, false}}, 30, 0, 402},
      {"last alone keeps the old count", 30, {{402, 400, 2, true}}, 5, 400, 402},
      {"count 50", 50, {{402, 0, 2, false}, {402, 2, 200, false}, {402, 202, 200, true}}, 50, 0, 402},
      {"count 51 empties", 51, {{402, 0, 2, false}, {402, 2, 200, false}, {402, 202, 200, false}}, 0, 2, 402},
      {"count -1 empties", -1, {{402, 0, 200, false}, {402, 200, 202, false}}, 0, 2, 402},
      {"total 401", 30, {{401, 0, 200, false}}, 5, 0, 0},
      {"offset 402", 30, {{402, 402, 0, false}}, 5, 0, 0},
      {"offset 65535", 30, {{402, 0xFFFF, 2, false}}, 5, 0, 0},
      {"past the end", 30, {{402, 300, 200, false}}, 5, 0, 0},
      {"negative length", 30, {{402, 0, -2, false}}, 5, 0, 0},
      {"more than the frame holds", 30, {{402, 0, 206, false}}, 5, 0, 0},
      {"empty", 30, {{402, 10, 0, false}}, 5, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CalibExchange exchange = Exchange();
    exchange.OnTableBlockReply(Block(402, 0, 200, old));
    exchange.OnTableBlockReply(Block(402, 200, 202, old));
    const Bytes fresh = Points(c.freshCount, 50, 1000);
    recorder_.refreshes = 0;
    int completions = 0;
    for (const Step& s : c.steps) {
      const Bytes frame = Reply(5, Block(s.total, s.offset, s.length, fresh));
      EXPECT_EQ(exchange.OnCalibFrame(frame.data(), frame.size()), s.completes);
      completions += s.completes ? 1 : 0;
    }
    EXPECT_EQ(recorder_.refreshes, completions);
    const auto image = exchange.WorkingTable().Image();
    for (std::size_t i = 2; i < 402; ++i) {
      ASSERT_EQ(image[i], i >= c.freshFrom && i < c.freshTo ? fresh[i] : old[i]) << i;
    }
    EXPECT_EQ(exchange.WorkingTable().Count(), c.count);
  }
}

TEST_F(CalibExchangeTest, VarTableTravelsInThreeBlocksThroughTheSharedBuffer) {
  profile_.SetValue(2, 12.5f);  // left by an earlier catalogue command
  CalibExchange exchange = Exchange();
  exchange.RequestTable(CalibChannel::Variable);
  std::vector<CalibGridRow> rows;
  for (int i = 0; i < 51; ++i) rows.push_back({std::to_string(i) + ".25", std::to_string(-i)});
  exchange.StoreTable(CalibChannel::Variable, rows);
  const CalibTable table = TableFromGridRows(rows, 50);
  const Bytes image(table.Image().begin(), table.Image().end());
  EXPECT_EQ(table.Count(), 50);
  const auto writes = channel_.Writes();
  ASSERT_EQ(writes.size(), 6u);
  const std::size_t blocks[3][2] = {{0, 200}, {200, 200}, {400, 2}};
  for (std::size_t i = 0; i < 3; ++i) {
    const Bytes& read = writes[i];
    const Bytes& store = writes[3 + i];
    const auto [offset, length] = std::pair(blocks[i][0], blocks[i][1]);
    EXPECT_EQ(read.size(), 22u);
    EXPECT_EQ(GetUInt16LE(&read[2]), 0x1005);
    EXPECT_EQ(VerifyChecksum(read.data(), read.size()), 0);
    EXPECT_EQ(GetFloat32LE(&read[6]), static_cast<float>(offset));
    EXPECT_EQ(GetFloat32LE(&read[10]), static_cast<float>(length));
    EXPECT_EQ(GetFloat32LE(&read[14]), 12.5f);
    EXPECT_EQ(store.size(), 217u);
    EXPECT_EQ(GetUInt16LE(&store[2]), 0xD306);
    EXPECT_EQ(VerifyChecksum(store.data(), store.size()), 0);
    EXPECT_EQ(Bytes(store.begin() + 6, store.begin() + 12),
              (Bytes{0x92, 0x01, static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                     static_cast<std::uint8_t>(length), 0}));
    EXPECT_TRUE(std::equal(store.begin() + 12, store.begin() + 12 + static_cast<std::ptrdiff_t>(length),
                           image.begin() + static_cast<std::ptrdiff_t>(offset)));
  }
  EXPECT_EQ(recorder_.pauses, (std::vector<int>{50, 50, 50, 100, 100, 100}));
}

TEST(CalibDisplayTest, ValuesAreRoundedThenPrintedWithThreeDecimals) {
  const struct {
    float value;
    int decimals;
    const char* text;
  } cases[] = {
      {0.0625f, 3, "0.063"},    {-0.0625f, 3, "-0.062"},
      {2.25f, 1, "2.300"},      {-2.25f, 1, "-2.200"},
      {1.75f, 0, "2.000"},      {-1.75f, -2, "-1.000"},
      {0.1234567f, 9, "0.123"}, {3.0e6f, 3, "3000000.000"},  // beyond 32 bits once scaled: shown as it is
      {INFINITY, 1, "inf"},     {NAN, 3, "nan"},
  };
  for (const auto& c : cases) EXPECT_EQ(CalibValueText(c.value, c.decimals), c.text) << c.value;
}

}  // namespace
}  // namespace rolta::test
