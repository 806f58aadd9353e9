// The calibration data exchange behind the workbench: requests and stores of
// every table, the block transfer of the 50-point table, the replies that
// fill the working table, and stab.qrx. It sends on the channel it is given
// and owns nothing of the link; the receive path hands it every calibration
// reply through OnCalibFrame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>

#include "calib/calib_table.h"
#include "env/ui_services.h"
#include "link/byte_channel.h"
#include "link/frames.h"

namespace rolta {

// The window that shows the working table. Told when a reply replaced what it
// shows; it then rebuilds its grid (hide and show again).
class CalibView {
 public:
  virtual ~CalibView() = default;
  virtual void OnWorkingTableChanged() = 0;
};

// Block transfer of the 402-byte image of the 50-point table.
inline constexpr std::size_t kBlockImageSize = CalibTable::kMaxImageSize;
inline constexpr std::size_t kBlockLimit = 200;      // bytes per block sent or asked for
inline constexpr std::size_t kBlockReplyRoom = 205;  // data bytes a block reply holds
inline constexpr std::size_t kBlockStoreFrameLength = 217;
inline constexpr int kBlockReadPauseMs = 50;
inline constexpr int kBlockStorePauseMs = 100;

// The speed table's copy, in the current directory.
inline constexpr const char* kStabFileName = "stab.qrx";

// Replaces the file with these bytes, through a temporary file in the same
// folder renamed over it, so a failed write leaves the old file as it was.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

class CalibExchange {
 public:
  // Frames go out on `channel`; the block read is built in the 22-byte
  // command buffer the link's catalogue commands share; the block loops
  // pause through `pump`.
  CalibExchange(ByteChannel& channel, EventPump& pump, ProfileFrame& sharedProfile,
                std::filesystem::path stabFile = kStabFileName);

  void SetView(CalibView* view) { view_ = view; }

  // Told of every store that went out whole: the channel, the table its last
  // reply held (empty before the first) and the table stored, both of the
  // channel's capacity.
  using StoreObserver =
      std::function<void(CalibChannel channel, const std::optional<CalibTable>& before, const CalibTable& stored)>;
  void SetStoreObserver(StoreObserver observer) { storeObserver_ = std::move(observer); }

  // The table every reply is copied into and the grid shows; 50 points.
  const CalibTable& WorkingTable() const { return working_; }
  // How many replies have changed the working table so far, so another
  // reader than the view can tell a new table has come.
  std::uint32_t TablesReceived() const { return tablesReceived_; }

  // Sends the 6-byte request of a whole-transfer table; for the 50-point
  // table it runs ReadVarTable. Nothing waits for the reply.
  void RequestTable(CalibChannel channel);
  // Three block requests (0,200), (200,200), (400,2) through the shared
  // buffer, 50 ms apart; the replies are handled when the caller returns.
  void ReadVarTable();
  // Builds the channel's table from the grid rows and sends it as below.
  void StoreTable(CalibChannel channel, std::span<const CalibGridRow> rows);
  // Sends this table bit for bit: one store frame, or three block stores
  // 100 ms apart for the 50-point table. The speed table is also written to
  // stab.qrx once its frame went out whole. A table of another capacity than
  // the channel's travels as the channel's size: its points up to that
  // capacity, the count limited to it.
  void StoreTable(CalibChannel channel, const CalibTable& table);

  // A calibration reply as cut out by the receive path (55 AA, type at +2,
  // payload at +6). Frames of another type or length are ignored. Returns
  // true when the working table changed so that the view was told.
  bool OnCalibFrame(const std::uint8_t* frame, std::size_t length);

  // The reply handlers, given the payload (frame bytes from +6). A payload
  // too short for its table is ignored.
  void OnSensorTableReply(std::span<const std::uint8_t> payload);
  void OnLossTableReply(std::span<const std::uint8_t> payload);
  // True when this block completed a valid image.
  bool OnTableBlockReply(std::span<const std::uint8_t> payload);

  const std::filesystem::path& StabFile() const { return stabFile_; }

 private:
  void OnPointsReply(std::span<const std::uint8_t> payload, std::size_t capacity);
  bool StoreBlocks(const CalibTable& table);
  bool Send(std::span<const std::uint8_t> frame);

  ByteChannel& channel_;
  EventPump& pump_;
  ProfileFrame& profile_;
  std::filesystem::path stabFile_;
  CalibView* view_ = nullptr;
  std::uint32_t tablesReceived_ = 0;
  CalibTable working_{CalibTable::kMaxCapacity};
  std::array<std::optional<CalibTable>, kCalibChannelCount> lastReceived_;
  StoreObserver storeObserver_;
};

}  // namespace rolta
