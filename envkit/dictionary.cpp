#include "dictionary.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "env/shipped_files.h"

#include "envkit_paths.h"

namespace envkit {
namespace {

namespace fs = std::filesystem;

using Dictionary = std::unordered_map<std::string, std::string>;

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default:  // not an escape: keep both characters
        out += '\\';
        out += text[i];
    }
  }
  return out;
}

Dictionary ReadDictionary(const fs::path& path) {
  Dictionary dictionary;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (first && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    first = false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0) continue;
    dictionary.insert_or_assign(Unescape(std::string_view(line).substr(0, tab)),
                                Unescape(std::string_view(line).substr(tab + 1)));
  }
  return dictionary;
}

bool IsChinese(const std::string& language) {
  return language.empty() || language.starts_with("zh") || language == "C" || language == "POSIX";
}

// Letters, digits, '_' and '-' only: the name becomes part of a file path.
bool IsPlainName(const std::string& language) {
  for (const char c : language) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!plain) return false;
  }
  return !language.empty();
}

std::optional<fs::path> DictionaryDirectory() {
  const char* configured = std::getenv("ROLTA_DICTIONARY_DIR");
  if (configured != nullptr && *configured != '\0') return fs::path(configured);
  const auto library = LibraryDirectory();
  if (!library) return std::nullopt;
  // Installed, the library is in lib/rolta/: the prefix is two levels up.
  constexpr std::string_view kFolder = "envkit-dictionaries";
  return rolta::FindShipped(*library, *library / ".." / "..", kFolder, rolta::ShippedKind::Folder)
      .value_or(*library / kFolder);
}

// Dictionaries once read stay for the library's lifetime, so the pointers
// Translate hands out remain valid even when the language changes.
std::mutex cache_mutex;
std::map<std::string, std::unique_ptr<Dictionary>> cache;  // by file path

const Dictionary* DictionaryFor(const fs::path& path) {
  auto found = cache.find(path.string());
  if (found == cache.end()) {
    std::unique_ptr<Dictionary> loaded;
    std::error_code error;
    if (fs::is_regular_file(path, error)) loaded = std::make_unique<Dictionary>(ReadDictionary(path));
    found = cache.emplace(path.string(), std::move(loaded)).first;
  }
  return found->second.get();
}

// The dictionary of the current language; null for Chinese.
const Dictionary* CurrentDictionary() {
  const char* variable = std::getenv("ROLTA_LANGUAGE");
  std::string language = variable != nullptr ? variable : "";
  language = language.substr(0, language.find_first_of(".@"));
  if (IsChinese(language) || !IsPlainName(language)) return nullptr;
  const auto directory = DictionaryDirectory();
  if (!directory) return nullptr;
  std::vector<std::string> candidates = {language};
  if (const std::size_t cut = language.find('_'); cut != std::string::npos) {
    candidates.push_back(language.substr(0, cut));
  }
  for (const std::string& candidate : candidates) {
    if (const Dictionary* dictionary = DictionaryFor(*directory / (candidate + ".txt"))) {
      return dictionary;
    }
  }
  return nullptr;
}

}  // namespace

const char* Translate(const char* text) {
  if (text == nullptr) return "";
  std::lock_guard lock(cache_mutex);
  const Dictionary* dictionary = CurrentDictionary();
  if (dictionary == nullptr) return text;
  const auto found = dictionary->find(text);
  return found == dictionary->end() ? text : found->second.c_str();
}

}  // namespace envkit
