// The console's command list: 91 positions, each a controller command or a
// console action. One table drives both the list the operator sees and what
// "执行" does; the position is what the settings file stores, so rows never
// move.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "config/controller_params.h"
#include "env/ui_services.h"

namespace rolta {

inline constexpr int kCataloguePositions = 91;

// The eight input fields and the four flywheel check boxes of the console.
enum class CommandInput : std::uint8_t {
  ParamA,
  ParamB,
  ParamM,
  ParamC,
  StartSpeed,
  EndSpeed,
  StartLoad,
  EndLoad,
  Flywheel1,
  Flywheel2,
  Flywheel3,
  Flywheel4,
};
inline constexpr int kCommandInputCount = 12;

// A set of CommandInputs (which ones a position enables).
class InputSet {
 public:
  constexpr InputSet() = default;
  constexpr InputSet(std::initializer_list<CommandInput> inputs) {
    for (CommandInput input : inputs) bits_ |= Bit(input);
  }
  constexpr bool Has(CommandInput input) const { return (bits_ & Bit(input)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint16_t Bits() const { return bits_; }
  constexpr bool operator==(const InputSet&) const = default;

 private:
  static constexpr std::uint16_t Bit(CommandInput input) {
    return static_cast<std::uint16_t>(1u << static_cast<unsigned>(input));
  }
  std::uint16_t bits_ = 0;
};

enum class CatalogueAction : std::uint8_t {
  None,                // positions 40 and 50
  Send,                // one or more frames, fields as the row names them
  ExternalProgram,     // confirm, close the channel, start `program`
  Message,             // information box with `text`
  ParamRecordSummary,  // parameter record for the summary listing
  ParamRecordForm,     // hint box (`text`), then the record for the settings form
  RepeatLoop,          // repeat the last short command until stopped
  StopRepeatLoop,
  ShowChannelMap,
};

enum class FrameKind : std::uint8_t { None, Short, ParamRequest, Setpoint, Profile };

// What a command writes into one field of its frame.
enum class FieldSource : std::uint8_t {
  Keep,  // the buffer's previous content goes out again
  Zero,  // 0.0
  ParamA,
  ParamB,
  ParamM,
  ParamC,
  StartSpeed,
  EndSpeed,
  StartLoad,
  EndLoad,
  FlywheelMask,  // the four check boxes as bits 0-3
  AllBitsSet,    // 32-bit word 0xFFFFFFFF
};

struct CatalogueRow {
  std::string_view caption;  // shown in the list (translated by the window)
  CatalogueAction action = CatalogueAction::None;
  FrameKind frame = FrameKind::None;
  // Bytes 2-3 as one little-endian word (command, payload length).
  std::uint16_t commandWord = 0;
  // Short commands sent back to back by one position (60, 61); the first is
  // the low byte of commandWord.
  std::array<std::uint8_t, 3> shortSequence{};
  std::uint8_t shortCount = 0;
  // Setpoint: [0] mask byte, [1] value. Profile: the four values.
  // ParamRequest: [0] the 32-bit word.
  std::array<FieldSource, 4> fields{FieldSource::Keep, FieldSource::Keep, FieldSource::Keep, FieldSource::Keep};
  InputSet inputs;
  std::string_view text;     // message / confirmation / hint text
  std::string_view program;  // external program file name

  constexpr std::uint8_t CommandCode() const { return static_cast<std::uint8_t>(commandWord & 0xFF); }
  std::span<const std::uint8_t> ShortCodes() const { return {shortSequence.data(), shortCount}; }
};

std::span<const CatalogueRow> CommandCatalogue();
// The row of a list position; nullptr outside 0..90 (no selection).
const CatalogueRow* CatalogueRowAt(int position);

// Inputs enabled for a position (none outside 0..90).
InputSet InputsEnabledFor(int position);

}  // namespace rolta
