// What each change becomes in the service history (kind, summary, fields),
// read back the other way for a calibration run, and the payload spelt out
// for a person: a parameter record as its summary lines, a channel map as
// its labelled fields, a calibration table as its points. Records and tables
// are kept bit for bit as hexadecimal images; numbers as the shortest text
// that reads back as the same value.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/coast_analysis.h"
#include "calib/calib_table.h"
#include "calib/calibration_run.h"
#include "config/channel_map.h"
#include "config/controller_params.h"
#include "env/text_lookup.h"
#include "history/service_history.h"

namespace rolta {

struct HistoryRecord {
  HistoryKind kind = HistoryKind::Connect;
  std::string summary;
  std::vector<HistoryField> fields;
};

std::string HexText(std::span<const std::uint8_t> bytes);
// Nothing for text that is not pairs of hexadecimal digits.
std::optional<std::vector<std::uint8_t>> BytesFromHex(std::string_view text);
// The shortest text that reads back as the same double.
std::string NumberText(double value);

// A table from its image's hexadecimal text; nothing when the text is not
// the image of a table of at most CalibTable::kMaxCapacity points.
std::optional<CalibTable> TableFromHex(std::string_view text);

HistoryRecord ConnectRecord(const TextLookup& texts, std::string_view port, std::string_view controllerVersion);
HistoryRecord ParamsWriteRecord(const TextLookup& texts, const std::optional<ParamsPayload>& before,
                                const ParamsPayload& written);
HistoryRecord ChannelMapRecord(const TextLookup& texts, const std::optional<ChannelMap>& before,
                               const ChannelMap& stored);
HistoryRecord CalibStoreRecord(const TextLookup& texts, CalibChannel channel, const std::optional<CalibTable>& before,
                               const CalibTable& stored);
// Reads the file for its size and SHA-256 (empty when it cannot be read).
HistoryRecord FirmwareUpgradeRecord(const TextLookup& texts, const std::filesystem::path& file, int result);
HistoryRecord CalibrationRunRecord(const TextLookup& texts, const CalibrationRun& run);
HistoryRecord CoastDownRecord(const TextLookup& texts, const CoastAnalysis& analysis, double massKg);

// The run an entry of kind CalibrationRun holds; nothing for another kind or
// a payload that is not a whole run.
std::optional<CalibrationRun> CalibrationRunOf(const HistoryEntry& entry);

// The channel's caption as the workbench shows it ("前左力矩").
std::string_view CalibChannelCaption(CalibChannel channel);

// The entry's fields with records, maps and tables spelt out, in order.
std::vector<HistoryField> ReadableFields(const HistoryEntry& entry);

// One readable field that differs between two entries; a field only one of
// them has is empty on the other side.
struct FieldChange {
  std::string key;
  std::string before;
  std::string after;
};
std::vector<FieldChange> DiffEntries(const HistoryEntry& before, const HistoryEntry& after);

// One line per entry: id, time (UTC), bench, engineer, kind, summary, and
// its fields as key=value lines in one cell. RFC 4180 quoting, UTF-8.
void WriteHistoryCsv(std::ostream& out, std::span<const HistoryEntry> entries);

}  // namespace rolta
