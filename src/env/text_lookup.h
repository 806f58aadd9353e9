// The translation lookup every shown text passes through. The console's
// implementation calls the environment library's GetLangueString; tests use
// IdentityLookup or a map.
#pragma once

#include <string>
#include <string_view>

namespace rolta {

class TextLookup {
 public:
  virtual ~TextLookup() = default;
  // The text in the current language; never fails (unknown texts come back as given
  // or as the library's fallback).
  virtual std::string Lookup(std::string_view text) const = 0;
  // True while texts come back in the Chinese they are written in. Texts the
  // console otherwise shows as they stand (labels, string resources, fixed
  // messages) pass through the lookup only when this is false.
  virtual bool IsDefaultLanguage() const { return true; }
};

// Returns every text as it stands.
class IdentityLookup final : public TextLookup {
 public:
  std::string Lookup(std::string_view text) const override { return std::string(text); }
};

}  // namespace rolta
