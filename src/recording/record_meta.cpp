#include "recording/record_meta.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "env/config_home.h"
#include "env/key_value_file.h"
#include "env/number_text.h"

namespace rolta {
namespace {

constexpr std::string_view kFormatKey = "format";
constexpr std::string_view kFormatVersion = "1";
RecordMetaResult Damaged(std::size_t line, std::string_view reason) {
  RecordMetaResult result;
  result.state = RecordMetaState::Damaged;
  result.line = line;
  result.reason = std::string(reason);
  return result;
}

// What a file read as key=value lines holds; the first problem, in file order,
// damages it whole.
RecordMetaResult MetaOf(const KeyValueFile& file) {
  RecordMetaResult result;
  result.state = RecordMetaState::Read;
  for (const KeyValueLine& line : file.lines) {
    if (!line.hasEquals || line.key.empty()) return Damaged(line.number, "不是 键=值 行");
    if (line.key == kMassKey) {
      if (result.meta.massKg) return Damaged(line.number, "等效质量出现两次");
      result.meta.massKg = ParseMass(line.value);
      if (!result.meta.massKg) return Damaged(line.number, "等效质量无法读取");
    } else if (line.key == kFormatKey) {
      if (line.value != kFormatVersion) return Damaged(line.number, "记录说明文件的版本不认识");
    } else {
      result.meta.others.emplace_back(line.key, line.value);
    }
  }
  switch (file.state) {
    case KeyValueState::Whole: break;
    case KeyValueState::Missing: return RecordMetaResult{};
    case KeyValueState::TooLarge: return Damaged(file.stopLine, "记录说明文件太大");
    case KeyValueState::Unreadable: return Damaged(0, "无法读取");
  }
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
  text = TrimSpace(text);
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

RecordMetaResult ParseRecordMeta(std::istream& in) { return MetaOf(ReadKeyValues(in)); }

RecordMetaResult ReadRecordMeta(const std::filesystem::path& file) { return MetaOf(ReadKeyValueFile(file)); }

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
