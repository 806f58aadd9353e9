// Calibration tables: catalogue, request and store frames, grid conversion,
// reply handling (including malformed replies), block transfers, stab.qrx and
// the display rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include "calib/calib_exchange.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RecordingPump final : public EventPump {
 public:
  void ProcessPendingEvents() override {}
  void SleepMilliseconds(int ms) override { pauses.push_back(ms); }
  std::vector<int> pauses;
};

class CountingView final : public CalibView {
 public:
  void OnWorkingTableChanged() override { ++refreshes; }
  int refreshes = 0;
};

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

// A controller reply frame of the type's length around this payload.
Bytes ReplyFrame(std::uint8_t type, const Bytes& payload) {
  Bytes frame(ControllerFrameLength(type), 0);
  frame[0] = kSync1;
  frame[1] = kSync2;
  frame[2] = type;
  std::copy_n(payload.begin(), std::min(payload.size(), frame.size() - 6), frame.begin() + 6);
  StoreChecksum(frame.data(), frame.size());
  return frame;
}

Bytes PointsPayload(std::int16_t count, std::size_t capacity, float base) {
  Bytes payload(2 + 8 * capacity + 2, 0);
  PutUInt16LE(payload.data(), static_cast<std::uint16_t>(count));
  for (std::size_t i = 0; i < capacity; ++i) {
    PutFloat32LE(&payload[2 + 4 * i], base + static_cast<float>(i));
    PutFloat32LE(&payload[2 + 4 * capacity + 4 * i], -base - static_cast<float>(i));
  }
  return payload;
}

Bytes BlockPayload(std::int16_t total, std::uint16_t offset, std::int16_t length, const Bytes& image) {
  Bytes payload(213, 0);
  PutUInt16LE(&payload[0], static_cast<std::uint16_t>(total));
  PutUInt16LE(&payload[2], offset);
  PutUInt16LE(&payload[4], static_cast<std::uint16_t>(length));
  for (std::size_t i = 0; i < 205 && offset + i < image.size(); ++i) payload[6 + i] = image[offset + i];
  return payload;
}

// A 402-byte image with this count and point i = (i + 0.5, 10 i).
Bytes VarImage(std::int16_t count) {
  CalibTable table(50);
  table.SetCount(count);
  for (std::size_t i = 0; i < 50; ++i) {
    table.SetFirst(i, static_cast<float>(i) + 0.5f);
    table.SetSecond(i, 10.0f * static_cast<float>(i));
  }
  return Bytes(table.Image().begin(), table.Image().end());
}

class CalibExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("calib_exchange_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  MemoryChannel channel_;
  RecordingPump pump_;
  ProfileFrame profile_;
};

TEST(CalibCatalogueTest, FramesOfEveryRowHaveTheLengthsTheLinkKnows) {
  for (const CalibChannelRow& row : CalibChannels()) {
    SCOPED_TRACE(std::string(row.fetchCaption));
    EXPECT_EQ(&CalibChannelInfo(row.channel), &row);
    EXPECT_EQ(CalibChannelForReply(row.requestCode), &row);
    EXPECT_EQ(ControllerFrameKindOf(row.requestCode), ControllerFrameKind::CalibTable);
    if (row.transfer == CalibTransfer::Whole) {
      EXPECT_EQ(CommandFrameLength(row.requestCode), 6u);
      EXPECT_EQ(CommandFrameLength(row.storeCode), 6 + CalibTable::ImageSizeFor(row.capacity));
      EXPECT_EQ(ControllerFrameLength(row.requestCode), 8 + CalibTable::ImageSizeFor(row.capacity));
    } else {
      EXPECT_EQ(CommandFrameLength(row.requestCode), 22u);
      EXPECT_EQ(CommandFrameLength(row.storeCode), kBlockStoreFrameLength);
    }
  }
}

