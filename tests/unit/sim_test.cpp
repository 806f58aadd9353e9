// The controller simulator driven over its pseudo-terminal, as the console
// drives it: frames built with the console's frame buffers, answers read back
// from the line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "controller_simulator.h"
#include "link/command_codes.h"
#include "link/frames.h"
#include "param_defaults.h"
#include "sim_options.h"

namespace rolta::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

struct Status {
  std::uint8_t type;
  float v1, v2, v3, v4;
  std::int16_t numth;
};

Status Decode(const Bytes& f) {
  return {f[2],
          GetFloat32LE(&f[6]),
          GetFloat32LE(&f[10]),
          GetFloat32LE(&f[14]),
          GetFloat32LE(&f[18]),
          GetInt16LE(&f[f.size() - 2])};
}

// The console's end of the line.
class Line {
 public:
  explicit Line(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~Line() {
    if (fd_ >= 0) close(fd_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  void Send(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, 1000) <= 0) return;
      }
    }
  }
  template <std::size_t N>
  void Send(FrameBuffer<N>& frame) {
    Send(frame.Seal());
  }
  void SendShort(std::uint8_t code) {
    ShortFrame f;
    f.SetCommand(code);
    Send(f);
  }

  // Everything that arrives within the time.
  Bytes ReadFor(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) Fill(end);
    Bytes out;
    out.swap(buffer_);
    return out;
  }

  // The next frame on the line (length by its type), without checking it.
  std::optional<Bytes> NextFrame(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      while (buffer_.size() >= 2 && !(buffer_[0] == kSync1 && buffer_[1] == kSync2)) buffer_.erase(buffer_.begin());
      if (buffer_.size() >= 3) {
        const std::size_t length = ControllerFrameLength(buffer_[2]);
        if (buffer_.size() >= length) {
          Bytes frame(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
          buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
          return frame;
        }
      }
      if (std::chrono::steady_clock::now() >= end) return std::nullopt;
      Fill(end);
    }
  }

  // Reads frames until one of this type comes; every frame on the way must
  // verify.
  std::optional<Bytes> WaitForType(std::uint8_t type, std::chrono::milliseconds timeout = 2s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left <= 0ms) return std::nullopt;
      std::optional<Bytes> f = NextFrame(left);
      if (!f) return std::nullopt;
      EXPECT_EQ(VerifyChecksum(f->data(), f->size()), 0) << "type " << int((*f)[2]);
      if ((*f)[2] == type) return f;
    }
  }

  // Frames of one type until the line has been quiet of them for `quiet`.
  std::vector<Status> CollectType(std::uint8_t type, std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
    std::vector<Status> out;
    const auto end = std::chrono::steady_clock::now() + limit;
    auto lastSeen = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end && std::chrono::steady_clock::now() - lastSeen < quiet) {
      std::optional<Bytes> f = NextFrame(10ms);
      if (!f) continue;
      EXPECT_EQ(VerifyChecksum(f->data(), f->size()), 0);
      if ((*f)[2] == type) {
        out.push_back(Decode(*f));
        lastSeen = std::chrono::steady_clock::now();
      }
    }
    return out;
  }

 private:
  void Fill(std::chrono::steady_clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0) return;
    std::uint8_t chunk[1024];
    const ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n > 0) buffer_.insert(buffer_.end(), chunk, chunk + n);
    if (n == 0 || (p.revents & POLLHUP)) std::this_thread::sleep_for(5ms);
  }

  int fd_ = -1;
  Bytes buffer_;
};

SimulatorOptions Fast() {
  SimulatorOptions o;
  o.periodMs = 10;
  o.timeScale = 40;
  return o;
}

std::filesystem::path TempDir() {
  char pattern[] = "/tmp/sim_test_XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
}

class SimTest : public ::testing::Test {
 protected:
  void Begin(SimulatorOptions options = Fast()) {
    sim_ = std::make_unique<ControllerSimulator>(options);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    line_ = std::make_unique<Line>(sim_->SlavePath());
    ASSERT_TRUE(line_->IsOpen());
  }
  void TearDown() override {
    line_.reset();
    if (sim_) sim_->Stop();
  }
  std::unique_ptr<ControllerSimulator> sim_;
  std::unique_ptr<Line> line_;
};

// --- every command byte the console sends is answered by its own type ----

TEST_F(SimTest, EveryCatalogueCommandIsAnsweredWithFramesOfItsType) {
  Begin();
  for (const CommandLengthClass& row : CommandLengthTable()) {
    if (row.description != "command catalogue") continue;
    for (std::uint8_t code : row.commandCodes) {
      SCOPED_TRACE(testing::Message() << "command " << int(code));
      if (row.frameLength == 6) {
        line_->SendShort(code);
      } else if (row.frameLength == 11) {
        SetpointFrame f;
        f.SetCommand(code);
        f.SetValue(20.0f);
        line_->Send(f);
      } else {
        ASSERT_EQ(row.frameLength, 22u);
        ProfileFrame f;
        f.SetCommand(code);
        f.SetValue(0, 30.0f);
        f.SetValue(1, 20.0f);
        line_->Send(f);
      }
      std::optional<Bytes> answer = line_->WaitForType(code);
      ASSERT_TRUE(answer.has_value());
      // The channel-map request is the one catalogue command with a long reply.
      EXPECT_EQ(answer->size(), code == 65 ? 48u : 24u);
      EXPECT_NE(Decode(*answer).numth, kRejectedNumth);
    }
  }
}

TEST_F(SimTest, VersionQueryAnswersTheControllerProgramAndItsVersion) {
  Begin();
  const std::uint8_t query[] = {0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE};
  line_->Send(query);
  std::optional<Bytes> answer = line_->WaitForType(4);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), 24u);
  const Status s = Decode(*answer);
  EXPECT_NE(s.v1, 100.0f);  // not the upgrade program
  EXPECT_EQ(s.v2, 734.0f);
}

