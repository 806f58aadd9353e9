// The serial channel over real pseudo-terminals: the test plays the controller
// on the master side and the console's window thread on its own thread.

#include "link/comm_port.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"

namespace rolta {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using test::PtyPair;

// The console's port settings: 8 data bits, one stop bit, no parity.
int OpenConsoleLine(CCommPort& port, const std::string& path, std::uint32_t baud = 115200) {
  return port.Open(path, 8, 0, 0, baud);
}

Bytes Pattern(std::size_t n, std::uint8_t seed = 0) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

std::chrono::nanoseconds ProcessCpuTime() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// What the monitor thread posts, in order, with the time it was posted. The
// test takes them one by one as the window thread's event queue would.
class NotificationLog {
 public:
  struct Notice {
    std::uint32_t events;
    Clock::time_point at;
  };

  void Attach(CCommPort& port) {
    port.SetNotifyCallback([this](std::uint32_t events) { Post(events); });
  }

  std::optional<Notice> Next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!posted_.wait_for(lock, timeout, [this] { return next_ < all_.size(); })) return std::nullopt;
    return all_[next_++];
  }

  std::vector<Notice> All() const {
    std::lock_guard lock(mutex_);
    return all_;
  }
  std::size_t Total() const {
    std::lock_guard lock(mutex_);
    return all_.size();
  }

 private:
  void Post(std::uint32_t events) {
    {
      std::lock_guard lock(mutex_);
      all_.push_back({events, Clock::now()});
    }
    posted_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::vector<Notice> all_;
  std::size_t next_ = 0;
};

struct HandledTraffic {
  Bytes received;
  std::size_t notices = 0;
  std::size_t emptyReads = 0;
};

// The receive handler's part: for every notification read what waits (up to
// the console's 40960 bytes) and acknowledge, on every path.
void HandleOne(CCommPort& port, HandledTraffic& traffic) {
  ++traffic.notices;
  std::uint8_t buffer[40960];
  const std::size_t got = port.IsOpen() ? port.Read(buffer, sizeof buffer) : 0;
  if (got == 0) ++traffic.emptyReads;
  traffic.received.insert(traffic.received.end(), buffer, buffer + got);
  port.AcknowledgeNotification();
}

void HandleFor(CCommPort& port, NotificationLog& log, HandledTraffic& traffic, std::chrono::milliseconds duration) {
  const auto end = Clock::now() + duration;
  while (Clock::now() < end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (log.Next(std::max(left, 1ms))) HandleOne(port, traffic);
  }
}

// Handles notifications until `count` bytes have been received or the time runs out.
bool HandleUntil(CCommPort& port, NotificationLog& log, HandledTraffic& traffic, std::size_t count,
                 std::chrono::milliseconds timeout = 3s) {
  const auto end = Clock::now() + timeout;
  while (traffic.received.size() < count && Clock::now() < end) {
    if (log.Next(20ms)) HandleOne(port, traffic);
  }
  return traffic.received.size() >= count;
}

class CommPortTest : public ::testing::Test {
 protected:
  void SetUp() override { log.Attach(port); }

  PtyPair pty;
  NotificationLog log;
  CCommPort port;  // declared last: closed before the log it posts to goes away
};

// ---- Fixture -----------------------------------------------------------------------

TEST(PtyPairTest, FarEndTrafficSurvivesTheConsoleOpeningAndClosingTheSlave) {
  PtyPair pty;
  // Sent before anyone opened the line: waits for the console.
  ASSERT_TRUE(pty.Send("early"));
  NotificationLog log;
  HandledTraffic traffic;
  {
    CCommPort port;
    log.Attach(port);
    ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
    EXPECT_TRUE(HandleUntil(port, log, traffic, 5));
    const Bytes frame{0x55, 0xAA, 0x1C, 0x00, 0x35, 0xFF};
    EXPECT_EQ(port.Write(frame.data(), frame.size()), frame.size());
    port.Close();
    // The console has let go of the slave: the far end still reads what it wrote.
    EXPECT_EQ(pty.ReceiveExactly(frame.size(), 1s), frame);
  }
  EXPECT_EQ(traffic.received, Bytes({'e', 'a', 'r', 'l', 'y'}));
  EXPECT_TRUE(pty.Send("later"));
  EXPECT_TRUE(pty.ReceiveFor(50ms).empty());
}

