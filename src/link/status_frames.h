// Decoding of the controller's 24-byte status frames, and which of them are
// answers that an exchange waits for.
#pragma once

#include <array>
#include <cstdint>

namespace rolta {

// The decoded form of the latest status frame.
struct ControllerStatus {
  std::uint8_t FrameType = 0;
  float Value1 = 0, Value2 = 0, Value3 = 0, Value4 = 0;
  std::int16_t Numth = 0;
  std::array<std::uint8_t, 5> IoDigits{};  // bytes 17-21, type 42 only
  std::int16_t AccelMilli = 0;             // bytes 18-19, types 75, 76, 98, 123
  std::int16_t Revolutions = 0;            // bytes 20-21, types 75 and 98

  // b17*10000 + b18*1000 + b19*100 + b20*10 + b21.
  int IoNumber() const;
};

// Receivers of what a status frame means.
class StatusFrameSinks {
 public:
  virtual ~StatusFrameSinks() = default;
  // Type 4: fromUpgradeProgram when Value1 is exactly 100.0; version = Value2 / 100.
  virtual void ShowControllerVersion(bool fromUpgradeProgram, double version) = 0;
  // The live types: the readouts.
  virtual void ShowLiveFrame(const ControllerStatus& status) = 0;
  // Types 27, 28 and 126: answers an exchange waits for, handed on before
  // the readouts see the frame. Nobody waits for them by default.
  virtual void OnCommandAnswer(const ControllerStatus&) {}
};

// What a status frame of a given type does after it was decoded.
enum class StatusAction : std::uint8_t {
  Nothing,        // the status line already said all there is
  ShowLive,       // the readouts
  ShowVersion,    // type 4
  AnswerAndLive,  // types 27, 28: the answer, then the readouts
  Answer,         // type 126: the answer only, no readout changes
};
StatusAction StatusActionOf(std::uint8_t frameType);

// Truncation toward zero that saturates instead of overflowing: NaN gives 0,
// values beyond the int32 range give its nearest end.
std::int32_t TruncateToInt32(float value);

// Fills `status` from a 24-byte frame (checksum already verified) and acts by type:
// version display, command answers, readouts, or nothing.
// The receive path calls this for every 24-byte frame with a good checksum,
// after it set the status line.
void DecodeStatusFrame(const std::uint8_t* frame, ControllerStatus& status, StatusFrameSinks& sinks);

}  // namespace rolta
