#include "calib/calib_table.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>

#include "env/number_text.h"
#include "link/frames.h"

namespace rolta {
namespace {

constexpr CalibChannelRow kCalibChannels[] = {
    // channel, fetch caption, request, store caption, store, points, transfer, stab.qrx
    {CalibChannel::Temperature, "温度", 62, "温度", 9, 10, CalibTransfer::Whole, false},
    {CalibChannel::Humidity, "湿度", 63, "湿度", 10, 10, CalibTransfer::Whole, false},
    {CalibChannel::AirPressure, "大气压", 64, "压力", 11, 10, CalibTransfer::Whole, false},
    {CalibChannel::Speed, "速度", 61, "速度", 59, 10, CalibTransfer::Whole, true},
    {CalibChannel::TorqueFrontLeft, "前左力矩", 60, "前左力矩", 8, 10, CalibTransfer::Whole, false},
    {CalibChannel::TorqueFrontRight, "前右力矩", 120, "前右力矩", 117, 10, CalibTransfer::Whole, false},
    {CalibChannel::TorqueRearLeft, "后左力矩", 121, "后左力矩", 118, 10, CalibTransfer::Whole, false},
    {CalibChannel::TorqueRearRight, "后右力矩", 122, "后右力矩", 119, 10, CalibTransfer::Whole, false},
    {CalibChannel::Loss, "VMS损耗", 78, "VMS损耗", 77, 20, CalibTransfer::Whole, false},
    {CalibChannel::Variable, "VarTab", 5, "VarTab", 6, 50, CalibTransfer::Blocks, false},
};
static_assert(std::size(kCalibChannels) == kCalibChannelCount);

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsCSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsCSpace(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

CalibTable::CalibTable(std::size_t capacity) : capacity_(std::min(capacity, kMaxCapacity)) {}

std::int16_t CalibTable::Count() const { return GetInt16LE(image_.data()); }

void CalibTable::SetCount(std::int16_t count) { PutUInt16LE(image_.data(), static_cast<std::uint16_t>(count)); }

std::size_t CalibTable::PointCount() const {
  const std::int16_t count = Count();
  return count <= 0 ? 0 : std::min(static_cast<std::size_t>(count), capacity_);
}

std::size_t CalibTable::FirstOffset(std::size_t index) const {
  assert(index < capacity_);
  return 2 + 4 * index;
}

std::size_t CalibTable::SecondOffset(std::size_t index) const {
  assert(index < capacity_);
  return 2 + 4 * capacity_ + 4 * index;
}

float CalibTable::First(std::size_t index) const { return GetFloat32LE(&image_[FirstOffset(index)]); }
float CalibTable::Second(std::size_t index) const { return GetFloat32LE(&image_[SecondOffset(index)]); }
void CalibTable::SetFirst(std::size_t index, float value) { PutFloat32LE(&image_[FirstOffset(index)], value); }
void CalibTable::SetSecond(std::size_t index, float value) { PutFloat32LE(&image_[SecondOffset(index)], value); }
std::uint8_t* CalibTable::FirstBytes(std::size_t index) { return &image_[FirstOffset(index)]; }
std::uint8_t* CalibTable::SecondBytes(std::size_t index) { return &image_[SecondOffset(index)]; }

void CalibTable::Clear() { image_.fill(0); }

bool CalibTable::operator==(const CalibTable& other) const {
  return capacity_ == other.capacity_ && std::equal(Image().begin(), Image().end(), other.Image().begin());
}

std::vector<CalibPoint> CalibPoints(const CalibTable& table) {
  std::vector<CalibPoint> points;
  points.reserve(table.PointCount());
  for (std::size_t i = 0; i < table.PointCount(); ++i) points.push_back({table.First(i), table.Second(i)});
  return points;
}

CalibTable TableOfCapacity(const CalibTable& table, std::size_t capacity) {
  if (table.Capacity() == capacity) return table;
  CalibTable result(capacity);
  const std::size_t shared = std::min(table.Capacity(), result.Capacity());
  for (std::size_t i = 0; i < shared; ++i) {
    std::memcpy(result.FirstBytes(i), &table.Image()[2 + 4 * i], 4);
    std::memcpy(result.SecondBytes(i), &table.Image()[2 + 4 * table.Capacity() + 4 * i], 4);
  }
  result.SetCount(static_cast<std::int16_t>(
      std::clamp<std::int32_t>(table.Count(), 0, static_cast<std::int32_t>(result.Capacity()))));
  return result;
}

std::span<const CalibChannelRow> CalibChannels() { return kCalibChannels; }

const CalibChannelRow& CalibChannelInfo(CalibChannel channel) {
  const auto index = static_cast<std::size_t>(channel);
  assert(index < std::size(kCalibChannels) && kCalibChannels[index].channel == channel);
  return kCalibChannels[index];
}

const CalibChannelRow* CalibChannelForReply(std::uint8_t frameType) {
  for (const CalibChannelRow& row : kCalibChannels) {
    if (row.requestCode == frameType) return &row;
  }
  return nullptr;
}

CalibTable TableFromGridRows(std::span<const CalibGridRow> rows, std::size_t capacity) {
  CalibTable table(capacity);
  std::size_t count = 0;
  for (const CalibGridRow& row : rows) {
    if (count >= table.Capacity()) break;
    const std::string_view first = Trimmed(row.first);
    if (first.empty()) break;
    table.SetFirst(count, TextToFloat(first));
    // The second column is read as it stands: leading blanks are skipped by
    // the conversion, and an empty text is a 0.
    table.SetSecond(count, TextToFloat(row.second));
    ++count;
  }
  table.SetCount(static_cast<std::int16_t>(count));
  return table;
}

float RoundForDisplay(float value, int decimals) {
  const int m = std::min(decimals, 6);
  const double scale = m <= 0 ? 1.0 : std::pow(10.0, m);
  const double shifted = static_cast<double>(value) * scale + 0.5;
  // Beyond a 32-bit integer the rule has no integer part to take.
  if (!std::isfinite(shifted) || shifted >= 2147483648.0 || shifted <= -2147483649.0) return value;
  return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(shifted)) / scale);
}

std::string CalibValueText(float value, int decimals) {
  const float rounded = RoundForDisplay(value, decimals);
  if (std::isnan(rounded)) return std::signbit(rounded) ? "-nan" : "nan";
  char text[64];
  const auto result =
      std::to_chars(text, text + sizeof text, static_cast<double>(rounded), std::chars_format::fixed, 3);
  // A float prints in fewer than 64 characters with three decimals.
  return result.ec == std::errc() ? std::string(text, result.ptr) : std::string();
}

std::vector<CalibDisplayRow> DisplayRows(const CalibTable& table, std::size_t gridDataRows) {
  const std::size_t rows = std::min(table.PointCount(), gridDataRows);
  std::vector<CalibDisplayRow> display;
  display.reserve(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    display.push_back({std::to_string(i + 1), CalibValueText(table.First(i), kFirstColumnDecimals),
                       CalibValueText(table.Second(i), kSecondColumnDecimals)});
  }
  return display;
}

}  // namespace rolta