// ---- Device path and line settings ---------------------------------------------

TEST(CommPortPathTest, PortNamesWithoutLeadingSlashLiveInTheDeviceFolder) {
  unsetenv(CCommPort::kDeviceDirVariable);
  EXPECT_EQ(CCommPort::DevicePathForPortName("COM12"), "/dev/COM12");
  EXPECT_EQ(CCommPort::DevicePathForPortName("COM3"), "/dev/COM3");
  EXPECT_EQ(CCommPort::DevicePathForPortName("/dev/pts/7"), "/dev/pts/7");
  setenv(CCommPort::kDeviceDirVariable, "/tmp/devs", 1);
  EXPECT_EQ(CCommPort::DevicePathForPortName("COM12"), "/tmp/devs/COM12");
  EXPECT_EQ(CCommPort::DevicePathForPortName("/dev/ttyS0"), "/dev/ttyS0");
  unsetenv(CCommPort::kDeviceDirVariable);
}

TEST_F(CommPortTest, Com12OpensThroughTheDeviceFolder) {
  char dirTemplate[] = "/tmp/rolta-dev-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  const std::string link = dir + "/COM12";
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  setenv(CCommPort::kDeviceDirVariable, dir.c_str(), 1);

  EXPECT_EQ(OpenConsoleLine(port, "COM12"), 1);
  EXPECT_EQ(port.DevicePath(), link);
  const Bytes frame{0x55, 0xAA, 0x01, 0x04, 0xFA, 0xFE, 0, 0, 0, 0};
  EXPECT_EQ(port.Write(frame.data(), frame.size()), frame.size());
  EXPECT_EQ(pty.ReceiveExactly(frame.size(), 1s), frame);
  // The same device under its own name is taken.
  CCommPort other;
  EXPECT_EQ(OpenConsoleLine(other, pty.SlavePath()), 0);

  port.Close();
  unsetenv(CCommPort::kDeviceDirVariable);
  unlink(link.c_str());
  rmdir(dir.c_str());
}

TEST(CommPortSettingsTest, OnlyTheControllerRatesAreKept) {
  for (std::uint32_t kept : {9600u, 19200u, 38400u, 57600u, 115200u}) {
    EXPECT_EQ(CCommPort::SupportedBaudRate(kept), kept);
  }
  for (std::uint32_t other : {0u, 300u, 4800u, 14400u, 56000u, 128000u, 230400u}) {
    EXPECT_EQ(CCommPort::SupportedBaudRate(other), 115200u) << other;
  }
}

// A device as it might be found: software and hardware flow control on,
// odd parity, two stop bits, 7 bits, echo.
termios UsedDevice() {
  termios line{};
  line.c_iflag = IXON | IXOFF | ICRNL | INPCK | PARMRK;
  line.c_oflag = OPOST | ONLCR;
  line.c_lflag = ECHO | ICANON | ISIG;
  line.c_cflag = CS7 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL;
  cfsetispeed(&line, B2400);
  cfsetospeed(&line, B2400);
  return line;
}

