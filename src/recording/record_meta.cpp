#include "recording/record_meta.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "env/config_home.h"
#include "env/number_text.h"

namespace rolta {
namespace {

constexpr std::string_view kFormatKey = "format";
constexpr std::string_view kFormatVersion = "1";
// A details file is a few lines; anything far larger is not one.
constexpr std::size_t kMaxLines = 1000;
constexpr std::size_t kMaxLineLength = 4096;

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

RecordMetaResult Damaged(std::size_t line, std::string_view reason) {
  RecordMetaResult result;
  result.state = RecordMetaState::Damaged;
  result.line = line;
  result.reason = std::string(reason);
  return result;
}

}  // namespace

std::filesystem::path RecordMetaPath(const std::filesystem::path& recording) {
  std::filesystem::path meta = recording;
  meta += ".meta";
  return meta;
}

std::filesystem::path CoastSettingsPath() { return ConfigHome() / "rolta" / "coast.conf"; }

std::optional<double> ParseMass(std::string_view text) {
  text = Trim(text);
  // Plain decimals only: from_chars alone would also take "inf" and "nan".
  if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!std::isfinite(value) || !(value > 0) || value > kMaxMassKg) return std::nullopt;
  return value;
}

std::string MassText(double massKg) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, massKg);
  return ec == std::errc() ? std::string(buffer, end) : std::string();
}

RecordMetaResult ParseRecordMeta(std::istream& in) {
  RecordMetaResult result;
  result.state = RecordMetaState::Read;
  std::string line;
  std::size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number > kMaxLines || line.size() > kMaxLineLength) return Damaged(number, "记录说明文件太大");
    if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() == '#') continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return Damaged(number, "不是 键=值 行");
    const std::string_view key = Trim(text.substr(0, equals));
    const std::string_view value = Trim(text.substr(equals + 1));
    if (key.empty()) return Damaged(number, "不是 键=值 行");
    if (key == kMassKey) {
      if (result.meta.massKg) return Damaged(number, "等效质量出现两次");
      result.meta.massKg = ParseMass(value);
      if (!result.meta.massKg) return Damaged(number, "等效质量无法读取");
    } else if (key == kFormatKey) {
      if (value != kFormatVersion) return Damaged(number, "记录说明文件的版本不认识");
    } else {
      result.meta.others.emplace_back(key, value);
    }
  }
  if (in.bad()) return Damaged(0, "无法读取");
  return result;
}

RecordMetaResult ReadRecordMeta(const std::filesystem::path& file) {
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (status.type() == std::filesystem::file_type::not_found) return RecordMetaResult{};
  if (ec || !std::filesystem::is_regular_file(status)) return Damaged(0, "无法读取");
  std::ifstream in(file, std::ios::binary);
  if (!in) return Damaged(0, "无法读取");
  return ParseRecordMeta(in);
}

std::string RecordMetaText(const RecordMeta& meta) {
  std::string text = "# ROLTA recording details\n";
  text += FormatText("%.*s=%.*s\n", static_cast<int>(kFormatKey.size()), kFormatKey.data(),
                     static_cast<int>(kFormatVersion.size()), kFormatVersion.data());
  if (meta.massKg) text += std::string(kMassKey) + '=' + MassText(*meta.massKg) + '\n';
  for (const auto& [key, value] : meta.others) text += key + '=' + value + '\n';
  return text;
}

std::error_code WriteRecordMeta(const std::filesystem::path& file, const RecordMeta& meta) {
  const std::string text = RecordMetaText(meta);
  std::error_code ec;
  if (file.has_parent_path()) {
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) return ec;
  }
  std::filesystem::path temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return std::make_error_code(std::errc::permission_denied);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(temporary, ec);
      return std::make_error_code(std::errc::io_error);
    }
  }
  std::filesystem::rename(temporary, file, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  }
  return ec;
}

std::error_code StoreMass(const std::filesystem::path& file, std::optional<double> massKg) {
  RecordMetaResult existing = ReadRecordMeta(file);
  if (existing.state == RecordMetaState::Damaged) {
    // The operator's new value goes in; what could not be read stays beside it.
    std::filesystem::path kept = file;
    kept += ".damaged";
    std::error_code ec;
    std::filesystem::copy_file(file, kept, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return ec;
    existing.meta = RecordMeta{};
  }
  existing.meta.massKg = massKg;
  return WriteRecordMeta(file, existing.meta);
}

std::string RecordMetaErrorText(const TextLookup& texts, const std::filesystem::path& file,
                                const RecordMetaResult& result) {
  if (result.line == 0) {
    return FormatText("%s: %s", file.string().c_str(), texts.Lookup(result.reason).c_str());
  }
  return FormatText("%s: %s %zu: %s", file.string().c_str(), texts.Lookup("行").c_str(), result.line,
                    texts.Lookup(result.reason).c_str());
}

}  // namespace rolta
