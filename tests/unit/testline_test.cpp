// The test line against a real Mosquitto broker on 127.0.0.1: a bench's
// state, readouts and events reach the line view; a broker killed and
// started again loses no event; nothing published to a bench reaches its
// serial line; TLS with a CA made here, the broker started after the bench. And the parts without a broker:
// settings, the password's file, the event queue on disk, the view's table, a
// libmosquitto that cannot be used.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "controller_simulator.h"
#include "mosquitto_broker.h"
#include "session_doubles.h"
#include "session_thread.h"
#include "temp_folder.h"
#include "testline/bench_publishing.h"
#include "testline/event_queue.h"
#include "testline/line_subscriber.h"
#include "testline/line_table.h"
#include "testline/mqtt_client.h"

namespace rolta::test {
namespace {

using namespace std::chrono_literals;

template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  return done();
}

std::optional<BenchRow> RowOf(const LineSubscriber& line, const std::string& bench) {
  for (const BenchRow& row : line.Rows()) {
    if (row.bench == bench) return row;
  }
  return std::nullopt;
}

TEST(TestLineSettingsTest, FileRoundTripWithoutThePasswordWhichGoesToAPrivateFile) {
  TempFolder folder;
  TestLineSettings settings;
  settings.enabled = true;
  settings.host = "broker.line";
  settings.port = 8883;
  settings.caFile = "/etc/ca.crt";
  settings.username = "bench";
  settings.password = "s3cret";
  settings.benchName = "B7";
  settings.liveRate = 5;
  ASSERT_TRUE(SaveTestLineSettings(folder.path() / "testline.conf", settings));
  std::ifstream file(folder.path() / "testline.conf");
  const std::string text(std::istreambuf_iterator<char>(file), {});
  EXPECT_EQ(text.find("s3cret"), std::string::npos);
  TestLineSettings expected = settings;
  expected.password.clear();
  EXPECT_EQ(LoadTestLineSettings(folder.path() / "testline.conf").settings, expected);

  ::setenv("ROLTA_KEYRING", "off", 1);
  const PasswordStore store(folder.path() / "testline.secret");
  ASSERT_TRUE(store.Save("s3cret"));
  struct stat info {};
  ASSERT_EQ(::stat((folder.path() / "testline.secret").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(store.Load(), "s3cret");

  // Each bad line is skipped and the first one named; the rest still counts.
  for (const auto& [line, problem] : std::vector<std::pair<std::string, bool>>{{"port=70000", true},
                                                                               {"live_rate=50", true},
                                                                               {"bench=a/b", true},
                                                                               {"colour=red", true},
                                                                               {"no equals", true},
                                                                               {"port=1884", false},
                                                                               {"live_rate=0.5", false}}) {
    std::ofstream(folder.path() / "bad.conf") << "host=h\n" << line << "\n";
    const TestLineSettingsResult result = LoadTestLineSettings(folder.path() / "bad.conf");
    EXPECT_EQ(!result.problem.empty(), problem) << line;
    EXPECT_EQ(result.settings.host, "h");
  }
}

TEST(TestLineEventQueueTest, BoundedOldestDroppedAndCountedKeptAcrossARestart) {
  TempFolder folder;
  const auto file = folder.path() / "q.events";
  {
    EventQueue queue(file, 3);
    for (int i = 1; i <= 5; ++i) queue.Push("{\"i\":" + std::to_string(i) + "}");
    EXPECT_EQ(queue.Dropped(), 2u);
    queue.Remove(queue.Entries().front().key);
    queue.Flush();
  }
  EventQueue again(file, 3);
  ASSERT_EQ(again.Size(), 2u);
  EXPECT_EQ(again.Entries()[0].message, "{\"i\":4}");
  EXPECT_EQ(again.TakeDropped(), 2u);
  EXPECT_EQ(EventQueue(file, 3).Dropped(), 0u);
}

// libmosquitto is looked up when MQTT is first used: a copy that cannot be
// loaded, or one without the functions, is said as the line's failure and
// the command ends; a copy found first on the library path stands for it.
TEST(TestLineLibraryTest, ALibmosquittoThatCannotBeUsedIsSaidAndTheLineCommandEnds) {
  const std::filesystem::path bin = ROLTA_BIN_DIR;
  const struct {
    const char* standIn;  // empty: an empty file
    const char* said;
  } cases[] = {{"", "libmosquitto.so.1 could not be loaded"},
               {"libEnvkit.so", "libmosquitto.so.1 has no mosquitto_lib_init"}};
  for (const auto& [standIn, said] : cases) {
    TempFolder folder;
    const std::filesystem::path library = folder.path() / "libmosquitto.so.1";
    if (*standIn == 0) {
      std::ofstream(library).flush();
    } else {
      std::filesystem::copy_file(bin / standIn, library);
    }
    const std::string command = "LD_LIBRARY_PATH='" + folder.path().string() + "' XDG_CONFIG_HOME='" +
                                folder.path().string() + "' ROLTA_KEYRING=off '" + (bin / "rolta-cli").string() +
                                "' line --duration 5 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status << " " << output;
    EXPECT_NE(output.find(said), std::string::npos) << output;
  }
}

TEST(TestLineTableTest, MessagesFillRowsAndAnythingElseIsIgnored) {
  LineTable table("rolta");
  struct Case {
    std::string topic, payload;
    bool taken;
  };
  const Case cases[] = {
      {"rolta/A/state", R"({"online":true,"link":"receiving","command":"恒速测试","t":1})", true},
      {"rolta/A/live", R"({"t":990,"values":{"speed":{"value":50.5,"unit":"km/h"},"force":{"value":null}}})", true},
      {"rolta/A/event", R"({"kind":"command-sent","seq":1})", true},
      {"rolta/B/state", R"({"online":false})", true},
      {"rolta/A/command", R"({"x":1})", false},
      {"other/A/state", R"({"online":true})", false},
      {"rolta//state", R"({"online":true})", false},
      {"rolta/C/state", "not json", false},
      {"rolta/C/state", "[1,2]", false},
      {"rolta/C/live", R"({"values":{"speed":"fast"}})", true},
  };
  for (const Case& c : cases) EXPECT_EQ(table.Apply(c.topic, c.payload, 1000), c.taken) << c.topic << c.payload;
  const std::vector<BenchRow> rows = table.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0].online);
  EXPECT_EQ(rows[0].command, "恒速测试");
  EXPECT_EQ(rows[0].speed, 50.5);
  EXPECT_EQ(rows[0].force, std::nullopt);
  EXPECT_EQ(rows[0].lastEvent, "command-sent");
  EXPECT_FALSE(rows[1].online);
  EXPECT_EQ(rows[2].speed, std::nullopt);
  EXPECT_EQ(table.Delays().count, 1u);
  EXPECT_EQ(table.Delays().medianMs, 10.0);
  const IdentityLookup texts;
  EXPECT_NE(LineTableText(rows, 2000, texts).find("50.5 km/h"), std::string::npos);
}

class TestLineBroker : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_STATE_HOME", folder_.path().c_str(), 1);
    settings_.host = "127.0.0.1";
  }
  bool StartBroker(MosquittoBroker::Options options) {
    broker_.emplace(folder_.path(), options);
    settings_.port = broker_->Port();
    return broker_->Start();
  }
  TempFolder folder_;
  std::optional<MosquittoBroker> broker_;
  TestLineSettings settings_;
};