TEST(CommPortSettingsTest, LineSettingsByCode) {
  struct Case {
    LineSettings settings;
    tcflag_t size;
    tcflag_t parity;  // PARENB | PARODD as configured
    bool twoStopBits;
    speed_t speed;
  };
  const Case cases[] = {
      {{8, 0, 0, 115200}, CS8, 0, false, B115200},
      {{7, 2, 1, 9600}, CS7, PARENB, true, B9600},
      {{6, 0, 2, 19200}, CS6, PARENB | PARODD, false, B19200},
      {{5, 1, 0, 38400}, CS5, 0, false, B38400},               // one and a half: one on termios
      {{8, 9, 9, 57600}, CS8, PARENB | PARODD, true, B57600},  // unknown codes keep the device's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.settings.byteSize << " stop " << c.settings.stopBitCode
                                    << " parity " << c.settings.parityCode);
    termios line = UsedDevice();
    ASSERT_TRUE(ConfigureLine(line, c.settings));
    EXPECT_EQ(line.c_cflag & CSIZE, c.size);
    EXPECT_EQ(line.c_cflag & (PARENB | PARODD), c.parity);
    EXPECT_EQ((line.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ(cfgetispeed(&line), c.speed);
    EXPECT_EQ(cfgetospeed(&line), c.speed);
    // Raw binary line without flow control; parity errors pass unmarked.
    EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INPCK | PARMRK), 0u);
    EXPECT_EQ(line.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
    EXPECT_EQ(line.c_cc[VMIN], 0);
    EXPECT_EQ(line.c_cc[VTIME], 0);
  }

  termios noParityDevice = UsedDevice();
  noParityDevice.c_cflag &= ~(PARENB | PARODD | CSTOPB);
  ASSERT_TRUE(ConfigureLine(noParityDevice, {8, 3, 3, 9600}));
  EXPECT_EQ(noParityDevice.c_cflag & (PARENB | PARODD | CSTOPB), 0u);

  for (int size : {0, 4, 9, 16}) {
    termios line = UsedDevice();
    EXPECT_FALSE(ConfigureLine(line, {size, 0, 0, 115200})) << size;
  }
}

// A pseudo-terminal keeps the speed, stop bits and flow control it is given
// but always reports 8 bits without parity, so those two are checked above.
TEST_F(CommPortTest, OpenConfiguresTheDevice) {
  ASSERT_EQ(port.Open(pty.SlavePath(), 8, 0, 0, 4800), 1);
  EXPECT_EQ(port.BaudRate(), 115200u);
  termios line{};
  ASSERT_TRUE(pty.SlaveSettings(line));
  EXPECT_EQ(cfgetospeed(&line), B115200);
  EXPECT_EQ(cfgetispeed(&line), B115200);
  EXPECT_EQ(line.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  EXPECT_EQ(line.c_lflag & (ECHO | ICANON), 0u);
  port.Close();

  ASSERT_EQ(port.Open(pty.SlavePath(), 8, 2, 2, 19200), 1);
  EXPECT_EQ(port.BaudRate(), 19200u);
  ASSERT_TRUE(pty.SlaveSettings(line));
  EXPECT_EQ(cfgetospeed(&line), B19200);
  EXPECT_NE(line.c_cflag & CSTOPB, 0u);
  EXPECT_NE(line.c_cflag & PARODD, 0u);
  port.Close();

  ASSERT_EQ(port.Open(pty.SlavePath(), 8, 1, 0, 57600), 1);
  ASSERT_TRUE(pty.SlaveSettings(line));
  EXPECT_EQ(cfgetospeed(&line), B57600);
  EXPECT_EQ(line.c_cflag & CSTOPB, 0u);
}

// ---- Open and Close ------------------------------------------------------------

TEST_F(CommPortTest, OpenFailuresLeaveTheChannelClosedAndKeepTheirReason) {
  EXPECT_EQ(OpenConsoleLine(port, "/nonexistent/ttyROLTA"), 0);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LastOpenError(), std::errc::no_such_file_or_directory);

  char fileTemplate[] = "/tmp/rolta-notatty-XXXXXX";
  const int file = mkstemp(fileTemplate);
  ASSERT_GE(file, 0);
  close(file);
  EXPECT_EQ(OpenConsoleLine(port, fileTemplate), 0);  // not a terminal
  EXPECT_EQ(port.LastOpenError(), std::errc::inappropriate_io_control_operation);
  if (geteuid() != 0) {  // root opens anything
    chmod(fileTemplate, 0);
    EXPECT_EQ(OpenConsoleLine(port, fileTemplate), 0);
    EXPECT_EQ(port.LastOpenError(), std::errc::permission_denied);
  }
  unlink(fileTemplate);

  EXPECT_EQ(port.Open(pty.SlavePath(), 9, 0, 0, 9600), 0);  // no such byte size
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LastOpenError(), std::errc::invalid_argument);
  // Nothing of the failed attempts holds the device, and success clears the reason.
  EXPECT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  EXPECT_FALSE(port.LastOpenError());
}

