// The quantities the console shows, records and plots, in one table: per
// quantity the column it has in a recording, the caption of its trend lane,
// the readout captions that show it, and its unit. The readouts, the
// recording's header, the trend window, the exports and the line monitor all
// take their units from here, so no two of them can name different units
// for one quantity.
//
// Units follow what the controller sends: the load P = V2 × V1 / 360 is in
// kW with the speed in km/h only when the force V1 is in daN. The unit of
// the distance is not fixed by the controller's frames and depends on the
// bench: it is a bench setting (BenchUnits), metres unless set otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace rolta {

// A unit that is a property of the bench, with the texts it may take; the
// first is the default, which the simulator follows too.
enum class BenchQuantity : std::uint8_t { None, Distance };

struct BenchUnits {
  std::uint8_t distance = 0;  // index into DistanceUnitChoices()
  bool operator==(const BenchUnits&) const = default;
};
std::span<const std::string_view> DistanceUnitChoices();
// The index of a unit text among the choices; -1 when it is not one.
int DistanceUnitIndex(std::string_view unit);

// The bench units this console runs with (the bench settings as loaded at
// start); readable from any thread.
BenchUnits CurrentBenchUnits();
void UseBenchUnits(BenchUnits units);

struct Quantity {
  std::string_view column;   // the recording column's name, ASCII
  std::string_view caption;  // untranslated caption of its trend lane
  std::string_view unit;     // empty: no unit (a count, a raw value) or a bench unit
  BenchQuantity bench = BenchQuantity::None;
  // Units an older recording's header may give instead (same meaning).
  std::string_view formerUnit = {};
};

// Every quantity, in the recording's column order after time, t_ms and type.
std::span<const Quantity> Quantities();
// Index of the quantity with this column name, or -1.
int QuantityIndex(std::string_view column);
// The unit of a quantity with these bench units; empty when it has none.
// The reference stays valid for the program's life.
const std::string& UnitOf(std::size_t quantity, BenchUnits units);
inline const std::string& UnitOf(std::size_t quantity) { return UnitOf(quantity, CurrentBenchUnits()); }

// The quantity a readout shows under this untranslated caption at this
// readout position (0..3); -1 for captions that name no value ("--").
// "响应时间" names two different values of one frame type.
int QuantityOfCaption(std::string_view caption, std::size_t readout);
// Every readout caption that names a quantity, each once.
std::span<const std::string_view> QuantityCaptions();

// Quantities of the coast-down analysis, which it computes rather than
// reads from a frame: the road-load force it fits is in newtons, whatever
// the unit of the force the controller measures.
inline constexpr std::string_view kRoadLoadColumn = "resistance";
inline constexpr std::string_view kRoadLoadUnit = "N";

// "name [unit]", or the name alone without a unit.
std::string NameWithUnit(std::string_view name, std::string_view unit);

}  // namespace rolta
