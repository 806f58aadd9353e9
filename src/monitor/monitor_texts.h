// What the line monitor shows and saves: the cells of a row (the decoded
// summary with the decoders the console itself uses), the counters, the rows
// as text or CSV, and finding a row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/line_monitor.h"
#include "env/text_lookup.h"

namespace rolta {

enum class MonitorColumn : std::uint8_t { Time, Direction, Code, Length, Checksum, Bytes, Summary };
inline constexpr std::size_t kMonitorColumnCount = 7;

// The untranslated title of a column.
std::string_view MonitorColumnTitle(MonitorColumn column);
std::string MonitorCell(const MonitorRow& row, MonitorColumn column, const TextLookup& lookup);

// Milliseconds since the line was opened, three decimals ("1234.567").
std::string MonitorTimeText(std::int64_t timeUs);
// "55 AA 10 ...", with " …" after a run that was cut.
std::string MonitorHexText(const MonitorRow& row);
// What a row means: the catalogue caption and values of a command sent, the
// status line text and readout fields of a reply, the count of skipped bytes.
std::string MonitorSummary(const MonitorRow& row, const TextLookup& lookup);

// The counters above the list, each a caption (translated) and a value.
struct MonitorCounterText {
  std::string caption;
  std::string value;
  bool operator==(const MonitorCounterText&) const = default;
};
inline constexpr std::size_t kMonitorCounterCount = 11;
// The counter of frames refused for an end not confirmed; last, so the
// others keep their places (the window shows it beside the checksum errors).
inline constexpr std::size_t kRefusedFramesCounter = 10;
inline constexpr std::size_t kChecksumErrorsCounter = 4;
// The summary of a refused frame, untranslated.
inline constexpr const char* kRefusedFrameText = "帧尾未被下一帧确认，已拒收";
std::vector<MonitorCounterText> MonitorCounterTexts(const MonitorCounters& counters, const FrameRates& rates,
                                                    std::uint32_t ringHighWater, LineClock::time_point now,
                                                    const TextLookup& lookup);

// The rows given by sequence number (rows no longer kept are left out), a
// header line first. Text: tab-separated lines; CSV: RFC 4180 with a UTF-8
// byte-order mark so spreadsheet programs read the Chinese texts.
std::string MonitorRowsAsText(const LineMonitor& monitor, std::span<const std::uint64_t> sequences,
                              const TextLookup& lookup);
std::string MonitorRowsAsCsv(const LineMonitor& monitor, std::span<const std::uint64_t> sequences,
                             const TextLookup& lookup);
// Reads CSV as written above (quoted fields, doubled quotes, line breaks inside
// quotes, an optional byte-order mark) into records of fields.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text);

// The type filter as typed: empty (or blank) for every type, else a decimal
// or 0x number 0..255 ("16", "0x10"). Anything else is refused with its
// message (translated) and must leave the filter as it was.
struct MonitorTypeFilter {
  std::optional<std::uint8_t> code;
  std::string problem;  // empty when the text is usable
};
MonitorTypeFilter ReadMonitorTypeFilter(std::string_view typed, const TextLookup& lookup);

// The first of sequences[from], sequences[from + 1], ... (wrapping around to
// the start) one of whose cells contains `needle`, ASCII letters compared
// without case; nullopt when none does or the needle is empty.
std::optional<std::size_t> FindMonitorRow(const LineMonitor& monitor, std::span<const std::uint64_t> sequences,
                                          std::size_t from, std::string_view needle, const TextLookup& lookup);

}  // namespace rolta