TEST_F(CommPortTest, SecondOpenFailsAndTheFirstConnectionKeepsWorking) {
  PtyPair otherLine;
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath(), 9600), 1);
  EXPECT_EQ(OpenConsoleLine(port, otherLine.SlavePath(), 38400), 0);
  EXPECT_EQ(OpenConsoleLine(port, pty.SlavePath(), 9600), 0);
  EXPECT_EQ(port.LastOpenError(), std::errc::already_connected);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.BaudRate(), 9600u);
  EXPECT_EQ(port.DevicePath(), pty.SlavePath());

  const Bytes frame{0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0x00, 0x00, 0x00, 0x48, 0x42};
  EXPECT_EQ(port.Write(frame.data(), frame.size()), frame.size());
  EXPECT_EQ(pty.ReceiveExactly(frame.size(), 1s), frame);
  EXPECT_TRUE(otherLine.ReceiveFor(20ms).empty());

  const Bytes reply = Pattern(24);
  ASSERT_TRUE(pty.Send(reply));
  HandledTraffic traffic;
  EXPECT_TRUE(HandleUntil(port, log, traffic, reply.size()));
  EXPECT_EQ(traffic.received, reply);
}

TEST_F(CommPortTest, AnotherChannelCannotTakeAnOpenDevice) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  CCommPort second;
  EXPECT_EQ(OpenConsoleLine(second, pty.SlavePath()), 0);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.LastOpenError(), std::errc::device_or_resource_busy);
  port.Close();
  EXPECT_EQ(OpenConsoleLine(second, pty.SlavePath()), 1);
  EXPECT_EQ(OpenConsoleLine(port, pty.SlavePath()), 0);
}

TEST_F(CommPortTest, CloseOnAClosedChannelDoesNothingAndTheChannelReopens) {
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  port.Close();
  port.Close();
  EXPECT_FALSE(port.IsOpen());

  PtyPair otherLine;
  ASSERT_EQ(OpenConsoleLine(port, otherLine.SlavePath(), 38400), 1);
  EXPECT_EQ(port.BaudRate(), 38400u);
  ASSERT_TRUE(otherLine.Send(Bytes{1, 2, 3}));
  HandledTraffic traffic;
  EXPECT_TRUE(HandleUntil(port, log, traffic, 3));
  EXPECT_EQ(traffic.received, Bytes({1, 2, 3}));
}

TEST_F(CommPortTest, CloseReturnsPromptlyWhateverTheMonitorIsWaitingFor) {
  // Waiting for input.
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  std::this_thread::sleep_for(50ms);
  auto start = Clock::now();
  port.Close();
  EXPECT_LT(Clock::now() - start, 200ms);
  EXPECT_FALSE(port.IsOpen());

  // Waiting for an acknowledgement that never comes.
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  ASSERT_TRUE(pty.Send(Pattern(10)));
  ASSERT_TRUE(log.Next(1s));
  start = Clock::now();
  port.Close();
  EXPECT_LT(Clock::now() - start, 200ms);
  // Nothing is posted once Close has returned.
  const std::size_t posted = log.Total();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(log.Total(), posted);
}

// ---- Read and Write ------------------------------------------------------------

