// The console's small settings and details files: "key=value" lines, "#"
// starts a comment. One reader for all of them; what a key means, which keys
// are known and what a bad value does stay with each file's owner.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace rolta {

// The text without leading and trailing white space (" \t\r\n\v\f").
std::string_view TrimSpace(std::string_view text);

// Such a file is a few lines; one far larger is not one of ours, and reading
// it whole would only cost memory.
struct KeyValueLimits {
  std::size_t maxLines = 1000;
  std::size_t maxLineLength = 4096;  // bytes, before the "\r" of a CRLF line is removed
};

// A line that is neither blank nor a comment.
struct KeyValueLine {
  std::size_t number = 0;  // 1-based, counting every line of the file
  std::string text;        // the line as written, without its line end
  bool hasEquals = false;  // false: not a key=value line; key and value are empty
  std::string key;         // trimmed; may be empty ("=5")
  std::string value;       // trimmed; may be empty ("key=")
};

enum class KeyValueState {
  Whole,       // read to its end
  Missing,     // no such file
  TooLarge,    // stopped at stopLine: one line too many or one line too long
  Unreadable,  // not a regular file, could not be opened, or a read failed
};

struct KeyValueFile {
  KeyValueState state = KeyValueState::Whole;
  std::vector<KeyValueLine> lines;  // in file order, up to where reading stopped
  std::size_t stopLine = 0;         // TooLarge: the line not taken
};

// A UTF-8 byte-order mark before the first line is not part of it.
KeyValueFile ReadKeyValues(std::istream& in, const KeyValueLimits& limits = {});
KeyValueFile ReadKeyValueFile(const std::filesystem::path& path, const KeyValueLimits& limits = {});

}  // namespace rolta
