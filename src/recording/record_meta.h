// What the operator entered for a recording and the CSV cannot carry without
// breaking spreadsheets and older readers: kept beside it in
// "<name>.csv.meta", a text file of key=value lines ("#" starts a comment).
// The effective mass of a coast-down (rollers' inertia plus vehicle) is the
// first such value; keys this console does not know are kept on rewrite.
//
//   # ROLTA recording details
//   format=1
//   effective_mass_kg=1450.5
//
// The operator's latest mass is remembered in the same form in
// ~/.config/rolta/coast.conf.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "env/text_lookup.h"

namespace rolta {

inline constexpr std::string_view kMassKey = "effective_mass_kg";
// Above this a typed or stored mass is a typing error, not a bench.
inline constexpr double kMaxMassKg = 1'000'000.0;

struct RecordMeta {
  std::optional<double> massKg;
  // Other keys, in file order, written back as read.
  std::vector<std::pair<std::string, std::string>> others;
};

enum class RecordMetaState {
  Read,     // read whole
  Missing,  // no such file: nothing was entered (or an older recording)
  Damaged,  // there, but not read; nothing from it is used
};

struct RecordMetaResult {
  RecordMeta meta;
  RecordMetaState state = RecordMetaState::Missing;
  std::size_t line = 0;  // Damaged: the 1-based line, 0 for the whole file
  std::string reason;    // Damaged: untranslated key
};

// "<recording>.meta", beside the recording.
std::filesystem::path RecordMetaPath(const std::filesystem::path& recording);
// $XDG_CONFIG_HOME/rolta/coast.conf, or ~/.config/rolta/coast.conf.
std::filesystem::path CoastSettingsPath();

RecordMetaResult ParseRecordMeta(std::istream& in);
RecordMetaResult ReadRecordMeta(const std::filesystem::path& file);
// The text WriteRecordMeta puts in the file.
std::string RecordMetaText(const RecordMeta& meta);
// Replaces the file whole (a new file renamed over it), so a crash leaves the
// old one or the new one, never half of either.
std::error_code WriteRecordMeta(const std::filesystem::path& file, const RecordMeta& meta);
// Sets (or, with nullopt, removes) the mass and keeps every other key. A
// damaged file is kept as "<file>.damaged" before it is replaced.
std::error_code StoreMass(const std::filesystem::path& file, std::optional<double> massKg);

// A typed or stored mass: a plain decimal number ("." as the point), greater
// than 0 and at most kMaxMassKg; anything else is no mass.
std::optional<double> ParseMass(std::string_view text);
// Shortest text that reads back to the same mass.
std::string MassText(double massKg);

// "<file>: 行 3: <reason>" for a damaged file.
std::string RecordMetaErrorText(const TextLookup& texts, const std::filesystem::path& file,
                                const RecordMetaResult& result);

}  // namespace rolta