TEST_F(CommPortTest, ReadTakesWhatWaitsWithoutWaiting) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  std::uint8_t buffer[40960];
  EXPECT_EQ(port.Read(buffer, 0), 0u);
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);

  const Bytes sent = Pattern(100, 3);
  ASSERT_TRUE(pty.Send(sent));
  ASSERT_TRUE(log.Next(1s));
  std::this_thread::sleep_for(20ms);  // let the whole write land
  EXPECT_EQ(port.Read(buffer, 30), 30u);
  EXPECT_EQ(Bytes(buffer, buffer + 30), Bytes(sent.begin(), sent.begin() + 30));
  EXPECT_EQ(port.Read(buffer, 0), 70u);
  EXPECT_EQ(Bytes(buffer, buffer + 70), Bytes(sent.begin() + 30, sent.end()));
  EXPECT_EQ(port.Read(buffer, 0), 0u);
  port.AcknowledgeNotification();

  ASSERT_TRUE(pty.Send(sent));
  std::this_thread::sleep_for(50ms);
  port.Close();
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
}

TEST_F(CommPortTest, WriteAfterCloseSendsNothing) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  port.Close();
  const Bytes frame{0x55, 0xAA, 0x1D, 0x00, 0x34, 0xFF};
  EXPECT_EQ(port.Write(frame.data(), frame.size()), 0u);
  EXPECT_TRUE(pty.ReceiveFor(100ms).empty());
  CCommPort neverOpened;
  EXPECT_EQ(neverOpened.Write(frame.data(), frame.size()), 0u);
}

TEST_F(CommPortTest, WriteWaitsForRoomWhileTheFarEndIsSlow) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  // Far more than the line buffers: the write must wait for the reader.
  const Bytes image = Pattern(300000, 11);
  Bytes arrived;
  std::thread reader([&] {
    std::this_thread::sleep_for(100ms);
    arrived = pty.ReceiveExactly(image.size(), 20s);
  });
  EXPECT_EQ(port.Write(image.data(), image.size()), image.size());
  reader.join();
  EXPECT_EQ(arrived, image);
}

TEST_F(CommPortTest, WriteOnALineThatStaysFullGivesUp) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  // Nobody reads the far end: single bytes go out until the line is full; the
  // first one that finds no room within its time limit reports 0.
  const std::uint8_t byte = 0x5A;
  std::size_t accepted = 0;
  std::size_t result = 1;
  while (accepted < 10'000'000 && (result = port.Write(&byte, 1)) == 1) ++accepted;
  EXPECT_EQ(result, 0u);
  EXPECT_GT(accepted, 0u);
  // Every byte reported as written arrives, and no more.
  const Bytes arrived = pty.ReceiveFor(300ms);
  EXPECT_EQ(arrived.size(), accepted);
  EXPECT_EQ(arrived, Bytes(accepted, byte));
}

// ---- Notifications -------------------------------------------------------------

TEST_F(CommPortTest, ABurstDrainedAtOnceNeedsOneNotificationThenQuiet) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  const Bytes burst = Pattern(24, 0x40);
  ASSERT_TRUE(pty.Send(burst));

  HandledTraffic traffic;
  auto first = log.Next(1s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->events, CCommPort::kEventCharReceived);
  // A queued call reaches the window thread a moment after it is posted.
  std::this_thread::sleep_for(5ms);
  HandleOne(port, traffic);
  EXPECT_EQ(traffic.received, burst);

  // The monitor looks again one hand-shake wait later and finds nothing. A
  // terminal may wake it once more without new bytes; such a notification
  // reads nothing and is acknowledged like any other.
  while (auto more = log.Next(100ms)) HandleOne(port, traffic);
  EXPECT_LE(traffic.emptyReads, 2u);
  EXPECT_EQ(traffic.received, burst);

  // Acknowledged and nothing waiting: the monitor is quiet until the next bytes.
  EXPECT_FALSE(log.Next(100ms));
  ASSERT_TRUE(pty.Send(burst));
  HandleUntil(port, log, traffic, 2 * burst.size());
  EXPECT_EQ(traffic.received.size(), 2 * burst.size());
}

