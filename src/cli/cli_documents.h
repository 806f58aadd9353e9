// The files of rolta-cli: the parameter record and the channel map as JSON
// with named fields, a calibration table as CSV, and the manifest of a backup
// folder. Reading a file checks all of it and names the first field or line
// that is wrong; nothing is sent before a file was read whole.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "calib/calib_table.h"
#include "config/channel_map.h"
#include "config/controller_params.h"

namespace rolta::cli {

// A file that could not be taken, and why (names the field or line).
struct DocumentError {
  std::string message;
};

// One field of the parameter record as the JSON document names it.
struct ParamField {
  std::string_view name;  // the record's field name
  std::variant<std::uint8_t ControllerParams::*, std::int8_t ControllerParams::*,
               std::uint16_t ControllerParams::*, std::int16_t ControllerParams::*,
               float ControllerParams::*>
      member;
  std::string_view unit;  // empty for codes and counts without a unit
  // Values the console can send: min..max, or one of `choices` when given,
  // plus `also` (an off value outside the range) when it is not kNoAlso.
  double min;
  double max;
  std::span<const int> choices;
  int also;
};
inline constexpr int kNoAlso = -100000;

// The fields the document carries and `params set` writes (the controller's
// own fields, the clock and the reserved byte are not among them).
std::span<const ParamField> ParamFields();
// The controller's own fields, shown but never written.
std::span<const ParamField> ControllerInfoFields();

// {"controller": {...}, "settings": {...}, "units": {...}}, two-space indent.
std::string ParamsToJson(const ControllerParams& values);
// The "settings" of a document over `base`: every named field must be known,
// a number of the right kind and in its range. Fields not named keep base's value.
std::variant<ControllerParams, DocumentError> ParamsFromJson(std::string_view text,
                                                             const ControllerParams& base);
// Names of the fields whose value differs between what was sent and what came back.
std::vector<std::string> ParamsDifferences(const ControllerParams& sent, const ControllerParams& back);

// The fields a channel-map reply shows, by their dialog labels.
// {"channels": {"涡流机": 15, ...}}, in the dialog's order.
std::string ChannelMapToJson(const ChannelMapEditor& editor);
// Label -> value of every field the document names (0..255); unknown labels,
// fields no frame carries and values out of range are refused.
std::variant<std::map<std::size_t, std::uint8_t>, DocumentError> ChannelMapFromJson(std::string_view text);
// Group, label and value a line, for reading.
std::string ChannelMapText(const ChannelMapEditor& editor);

// The command-line names of the tables ("speed", "var", ...).
struct CalibName {
  CalibChannel channel;
  std::string_view name;
};
std::span<const CalibName> CalibNames();
std::string_view CalibNameOf(CalibChannel channel);
// By name or by the workbench's fetch or store caption.
std::optional<CalibChannel> CalibChannelByName(std::string_view name);

// "first,second" then one line a point, values in their shortest exact form.
std::string CalibToCsv(const CalibTable& table, std::size_t points);
// The workbench grid's rounding, for reading: "#  first  second".
std::string CalibToText(const CalibTable& table, std::size_t points);
// Points as the grid rows the store builds the table from. Refuses a line that
// is not two finite numbers, and more points than the table holds.
std::variant<std::vector<CalibGridRow>, DocumentError> CalibFromCsv(std::string_view text,
                                                                    std::size_t capacity);

// The backup folder's files.
inline constexpr std::string_view kManifestFile = "manifest.json";
inline constexpr std::string_view kParamsFile = "params.json";
inline constexpr std::string_view kChannelsFile = "channels.json";
std::string CalibFileName(CalibChannel channel);
// Lists the files of a backup; no time or port, so equal settings give an equal folder.
std::string BackupManifest();
// Checks a manifest names exactly the files of this program's backups.
std::optional<DocumentError> CheckManifest(std::string_view text);

// The shortest text that reads back as the same float.
std::string ShortestFloatText(float value);

}  // namespace rolta::cli
