// The parameter record as the read-only text listing of "硬件信息": the
// lines in order, each with the condition under which it is listed.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/controller_params.h"
#include "env/text_lookup.h"

namespace rolta {

inline constexpr std::string_view kSummaryTitle = "硬件信息";

struct SummaryRow {
  std::string_view number;  // the row's place in the listing ("15'" replaces 15 and 16)
  bool (*listed)(const ControllerParams&);
  std::string (*line)(const ControllerParams&, const TextLookup&);
};
std::span<const SummaryRow> SummaryRows();

// Every listed line in order.
std::vector<std::string> BuildSummary(const ControllerParams& values, const TextLookup& lookup);

}  // namespace rolta