TEST_F(CommPortTest, BytesTheHandlerLeftBehindAreReportedAgain) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  const Bytes burst = Pattern(100, 0x10);
  ASSERT_TRUE(pty.Send(burst));
  ASSERT_TRUE(log.Next(1s));
  std::this_thread::sleep_for(5ms);
  // The handler takes only part of the queue and acknowledges; no more bytes
  // arrive, yet the rest must still be reported.
  std::uint8_t part[30];
  ASSERT_EQ(port.Read(part, sizeof part), sizeof part);
  port.AcknowledgeNotification();
  HandledTraffic traffic;
  traffic.received.assign(part, part + sizeof part);
  EXPECT_TRUE(HandleUntil(port, log, traffic, burst.size(), 1s));
  EXPECT_EQ(traffic.received, burst);
}

TEST_F(CommPortTest, UnacknowledgedNotificationsRepeatAboutEveryTenMilliseconds) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  ASSERT_TRUE(pty.Send(Pattern(40)));
  ASSERT_TRUE(log.Next(1s));
  std::this_thread::sleep_for(300ms);
  const auto notices = log.All();
  // Bounded by the hand-shake wait: neither silent nor spinning.
  EXPECT_GE(notices.size(), 10u);
  EXPECT_LE(notices.size(), 40u);
  for (std::size_t i = 2; i < notices.size(); ++i) {
    EXPECT_GE(notices[i].at - notices[i - 1].at, 9ms) << "notice " << i;
  }
  // Once the bytes are taken and acknowledged the repetition stops.
  HandledTraffic traffic;
  HandleFor(port, log, traffic, 100ms);
  EXPECT_EQ(traffic.received.size(), 40u);
  const std::size_t settled = log.Total();
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(log.Total(), settled);
}

TEST_F(CommPortTest, StreamArrivesCompleteAndInOrder) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  const Bytes stream = Pattern(50000, 0x21);
  std::thread controller([&] {
    for (std::size_t at = 0; at < stream.size(); at += 219) {
      const std::size_t n = std::min<std::size_t>(219, stream.size() - at);
      if (!pty.Send(std::span(stream).subspan(at, n), 5s)) return;
      if (at % 2190 == 0) std::this_thread::sleep_for(1ms);
    }
  });
  HandledTraffic traffic;
  EXPECT_TRUE(HandleUntil(port, log, traffic, stream.size(), 20s));
  controller.join();
  EXPECT_EQ(traffic.received, stream);
}

TEST_F(CommPortTest, BytesArrivingOneAtATimeAllReachTheHandler) {
  // As a UART's receiver delivers them: the monitor gathers pieces before
  // it notifies, and what it gathered is all there, in order. While answers
  // are awaited it looks for a frame's last byte awake; a piece that never
  // grows to a frame is still reported.
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  for (const bool answersAwaited : {false, true}) {
    SCOPED_TRACE(answersAwaited);
    port.SetAnswersAwaited(answersAwaited);
    const Bytes stream = Pattern(100, answersAwaited ? 0x55 : 0x33);
    std::thread controller([&] {
      for (std::uint8_t byte : stream) {
        if (!pty.Send(Bytes{byte})) return;
        std::this_thread::sleep_for(100us);
      }
    });
    HandledTraffic traffic;
    EXPECT_TRUE(HandleUntil(port, log, traffic, stream.size(), 5s));
    controller.join();
    EXPECT_EQ(traffic.received, stream);

    const Bytes piece = Pattern(10, 0x17);
    ASSERT_TRUE(pty.Send(piece));
    EXPECT_TRUE(HandleUntil(port, log, traffic, stream.size() + piece.size()));
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), traffic.received.end() - 10));
  }
}

// ---- The far end going away -----------------------------------------------------

