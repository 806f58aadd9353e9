#include "readouts/quantities.h"

#include <array>
#include <atomic>
#include <iterator>

namespace rolta {
namespace {

constexpr std::string_view kDistanceUnits[] = {"m", "km"};

using enum BenchQuantity;

// Column names are part of the recording's format: append, never rename or
// reorder. A unit may change only with the old one kept as formerUnit.
constexpr Quantity kQuantities[] = {
    {"numth", "Numth", ""},
    {"v1", "V1", ""},
    {"v2", "V2", ""},
    {"v3", "V3", ""},
    {"v4", "V4", ""},
    {"speed", "速度", "km/h"},
    {"force", "力", "daN"},
    {"power", "负荷", "kW"},
    {"coast_time", "滑行时间", "s"},
    {"roller_rpm", "转速", "r/min"},
    {"engine_rpm", "引擎转数", "r/min"},
    {"param", "参数", ""},
    {"distance", "里程", "", Distance},
    {"voltage", "电压", "V"},
    {"fuel", "油耗", ""},
    {"rpm_per_fuel", "转速/油耗", ""},
    {"frequency", "频率", "Hz"},
    {"acceleration", "加速度", "m/s²", None, "m/s2"},
    {"revolutions", "转数", ""},
    {"response_1", "响应时间", ""},
    {"response_2", "响应时间", ""},
    {"zero_point", "零点", ""},
    {"channel_1", "通道1", ""},
    {"channel_2", "通道2", ""},
    {"channel_3", "通道3", ""},
    {"channel_4", "通道4", ""},
    {"humidity", "湿度", "%"},
    {"temperature", "温度", "°C"},
    {"pressure", "大气压力", "kPa"},
    {"io", "IO", ""},
    {"unnamed", "??", ""},
};

// Which quantity a readout caption's value is. A readout position of -1
// matches any readout.
struct CaptionQuantity {
  std::string_view caption;
  int readout;
  std::string_view column;
};
constexpr CaptionQuantity kCaptionQuantities[] = {
    {"速度", -1, "speed"},
    {"_E(速度", -1, "speed"},
    {"力矩", -1, "force"},
    {"力", -1, "force"},
    {"力矩(小数)", -1, "force"},
    {"负荷", -1, "power"},
    {"当前负荷", -1, "power"},
    {"滑行时间", -1, "coast_time"},
    {"转速", -1, "roller_rpm"},
    {"引擎转数", -1, "engine_rpm"},
    {"参数", -1, "param"},
    {"里程", -1, "distance"},
    {"电压", -1, "voltage"},
    {"油耗", -1, "fuel"},
    {"转速/油耗", -1, "rpm_per_fuel"},
    {"频率", -1, "frequency"},
    {"加速度", -1, "acceleration"},
    {"转数", -1, "revolutions"},
    {"响应时间", 1, "response_1"},
    {"响应时间", 2, "response_2"},
    {"零点", -1, "zero_point"},
    {"通道1", -1, "channel_1"},
    {"通道2", -1, "channel_2"},
    {"通道3", -1, "channel_3"},
    {"通道4", -1, "channel_4"},
    {"湿度", -1, "humidity"},
    {"温度", -1, "temperature"},
    {"大气压力", -1, "pressure"},
    {"IO", -1, "io"},
    {"??", -1, "unnamed"},
};

constexpr std::size_t kQuantityCount = std::size(kQuantities);
constexpr std::size_t kDistanceChoices = std::size(kDistanceUnits);

constexpr int IndexOf(std::string_view column) {
  for (std::size_t i = 0; i < kQuantityCount; ++i) {
    if (kQuantities[i].column == column) return static_cast<int>(i);
  }
  return -1;
}

constexpr bool EveryCaptionNamesAColumn() {
  for (const CaptionQuantity& entry : kCaptionQuantities) {
    if (IndexOf(entry.column) < 0) return false;
  }
  return true;
}
static_assert(EveryCaptionNamesAColumn());

// The captions without repeats, in table order.
constexpr auto kCaptions = [] {
  std::array<std::string_view, std::size(kCaptionQuantities)> captions{};
  std::size_t count = 0;
  for (const CaptionQuantity& entry : kCaptionQuantities) {
    bool seen = false;
    for (std::size_t i = 0; i < count; ++i) seen = seen || captions[i] == entry.caption;
    if (!seen) captions[count++] = entry.caption;
  }
  return std::pair{captions, count};
}();

std::atomic<std::uint8_t> currentDistance{0};

}  // namespace

std::span<const std::string_view> DistanceUnitChoices() { return kDistanceUnits; }

int DistanceUnitIndex(std::string_view unit) {
  for (std::size_t i = 0; i < kDistanceChoices; ++i) {
    if (kDistanceUnits[i] == unit) return static_cast<int>(i);
  }
  return -1;
}

BenchUnits CurrentBenchUnits() { return BenchUnits{currentDistance.load(std::memory_order_relaxed)}; }

void UseBenchUnits(BenchUnits units) {
  currentDistance.store(units.distance < kDistanceChoices ? units.distance : 0, std::memory_order_relaxed);
}

std::span<const Quantity> Quantities() { return kQuantities; }

int QuantityIndex(std::string_view column) { return IndexOf(column); }

const std::string& UnitOf(std::size_t quantity, BenchUnits units) {
  // One string per quantity and distance choice, made once.
  static const auto kTexts = [] {
    std::array<std::array<std::string, kDistanceChoices>, kQuantityCount> texts;
    for (std::size_t q = 0; q < kQuantityCount; ++q) {
      for (std::size_t d = 0; d < kDistanceChoices; ++d) {
        texts[q][d] = kQuantities[q].bench == Distance ? kDistanceUnits[d] : kQuantities[q].unit;
      }
    }
    return texts;
  }();
  static const std::string kNone;
  if (quantity >= kQuantityCount) return kNone;
  return kTexts[quantity][units.distance < kDistanceChoices ? units.distance : 0];
}

int QuantityOfCaption(std::string_view caption, std::size_t readout) {
  for (const CaptionQuantity& entry : kCaptionQuantities) {
    if (entry.caption == caption && (entry.readout < 0 || static_cast<std::size_t>(entry.readout) == readout)) {
      return IndexOf(entry.column);
    }
  }
  return -1;
}

std::span<const std::string_view> QuantityCaptions() {
  return std::span<const std::string_view>(kCaptions.first.data(), kCaptions.second);
}

std::string NameWithUnit(std::string_view name, std::string_view unit) {
  std::string text(name);
  if (!unit.empty()) {
    text += " [";
    text += unit;
    text += ']';
  }
  return text;
}

}  // namespace rolta
