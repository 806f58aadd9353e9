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

  // A text whose meaning depends on where it stands ("设置" opens the port on
  // the console and writes the record on the parameter form) is looked up as
  // "<context>|<text>" first, and as itself when that key has no entry. The
  // default language shows the text as it stands, never the qualified key.
  std::string LookupIn(std::string_view context, std::string_view text) const {
    if (context.empty() || IsDefaultLanguage()) return Lookup(text);
    std::string key;
    key.reserve(context.size() + 1 + text.size());
    key.append(context).append(1, kContextSeparator).append(text);
    std::string translated = Lookup(key);
    return translated == key ? Lookup(text) : translated;
  }
  static constexpr char kContextSeparator = '|';
};

// Returns every text as it stands.
class IdentityLookup final : public TextLookup {
 public:
  std::string Lookup(std::string_view text) const override { return std::string(text); }
};

}  // namespace rolta
