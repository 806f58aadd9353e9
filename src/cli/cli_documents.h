// The files of rolta-cli: the parameter record and the channel map as JSON
// with named fields, a calibration table as CSV, and the manifest of a backup
// folder. Reading a file checks all of it and names the first field or line
// that is wrong; nothing is sent before a file was read whole.
//
// Every reader refuses a text longer than kMaxDocumentBytes, JSON nested
// deeper than kMaxJsonDepth or holding more than kMaxJsonValues values, and
// an object that names one key twice (the last one winning would be a
// silent surprise). A UTF-8 byte-order mark and CRLF line ends are taken.
//
// Float values have one spelling in every file: a finite float is written as
// the shortest decimal text that reads back as the same float (-0 stays -0),
// a non-finite one as "inf", "-inf", "nan" (the quiet NaN 7FC00000) or
// "nan(0xHHHHHHHH)" with the exact bits of any other NaN; in JSON the
// non-finite spellings are strings, finite values numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "calib/calib_table.h"
#include "config/channel_map.h"
#include "config/controller_params.h"

namespace rolta::cli {

// The longest file any reader takes.
inline constexpr std::size_t kMaxDocumentBytes = 4 * 1024 * 1024;
// JSON limits: none of the documents comes near them.
inline constexpr std::size_t kMaxJsonDepth = 64;
inline constexpr std::size_t kMaxJsonValues = 65536;

// A file that could not be taken, and why (names the field or line).
struct DocumentError {
  std::string message;
};

// The one spelling of a float (see above).
std::string FloatText(float value);
// Reads that spelling: a decimal number within float range (FLT_MAX
// included, a leading '+' allowed) or a non-finite spelling, case aside.
// Empty for anything else, a number beyond float range included; a number
// too small for a float reads as a zero of its sign.
std::optional<float> FloatFromText(std::string_view text);
// Equal bit patterns: a NaN equals the same NaN, 0 differs from -0.
bool SameFloatBits(float a, float b);

// One field of the parameter record as the JSON document names it.
struct ParamField {
  std::string_view name;  // the record's field name
  std::variant<std::uint8_t ControllerParams::*, std::int8_t ControllerParams::*, std::uint16_t ControllerParams::*,
               std::int16_t ControllerParams::*, float ControllerParams::*>
      member;
  std::string_view unit;  // empty for codes and counts without a unit
  // Values the console can send: min..max, or one of `choices` when given,
  // plus `also` (an off value outside the range) when it is not kNoAlso.
  // A float field's range is every finite float.
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

// How the values of a parameter file are checked.
enum class ValueCheck {
  Ranges,  // each field's range, as the console's form could send it
  AsRead,  // any value the field's type can hold (an unchanged backup)
};

// {"controller": {...}, "clock": {...}, "settings": {...}, "units": {...}},
// two-space indent. "controller" and "clock" are shown, never written.
// A backup leaves the clock out (`withClock` false): two backups of one
// record are then the same bytes, whatever the time.
std::string ParamsToJson(const ControllerParams& values, bool withClock = true);
// The "settings" of a document over `base`: every named field must be known,
// a number of the right kind and within `check`. Fields not named keep base's
// value; "controller", "clock" and "units" are ignored, and a field of theirs
// inside "settings" is refused as read-only.
std::variant<ControllerParams, DocumentError> ParamsFromJson(std::string_view text, const ControllerParams& base,
                                                             ValueCheck check = ValueCheck::Ranges);
// One line per field whose value differs between what was sent and what came
// back (floats by their bits): "name (sent X, the controller holds Y)".
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

// "first,second" then one line a point (at most the table's capacity),
// values in FloatText's spelling.
std::string CalibToCsv(const CalibTable& table, std::size_t points);
// The workbench grid's rounding, for reading: "#  first  second".
std::string CalibToText(const CalibTable& table, std::size_t points);
// A table of `capacity` points holding the file's points bit for bit, its
// count the number of points. Blank lines and a first line "first,second"
// are skipped; a line that is not two values in FloatText's spelling, and
// more points than the table holds, are refused.
std::variant<CalibTable, DocumentError> CalibFromCsv(std::string_view text, std::size_t capacity);

// The backup folder's files.
inline constexpr std::string_view kManifestFile = "manifest.json";
inline constexpr std::string_view kParamsFile = "params.json";
inline constexpr std::string_view kChannelsFile = "channels.json";
std::string CalibFileName(CalibChannel channel);
// Lists the files of a backup and the digest of each given file (64-bit
// FNV-1a of its bytes, "fnv1a64:" and 16 hex digits); no time or port, so
// equal settings give an equal folder. `files`: name -> content, every file
// of the backup except the manifest.
std::string BackupManifest(const std::vector<std::pair<std::string, std::string>>& files);
// A manifest as read: the digests it records (none in older backups).
struct Manifest {
  std::map<std::string, std::string> digests;  // file name -> "fnv1a64:" + 16 lower-case hex digits
  // True when the manifest records a digest for `file` and `content` has it:
  // the file is as the backup wrote it.
  bool Unchanged(std::string_view file, std::string_view content) const;
};
// Checks a manifest names exactly the files of this program's backups, and
// that its digests (if any) are well-formed and name files of the backup.
std::variant<Manifest, DocumentError> ReadManifest(std::string_view text);

// The shortest text that reads back as the same float (finite values; see
// FloatText for all of them).
std::string ShortestFloatText(float value);

}  // namespace rolta::cli
