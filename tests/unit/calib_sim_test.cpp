// Calibration exchange end to end against the simulated controller: every
// table stored from grid rows and fetched back through the receive path.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "calib/calib_exchange.h"
#include "controller_model.h"
#include "env/text_lookup.h"
#include "frame_router.h"
#include "link/frame_sync.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

class NoPause final : public EventPump {
 public:
  void ProcessPendingEvents() override {}
  void SleepMilliseconds(int) override {}
};

class CalibSimTest : public ::testing::Test {
 protected:
  CalibSimTest()
      : stab_(std::filesystem::temp_directory_path() / ("calib_sim_stab_" + std::to_string(::getpid()))),
        exchange_(channel_, pump_, profile_, stab_),
        receiver_(channel_, router_) {
    router_.On(ControllerFrameKind::CalibTable, [this](const std::uint8_t* frame, std::size_t length) {
      refreshes += exchange_.OnCalibFrame(frame, length) ? 1 : 0;
    });
  }
  ~CalibSimTest() override { std::filesystem::remove(stab_); }

  // The controller answers everything the console wrote; the answers then
  // arrive on the line in one burst, as after a block loop.
  void Converse() {
    for (const auto& frame : channel_.Writes()) {
      for (const auto& reply : model_.HandleCommand(frame, now_ += 10)) channel_.Queue(reply);
    }
    channel_.ClearWrites();
    receiver_.OnCommNotify(FrameReceiver::kCharactersReceived);
  }

  static std::vector<CalibGridRow> Rows(std::size_t count, float scale) {
    std::vector<CalibGridRow> rows;
    for (std::size_t i = 0; i < count; ++i) {
      std::string label(1, ' ');  // a leading blank, as an operator may type it
      label += std::to_string(scale * static_cast<float>(i) + 0.125f);
      rows.push_back({label, std::to_string(-scale * static_cast<float>(i))});
    }
    return rows;
  }

  std::filesystem::path stab_;
  MemoryChannel channel_;
  NoPause pump_;
  ProfileFrame profile_;
  IdentityLookup lookup_;
  CalibExchange exchange_;
  FrameRouter router_;
  FrameReceiver receiver_;
  int refreshes = 0;
  sim::ControllerModel model_;
  double now_ = 0;
};

TEST_F(CalibSimTest, EveryTableStoredFromTheGridIsFetchedBackEqual) {
  float scale = 1.5f;
  for (const CalibChannelRow& row : CalibChannels()) {
    SCOPED_TRACE(std::string(row.fetchCaption));
    scale += 1.0f;
    // Over a full table, one of fewer points than it holds.
    const auto rows = Rows(row.capacity - 3, scale);
    const CalibTable sent = TableFromGridRows(rows, row.capacity);

    exchange_.StoreTable(row.channel, Rows(row.capacity, 9.0f));
    exchange_.StoreTable(row.channel, rows);
    Converse();
    const auto stored = model_.CalibImage(row.requestCode);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), sent.Image().begin(), sent.Image().end()));

    const int refreshesBefore = refreshes;
    exchange_.RequestTable(row.channel);
    Converse();
    EXPECT_EQ(refreshes, refreshesBefore + 1);
    if (row.capacity == 50) {
      EXPECT_EQ(exchange_.WorkingTable(), sent);
    } else {
      // Sensor and loss replies go into the first points of the 50-point table.
      ASSERT_EQ(exchange_.WorkingTable().Count(), sent.Count());
      for (std::size_t i = 0; i < row.capacity; ++i) {
        EXPECT_EQ(exchange_.WorkingTable().First(i), sent.First(i)) << i;
        EXPECT_EQ(exchange_.WorkingTable().Second(i), sent.Second(i)) << i;
      }
    }
  }
}

}  // namespace
}  // namespace rolta::test