TEST_F(TestLineBroker, ABenchsCommandReachesTheLineViewAndNothingFromTheBrokerReachesItsLine) {
  ASSERT_TRUE(StartBroker({}));
  LineSubscriber line(settings_);
  ASSERT_TRUE(line.Start());
  sim::SimulatorOptions options;
  options.periodMs = 10;
  sim::ControllerSimulator simulator(options);
  ASSERT_TRUE(simulator.Start());
  IdentityLookup texts;
  RecordingView view;
  QuietServices services;
  ControllerSession session(texts, view, services.Services());
  SessionThread windowThread(session);
  ASSERT_TRUE(session.Open(simulator.SlavePath(), 115200));
  settings_.benchName = "bench-1";
  BenchPublishing publishing(session, settings_, "");
  ASSERT_TRUE(publishing.Start(nullptr));
  const auto handleUntil = [&](auto done) {
    return windowThread.HandleUntil(
        [&] {
          publishing.Poll();
          return done();
        },
        10s);
  };
  CommandInputs inputs;
  inputs.ParamA = "50";
  session.Execute(0, inputs);  // "恒速测试"
  ASSERT_TRUE(handleUntil([&] {
    const auto row = RowOf(line, "bench-1");
    return row && row->online && row->command == "恒速测试" && row->speed && row->lastEvent == "command-answered";
  }));
  // A change to the controller is an event on the line as well.
  CalibTable table(CalibChannelInfo(CalibChannel::Temperature).capacity);
  table.SetCount(2);
  table.SetFirst(1, 1.0f);
  table.SetSecond(1, 100.0f);
  session.Calib().StoreTable(CalibChannel::Temperature, table);
  ASSERT_TRUE(handleUntil([&] {
    const auto row = RowOf(line, "bench-1");
    return row && row->lastEvent == "calibration-stored";
  }));

  const std::size_t received = simulator.ReceivedCount();
  MqttClient intruder(settings_, "intruder", {});
  ASSERT_TRUE(intruder.Start());
  const std::uint8_t stop[] = {0x55, 0xAA, 0x04, 0x00, 0x00, 0x00};
  for (const char* topic : {"rolta/bench-1/command", "rolta/bench-1/estop", "rolta/bench-1/state", "rolta/bench-1"}) {
    for (int i = 0; i < 20 && !intruder.Publish(topic, {reinterpret_cast<const char*>(stop), sizeof stop}, 1, false);
         ++i) {
      std::this_thread::sleep_for(50ms);  // until connected
    }
  }
  windowThread.HandleFor(500ms);
  EXPECT_EQ(simulator.ReceivedCount(), received);
  session.Close();
  simulator.Stop();
}

