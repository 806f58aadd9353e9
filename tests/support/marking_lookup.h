// A translation lookup for tests: every looked-up text comes back in angle
// brackets, so a test sees which texts went through the lookup.
#pragma once

#include <string>
#include <string_view>

#include "env/text_lookup.h"

namespace rolta::test {

class MarkingLookup final : public TextLookup {
 public:
  std::string Lookup(std::string_view text) const override {
    std::string marked = "<";
    marked.append(text).append(">");
    return marked;
  }
};

}  // namespace rolta::test