TEST_F(CalibExchangeTest, RequestsAreSixByteFramesOfTheRequestCode) {
  CalibExchange exchange(channel_, pump_, profile_, dir_ / "stab.qrx");
  const struct {
    CalibChannel channel;
    Bytes frame;
  } rows[] = {
      {CalibChannel::Speed, {0x55, 0xAA, 0x3D, 0x00, 0xC4, 0xFE}},
      {CalibChannel::TorqueRearRight, {0x55, 0xAA, 0x7A, 0x00, 0x87, 0xFE}},
      {CalibChannel::Loss, {0x55, 0xAA, 0x4E, 0x00, 0xB3, 0xFE}},
  };
  for (const auto& row : rows) {
    channel_.ClearWrites();
    exchange.RequestTable(row.channel);
    ASSERT_EQ(channel_.Writes().size(), 1u);
    EXPECT_EQ(channel_.Writes()[0], row.frame);
  }
}

TEST_F(CalibExchangeTest, StoreBuildsTheTableFromTheGridRows) {
  using Rows = std::vector<CalibGridRow>;
  Rows many;
  for (int i = 0; i < 60; ++i) many.push_back({std::to_string(i + 1), std::to_string(2 * i)});
  const struct {
    const char* name;
    CalibChannel channel;
    Rows rows;
    std::int16_t count;
    std::vector<std::pair<float, float>> points;  // leading points to check
  } cases[] = {
      {"empty first cell", CalibChannel::Temperature, {{"", "5"}, {"1", "2"}}, 0, {}},
      {"first cell only blanks", CalibChannel::Humidity, {{" \t ", "5"}}, 0, {}},
      {"rows below the first empty cell", CalibChannel::Speed, {{"1", "2"}, {"", "3"}, {"4", "5"}}, 1, {{1, 2}}},
      {"trimmed first, letters second", CalibChannel::AirPressure, {{"  1.5  ", "abc"}, {"2e1", " 7x"}}, 2,
       {{1.5f, 0.0f}, {20.0f, 7.0f}}},
      {"empty second cell", CalibChannel::TorqueFrontLeft, {{"3", ""}}, 1, {{3.0f, 0.0f}}},
      {"sensor capacity", CalibChannel::TorqueFrontRight, many, 10, {{1, 0}, {2, 2}}},
      {"loss capacity", CalibChannel::Loss, many, 20, {{1, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    channel_.ClearWrites();
    CalibExchange exchange(channel_, pump_, profile_, dir_ / "stab.qrx");
    exchange.StoreTable(c.channel, c.rows);
    const CalibChannelRow& row = CalibChannelInfo(c.channel);
    ASSERT_EQ(channel_.Writes().size(), 1u);
    const Bytes frame = channel_.Writes()[0];
    ASSERT_EQ(frame.size(), 6 + CalibTable::ImageSizeFor(row.capacity));
    EXPECT_EQ(frame[2], row.storeCode);
    EXPECT_EQ(frame[3], frame.size() - 6);
    EXPECT_EQ(VerifyChecksum(frame.data(), frame.size()), 0);
    EXPECT_EQ(GetInt16LE(&frame[6]), c.count);
    for (std::size_t i = 0; i < c.points.size(); ++i) {
      EXPECT_EQ(GetFloat32LE(&frame[8 + 4 * i]), c.points[i].first);
      EXPECT_EQ(GetFloat32LE(&frame[8 + 4 * row.capacity + 4 * i]), c.points[i].second);
    }
    // Entries at and above the count are zero.
    for (std::size_t i = static_cast<std::size_t>(c.count); i < row.capacity; ++i) {
      EXPECT_EQ(GetUInt32LE(&frame[8 + 4 * i]), 0u);
      EXPECT_EQ(GetUInt32LE(&frame[8 + 4 * row.capacity + 4 * i]), 0u);
    }
  }
}

TEST_F(CalibExchangeTest, OnlyASpeedStoreThatWentOutReplacesStabFile) {
  const std::filesystem::path stab = dir_ / "stab.qrx";
  const Bytes before = {1, 2, 3};
  std::ofstream(stab, std::ios::binary).write("\1\2\3", 3);
  CalibExchange exchange(channel_, pump_, profile_, stab);
  const std::vector<CalibGridRow> rows = {{"100", "2"}, {"200", "4.5"}};

  exchange.StoreTable(CalibChannel::Temperature, rows);
  exchange.StoreTable(CalibChannel::Variable, rows);
  EXPECT_EQ(ReadFile(stab), before);

  channel_.SetOpen(false);
  exchange.StoreTable(CalibChannel::Speed, rows);
  EXPECT_EQ(ReadFile(stab), before);

  channel_.SetOpen(true);
  channel_.ClearWrites();
  exchange.StoreTable(CalibChannel::Speed, rows);
  const Bytes frame = channel_.Writes().at(0);
  const Bytes file = ReadFile(stab);
  ASSERT_EQ(file.size(), 82u);
  EXPECT_EQ(file, Bytes(frame.begin() + 6, frame.begin() + 88));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(CalibExchangeTest, FailedFileReplacementKeepsTheOldFile) {
  const std::filesystem::path target = dir_ / "stab.qrx";
  std::ofstream(target, std::ios::binary).write("old", 3);
  const Bytes bytes(82, 7);
  // A folder in place of the file: the rename fails, the temporary goes.
  EXPECT_FALSE(ReplaceFileAtomically(dir_, bytes));
  // A folder that does not exist: nothing can be created.
  EXPECT_FALSE(ReplaceFileAtomically(dir_ / "missing" / "stab.qrx", bytes));
  EXPECT_EQ(ReadFile(target), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
  EXPECT_TRUE(ReplaceFileAtomically(target, bytes));
  EXPECT_EQ(ReadFile(target), bytes);
}

TEST_F(CalibExchangeTest, PointRepliesFillTheWorkingTable) {
  const struct {
    const char* name;
    std::uint8_t type;
    std::int16_t count;
    std::int16_t expectedCount;
  } cases[] = {
      {"speed, three points", 61, 3, 3},
      {"loss, twenty points", 78, 20, 20},
      {"sensor count beyond capacity is limited", 60, 12, 10},
      {"loss count beyond capacity is limited", 78, 32767, 20},
      {"negative count reads as none", 62, -5, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CalibExchange exchange(channel_, pump_, profile_, dir_ / "stab.qrx");
    CountingView view;
    exchange.SetView(&view);
    // A complete 50-point table first: points past the reply's capacity stay.
    const Bytes image = VarImage(50);
    EXPECT_FALSE(exchange.OnCalibFrame(ReplyFrame(5, BlockPayload(402, 0, 200, image)).data(), 219));
    exchange.OnCalibFrame(ReplyFrame(5, BlockPayload(402, 200, 200, image)).data(), 219);
    EXPECT_TRUE(exchange.OnCalibFrame(ReplyFrame(5, BlockPayload(402, 400, 2, image)).data(), 219));

    const std::size_t n = CalibChannelForReply(c.type)->capacity;
    const Bytes frame = ReplyFrame(c.type, PointsPayload(c.count, n, 7.0f));
    EXPECT_TRUE(exchange.OnCalibFrame(frame.data(), frame.size()));
    EXPECT_EQ(view.refreshes, 2);
    const CalibTable& t = exchange.WorkingTable();
    EXPECT_EQ(t.Count(), c.expectedCount);
    for (std::size_t i = 0; i < 50; ++i) {
      const bool copied = i < static_cast<std::size_t>(c.expectedCount);
      const float first = copied ? 7.0f + static_cast<float>(i) : (i < n ? 0.0f : static_cast<float>(i) + 0.5f);
      const float second = copied ? -7.0f - static_cast<float>(i) : (i < n ? 0.0f : 10.0f * static_cast<float>(i));
      EXPECT_EQ(t.First(i), first) << i;
      EXPECT_EQ(t.Second(i), second) << i;
    }
  }
}

TEST_F(CalibExchangeTest, FramesOfAnotherTypeOrLengthAreIgnored) {
  CalibExchange exchange(channel_, pump_, profile_, dir_ / "stab.qrx");
  const Bytes good = ReplyFrame(61, PointsPayload(3, 10, 1.0f));
  const Bytes status = ReplyFrame(16, {});
  EXPECT_FALSE(exchange.OnCalibFrame(good.data(), 89));
  EXPECT_FALSE(exchange.OnCalibFrame(good.data(), 4));
  EXPECT_FALSE(exchange.OnCalibFrame(nullptr, 90));
  EXPECT_FALSE(exchange.OnCalibFrame(status.data(), status.size()));
  exchange.OnSensorTableReply(std::span(good).subspan(6, 40));  // too short: ignored
  EXPECT_EQ(exchange.WorkingTable(), CalibTable(50));
}

TEST_F(CalibExchangeTest, BlockRepliesCompleteTheImageOnlyOnTheBlockEndingIt) {
  const Bytes old = VarImage(5);
  const Bytes fresh = [] {
    Bytes image = VarImage(30);
    for (std::size_t i = 2; i < image.size(); ++i) image[i] ^= 0x5A;
    return image;
  }();
  struct Block {
    std::int16_t total;
    std::uint16_t offset;
    std::int16_t length;
    bool completes;
  };
  const struct {
    const char* name;
    std::vector<Block> blocks;
    std::int16_t count;             // working table's count afterwards
    std::size_t freshFrom, freshTo;  // bytes of `fresh` in the image; the rest is `old`
  } cases[] = {
      {"in order", {{402, 0, 200, false}, {402, 200, 200, false}, {402, 400, 2, true}}, 30, 0, 402},
      {"last block first", {{402, 400, 2, true}, {402, 0, 200, false}, {402, 200, 200, false}}, 30, 0, 402},
      {"last block alone keeps the count and points from before", {{402, 400, 2, true}}, 5, 400, 402},
      {"total other than 402", {{401, 0, 200, false}}, 5, 0, 0},
      {"offset 402", {{402, 402, 0, false}}, 5, 0, 0},
      {"offset 65535", {{402, 0xFFFF, 2, false}}, 5, 0, 0},
      {"block running past the end", {{402, 300, 200, false}}, 5, 0, 0},
      {"negative length", {{402, 0, -2, false}}, 5, 0, 0},
      {"more data than the frame holds", {{402, 0, 206, false}}, 5, 0, 0},
      {"empty block", {{402, 10, 0, false}}, 5, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CalibExchange exchange(channel_, pump_, profile_, dir_ / "stab.qrx");
    for (std::uint16_t offset : {0, 200, 400}) {
      exchange.OnTableBlockReply(BlockPayload(402, offset, offset == 400 ? 2 : 200, old));
    }
    for (const Block& b : c.blocks) {
      EXPECT_EQ(exchange.OnTableBlockReply(BlockPayload(b.total, b.offset, b.length, fresh)), b.completes);
    }
    const auto image = exchange.WorkingTable().Image();
    for (std::size_t i = 2; i < 402; ++i) {
      const bool isFresh = i >= c.freshFrom && i < c.freshTo;
      ASSERT_EQ(image[i], isFresh ? fresh[i] : old[i]) << i;
    }
    EXPECT_EQ(exchange.WorkingTable().Count(), c.count);
  }
}

TEST_F(CalibExchangeTest, CompleteImageWithACountTheTableCannotHoldIsEmptied) {
  const struct {
    std::int16_t count;
    bool shown;
    std::int16_t after;
  } cases[] = {{50, true, 50}, {51, false, 0}, {-1, false, 0}, {0, true, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    CalibExchange exchange(channel_, pump_, profile_, dir_ / "stab.qrx");
    CountingView view;
    exchange.SetView(&view);
    const Bytes frame = ReplyFrame(5, BlockPayload(402, 0, 2, VarImage(c.count)));
    const Bytes last = ReplyFrame(5, BlockPayload(402, 2, 200, VarImage(c.count)));
    const Bytes tail = ReplyFrame(5, BlockPayload(402, 202, 200, VarImage(c.count)));
    exchange.OnCalibFrame(frame.data(), frame.size());
    exchange.OnCalibFrame(last.data(), last.size());
    EXPECT_EQ(exchange.OnCalibFrame(tail.data(), tail.size()), c.shown);
    EXPECT_EQ(view.refreshes, c.shown ? 1 : 0);
    EXPECT_EQ(exchange.WorkingTable().Count(), c.after);
  }
}

TEST_F(CalibExchangeTest, VarTableReadAsksForThreeBlocksThroughTheSharedBuffer) {
  profile_.SetCommand(50);
  profile_.SetValue(2, 12.5f);
  profile_.SetValue(3, -3.0f);
  CalibExchange exchange(channel_, pump_, profile_, dir_ / "stab.qrx");
  exchange.RequestTable(CalibChannel::Variable);
  const auto writes = channel_.Writes();
  ASSERT_EQ(writes.size(), 3u);
  const float expected[3][2] = {{0, 200}, {200, 200}, {400, 2}};
  for (std::size_t i = 0; i < 3; ++i) {
    const Bytes& f = writes[i];
    ASSERT_EQ(f.size(), 22u);
    EXPECT_EQ(GetUInt16LE(&f[2]), 0x1005);
    EXPECT_EQ(VerifyChecksum(f.data(), f.size()), 0);
    EXPECT_EQ(GetFloat32LE(&f[6]), expected[i][0]);
    EXPECT_EQ(GetFloat32LE(&f[10]), expected[i][1]);
    EXPECT_EQ(GetFloat32LE(&f[14]), 12.5f);
    EXPECT_EQ(GetFloat32LE(&f[18]), -3.0f);
  }
  EXPECT_EQ(Bytes(profile_.data(), profile_.data() + 22), writes[2]);
  EXPECT_EQ(pump_.pauses, (std::vector<int>{50, 50, 50}));
}

TEST_F(CalibExchangeTest, VarTableStoreWritesThreeBlocksOfTheImage) {
  std::vector<CalibGridRow> rows;
  for (int i = 0; i < 51; ++i) rows.push_back({std::to_string(i) + ".25", std::to_string(-i)});
  CalibExchange exchange(channel_, pump_, profile_, dir_ / "stab.qrx");
  exchange.StoreTable(CalibChannel::Variable, rows);
  const CalibTable table = TableFromGridRows(rows, 50);
  ASSERT_EQ(table.Count(), 50);
  const auto writes = channel_.Writes();
  ASSERT_EQ(writes.size(), 3u);
  const std::size_t blocks[3][2] = {{0, 200}, {200, 200}, {400, 2}};
  for (std::size_t i = 0; i < 3; ++i) {
    const Bytes& f = writes[i];
    const auto [offset, length] = std::pair(blocks[i][0], blocks[i][1]);
    ASSERT_EQ(f.size(), 217u);
    EXPECT_EQ(GetUInt16LE(&f[2]), 0xD306);
    EXPECT_EQ(VerifyChecksum(f.data(), f.size()), 0);
    EXPECT_EQ(GetInt16LE(&f[6]), 402);
    EXPECT_EQ(static_cast<std::size_t>(GetInt16LE(&f[8])), offset);
    EXPECT_EQ(static_cast<std::size_t>(GetInt16LE(&f[10])), length);
    EXPECT_TRUE(std::equal(f.begin() + 12, f.begin() + 12 + static_cast<std::ptrdiff_t>(length),
                           table.Image().begin() + static_cast<std::ptrdiff_t>(offset)));
  }
  EXPECT_EQ(pump_.pauses, (std::vector<int>{100, 100, 100}));
}

TEST(CalibDisplayTest, ValuesAreRoundedThenPrintedWithThreeDecimals) {
  const float big = 3.0e6f;
  const struct {
    float value;
    int decimals;
    const char* text;
  } cases[] = {
      {0.0625f, 3, "0.063"},   {-0.0625f, 3, "-0.062"}, {2.25f, 1, "2.300"},   {-2.25f, 1, "-2.200"},
      {1.75f, 0, "2.000"},     {-1.75f, -2, "-1.000"},  {0.1234567f, 9, "0.123"},
      {big, 3, "3000000.000"},  // too large to scale into 32 bits: shown as it is
      {std::numeric_limits<float>::infinity(), 1, "inf"}, {std::nanf(""), 3, "nan"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(CalibValueText(c.value, c.decimals), c.text);
  }
}

TEST(CalibDisplayTest, DisplayRowsFollowTheCountWithinTheGrid) {
  CalibTable table(50);
  for (std::size_t i = 0; i < 50; ++i) table.SetFirst(i, static_cast<float>(i));
  const struct {
    std::int16_t count;
    std::size_t gridRows;
    std::size_t rows;
  } cases[] = {{0, 51, 0}, {50, 51, 50}, {51, 51, 50}, {-3, 51, 0}, {50, 21, 21}};
  for (const auto& c : cases) {
    table.SetCount(c.count);
    const auto rows = DisplayRows(table, c.gridRows);
    ASSERT_EQ(rows.size(), c.rows) << c.count;
    if (!rows.empty()) {
      EXPECT_EQ(rows.back().number, std::to_string(c.rows));
    }
  }
}

}  // namespace
}  // namespace rolta::test
