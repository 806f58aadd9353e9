#include "env/shown_text.h"

namespace rolta {

std::string ShownText(const TextLookup& lookup, std::string_view text) {
  return lookup.IsDefaultLanguage() ? std::string(text) : lookup.Lookup(text);
}

}  // namespace rolta