// The transport hands its settings to the model field by field: a version
// other than the model's default arrives as the version, not in the losses.
TEST_F(SimTest, VersionAndProgramOfTheOptionsAreTheOnesAnswered) {
  struct Row {
    int version;
    bool upgradeProgram;
  };
  for (const Row row : {Row{512, false}, Row{901, true}}) {
    SimulatorOptions options = Fast();
    options.firmwareVersionX100 = row.version;
    options.startInUpgradeProgram = row.upgradeProgram;
    Begin(options);
    line_->SendShort(4);
    std::optional<Bytes> answer = line_->WaitForType(4);
    ASSERT_TRUE(answer) << row.version;
    EXPECT_EQ(Decode(*answer).v1 == 100.0f, row.upgradeProgram) << row.version;
    EXPECT_EQ(Decode(*answer).v2, static_cast<float>(row.version));
    TearDown();
  }
}

// --- values that move as a bench's do -------------------------------------

TEST_F(SimTest, ConstantSpeedRampsTowardItsSetPointUntilStopped) {
  Begin();
  const std::uint8_t speed50[] = {0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0x00, 0x00, 0x00, 0x48, 0x42};
  line_->Send(speed50);
  std::vector<Status> frames;
  const auto end = std::chrono::steady_clock::now() + 1500ms;
  while (std::chrono::steady_clock::now() < end && (frames.empty() || frames.back().v2 < 49.0f)) {
    if (std::optional<Bytes> f = line_->WaitForType(16, 500ms)) frames.push_back(Decode(*f));
  }
  ASSERT_GE(frames.size(), 5u);
  for (std::size_t i = 1; i < frames.size(); ++i) {
    EXPECT_GE(frames[i].v2, frames[i - 1].v2);
    EXPECT_LE(frames[i].v2, 50.0f);
  }
  EXPECT_GE(frames.back().v2, 49.0f);
  EXPECT_GT(frames.back().v3, frames.front().v3);  // distance grows while the rollers turn
  EXPECT_GT(frames.back().v4, 0.0f);               // and they turn

  line_->SendShort(command::kStopTest);
  ASSERT_TRUE(line_->WaitForType(28));
  const Bytes after = line_->ReadFor(150ms);
  for (std::size_t i = 0; i + 2 < after.size(); ++i) {
    EXPECT_FALSE(after[i] == kSync1 && after[i + 1] == kSync2 && after[i + 2] == 16)
        << "status frames of the stopped test still come";
  }
}

TEST_F(SimTest, CoastDownDeceleratesFromStartToEndSpeedAndEnds) {
  SimulatorOptions options = Fast();
  options.timeScale = 200;
  Begin(options);
  // Start 100, end 10, load 5.
  const std::uint8_t coast[] = {0x55, 0xAA, 0x32, 0x10, 0x74, 0xFC, 0x00, 0x00, 0xC8, 0x42, 0x00,
                                0x00, 0x20, 0x41, 0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x00};
  line_->Send(coast);
  const std::vector<Status> frames = line_->CollectType(50, 300ms, 5s);
  ASSERT_GE(frames.size(), 3u);
  EXPECT_LE(frames.front().v2, 100.0f);
  EXPECT_GT(frames.front().v2, 80.0f);
  for (std::size_t i = 1; i < frames.size(); ++i) {
    EXPECT_LE(frames[i].v2, frames[i - 1].v2);
    EXPECT_GE(frames[i].v3, frames[i - 1].v3);  // coast time
  }
  EXPECT_FLOAT_EQ(frames.back().v2, 10.0f);
  EXPECT_GT(frames.back().v3, 0.0f);
  EXPECT_GT(frames[frames.size() / 2].v1, 0.0f);  // the load brakes the rollers
}

TEST_F(SimTest, ReadingsHaveTheirOwnLayouts) {
  Begin();
  line_->SendShort(96);
  std::optional<Bytes> env = line_->WaitForType(96);
  ASSERT_TRUE(env);
  const Status e = Decode(*env);
  EXPECT_NEAR(e.v1, 20.0f, 2.0f);   // temperature
  EXPECT_NEAR(e.v2, 50.0f, 5.0f);   // humidity
  EXPECT_NEAR(e.v3, 101.0f, 2.0f);  // air pressure

  line_->SendShort(42);
  std::optional<Bytes> io = line_->WaitForType(42);
  ASSERT_TRUE(io);
  for (int b = 17; b <= 21; ++b) EXPECT_LE((*io)[b], 1) << "input byte " << b;

  line_->SendShort(75);
  std::vector<Status> accel;
  std::vector<std::int16_t> accelMilli;
  while (accel.size() < 5) {
    std::optional<Bytes> f = line_->WaitForType(75);
    ASSERT_TRUE(f);
    accel.push_back(Decode(*f));
    accelMilli.push_back(GetInt16LE(&(*f)[18]));
  }
  EXPECT_GT(accel.back().v2, accel.front().v2);
  EXPECT_GT(accelMilli.back(), 0);
  line_->SendShort(command::kEmergencyStop);
  ASSERT_TRUE(line_->WaitForType(29));
}

// --- stored data is read back --------------------------------------------