TEST_F(TestLineBroker, ABrokerKilledAndStartedAgainMidRunLosesNoEvent) {
  ASSERT_TRUE(StartBroker({.tls = false, .persistence = true}));
  std::mutex mutex;
  std::set<std::string> seen;
  MqttCallbacks callbacks;
  MqttClient* checker = nullptr;
  callbacks.connected = [&] { checker->Subscribe("rolta/b/event", 1); };
  callbacks.message = [&](std::string_view, std::string_view payload) {
    std::lock_guard lock(mutex);
    seen.insert(std::string(payload.substr(payload.find("\"detail\""))));
  };
  MqttClient client(settings_, "checker", callbacks, std::nullopt, MqttSession::Kept);
  checker = &client;
  ASSERT_TRUE(client.Start());
  ASSERT_TRUE(WaitFor([&] { return broker_->Port() > 0; }));
  {
    TestLinePublisher publisher(settings_, "b", EventQueuePath("b"));
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(WaitFor([&] { return publisher.Counters().connected; }));
    for (int i = 1; i <= 30; ++i) {
      publisher.PublishEvent("count", "{\"i\":" + std::to_string(i) + "}");
      std::this_thread::sleep_for(10ms);
      if (i == 10) broker_->Kill(SIGTERM);
      if (i == 20) {
        ASSERT_TRUE(broker_->Start());
      }
    }
    EXPECT_TRUE(WaitFor(
        [&] {
          std::lock_guard lock(mutex);
          return seen.size() >= 30;
        },
        20s));
    EXPECT_TRUE(WaitFor([&] { return publisher.Counters().eventsWaiting == 0; }));
  }
  std::lock_guard lock(mutex);
  EXPECT_EQ(seen.size(), 30u);
}

TEST_F(TestLineBroker, TlsWithACaMadeForTheTest) {
  ASSERT_TRUE(MakeTestCertificates(folder_.path()));
  broker_.emplace(folder_.path(), MosquittoBroker::Options{.tls = true, .persistence = false});
  settings_.port = broker_->Port();
  settings_.caFile = (folder_.path() / "ca.crt").string();
  // Publishing starts before the broker: it connects once the broker is there.
  TestLinePublisher publisher(settings_, "tls-bench", {});
  ASSERT_TRUE(publisher.Start());
  BenchState state;
  state.command = "版本";
  publisher.SetState(state);
  ASSERT_TRUE(broker_->Start());
  LineSubscriber line(settings_);
  ASSERT_TRUE(line.Start());
  EXPECT_TRUE(WaitFor([&] {
    const auto row = RowOf(line, "tls-bench");
    return row && row->online && row->command == "版本";
  }));
  // A CA file that cannot be read is said at once.
  settings_.caFile = (folder_.path() / "missing.crt").string();
  TestLinePublisher unusable(settings_, "x", {});
  std::string error;
  EXPECT_FALSE(unusable.Start(&error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace rolta::test
