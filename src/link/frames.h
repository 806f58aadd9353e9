// Frame layout shared by both directions of the controller link, the checksum,
// the ready-made command buffers the console rewrites in place, and the
// tables of frame lengths by command byte and by reply type.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace rolta {

inline constexpr std::uint8_t kSync1 = 0x55;
inline constexpr std::uint8_t kSync2 = 0xAA;

// Offsets of a CommandFrame / ControllerFrame header.
inline constexpr std::size_t kCommandCodeOffset = 2;
inline constexpr std::size_t kPayloadLengthOffset = 3;
inline constexpr std::size_t kChecksumOffset = 4;
inline constexpr std::size_t kPayloadOffset = 6;
inline constexpr std::size_t kHeaderLength = 6;

// Sum of every byte except offsets 4-5, two's complement, 16-bit wrap-around.
std::uint16_t ComputeChecksum(const std::uint8_t* frame, std::size_t length);
// The 16-bit sum of every byte except 4-5 plus the stored checksum: 0 when good.
// A frame shorter than the 6-byte header never verifies.
std::uint16_t VerifyChecksum(const std::uint8_t* frame, std::size_t length);
// Computes the checksum and stores it little-endian at offsets 4-5.
void StoreChecksum(std::uint8_t* frame, std::size_t length);

// Little-endian field access used by every payload codec.
void PutFloat32LE(std::uint8_t* at, float value);
float GetFloat32LE(const std::uint8_t* at);
void PutUInt16LE(std::uint8_t* at, std::uint16_t value);
std::uint16_t GetUInt16LE(const std::uint8_t* at);
std::int16_t GetInt16LE(const std::uint8_t* at);
void PutUInt32LE(std::uint8_t* at, std::uint32_t value);
std::uint32_t GetUInt32LE(const std::uint8_t* at);

// A frame buffer of fixed length: starts as 55 AA, payload length in byte 3,
// every other byte zero. Commands rewrite only the fields they own; the rest
// keeps what the previous command through the same buffer left there.
template <std::size_t Length>
class FrameBuffer {
 public:
  static constexpr std::size_t kLength = Length;
  static_assert(Length >= kHeaderLength && Length - kHeaderLength <= 0xFF);

  FrameBuffer() {
    bytes_[0] = kSync1;
    bytes_[1] = kSync2;
    bytes_[kPayloadLengthOffset] = static_cast<std::uint8_t>(Length - kHeaderLength);
  }

  // Bytes 2-3 as one little-endian word: low byte command, high byte payload length.
  void SetCommandWord(std::uint16_t word) { PutUInt16LE(&bytes_[kCommandCodeOffset], word); }
  void SetCommand(std::uint8_t code) {
    SetCommandWord(static_cast<std::uint16_t>(code | ((Length - kHeaderLength) << 8)));
  }
  std::uint8_t Command() const { return bytes_[kCommandCodeOffset]; }

  // Seals the frame: checksum over the whole frame into bytes 4-5.
  std::span<const std::uint8_t> Seal() {
    StoreChecksum(bytes_.data(), Length);
    return bytes_;
  }

  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  static constexpr std::size_t size() { return Length; }
  std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
  std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }

 protected:
  std::array<std::uint8_t, Length> bytes_{};
};

// 6 bytes, no payload. One per owning window.
class ShortFrame : public FrameBuffer<6> {};

// 10 bytes: a 32-bit word at bytes 6-9 (parameter record request).
class ParamRequestFrame : public FrameBuffer<10> {
 public:
  void SetWord(std::uint32_t word) { PutUInt32LE(&bytes_[6], word); }
  std::uint32_t Word() const { return GetUInt32LE(&bytes_[6]); }
};

// 11 bytes: flywheel mask at byte 6, float32 value at bytes 7-10.
class SetpointFrame : public FrameBuffer<11> {
 public:
  void SetFlywheelMask(std::uint8_t mask) { bytes_[6] = mask; }
  void SetValue(float value) { PutFloat32LE(&bytes_[7], value); }
};

// 22 bytes: four float32 values at bytes 6, 10, 14 and 18.
class ProfileFrame : public FrameBuffer<22> {
 public:
  static constexpr int kValueCount = 4;
  // index 0..3: the first to fourth value.
  void SetValue(int index, float value) {
    assert(index >= 0 && index < kValueCount);
    PutFloat32LE(&bytes_[6 + 4 * index], value);
  }
  float Value(int index) const {
    assert(index >= 0 && index < kValueCount);
    return GetFloat32LE(&bytes_[6 + 4 * index]);
  }
};

// The buffers one link's commands are built in, shared by the command
// catalogue and the calibration block read: a command rewrites only its own
// fields and the rest keeps what the one before left. Never cleared.
struct SharedCommandFrames {
  ParamRequestFrame paramRequest;
  SetpointFrame setpoint;
  ProfileFrame profile;
};

// Which command bytes the console sends with which frame length.
struct CommandLengthClass {
  std::size_t frameLength;
  std::span<const std::uint8_t> commandCodes;
  std::string_view description;  // what the frames are, for test messages
};
std::span<const CommandLengthClass> CommandLengthTable();
// Frame length the console sends a command byte with; 0 for a byte it never sends.
std::size_t CommandFrameLength(std::uint8_t commandCode);

// Which receiver a controller reply goes to, by its FrameType.
enum class ControllerFrameKind : std::uint8_t {
  ParamRecord,  // type 1
  CalibTable,   // 5, 60-64, 78, 120-122
  ChannelMap,   // 65
  Status,       // every other type
};

// Frame length of a controller reply by its FrameType (every type has one).
std::size_t ControllerFrameLength(std::uint8_t frameType);
ControllerFrameKind ControllerFrameKindOf(std::uint8_t frameType);
inline constexpr std::size_t kStatusFrameLength = 24;
inline constexpr std::size_t kLongestControllerFrame = 219;

}  // namespace rolta
