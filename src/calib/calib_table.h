// Calibration tables: one channel's point pairs, the catalogue of the
// controller's tables with their command codes, the conversion of the
// workbench grid's texts into a table and the display texts of a table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "calib/calib_fit.h"

namespace rolta {

// A table kept as its image: count (int16), first[capacity], second[capacity],
// little-endian float32. The image is what goes on the wire and into stab.qrx,
// and a block transfer writes plain byte ranges of it, so it is the storage.
class CalibTable {
 public:
  static constexpr std::size_t kMaxCapacity = 50;
  static constexpr std::size_t kMaxImageSize = 2 + 8 * kMaxCapacity;  // 402

  static constexpr std::size_t ImageSizeFor(std::size_t capacity) { return 2 + 8 * capacity; }

  // An empty table (count 0, every value 0) of 10, 20 or 50 points.
  explicit CalibTable(std::size_t capacity = kMaxCapacity);

  std::size_t Capacity() const { return capacity_; }
  std::size_t ImageSize() const { return ImageSizeFor(capacity_); }

  // The count as stored; a received image may hold any value here.
  std::int16_t Count() const;
  void SetCount(std::int16_t count);
  // The number of points that can be read: count limited to 0..capacity.
  std::size_t PointCount() const;

  // index below Capacity().
  float First(std::size_t index) const;
  float Second(std::size_t index) const;
  void SetFirst(std::size_t index, float value);
  void SetSecond(std::size_t index, float value);
  // The four bytes of a value, so a received value passes on bit for bit.
  std::uint8_t* FirstBytes(std::size_t index);
  std::uint8_t* SecondBytes(std::size_t index);

  // Count 0 and every value 0.
  void Clear();

  std::span<const std::uint8_t> Image() const { return {image_.data(), ImageSize()}; }
  std::span<std::uint8_t> Image() { return {image_.data(), ImageSize()}; }

  bool operator==(const CalibTable& other) const;

 private:
  std::size_t FirstOffset(std::size_t index) const;
  std::size_t SecondOffset(std::size_t index) const;

  std::size_t capacity_;
  std::array<std::uint8_t, kMaxImageSize> image_{};
};

// The table's points (its count limited to 0..capacity), for the fit.
std::vector<CalibPoint> CalibPoints(const CalibTable& table);
// The first `capacity` points of a table (the working table, say) as a table
// of that capacity, its count limited to it; a table of that capacity
// already comes back bit for bit.
CalibTable TableOfCapacity(const CalibTable& table, std::size_t capacity);

// The controller's tables, in the order of the workbench's buttons.
enum class CalibChannel : std::uint8_t {
  Temperature,
  Humidity,
  AirPressure,
  Speed,
  TorqueFrontLeft,
  TorqueFrontRight,
  TorqueRearLeft,
  TorqueRearRight,
  Loss,
  Variable,
};
inline constexpr std::size_t kCalibChannelCount = 10;

// How a table travels: one request and one store frame, or the 402-byte
// image in blocks (the 50-point table).
enum class CalibTransfer : std::uint8_t { Whole, Blocks };

struct CalibChannelRow {
  CalibChannel channel;
  std::string_view fetchCaption;  // button of "获取标定数据"
  std::uint8_t requestCode;       // also the reply's FrameType
  std::string_view storeCaption;  // button of "存储标定数据"
  std::uint8_t storeCode;
  std::size_t capacity;  // points
  CalibTransfer transfer;
  bool keptInStabFile;  // the speed table is copied to stab.qrx
};

std::span<const CalibChannelRow> CalibChannels();
const CalibChannelRow& CalibChannelInfo(CalibChannel channel);
// The row whose reply carries this FrameType; nullptr for other types.
const CalibChannelRow* CalibChannelForReply(std::uint8_t frameType);

// The texts of one grid data row: the first and the second value column.
struct CalibGridRow {
  std::string first;
  std::string second;
};

// Builds a table of the given capacity from the grid's data rows, top to
// bottom: a first-column text that is empty after trimming ends the table,
// as does reaching the capacity. Texts that are not numbers read as 0.
CalibTable TableFromGridRows(std::span<const CalibGridRow> rows, std::size_t capacity);

// The display rounding of the grid: the integer part of x * 10^m + 0.5
// (m = decimals capped at 6, none below 1) over 10^m, as float.
// Values too large for a 32-bit integer once scaled, and non-finite ones,
// come back unchanged.
float RoundForDisplay(float value, int decimals);
// A grid value: RoundForDisplay(value, decimals) with three decimals, "%.3f"
// in the C locale whatever the process locale is.
std::string CalibValueText(float value, int decimals);

// Decimals of the two value columns.
inline constexpr int kFirstColumnDecimals = 3;
inline constexpr int kSecondColumnDecimals = 1;

// What the grid shows for rows 1.. of a table: row number, first, second.
struct CalibDisplayRow {
  std::string number;
  std::string first;
  std::string second;
};
// One row per point of the table (its count limited to 0..capacity and to
// the rows the grid has).
std::vector<CalibDisplayRow> DisplayRows(const CalibTable& table, std::size_t gridDataRows);

}  // namespace rolta
