// Narrowing of the command list by a typed text. The list keeps its 91
// positions; the filter only says which of them are shown, so the selected
// position, the settings file, the enabled inputs and execution stay keyed on
// the real position.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "env/text_lookup.h"

namespace rolta {

class CommandFilter {
 public:
  // The captions as the list shows them: as written in Chinese, translated in
  // any other language.
  explicit CommandFilter(const TextLookup& lookup);

  const std::string& ShownCaption(int position) const;

  // Every position for a text of white space only. Otherwise the positions
  // whose caption, as written or as shown, contains the text: letters without
  // regard to case, full-width forms ("－", "（") as their ASCII twins, white
  // space around the text ignored. Blank positions (40, 50) never match.
  bool Matches(int position, std::string_view typed) const;
  std::vector<int> VisiblePositions(std::string_view typed) const;

 private:
  bool MatchesKey(std::size_t at, std::string_view key) const;

  std::vector<std::string> shown_;
  // Both captions of each position in the form the comparison uses.
  std::vector<std::string> written_key_;
  std::vector<std::string> shown_key_;
};

// The form in which texts are compared: ASCII letters in lower case,
// full-width ASCII forms (U+FF01..U+FF5E) and the ideographic space as ASCII.
std::string FilterKey(std::string_view text);

}  // namespace rolta
