// What the four live readouts show for each status frame: per frame type a
// caption and a display text for each readout, or "leave it as it is". The
// texts are computed here; the window only applies them.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "env/text_lookup.h"
#include "link/status_frames.h"

namespace rolta {

// Left to right across the console window.
enum ReadoutIndex : std::size_t {
  kReadoutSpeed = 0,
  kReadoutTorque = 1,
  kReadoutVoltage = 2,
  kReadoutDistance = 3,
};
inline constexpr std::size_t kReadoutCount = 4;

// One readout's change: an empty optional leaves that caption or text as it was.
struct ReadoutChange {
  std::optional<std::string> caption;
  std::optional<std::string> text;
  bool operator==(const ReadoutChange&) const = default;
};
using ReadoutUpdate = std::array<ReadoutChange, kReadoutCount>;

// Captions ("速度", "力矩", "电压", "里程", translated) and "0" on every display,
// as the console starts.
ReadoutUpdate InitialReadouts(const TextLookup& lookup);

// The captions and texts a status frame of this type sets; all empty for a
// type without a row (the version answer 4, the block acknowledgement 126, ...).
ReadoutUpdate PresentLiveFrame(const ControllerStatus& status, const TextLookup& lookup);
// The same into an update the caller keeps from frame to frame, so the
// strings it already holds are reused instead of built anew at every frame.
void PresentLiveFrame(const ControllerStatus& status, const TextLookup& lookup, ReadoutUpdate& update);

// The numbers behind the readouts, for whoever keeps or plots them instead of
// showing texts. Per readout of the frame's row: the untranslated caption it
// stands under (the readout's start caption where the row keeps the caption)
// and the value its text is made from. An empty caption: the row shows no
// value in that readout. Type 35's frequency caption is "频率" with V1 in Hz,
// its speed-per-fuel caption "转速/油耗".
struct ReadoutValue {
  std::string_view caption;
  double value = 0;
};
using ReadoutValues = std::array<ReadoutValue, kReadoutCount>;
ReadoutValues LiveFrameValues(const ControllerStatus& status);

// The frequency of type 35 scaled for display: prefix "M", "K" or " " and the
// number text.
struct ScaledFrequency {
  std::string prefix;
  std::string text;
  bool operator==(const ScaledFrequency&) const = default;
};
ScaledFrequency ScaleKiloMega(float x);

// The units beside the readouts' captions, by the caption as the window shows
// it (translated), for one lookup: the window only sees the shown caption.
// The units come from the quantity table (console/quantities.h) with the
// bench units in use when asked; captions without a unit ("参数", "通道1",
// "--", the frequency caption that carries its own) have none.
class ReadoutUnits {
 public:
  explicit ReadoutUnits(const TextLookup& lookup);
  // The unit beside a shown caption; empty when it has none.
  const std::string& UnitOf(std::string_view shownCaption) const;

 private:
  std::vector<std::pair<std::string, int>> captions_;  // shown caption, quantity
  std::string none_;
};

// printf "%.<precision>f" without the C locale's decimal separator.
std::string FormatFixed(double value, int precision);

}  // namespace rolta