TEST_F(SimTest, ParameterRecordWriteIsAcknowledgedWith102AndReadBack) {
  Begin();
  ParamRequestFrame request;
  request.SetCommand(1);
  line_->Send(request);
  std::optional<Bytes> first = line_->WaitForType(1);
  ASSERT_TRUE(first);
  ASSERT_EQ(first->size(), 101u);
  const std::uint8_t divisor = (*first)[21];
  EXPECT_TRUE(divisor == 12 || divisor == 6 || divisor == 3 || divisor == 2 || divisor == 1);
  EXPECT_LE((*first)[20], 1);                    // COM1 or COM2
  EXPECT_GT(GetFloat32LE(&(*first)[14]), 0.0f);  // roller size
  EXPECT_GT(GetUInt16LE(&(*first)[18]), 0);      // encoder teeth

  FrameBuffer<99> write;
  write.SetCommand(2);
  ASSERT_EQ(write[3], 0x5D);
  for (std::size_t i = 14; i < 99; ++i) write[i] = static_cast<std::uint8_t>(i * 7);
  const std::uint8_t roller216[] = {0x00, 0x00, 0x58, 0x43};
  const std::uint8_t band05[] = {0x0A, 0xD7, 0xA3, 0x3B};
  std::copy(std::begin(roller216), std::end(roller216), &write[14]);
  std::copy(std::begin(band05), std::end(band05), &write[53]);
  write[21] = 2;  // 57.6K
  line_->Send(write);
  std::optional<Bytes> ack = line_->WaitForType(2);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->size(), 24u);
  EXPECT_EQ(Decode(*ack).numth, 102);

  line_->Send(request);
  std::optional<Bytes> second = line_->WaitForType(1);
  ASSERT_TRUE(second);
  EXPECT_TRUE(std::equal(&write[14], &write[99], &(*second)[14]));
  // Version and model are the controller's own, whatever the write carried.
  EXPECT_TRUE(std::equal(&(*first)[10], &(*first)[14], &(*second)[10]));
}

TEST_F(SimTest, ChannelMapStoreIsReadBack) {
  Begin();
  line_->SendShort(command::kChannelMapRequest);
  std::optional<Bytes> before = line_->WaitForType(65);
  ASSERT_TRUE(before);
  ASSERT_EQ(before->size(), 48u);

  const std::uint8_t map[40] = {15, 3, 9, 0, 2, 4, 5, 6, 7, 8, 10, 12, 11, 14, 15, 14, 13, 12, 10,  11,
                                15, 7, 1, 2, 0, 1, 2, 3, 4, 0, 2,  3,  6,  4,  4,  10, 11, 44, 255, 0};
  FrameBuffer<46> store;
  store.SetCommand(7);
  ASSERT_EQ(GetUInt16LE(&store[2]), 0x2807);
  std::copy(std::begin(map), std::end(map), &store[6]);
  line_->Send(store);
  ASSERT_TRUE(line_->WaitForType(7));

  line_->SendShort(command::kChannelMapRequest);
  std::optional<Bytes> after = line_->WaitForType(65);
  ASSERT_TRUE(after);
  EXPECT_TRUE(std::equal(std::begin(map), std::end(map), &(*after)[6]));
}

struct TablePair {
  std::uint8_t request, store;
  std::size_t points;
};
constexpr TablePair kTables[] = {{62, 9, 10},    {63, 10, 10},   {64, 11, 10},   {61, 59, 10}, {60, 8, 10},
                                 {120, 117, 10}, {121, 118, 10}, {122, 119, 10}, {78, 77, 20}};

template <std::size_t N>
void FillTable(FrameBuffer<N>& f, std::int16_t count, std::size_t points, float seed) {
  PutUInt16LE(&f[6], static_cast<std::uint16_t>(count));
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    PutFloat32LE(&f[8 + 4 * i], seed + static_cast<float>(i));
    PutFloat32LE(&f[8 + 4 * points + 4 * i], -1.5f * static_cast<float>(i) + seed);
  }
}

TEST_F(SimTest, EveryCalibrationTableStoredIsReadBack) {
  Begin();
  for (const TablePair& t : kTables) {
    SCOPED_TRACE(testing::Message() << "request " << int(t.request));
    const std::size_t image = 2 + 8 * t.points;
    Bytes sent;
    if (t.points == 10) {
      FrameBuffer<88> f;
      f.SetCommand(t.store);
      FillTable(f, 3, 10, t.request);
      line_->Send(f);
      sent.assign(&f[6], &f[6] + image);
    } else {
      FrameBuffer<168> f;
      f.SetCommand(t.store);
      ASSERT_EQ(f[3], 0xA2);
      FillTable(f, 12, 20, t.request);
      line_->Send(f);
      sent.assign(&f[6], &f[6] + image);
    }
    ASSERT_TRUE(line_->WaitForType(t.store));
    line_->SendShort(t.request);
    std::optional<Bytes> reply = line_->WaitForType(t.request);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), t.points == 10 ? 90u : 170u);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), &(*reply)[6]));
  }
}

TEST_F(SimTest, TableWithMorePointsThanItHoldsIsRefusedAndNotStored) {
  Begin();
  line_->SendShort(61);
  std::optional<Bytes> before = line_->WaitForType(61);
  ASSERT_TRUE(before);
  FrameBuffer<88> f;
  f.SetCommand(59);
  FillTable(f, 10, 10, 1.0f);
  PutUInt16LE(&f[6], 11);
  line_->Send(f);
  std::optional<Bytes> answer = line_->WaitForType(59);
  ASSERT_TRUE(answer);
  EXPECT_EQ(Decode(*answer).numth, kRejectedNumth);
  line_->SendShort(61);
  std::optional<Bytes> after = line_->WaitForType(61);
  ASSERT_TRUE(after);
  EXPECT_TRUE(std::equal(&(*before)[6], &(*before)[88], &(*after)[6]));
}

