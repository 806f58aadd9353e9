#include "link/frames.h"

#include <cstring>

namespace rolta {
namespace {

// Every byte except offsets 4-5, modulo 65536. Summed in 32 bits and wrapped
// once at the end, which gives the same low 16 bits as wrapping at each step.
std::uint16_t SumWithoutChecksum(const std::uint8_t* frame, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += frame[i];
  if (length > kChecksumOffset) sum -= frame[kChecksumOffset];
  if (length > kChecksumOffset + 1) sum -= frame[kChecksumOffset + 1];
  return static_cast<std::uint16_t>(sum);
}

constexpr std::uint8_t kShortCatalogueCodes[] = {
    19, 27, 28, 30, 31,  33,  34,  35,  36,  38,  39,  40,  41,  42,  43,  45,  49,  55,  56,  65,  66, 75,
    93, 94, 95, 96, 100, 101, 102, 103, 104, 105, 106, 107, 108, 110, 111, 112, 113, 114, 115, 116, 125};
constexpr std::uint8_t kShortVersionStopCodes[] = {4, 29};
constexpr std::uint8_t kShortUpgradeCodes[] = {27, 28};
constexpr std::uint8_t kShortToolCodes[] = {30, 31};
constexpr std::uint8_t kShortCalibRequestCodes[] = {60, 61, 62, 63, 64, 78, 120, 121, 122};
constexpr std::uint8_t kParamRequestCodes[] = {1};
constexpr std::uint8_t kSetpointCodes[] = {16, 17, 18, 20, 37, 67, 69, 84, 85, 124};
constexpr std::uint8_t kProfileCatalogueCodes[] = {21, 50, 52, 53, 54, 58, 68, 70, 71, 73, 74, 76,  79,
                                                   80, 81, 82, 83, 86, 87, 88, 89, 90, 91, 92, 123, 127};
constexpr std::uint8_t kCalibBlockReadCodes[] = {5};
constexpr std::uint8_t kChannelMapCodes[] = {7};
constexpr std::uint8_t kCalibStoreCodes[] = {8, 9, 10, 11, 59, 117, 118, 119};
constexpr std::uint8_t kParamRecordCodes[] = {2};
constexpr std::uint8_t kLossTableStoreCodes[] = {77};
constexpr std::uint8_t kCalibBlockStoreCodes[] = {6};
constexpr std::uint8_t kFirmwareBlockCodes[] = {126};

constexpr CommandLengthClass kCommandLengthTable[] = {
    {6, kShortCatalogueCodes, "command catalogue"},
    {6, kShortVersionStopCodes, "version query and emergency stop"},
    {6, kShortUpgradeCodes, "standby and stop test"},
    {6, kShortToolCodes, "lift up and down"},
    {6, kShortCalibRequestCodes, "calibration requests"},
    {10, kParamRequestCodes, "parameter record request"},
    {11, kSetpointCodes, "command catalogue"},
    {22, kProfileCatalogueCodes, "command catalogue"},
    {22, kCalibBlockReadCodes, "calibration block read"},
    {46, kChannelMapCodes, "hardware channel map"},
    {88, kCalibStoreCodes, "calibration table stores"},
    {99, kParamRecordCodes, "controller parameter record"},
    {168, kLossTableStoreCodes, "calibration store"},
    {217, kCalibBlockStoreCodes, "calibration table block store"},
    {232, kFirmwareBlockCodes, "firmware block"},
};

struct ReplyLength {
  std::uint8_t frameType;
  std::size_t length;
  ControllerFrameKind kind;
};
// Reply types that are not 24-byte status frames.
constexpr ControllerFrameKind kParam = ControllerFrameKind::ParamRecord;
constexpr ControllerFrameKind kCalib = ControllerFrameKind::CalibTable;
constexpr ReplyLength kReplyLengths[] = {
    {1, 101, kParam},  {5, 219, kCalib},  {60, 90, kCalib},  {61, 90, kCalib},
    {62, 90, kCalib},  {63, 90, kCalib},  {64, 90, kCalib},  {65, 48, ControllerFrameKind::ChannelMap},
    {78, 170, kCalib}, {120, 90, kCalib}, {121, 90, kCalib}, {122, 90, kCalib},
};

const ReplyLength* FindReply(std::uint8_t frameType) {
  for (const ReplyLength& row : kReplyLengths) {
    if (row.frameType == frameType) return &row;
  }
  return nullptr;
}

}  // namespace

std::uint16_t ComputeChecksum(const std::uint8_t* frame, std::size_t length) {
  return static_cast<std::uint16_t>(0x10000u - SumWithoutChecksum(frame, length));
}

std::uint16_t VerifyChecksum(const std::uint8_t* frame, std::size_t length) {
  if (length < kHeaderLength) return 0xFFFF;
  return static_cast<std::uint16_t>(SumWithoutChecksum(frame, length) + GetUInt16LE(frame + kChecksumOffset));
}

void StoreChecksum(std::uint8_t* frame, std::size_t length) {
  PutUInt16LE(frame + kChecksumOffset, ComputeChecksum(frame, length));
}

void PutFloat32LE(std::uint8_t* at, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutUInt32LE(at, bits);
}

float GetFloat32LE(const std::uint8_t* at) {
  const std::uint32_t bits = GetUInt32LE(at);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void PutUInt16LE(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t GetUInt16LE(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }

std::int16_t GetInt16LE(const std::uint8_t* at) { return static_cast<std::int16_t>(GetUInt16LE(at)); }

void PutUInt32LE(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetUInt32LE(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::span<const CommandLengthClass> CommandLengthTable() { return kCommandLengthTable; }

std::size_t CommandFrameLength(std::uint8_t commandCode) {
  for (const CommandLengthClass& row : kCommandLengthTable) {
    for (std::uint8_t code : row.commandCodes) {
      if (code == commandCode) return row.frameLength;
    }
  }
  return 0;
}

std::size_t ControllerFrameLength(std::uint8_t frameType) {
  const ReplyLength* row = FindReply(frameType);
  return row ? row->length : kStatusFrameLength;
}

ControllerFrameKind ControllerFrameKindOf(std::uint8_t frameType) {
  const ReplyLength* row = FindReply(frameType);
  return row ? row->kind : ControllerFrameKind::Status;
}

}  // namespace rolta
