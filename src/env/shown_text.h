// Texts the console shows as they stand in Chinese (input labels, string
// resources, fixed messages, the window title) and translates in any other
// language, so an English console shows no Chinese.
#pragma once

#include <string>
#include <string_view>

#include "env/text_lookup.h"

namespace rolta {

// The text as it stands in the default language, its translation otherwise.
std::string ShownText(const TextLookup& lookup, std::string_view text);

}  // namespace rolta
