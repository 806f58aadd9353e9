// Translation of display texts. The texts are written in Chinese, so Chinese
// (the default) returns every text as it stands. Any other language comes
// from a dictionary file <language>.txt, looked for in $ROLTA_DICTIONARY_DIR
// when set, else in envkit-dictionaries/ beside the library.
//
// The language: $ROLTA_LANGUAGE, e.g. "en" or "en_US.UTF-8" (tried as "en_US",
// then "en"). Unset, empty, "zh…", or a language without a dictionary: Chinese.
//
// Dictionary files are UTF-8, one entry per line: key, TAB, translation.
// Empty lines and lines starting with '#' are skipped, as are lines without a
// TAB. In key and translation "\n", "\t", "\r" and "\\" stand for a line feed,
// a tab, a carriage return and a backslash. A text without an entry comes
// back as it stands.
#pragma once

namespace envkit {

// Never null. The result is either text itself or a translation that stays
// valid while the library is loaded.
const char* Translate(const char* text);

}  // namespace envkit
