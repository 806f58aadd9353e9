#include "link/status_frames.h"

#include <array>
#include <cmath>
#include <limits>

#include "link/frames.h"

namespace rolta {
namespace {

// Value1 of a version answer that comes from the controller's upgrade program.
constexpr float kUpgradeProgramMark = 100.0f;

struct TypeRange {
  std::uint8_t first;
  std::uint8_t last;
  StatusAction action;
};

// The action of every status frame type. Types listed here appear once; every
// other 24-byte type (42, 75, 76, 98, 123 and the readout types) shows the
// live values. Types that are not 24-byte frames never reach the decoder.
constexpr TypeRange kActionTable[] = {
    {4, 4, StatusAction::ShowVersion}, {27, 28, StatusAction::AnswerAndLive}, {126, 126, StatusAction::Answer},
    {0, 0, StatusAction::Nothing},     {2, 3, StatusAction::Nothing},         {6, 15, StatusAction::Nothing},
    {18, 20, StatusAction::Nothing},   {22, 26, StatusAction::Nothing},       {32, 32, StatusAction::Nothing},
    {44, 44, StatusAction::Nothing},   {46, 49, StatusAction::Nothing},       {57, 57, StatusAction::Nothing},
    {59, 59, StatusAction::Nothing},   {72, 72, StatusAction::Nothing},       {77, 77, StatusAction::Nothing},
    {97, 97, StatusAction::Nothing},   {99, 99, StatusAction::Nothing},       {109, 109, StatusAction::Nothing},
    {117, 119, StatusAction::Nothing}, {128, 255, StatusAction::Nothing},
};

constexpr bool TableListsEachTypeOnce() {
  std::array<int, 256> seen{};
  for (const TypeRange& row : kActionTable) {
    if (row.first > row.last) return false;
    for (int type = row.first; type <= row.last; ++type) {
      if (++seen[type] > 1) return false;
    }
  }
  return true;
}
static_assert(TableListsEachTypeOnce(), "a status frame type is listed twice");

std::array<StatusAction, 256> BuildActions() {
  std::array<StatusAction, 256> actions{};
  for (int type = 0; type < 256; ++type) {
    const auto t = static_cast<std::uint8_t>(type);
    actions[type] = ControllerFrameLength(t) == kStatusFrameLength ? StatusAction::ShowLive : StatusAction::Nothing;
  }
  for (const TypeRange& row : kActionTable) {
    for (int type = row.first; type <= row.last; ++type) actions[type] = row.action;
  }
  return actions;
}

}  // namespace

StatusAction StatusActionOf(std::uint8_t frameType) {
  static const std::array<StatusAction, 256> actions = BuildActions();
  return actions[frameType];
}

std::int32_t TruncateToInt32(float value) {
  if (std::isnan(value)) return 0;
  // 2^31 is exact in float; anything at or above it does not fit.
  if (value >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (value < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

int ControllerStatus::IoNumber() const {
  return IoDigits[0] * 10000 + IoDigits[1] * 1000 + IoDigits[2] * 100 + IoDigits[3] * 10 + IoDigits[4];
}

void DecodeStatusFrame(const std::uint8_t* frame, ControllerStatus& status, StatusFrameSinks& sinks) {
  status.FrameType = frame[kCommandCodeOffset];
  status.Value1 = GetFloat32LE(frame + 6);
  status.Value2 = GetFloat32LE(frame + 10);
  status.Value3 = GetFloat32LE(frame + 14);
  status.Value4 = GetFloat32LE(frame + 18);
  status.Numth = GetInt16LE(frame + 22);
  for (std::size_t i = 0; i < status.IoDigits.size(); ++i) status.IoDigits[i] = frame[17 + i];
  status.AccelMilli = GetInt16LE(frame + 18);
  status.Revolutions = GetInt16LE(frame + 20);

  switch (StatusActionOf(status.FrameType)) {
    case StatusAction::Nothing: return;
    case StatusAction::ShowLive: sinks.ShowLiveFrame(status); return;
    case StatusAction::ShowVersion:
      sinks.ShowControllerVersion(status.Value1 == kUpgradeProgramMark, static_cast<double>(status.Value2) / 100.0);
      return;
    case StatusAction::AnswerAndLive:
      sinks.OnCommandAnswer(status);
      sinks.ShowLiveFrame(status);
      return;
    case StatusAction::Answer: sinks.OnCommandAnswer(status); return;
  }
}

}  // namespace rolta