TEST_F(SimTest, VariableTableBlocksStoredAreReadBackBlockByBlock) {
  Begin();
  Bytes image(402);
  PutUInt16LE(image.data(), 4);
  for (std::size_t i = 2; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 5);
  const std::pair<int, int> blocks[] = {{0, 200}, {200, 200}, {400, 2}};
  for (auto [offset, length] : blocks) {
    FrameBuffer<217> f;
    f.SetCommand(6);
    ASSERT_EQ(f[3], 0xD3);
    PutUInt16LE(&f[6], 402);
    PutUInt16LE(&f[8], static_cast<std::uint16_t>(offset));
    PutUInt16LE(&f[10], static_cast<std::uint16_t>(length));
    std::fill(&f[12], &f[12] + 205, 0xEE);  // filler past the block
    std::copy_n(image.begin() + offset, length, &f[12]);
    line_->Send(f);
    std::optional<Bytes> ack = line_->WaitForType(6);
    ASSERT_TRUE(ack);
    EXPECT_NE(Decode(*ack).numth, kRejectedNumth);
  }

  Bytes readBack(402, 0);
  ProfileFrame read;  // the block read travels in the shared 22-byte buffer
  for (auto [offset, length] : blocks) {
    read.SetCommand(5);
    read.SetValue(0, static_cast<float>(offset));
    read.SetValue(1, static_cast<float>(length));
    line_->Send(read);
    std::optional<Bytes> reply = line_->WaitForType(5);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 219u);
    EXPECT_EQ(GetInt16LE(&(*reply)[6]), 402);
    EXPECT_EQ(GetUInt16LE(&(*reply)[8]), offset);
    ASSERT_EQ(GetInt16LE(&(*reply)[10]), length);
    std::copy_n(&(*reply)[12], length, readBack.begin() + offset);
  }
  EXPECT_EQ(readBack, image);

  // A block beyond the table is no block of it.
  read.SetValue(0, 402.0f);
  read.SetValue(1, 10.0f);
  line_->Send(read);
  std::optional<Bytes> beyond = line_->WaitForType(5);
  ASSERT_TRUE(beyond);
  EXPECT_TRUE(GetInt16LE(&(*beyond)[6]) != 402 || Decode(*beyond).numth == kRejectedNumth);
}

// --- firmware upgrade -----------------------------------------------------

class RomBlock : public FrameBuffer<232> {
 public:
  // As the console sends it: bytes past the data keep the previous block's.
  void Fill(const Bytes& rom, std::size_t index) {
    const std::size_t count = (rom.size() + 219) / 220;
    const std::size_t length = std::min<std::size_t>(220, rom.size() - index * 220);
    SetCommand(126);
    PutUInt16LE(&bytes_[6], static_cast<std::uint16_t>(count));
    PutUInt16LE(&bytes_[8], static_cast<std::uint16_t>(index));
    PutUInt16LE(&bytes_[10], static_cast<std::uint16_t>(length));
    std::copy_n(rom.begin() + static_cast<std::ptrdiff_t>(index * 220), length, &bytes_[12]);
  }
};

TEST_F(SimTest, FirmwareUpgradeDialogueKeepsTheImageSent) {
  const std::filesystem::path dir = TempDir();
  SimulatorOptions options = Fast();
  options.imageOutPath = (dir / "received.rom").string();
  Begin(options);

  Bytes rom(441);  // three blocks, the last one byte long
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<std::uint8_t>(i * 31 + 7);

  // Stop phase: "stop" every 100 ms until the controller is ready for blocks.
  bool ready = false;
  for (int attempt = 0; attempt < 30 && !ready; ++attempt) {
    line_->SendShort(command::kStopTest);
    std::optional<Bytes> answer = line_->WaitForType(28, 500ms);
    ASSERT_TRUE(answer);
    ready = static_cast<int>(Decode(*answer).v1) == 10;
    if (!ready) std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(ready);

  RomBlock block;
  for (std::size_t i = 0; i < 3; ++i) {
    block.Fill(rom, i);
    line_->Send(block);
    std::optional<Bytes> ack = line_->WaitForType(126);
    ASSERT_TRUE(ack);
    const Status s = Decode(*ack);
    EXPECT_EQ(s.v1, 100.0f);
    EXPECT_EQ(static_cast<int>(s.v2), static_cast<int>(i));
  }
  // The upgrade program answers the version query, and knows no tests.
  line_->SendShort(command::kVersion);
  std::optional<Bytes> loader = line_->WaitForType(4);
  ASSERT_TRUE(loader);
  EXPECT_EQ(Decode(*loader).v1, 100.0f);
  line_->SendShort(96);
  std::optional<Bytes> refused = line_->WaitForType(96);
  ASSERT_TRUE(refused);
  EXPECT_EQ(Decode(*refused).numth, kRejectedNumth);

  line_->SendShort(command::kStandby);
  std::optional<Bytes> running = line_->WaitForType(27);
  ASSERT_TRUE(running);
  EXPECT_EQ(Decode(*running).v1, 100.0f);
  line_->SendShort(command::kVersion);
  std::optional<Bytes> program = line_->WaitForType(4);
  ASSERT_TRUE(program);
  EXPECT_NE(Decode(*program).v1, 100.0f);

  EXPECT_TRUE(sim_->FirmwareComplete());
  EXPECT_EQ(sim_->FirmwareImage(), rom);
  const std::string copy = (dir / "copy.rom").string();
  ASSERT_TRUE(sim_->WriteFirmwareImage(copy));
  line_.reset();
  sim_->Stop();
  for (const std::string& path : {options.imageOutPath, copy}) {
    std::ifstream in(path, std::ios::binary);
    const Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, rom) << path;
  }
  std::filesystem::remove_all(dir);
}

TEST_F(SimTest, BlocksOutsideTheUpgradeAreRefusedAndCorruptOnesAskedAgain) {
  Begin();
  Bytes rom(300, 0x5A);
  RomBlock block;
  block.Fill(rom, 0);
  line_->Send(block);
  std::optional<Bytes> refused = line_->WaitForType(126);
  ASSERT_TRUE(refused);
  EXPECT_EQ(Decode(*refused).numth, kRejectedNumth);
  EXPECT_FALSE(sim_->InUpgradeProgram());

  line_->SendShort(command::kStopTest);
  ASSERT_TRUE(line_->WaitForType(28));
  line_->SendShort(command::kStopTest);
  std::optional<Bytes> ready = line_->WaitForType(28);
  ASSERT_TRUE(ready);
  ASSERT_EQ(static_cast<int>(Decode(*ready).v1), 10);

  block.Seal();
  block[100] ^= 0xFF;  // damaged on the line
  line_->Send(std::span<const std::uint8_t>(block.data(), block.size()));
  std::optional<Bytes> again = line_->WaitForType(126);
  ASSERT_TRUE(again);
  EXPECT_EQ(Decode(*again).v1, 101.0f);
}

// --- the line ----------------------------------------------------------------

