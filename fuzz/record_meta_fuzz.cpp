// Reads arbitrary text as a recording's details file (and the remembered
// coast-down settings, the same format), and checks the result: a damaged
// file names a line that exists and gives nothing, a mass is always one the
// console accepts, and what was read, written back as the console writes it,
// reads back to the same mass and the same other keys.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>

#include "recording/record_meta.h"
#include "env/text_lookup.h"
#include "fuzz_support.h"

namespace {

using rolta::fuzz::Check;

rolta::RecordMetaResult Parse(const std::string& text) {
  std::istringstream in(text);
  return rolta::ParseRecordMeta(in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const rolta::RecordMetaResult first = Parse(text);
  const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;

  if (first.state == rolta::RecordMetaState::Damaged) {
    Check(first.line >= 1 && first.line <= lines, "a damaged file names one of its lines");
    Check(!first.meta.massKg && first.meta.others.empty(), "nothing of a damaged file is used");
    Check(!rolta::RecordMetaErrorText(rolta::IdentityLookup(), "r.csv.meta", first).empty(), "a damage has a text");
    return 0;
  }
  Check(first.state == rolta::RecordMetaState::Read, "text is read or damaged, never missing");
  if (first.meta.massKg) {
    Check(rolta::ParseMass(rolta::MassText(*first.meta.massKg)) == first.meta.massKg,
          "a mass read is one the console accepts, and its text reads back to it");
  }
  Check(first.meta.others.size() <= lines, "at most one key per line");
  for (const auto& [key, value] : first.meta.others) {
    Check(!key.empty() && key != rolta::kMassKey && key != "format", "other keys are other keys");
    Check(key.find_first_of("\n=") == std::string::npos && value.find('\n') == std::string::npos,
          "a key is one line without '=', a value one line");
  }

  const std::string once = rolta::RecordMetaText(first.meta);
  const rolta::RecordMetaResult second = Parse(once);
  Check(second.state == rolta::RecordMetaState::Read, "a written details file reads back");
  Check(second.meta.massKg == first.meta.massKg, "the mass comes back exactly");
  Check(second.meta.others == first.meta.others, "every other key comes back in order");
  return 0;
}
