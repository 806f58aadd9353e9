#include "commands/command_filter.h"

#include "commands/catalogue.h"
#include "env/shown_text.h"

namespace rolta {
namespace {

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

}  // namespace

std::string FilterKey(std::string_view text) {
  std::string key;
  key.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    // Three-byte UTF-8 forms EF BC 81..EF BD 9E are U+FF01..U+FF5E, the
    // full-width twins of ASCII 0x21..0x7E; E3 80 80 is the ideographic space.
    if (i + 2 < text.size() && byte == 0xEF) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      const auto third = static_cast<unsigned char>(text[i + 2]);
      const unsigned code = ((byte & 0x0Fu) << 12) | ((second & 0x3Fu) << 6) | (third & 0x3Fu);
      if ((third & 0xC0u) == 0x80u && code >= 0xFF01 && code <= 0xFF5E) {
        const auto ascii = static_cast<char>(code - 0xFEE0);
        key += (ascii >= 'A' && ascii <= 'Z') ? static_cast<char>(ascii - 'A' + 'a') : ascii;
        i += 2;
        continue;
      }
    }
    if (i + 2 < text.size() && byte == 0xE3 && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        static_cast<unsigned char>(text[i + 2]) == 0x80) {
      key += ' ';
      i += 2;
      continue;
    }
    key += (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : text[i];
  }
  return key;
}

CommandFilter::CommandFilter(const TextLookup& lookup) {
  for (const CatalogueRow& row : CommandCatalogue()) {
    shown_.push_back(row.caption.empty() ? std::string() : ShownText(lookup, row.caption));
    written_key_.push_back(FilterKey(row.caption));
    shown_key_.push_back(FilterKey(shown_.back()));
  }
}

const std::string& CommandFilter::ShownCaption(int position) const {
  static const std::string kNone;
  if (position < 0 || static_cast<std::size_t>(position) >= shown_.size()) return kNone;
  return shown_[static_cast<std::size_t>(position)];
}

bool CommandFilter::MatchesKey(std::size_t at, std::string_view key) const {
  if (key.empty()) return true;
  if (written_key_[at].empty()) return false;
  return written_key_[at].find(key) != std::string::npos || shown_key_[at].find(key) != std::string::npos;
}

bool CommandFilter::Matches(int position, std::string_view typed) const {
  if (position < 0 || static_cast<std::size_t>(position) >= shown_.size()) return false;
  const std::string key = FilterKey(typed);
  return MatchesKey(static_cast<std::size_t>(position), Trimmed(key));
}

std::vector<int> CommandFilter::VisiblePositions(std::string_view typed) const {
  const std::string key = FilterKey(typed);
  std::vector<int> positions;
  for (std::size_t at = 0; at < shown_.size(); ++at) {
    if (MatchesKey(at, Trimmed(key))) positions.push_back(static_cast<int>(at));
  }
  return positions;
}

}  // namespace rolta