TEST_F(SimTest, ResynchronisesAfterNoiseAndBadChecksums) {
  Begin();
  Bytes burst = {0x00, 0x13, 0x55, 0x00, 0xAA, 0x55, 0x55};
  // A false sync pair: a known command byte with the wrong length byte.
  burst.insert(burst.end(), {0x55, 0xAA, 0x10, 0x00});
  // A version query with a wrong checksum, then a good one.
  burst.insert(burst.end(), {0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFF});
  burst.insert(burst.end(), {0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE});
  line_->Send(burst);
  ASSERT_TRUE(line_->WaitForType(4));
  EXPECT_FALSE(line_->WaitForType(4, 200ms)) << "the damaged query was answered";
  const SimulatorCounters c = sim_->Counters();
  EXPECT_EQ(c.reader.commands, 1u);
  EXPECT_EQ(c.reader.badChecksums, 1u);

  // A frame broken off mid-way is given up once the line stays quiet.
  const std::uint8_t broken[] = {0x55, 0xAA, 0x10, 0x05, 0x62};
  line_->Send(broken);
  std::this_thread::sleep_for(400ms);
  line_->SendShort(command::kVersion);
  EXPECT_TRUE(line_->WaitForType(4));
}

TEST_F(SimTest, UnknownCommandIsRejected) {
  Begin();
  FrameBuffer<6> f;
  f.SetCommand(3);  // never sent by the console
  line_->Send(f);
  std::optional<Bytes> answer = line_->WaitForType(3);
  ASSERT_TRUE(answer);
  EXPECT_EQ(Decode(*answer).numth, kRejectedNumth);
}

TEST_F(SimTest, ConsoleCanLeaveAndReopenTheLineRepeatedly) {
  Begin();
  for (int session = 0; session < 3; ++session) {
    SCOPED_TRACE(session);
    Line line(sim_->SlavePath());
    ASSERT_TRUE(line.IsOpen());
    ASSERT_EQ(ioctl(line.Fd(), TIOCEXCL), 0);  // as the console opens its port
    line.SendShort(command::kVersion);
    EXPECT_TRUE(line.WaitForType(4));
    line_.reset();  // only the session line stays
  }
  // The exclusive flag of the last session does not outlive it.
  int exclusive = 1;
  for (int i = 0; i < 100 && exclusive != 0; ++i) {
    std::this_thread::sleep_for(10ms);
    Line probe(sim_->SlavePath());
    ASSERT_TRUE(probe.IsOpen());
    ASSERT_EQ(ioctl(probe.Fd(), TIOCGEXCL, &exclusive), 0);
  }
  EXPECT_EQ(exclusive, 0);
  EXPECT_GE(sim_->Counters().connects, 3u);
}

TEST_F(SimTest, PacedLineDeliversWholeFrames) {
  SimulatorOptions options = Fast();
  options.baud = 9600;
  Begin(options);
  line_->SendShort(command::kChannelMapRequest);
  std::optional<Bytes> map = line_->WaitForType(65);
  ASSERT_TRUE(map);
  EXPECT_EQ(map->size(), 48u);
}

// --- a paced line sends as a controller's UART does --------------------------

const std::uint8_t kSpeed50[] = {0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0x00, 0x00, 0x00, 0x48, 0x42};

// Counts the frames of a stream read off the line; false where one does not
// start with 55 AA right after the last or fails its checksum.
class WholeFrames {
 public:
  bool Feed(const Bytes& bytes) {
    rest_.insert(rest_.end(), bytes.begin(), bytes.end());
    std::size_t at = 0;
    while (rest_.size() - at >= 3) {
      const std::size_t length = ControllerFrameLength(rest_[at + 2]);
      if (rest_[at] != kSync1 || rest_[at + 1] != kSync2) return false;
      if (rest_.size() - at < length) break;
      if (VerifyChecksum(&rest_[at], length) != 0) return false;
      ++count_;
      at += length;
    }
    rest_.erase(rest_.begin(), rest_.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
  }
  std::size_t Count() const { return count_; }
  bool InsideAFrame() const { return !rest_.empty(); }

 private:
  Bytes rest_;
  std::size_t count_ = 0;
};

SimulatorOptions Busy115200() {
  SimulatorOptions o;
  o.periodMs = 1;  // 1000 status frames a second asked, 480 carried
  o.baud = 115200;
  return o;
}

TEST_F(SimTest, BusyLineSkipsWholeStatusFramesCountsThemAndLosesNothingQueued) {
  Begin(Busy115200());
  line_->Send(kSpeed50);
  WholeFrames stream;
  for (int i = 0; i < 20; ++i) {
    line_->SendShort(command::kVersion);  // answers overtake the status frames that wait
    ASSERT_TRUE(stream.Feed(line_->ReadFor(50ms))) << "frame cut";
  }
  line_->SendShort(command::kStopTest);
  ASSERT_TRUE(stream.Feed(line_->ReadFor(300ms))) << "frame cut";
  EXPECT_FALSE(stream.InsideAFrame());
  const SimulatorCounters c = sim_->Counters();
  EXPECT_GT(c.statusSkipped, 0u);
  EXPECT_NE(CountersText(c).find(std::to_string(c.statusSkipped) + " status frames skipped"), std::string::npos);
  EXPECT_EQ(stream.Count(), c.framesSent);  // every frame queued came, whole
  EXPECT_EQ(c.bytesDropped, 0u);
}

// The one long test: ten seconds of a line asked for twice what it carries.
TEST_F(SimTest, EmergencyStopIsAnsweredWithin50msAfterTenSecondsOfABusyLine) {
  Begin(Busy115200());
  line_->Send(kSpeed50);
  WholeFrames stream;
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < end) ASSERT_TRUE(stream.Feed(line_->ReadFor(100ms))) << "frame cut";
  const auto sent = std::chrono::steady_clock::now();
  line_->SendShort(command::kEmergencyStop);
  ASSERT_TRUE(line_->WaitForType(command::kEmergencyStop, 30s));
  const auto late = std::chrono::steady_clock::now() - sent;
  EXPECT_LT(late, 50ms) << std::chrono::duration<double, std::milli>(late).count() << " ms";
  std::printf("e-stop answered after %.2f ms\n", std::chrono::duration<double, std::milli>(late).count());
}

