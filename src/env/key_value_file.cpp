#include "env/key_value_file.h"

#include <fstream>
#include <system_error>

namespace rolta {
namespace {

constexpr std::string_view kSpace = " \t\r\n\v\f";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

enum class LineRead { Line, End, TooLong };

// One line into `line`, without its "\n"; reads no more than one byte past
// the longest line allowed, so a file without line ends costs no memory.
LineRead ReadLine(std::istream& in, std::string& line, std::size_t maxLength) {
  line.clear();
  char c = 0;
  bool any = false;
  while (in.get(c)) {
    any = true;
    if (c == '\n') return LineRead::Line;
    if (line.size() == maxLength) return LineRead::TooLong;
    line.push_back(c);
  }
  return any ? LineRead::Line : LineRead::End;
}

}  // namespace

std::string_view TrimSpace(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

KeyValueFile ReadKeyValues(std::istream& in, const KeyValueLimits& limits) {
  KeyValueFile file;
  std::string line;
  std::size_t number = 0;
  for (;;) {
    const LineRead read = ReadLine(in, line, limits.maxLineLength);
    if (read == LineRead::End) break;
    ++number;
    if (read == LineRead::TooLong || number > limits.maxLines) {
      file.state = KeyValueState::TooLarge;
      file.stopLine = number;
      return file;
    }
    if (number == 1 && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    if (line.ends_with('\r')) line.pop_back();
    const std::string_view text = TrimSpace(line);
    if (text.empty() || text.front() == '#') continue;
    KeyValueLine& entry = file.lines.emplace_back();
    entry.number = number;
    entry.text = line;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    entry.hasEquals = true;
    entry.key = TrimSpace(text.substr(0, equals));
    entry.value = TrimSpace(text.substr(equals + 1));
  }
  if (in.bad()) file.state = KeyValueState::Unreadable;
  return file;
}

KeyValueFile ReadKeyValueFile(const std::filesystem::path& path, const KeyValueLimits& limits) {
  KeyValueFile file;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    file.state = KeyValueState::Missing;
    return file;
  }
  std::ifstream in;
  if (!ec && std::filesystem::is_regular_file(status)) in.open(path, std::ios::binary);
  if (!in.is_open()) {
    file.state = KeyValueState::Unreadable;
    return file;
  }
  return ReadKeyValues(in, limits);
}

}  // namespace rolta