TEST_F(CommPortTest, UnpluggedLineFallsSilentWithoutSpinning) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  ASSERT_TRUE(pty.Send(Pattern(8)));
  HandledTraffic traffic;
  ASSERT_TRUE(HandleUntil(port, log, traffic, 8));

  pty.CloseMaster();
  HandleFor(port, log, traffic, 50ms);  // whatever the hang-up itself produced
  const std::size_t noticesAfterUnplug = traffic.notices;
  const auto cpuBefore = ProcessCpuTime();
  HandleFor(port, log, traffic, 500ms);  // still handling, as the console would
  const auto cpuUsed = ProcessCpuTime() - cpuBefore;
  EXPECT_LT(cpuUsed, 50ms);
  EXPECT_EQ(traffic.notices, noticesAfterUnplug);

  // Open but silent until closed.
  EXPECT_TRUE(port.IsOpen());
  const Bytes frame{0x55, 0xAA, 0x1D, 0x00, 0x34, 0xFF};
  EXPECT_EQ(port.Write(frame.data(), frame.size()), 0u);
  std::uint8_t buffer[64];
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
  const auto start = Clock::now();
  port.Close();
  EXPECT_LT(Clock::now() - start, 200ms);

  // A new adapter: the channel opens and works again.
  PtyPair replugged;
  ASSERT_EQ(OpenConsoleLine(port, replugged.SlavePath()), 1);
  ASSERT_TRUE(replugged.Send(Pattern(24, 9)));
  HandledTraffic after;
  EXPECT_TRUE(HandleUntil(port, log, after, 24));
  EXPECT_EQ(after.received, Pattern(24, 9));
  EXPECT_EQ(port.Write(frame.data(), frame.size()), frame.size());
  EXPECT_EQ(replugged.ReceiveExactly(frame.size(), 1s), frame);
}

TEST_F(CommPortTest, AHangUpIsPostedOnceAndTheMonitorEnds) {
  ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
  pty.CloseMaster();
  std::optional<NotificationLog::Notice> notice;
  while ((notice = log.Next(1s)) && notice->events != SerialLink::kEventLineLost) {
    HandledTraffic traffic;
    HandleOne(port, traffic);
  }
  ASSERT_TRUE(notice);
  EXPECT_TRUE(port.LineLost());
  // Nothing further: neither a second notice nor a spinning thread.
  EXPECT_FALSE(log.Next(200ms));
  const auto start = Clock::now();
  port.Close();
  EXPECT_LT(Clock::now() - start, 100ms);
  // The next line starts clean.
  PtyPair replugged;
  ASSERT_EQ(OpenConsoleLine(port, replugged.SlavePath()), 1);
  EXPECT_FALSE(port.LineLost());
}

TEST_F(CommPortTest, CloseDuringABurstDoesNotHang) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    // Every other round while answers are awaited: Close must end the
    // monitor's awake look as it ends its sleep.
    port.SetAnswersAwaited(round % 2 == 1);
    ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
    std::atomic<bool> stop{false};
    std::thread controller([&] {
      std::uint8_t seed = 0;
      while (!stop.load()) {
        pty.Send(Pattern(219, seed++), 20ms);
      }
    });
    HandledTraffic traffic;
    HandleFor(port, log, traffic, 60ms + std::chrono::milliseconds(round * 10));
    const auto start = Clock::now();
    port.Close();
    EXPECT_LT(Clock::now() - start, 200ms);
    // Notifications still queued find the channel closed and are acknowledged.
    HandleFor(port, log, traffic, 30ms);
    stop.store(true);
    controller.join();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_GT(traffic.received.size(), 0u);
    // Leave an empty line for the next round.
    ASSERT_EQ(OpenConsoleLine(port, pty.SlavePath()), 1);
    std::uint8_t buffer[40960];
    while (port.Read(buffer, sizeof buffer) > 0) {
    }
    port.Close();
    while (log.Next(1ms)) {
    }
  }
}

}  // namespace
}  // namespace rolta