TEST(SimLink, LinkPointsAtTheSlaveAndGoesWithTheSimulator) {
  const std::filesystem::path dir = TempDir();
  SimulatorOptions options = Fast();
  options.linkPath = (dir / "ttyQRX").string();
  {
    ControllerSimulator sim(options);
    ASSERT_TRUE(sim.Start());
    EXPECT_EQ(std::filesystem::read_symlink(options.linkPath).string(), sim.SlavePath());
    Line line(options.linkPath);
    ASSERT_TRUE(line.IsOpen());
    line.SendShort(command::kVersion);
    EXPECT_TRUE(line.WaitForType(4));
    sim.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(options.linkPath)));
  }
  // A regular file of that name is never replaced.
  std::ofstream(options.linkPath) << "keep";
  ControllerSimulator refused(options);
  std::string error;
  EXPECT_FALSE(refused.Start(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_regular_file(options.linkPath));
  std::filesystem::remove_all(dir);
}

// --- faults --------------------------------------------------------------------

class SimFaultTest : public SimTest {
 protected:
  void BeginWith(const char* name) {
    SimulatorOptions options = Fast();
    const std::optional<SimFault> fault = SimFaultFromName(name);
    ASSERT_TRUE(fault) << name;
    options.faults.Add(*fault);
    Begin(options);
  }
};

TEST_F(SimFaultTest, RejectMarksEveryAnswerMinusSix) {
  BeginWith("reject");
  line_->SendShort(command::kVersion);
  std::optional<Bytes> answer = line_->WaitForType(4);
  ASSERT_TRUE(answer);
  EXPECT_EQ(Decode(*answer).numth, kRejectedNumth);
}

TEST_F(SimFaultTest, BadChecksumAnswersFailVerification) {
  BeginWith("bad-checksum");
  line_->SendShort(command::kVersion);
  std::optional<Bytes> answer = line_->NextFrame(1s);
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)[2], 4);
  EXPECT_NE(VerifyChecksum(answer->data(), answer->size()), 0);
}

TEST_F(SimFaultTest, TruncatedAnswersAreCutShort) {
  BeginWith("truncated");
  line_->SendShort(command::kVersion);
  const Bytes got = line_->ReadFor(300ms);
  ASSERT_GE(got.size(), 3u);
  EXPECT_LT(got.size(), 24u);
  EXPECT_EQ(got[0], kSync1);
  EXPECT_EQ(got[1], kSync2);
  EXPECT_EQ(got[2], 4);
}

TEST_F(SimFaultTest, GarbageComesBeforeEachAnswerWithoutSyncBytes) {
  BeginWith("garbage");
  line_->SendShort(command::kVersion);
  const Bytes got = line_->ReadFor(300ms);
  ASSERT_GT(got.size(), 24u);
  const std::size_t noise = got.size() - 24;
  EXPECT_LE(noise, 16u);
  for (std::size_t i = 0; i < noise; ++i) {
    EXPECT_NE(got[i], kSync1);
    EXPECT_NE(got[i], kSync2);
  }
  EXPECT_EQ(got[noise + 2], 4);
  EXPECT_EQ(VerifyChecksum(&got[noise], 24), 0);
}

TEST_F(SimFaultTest, SilenceReadsButNeverAnswers) {
  BeginWith("silence");
  line_->SendShort(command::kVersion);
  ASSERT_TRUE(sim_->WaitForReceived(1, 1s));
  EXPECT_TRUE(line_->ReadFor(200ms).empty());
  EXPECT_EQ(sim_->ReceivedCommands().front().code, 4);
  // Switched off at run time, the controller speaks again.
  sim_->SetFaults({});
  line_->SendShort(command::kVersion);
  EXPECT_TRUE(line_->WaitForType(4));
}

bool SeesHangup(int fd, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) > 0 && (p.revents & (POLLHUP | POLLERR))) return true;
    if (p.revents & POLLIN) {
      std::uint8_t b[64];
      if (read(fd, b, sizeof b) <= 0) return true;
    }
  }
  return false;
}

TEST_F(SimFaultTest, HangupAfterTheFirstCommandDropsTheLine) {
  BeginWith("hangup");
  EXPECT_FALSE(sim_->HungUp());
  line_->SendShort(command::kVersion);
  EXPECT_TRUE(SeesHangup(line_->Fd(), 2s));
  EXPECT_TRUE(sim_->HungUp());
  EXPECT_EQ(sim_->ReceivedCount(), 1u);
}

TEST_F(SimFaultTest, HangupAfterATimeNeedsNoCommand) {
  SimulatorOptions options = Fast();
  std::string error;
  const char* args[] = {"qrx5000b-sim", "--fault", "hangup:100"};
  ASSERT_TRUE(ParseSimulatorArgs(3, args, options, &error)) << error;
  Begin(options);
  EXPECT_TRUE(SeesHangup(line_->Fd(), 2s));
  EXPECT_TRUE(sim_->HungUp());
}

// --- the program ---------------------------------------------------------------

TEST(SimProgram, PrintsItsPortAnswersAndEndsOnTerm) {
  const std::string program = std::string(ROLTA_BIN_DIR) + "/qrx5000b-sim";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execl(program.c_str(), program.c_str(), "--period", "10", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string path;
  char c;
  pollfd p{out[0], POLLIN, 0};
  while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') path += c;
  close(out[0]);
  EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  {
    Line line(path);
    ASSERT_TRUE(line.IsOpen());
    line.SendShort(command::kVersion);
    std::optional<Bytes> answer = line.WaitForType(4);
    ASSERT_TRUE(answer);
    EXPECT_EQ(Decode(*answer).v2, 734.0f);
  }
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// --- noise straight into the controller ------------------------------------------

TEST(SimNoise, RandomLineNoiseOnlyEverYieldsWellFormedCommandsAndAnswers) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> byte(0, 255);
  CommandReader reader;
  ControllerModel model;
  std::size_t answered = 0;
  for (int round = 0; round < 4000; ++round) {
    Bytes chunk(static_cast<std::size_t>(byte(rng) % 64));
    for (auto& b : chunk) b = static_cast<std::uint8_t>(byte(rng));
    // Sync pairs and real frames among the noise, so every path is taken.
    if (round % 3 == 0) chunk.insert(chunk.begin(), {0x55, 0xAA});
    if (round % 7 == 0) {
      ShortFrame f;
      f.SetCommand(static_cast<std::uint8_t>(byte(rng)));
      const auto sealed = f.Seal();
      chunk.insert(chunk.end(), sealed.begin(), sealed.end());
    }
    reader.Feed(chunk.data(), chunk.size());
    if (round % 50 == 0) reader.DropStalledByte();
    while (std::optional<ReaderEvent> e = reader.Next()) {
      std::vector<Frame> answers;
      if (e->kind == ReaderEvent::Kind::Command) {
        EXPECT_EQ(e->frame.size(), CommandFrameLength(e->frame[2]));
        EXPECT_EQ(VerifyChecksum(e->frame.data(), e->frame.size()), 0);
        answers = model.HandleCommand(e->frame, round * 10.0);
      } else if (e->kind == ReaderEvent::Kind::Unknown) {
        answers = model.HandleUnknown(e->frame);
      } else {
        answers = model.HandleBadChecksum(e->frame);
      }
      model.Advance(0.05);
      if (std::optional<Frame> f = model.PeriodicFrame()) answers.push_back(*f);
      for (const Frame& a : answers) {
        ++answered;
        ASSERT_EQ(a.size(), ControllerFrameLength(a[2]));
        EXPECT_EQ(VerifyChecksum(a.data(), a.size()), 0);
      }
    }
  }
  EXPECT_GT(answered, 100u);
  EXPECT_GT(reader.Counters().skippedBytes, 0u);
}

// --- the factory's parameter record -------------------------------------------

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  char byte[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(byte, sizeof byte, text.empty() ? "%02X" : " %02X", b);
    text += byte;
  }
  return text;
}

TEST(SimFactoryRecord, IsTheRecordTheSimulatorHasAlwaysStartedWith) {
  // The bytes as the simulator has always filled them, its clock at
  // 2026-12-09 23:46:05; the line speed only changes the divisor (byte 21).
  std::tm clock{};
  clock.tm_year = 2026 - 1900;
  clock.tm_mon = 12 - 1;
  clock.tm_mday = 9;
  clock.tm_hour = 23;
  clock.tm_min = 46;
  clock.tm_sec = 5;
  struct Row {
    int baud;
    const char* golden;
  };
  const Row rows[] = {
      {0,
       "00 00 00 00 DE 02 21 01 00 00 58 43 58 02 00 0C "
       "00 00 00 00 2E 17 00 05 EA 07 09 0C 0A 00 00 01 "
       "00 00 00 00 00 00 00 00 00 00 00 00 64 03 0A 0A "
       "D7 A3 3C 0A 0A 05 0A 08 0A 0B 0A 00 01 00 01 00 "
       "01 00 01 00 00 00 05 00 0A 00 01 14 64 64 00 03 "
       "0A 14 03 64 00 00 00 00 00 00 00 00 00"},
      {57600,
       "00 00 00 00 DE 02 21 01 00 00 58 43 58 02 00 02 "
       "00 00 00 00 2E 17 00 05 EA 07 09 0C 0A 00 00 01 "
       "00 00 00 00 00 00 00 00 00 00 00 00 64 03 0A 0A "
       "D7 A3 3C 0A 0A 05 0A 08 0A 0B 0A 00 01 00 01 00 "
       "01 00 01 00 00 00 05 00 0A 00 01 14 64 64 00 03 "
       "0A 14 03 64 00 00 00 00 00 00 00 00 00"},
  };
  for (const Row& row : rows) {
    ModelConfig config;
    config.baud = row.baud;
    EXPECT_EQ(Hex(FactoryParamRecord(config, clock)), row.golden) << row.baud;
  }
}

// --- options -----------------------------------------------------------------

TEST(SimOptions, CommandLineSetsEveryOption) {
  const char* args[] = {"qrx5000b-sim", "--link",    "/tmp/x",  "--baud",           "57600",
                        "--period",     "20",        "--fault", "reject",           "--fault",
                        "garbage",      "--seed",    "7",       "--image-out",      "/tmp/r.rom",
                        "--verbose",    "--speedup", "10",      "--upgrade-program"};
  SimulatorOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimulatorArgs(static_cast<int>(std::size(args)), args, o, &error)) << error;
  EXPECT_EQ(o.linkPath, "/tmp/x");
  EXPECT_EQ(o.baud, 57600);
  EXPECT_EQ(o.periodMs, 20);
  EXPECT_TRUE(o.faults.Has(SimFault::Reject));
  EXPECT_TRUE(o.faults.Has(SimFault::Garbage));
  EXPECT_FALSE(o.faults.Has(SimFault::Silence));
  EXPECT_EQ(o.seed, 7u);
  EXPECT_EQ(o.imageOutPath, "/tmp/r.rom");
  EXPECT_TRUE(o.verbose);
  EXPECT_DOUBLE_EQ(o.timeScale, 10.0);
  EXPECT_TRUE(o.startInUpgradeProgram);
}

TEST(SimOptions, BadValuesAreRefusedWithAMessage) {
  const std::vector<std::vector<const char*>> cases = {{"sim", "--fault", "smoke"}, {"sim", "--fault", "reject:5"},
                                                       {"sim", "--baud", "300"},    {"sim", "--period", "0"},
                                                       {"sim", "--period"},         {"sim", "--what"},
                                                       {"sim", "--baud", "96OO"}};
  for (const auto& c : cases) {
    SimulatorOptions o;
    std::string error;
    EXPECT_FALSE(ParseSimulatorArgs(static_cast<int>(c.size()), c.data(), o, &error)) << c[1];
    EXPECT_FALSE(error.empty()) << c[1];
  }
}

TEST(SimOptions, RoadLoadMassAndNoiseAreParsedStrictly) {
  struct Row {
    std::vector<const char*> args;
    bool good;
    double f0 = 0, f1 = 0, f2 = 0, massKg = 0, noiseKmh = 0;  // expected when good
  };
  const RoadLoadConfig d;
  const Row rows[] = {
      {{"--road-load", "120,0.8,0.035"}, true, 120, 0.8, 0.035, d.massKg, d.speedNoiseKmh},
      {{"--road-load", "50,-0.2,0.01", "--mass", "1450.5", "--speed-noise", "0.3"}, true, 50, -0.2, 0.01, 1450.5, 0.3},
      {{"--speed-noise", "0"}, true, d.f0N, d.f1, d.f2, d.massKg, 0},
      {{"--road-load", "120,0.8"}, false},
      {{"--road-load", "120,0.8,0.03,1"}, false},
      {{"--road-load", "120,,0.03"}, false},
      {{"--road-load", "12O,0.8,0.03"}, false},
      {{"--road-load", "nan,0.8,0.03"}, false},
      {{"--road-load", "0,0,0"}, false},    // the bench would never slow down
      {{"--road-load", "10,-1,0"}, false},  // negative above 10 km/h
      {{"--road-load"}, false},
      {{"--mass", "0"}, false},
      {{"--mass", "-900"}, false},
      {{"--mass", "1e9"}, false},
      {{"--mass", "heavy"}, false},
      {{"--speed-noise", "-0.1"}, false},
      {{"--speed-noise", "inf"}, false},
  };
  for (const Row& row : rows) {
    std::vector<const char*> argv{"sim"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    SimulatorOptions o;
    std::string error;
    const bool parsed = ParseSimulatorArgs(static_cast<int>(argv.size()), argv.data(), o, &error);
    ASSERT_EQ(parsed, row.good) << row.args[0] << ' ' << (row.args.size() > 1 ? row.args[1] : "") << ": " << error;
    if (!row.good) {
      EXPECT_NE(error.find(row.args[0]), std::string::npos) << error;
      continue;
    }
    EXPECT_DOUBLE_EQ(o.roadLoad.f0N, row.f0);
    EXPECT_DOUBLE_EQ(o.roadLoad.f1, row.f1);
    EXPECT_DOUBLE_EQ(o.roadLoad.f2, row.f2);
    EXPECT_DOUBLE_EQ(o.roadLoad.massKg, row.massKg);
    EXPECT_DOUBLE_EQ(o.roadLoad.speedNoiseKmh, row.noiseKmh);
  }
}

TEST(SimOptions, HelpAndVersionAreShownInsteadOfRunning) {
  struct Row {
    std::vector<const char*> args;
    const char* shows;
  };
  const Row rows[] = {
      {{"sim", "--help"}, "--road-load F0,F1,F2"},
      {{"sim", "--period", "20", "-h"}, "--fault NAME[:MS]"},
      {{"sim", "--version"}, "qrx5000b-sim "},
  };
  for (const Row& row : rows) {
    SimulatorOptions o;
    std::string error = "untouched";
    std::string output;
    EXPECT_FALSE(ParseSimulatorArgs(static_cast<int>(row.args.size()), row.args.data(), o, &error, &output));
    EXPECT_EQ(error, "") << row.args.back();
    EXPECT_NE(output.find(row.shows), std::string::npos) << output;
  }
}

TEST(SimOptions, TheLastOfARepeatedOptionCounts) {
  const char* args[] = {"sim", "--period", "20", "--period", "30", "--verbose", "--verbose"};
  SimulatorOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimulatorArgs(static_cast<int>(std::size(args)), args, o, &error)) << error;
  EXPECT_EQ(o.periodMs, 30);
  EXPECT_TRUE(o.verbose);
}

TEST(SimProgram, ExitsWithTwoOnBadOptionsAndZeroOnHelpOrVersion) {
  const std::string program = std::string(ROLTA_BIN_DIR) + "/qrx5000b-sim";
  struct Row {
    const char* args;
    int exitCode;
  };
  for (const Row row : {Row{"--baud 300", 2}, Row{"--what", 2}, Row{"--help", 0}, Row{"--version", 0}}) {
    const int status = std::system((program + " " + row.args + " >/dev/null 2>&1").c_str());
    ASSERT_TRUE(WIFEXITED(status)) << row.args;
    EXPECT_EQ(WEXITSTATUS(status), row.exitCode) << row.args;
  }
}

TEST(SimOptions, WarnsOnlyWhenThePeriodAsksMoreThanTheLineCarries) {
  struct Row {
    int periodMs, baud;
    const char* says;  // nullptr: no warning
  };
  for (const Row row : {Row{2, 115200,
                            "period 2 ms asks for 500 frames/s; a 115200 baud line carries 480 of "
                            "them: status frames that find the line busy are skipped (counted)"},
                        Row{3, 115200, nullptr}, Row{1, 0, nullptr}, Row{24, 9600, "carries 40 of them"},
                        Row{25, 9600, nullptr}, Row{6, 38400, "carries 160 of them"}}) {
    SimulatorOptions o;
    o.periodMs = row.periodMs;
    o.baud = row.baud;
    const std::string warning = LineCapacityWarning(o);
    if (row.says) {
      EXPECT_NE(warning.find(row.says), std::string::npos) << warning;
    } else {
      EXPECT_EQ(warning, "") << row.periodMs << " ms at " << row.baud;
    }
  }
}

TEST(SimOptions, EveryFaultIsFoundByItsName) {
  for (const SimFaultName& row : kSimFaultNames) {
    EXPECT_EQ(SimFaultFromName(row.name), row.fault);
    EXPECT_EQ(NameOf(row.fault), row.name);
  }
  EXPECT_FALSE(SimFaultFromName("Reject"));
}

}  // namespace
}  // namespace rolta::sim
