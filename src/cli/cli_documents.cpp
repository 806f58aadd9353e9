#include "cli/cli_documents.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <sstream>
#include <unordered_set>

namespace rolta::cli {
namespace {

using P = ControllerParams;

constexpr int kOnOff[] = {0, 1};
constexpr int kBaudDivisors[] = {1, 2, 3, 6, 12};
constexpr int kClockModes[] = {0, 100};
constexpr double kU8 = 255;
constexpr double kFloatMax = std::numeric_limits<float>::max();

// name, member, unit, min, max, choices, off value outside the range
constexpr ParamField kParamFields[] = {
    {"rollerSize", &P::rollerSize, "", -kFloatMax, kFloatMax, {}, kNoAlso},
    {"encoderTeeth", &P::encoderTeeth, "teeth/rev", 0, 65535, {}, kNoAlso},
    {"controllerPort", &P::controllerPort, "0 COM1, 1 COM2", 0, 1, {}, kNoAlso},
    {"baudDivisor", &P::baudDivisor, "115200/baud", 0, 0, kBaudDivisors, kNoAlso},
    {"loadMode", &P::loadMode, "", 10, 14, {}, kNoAlso},
    {"fuelOutputType", &P::fuelOutputType, "", 0, 1, {}, kNoAlso},
    {"remoteStart", &P::remoteStart, "", 0, 0, kOnOff, kNoAlso},
    {"zeroMode", &P::zeroMode, "1 dynamic, 0 static", 0, 0, kOnOff, kNoAlso},
    {"autoRestoreSeconds", &P::autoRestoreSeconds, "s", 120, 32767, {}, 0},
    {"clockMode", &P::clockMode, "100 high precision, 0 ordinary", 0, 0, kClockModes, kNoAlso},
    {"liftSpeed", &P::liftSpeed, "km/h", 1, 5, {}, kNoAlso},
    {"lugdownEndSpeed", &P::lugdownEndSpeed, "km/h", 0, kU8, {}, kNoAlso},
    {"stabilityBand", &P::stabilityBand, "fraction", -kFloatMax, kFloatMax, {}, kNoAlso},
    {"liftModule", &P::liftModule, "", 10, 13, {}, kNoAlso},
    {"motorModule", &P::motorModule, "", 10, 11, {}, kNoAlso},
    {"stabilityTime", &P::stabilityTime, "", 0, kU8, {}, kNoAlso},
    {"retarderType", &P::retarderType, "", 10, 17, {}, kNoAlso},
    {"coastStopSpeed", &P::coastStopSpeed, "km/h", 0, kU8, {}, kNoAlso},
    {"lossStopSpeed", &P::lossStopSpeed, "km/h", 0, kU8, {}, kNoAlso},
    {"motorControl", &P::motorControl, "10 starter, 11 inverter", 10, 11, {}, kNoAlso},
    {"lugdownScanMode", &P::lugdownScanMode, "10 steady, 11 dynamic", 10, 11, {}, kNoAlso},
    {"engineSpeedInput", &P::engineSpeedInput, "", 0, 0, kOnOff, kNoAlso},
    {"negativeLogic", &P::negativeLogic, "", 0, 0, kOnOff, kNoAlso},
    {"testRetarderMask", &P::testRetarderMask, "bits FL FR RL RR", 0, 15, {}, kNoAlso},
    {"liftLock", &P::liftLock, "", 0, 0, kOnOff, kNoAlso},
    {"coastRetarderMask", &P::coastRetarderMask, "bits FL FR RL RR", 0, 15, {}, kNoAlso},
    {"powerModule", &P::powerModule, "0 IGBT850, 1 IGBT0, 2 IGBTDC", 0, 2, {}, kNoAlso},
    {"absorbDirection", &P::absorbDirection, "", 0, 0, kOnOff, kNoAlso},
    {"motoringTorqueTest", &P::motoringTorqueTest, "", 0, 0, kOnOff, kNoAlso},
    {"fuelTest", &P::fuelTest, "", 0, 0, kOnOff, kNoAlso},
    {"benchCorrection", &P::benchCorrection, "0.1", -127, 127, {}, kNoAlso},
    {"valveSettleTime", &P::valveSettleTime, "s, 255 monostable", 3, 20, {}, 255},
    {"remoteMonitor", &P::remoteMonitor, "", 0, 0, kOnOff, kNoAlso},
    {"transmitDelay", &P::transmitDelay, "", 0, kU8, {}, kNoAlso},
    {"calibFit", &P::calibFit, "1 least squares, 0 piecewise linear", 0, 0, kOnOff, kNoAlso},
    {"autoChannelConfig", &P::autoChannelConfig, "", 0, 0, kOnOff, kNoAlso},
    {"lugdownScanSpeed", &P::lugdownScanSpeed, "0.1 km/h", 0, 200, {}, kNoAlso},
    {"dieselControlParam", &P::dieselControlParam, "0.01", 0, kU8, {}, kNoAlso},
    {"speedReadParam", &P::speedReadParam, "0.01", 0, kU8, {}, kNoAlso},
    {"smartLiftType", &P::smartLiftType, "0 type I, 1 type II", 0, 1, {}, kNoAlso},
    {"speedThreshold", &P::speedThreshold, "0.1 km/h", 1, 50, {}, kNoAlso},
    {"exitProtectSeconds", &P::exitProtectSeconds, "s", 0, 30, {}, kNoAlso},
    {"exitWaitSeconds", &P::exitWaitSeconds, "s", 0, 60, {}, kNoAlso},
    {"liftLimitChecks", &P::liftLimitChecks, "bit 0 up, bit 1 down", 0, 3, {}, kNoAlso},
    {"scanReadParam", &P::scanReadParam, "0.01", 0, kU8, {}, kNoAlso},
    {"tachometerType", &P::tachometerType, "0 DiSpeed490, 1 RPM5300", 0, 1, {}, kNoAlso},
};

constexpr ParamField kControllerInfoFields[] = {
    {"kernelVersion", &P::kernelVersion, "0.01", 0, 65535, {}, kNoAlso},
    {"hardwareVersion", &P::hardwareVersion, "major.minor nibbles", 0, kU8, {}, kNoAlso},
    {"hardwareModel", &P::hardwareModel, "1 QRX, 2 ASM, 3 VMAS, 4 LUGDN, 5 MASM", 0, kU8, {}, kNoAlso},
};

// The controller's clock: shown, never taken from a file (a write sets it to
// the PC's time).
constexpr ParamField kClockFields[] = {
    {"clockYear", &P::clockYear, "", 0, 65535, {}, kNoAlso},
    {"clockMonth", &P::clockMonth, "", 0, kU8, {}, kNoAlso},
    {"clockDay", &P::clockDay, "", 0, kU8, {}, kNoAlso},
    {"clockHour", &P::clockHour, "", 0, kU8, {}, kNoAlso},
    {"clockMinute", &P::clockMinute, "", 0, kU8, {}, kNoAlso},
    {"clockSecond", &P::clockSecond, "", 0, kU8, {}, kNoAlso},
};


template <typename T>
constexpr bool kIsFloat = std::is_same_v<std::remove_cvref_t<T>, float>;

const ParamField* FieldNamed(std::span<const ParamField> fields, std::string_view name) {
  for (const ParamField& field : fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

// ---- float spelling ----

constexpr std::uint32_t kQuietNanBits = 0x7FC00000;

std::uint32_t BitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float FloatOfBits(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal text from_chars found outside float range: true when it lies
// above it rather than below the smallest float. Its first significant
// digit's power of ten decides; both limits are far from 1.
bool BeyondFloatMax(std::string_view text) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  const std::size_t e = text.find_first_of("eE");
  long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = text.substr(e + 1);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
    for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), 1000000L);  // saturates
    if (negative) exponent = -exponent;
  }
  const std::string_view mantissa = text.substr(0, e);
  const std::size_t point = mantissa.find('.');
  const std::string_view whole = mantissa.substr(0, point);
  const std::size_t lead = whole.find_first_not_of('0');
  if (lead != std::string_view::npos) return static_cast<long>(whole.size() - lead - 1) + exponent >= 0;
  const std::string_view fraction = point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
  const std::size_t zeros = fraction.find_first_not_of('0');
  if (zeros == std::string_view::npos) return false;
  return -static_cast<long>(zeros) - 1 + exponent >= 0;
}

// A finite decimal number, correctly rounded to float from its own digits.
std::optional<float> FiniteFloatFromText(std::string_view text) {
  // Only numbers: from_chars would also take "infinity" and "nan(...)".
  if (text.size() >= 2 && text.front() == '+' && (IsDigit(text[1]) || text[1] == '.')) text.remove_prefix(1);
  const std::size_t first = !text.empty() && text.front() == '-' ? 1 : 0;
  if (text.size() <= first || !(IsDigit(text[first]) || text[first] == '.')) return std::nullopt;
  float value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    if (BeyondFloatMax(text)) return std::nullopt;
    return text.front() == '-' ? -0.0f : 0.0f;  // below the smallest float: a zero of its sign
  }
  if (error != std::errc{} || !std::isfinite(value)) return std::nullopt;
  return value;
}

// ---- text pieces for messages ----

// At most 40 bytes of a file for a message (cut before a whole UTF-8
// character), control bytes as \xHH, "..." when cut.
std::string Excerpt(std::string_view text) {
  constexpr std::size_t kLongest = 40;
  std::size_t length = std::min(text.size(), kLongest);
  while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  std::string out;
  for (char c : text.substr(0, length)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  if (length < text.size()) out += "...";
  return out;
}

std::string Quoted(std::string_view text) { return "\"" + Excerpt(text) + "\""; }

DocumentError TooLong(std::size_t size) {
  return DocumentError{"the file holds " + std::to_string(size) + " bytes, more than the " +
                       std::to_string(kMaxDocumentBytes) + " a document may have"};
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  if (text.substr(0, kMark.size()) == kMark) text.remove_prefix(kMark.size());
  return text;
}

// A reader's body, with whatever the JSON library or the allocator throws
// turned into a refusal: nothing escapes a reader.
template <typename Body>
auto Guarded(Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const nlohmann::json::exception& error) {
    return DocumentError{"the file could not be read: " + Excerpt(error.what())};
  } catch (const std::bad_alloc&) {
    return DocumentError{"not enough memory to read the file"};
  }
}

// ---- JSON as read ----

// A JSON value as the documents use it. A number keeps its text as written,
// so a float is read from its own digits (and -0 keeps its sign); an array
// keeps no items, since no document holds one.
struct JsonMember;
struct JsonValue {
  enum class Kind : std::uint8_t { Null, Boolean, Number, String, Array, Object };
  Kind kind = Kind::Null;
  std::string text;  // a number as written, a string's value, "true", "false", "null"
  std::vector<JsonMember> members;  // an object's, in the document's order

  const JsonValue* Find(std::string_view key) const;
};
struct JsonMember {
  std::string key;
  JsonValue value;
};

const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const JsonMember& member : members) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

// How a value shows in a message.
std::string ValueExcerpt(const JsonValue& value) {
  switch (value.kind) {
    case JsonValue::Kind::String: return Quoted(value.text);
    case JsonValue::Kind::Array: return "an array";
    case JsonValue::Kind::Object: return "an object";
    default: return Excerpt(value.text);
  }
}

// A cheap pass before the parser: refuses nesting beyond kMaxJsonDepth
// before anything is built, and collects the text of every number in the
// order the parser reports them (the parser gives integers as values only).
struct JsonScan {
  std::vector<std::string_view> numbers;
  std::optional<DocumentError> error;
};

JsonScan ScanJson(std::string_view text) {
  JsonScan scan;
  std::size_t depth = 0;
  std::size_t line = 1;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '\n') {
      ++line;
    } else if (c == '\0') {
      // The parser would take it for the end of the text and ignore the rest.
      scan.error = DocumentError{"line " + std::to_string(line) + ": a NUL byte, which JSON text never holds"};
      return scan;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) {
        scan.error = DocumentError{"line " + std::to_string(line) + ": values nested deeper than " +
                                   std::to_string(kMaxJsonDepth) + " levels"};
        return scan;
      }
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
    } else if (c == '-' || IsDigit(c)) {
      std::size_t end = i + 1;
      while (end < text.size() && (IsDigit(text[end]) || std::string_view("+-.eE").find(text[end]) != std::string_view::npos)) {
        ++end;
      }
      if (scan.numbers.size() == kMaxJsonValues) {
        scan.error = DocumentError{"more than " + std::to_string(kMaxJsonValues) + " values"};
        return scan;
      }
      scan.numbers.push_back(text.substr(i, end - i));
      i = end - 1;
    }
  }
  return scan;
}

// Builds the JsonValue tree from the parser's events; refuses a key named
// twice in one object, and (again) too deep or too many values.
class JsonBuilder {
 public:
  using json = nlohmann::json;

  explicit JsonBuilder(const std::vector<std::string_view>& numbers) : numbers_(numbers) {}

  bool null() { return Add({JsonValue::Kind::Null, "null", {}}); }
  bool boolean(bool value) { return Add({JsonValue::Kind::Boolean, value ? "true" : "false", {}}); }
  bool number_integer(json::number_integer_t) { return AddNumber(); }
  bool number_unsigned(json::number_unsigned_t) { return AddNumber(); }
  bool number_float(json::number_float_t, const json::string_t&) { return AddNumber(); }
  bool string(json::string_t& value) { return Add({JsonValue::Kind::String, std::move(value), {}}); }
  bool binary(json::binary_t&) { return Fail("not valid JSON"); }  // JSON text holds no binary values
  bool start_object(std::size_t) { return Open(JsonValue::Kind::Object); }
  bool start_array(std::size_t) { return Open(JsonValue::Kind::Array); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(json::string_t& key) {
    Level& level = open_.back();
    if (!level.keys.insert(key).second) {
      const std::string where = open_.size() > 1 ? " in " + Quoted(open_[open_.size() - 2].key) : std::string();
      return Fail("the key " + Quoted(key) + where + " is named twice");
    }
    level.key = std::move(key);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const json::exception& error) {
    // The parser's own refusal of a number beyond double range: the number
    // not yet reported is the one, and the key it stands under names it.
    constexpr int kNumberOverflow = 406;
    if (error.id == kNumberOverflow && next_ < numbers_.size()) {
      const std::string where = !open_.empty() && open_.back().value.kind == JsonValue::Kind::Object
                                    ? "field " + Quoted(open_.back().key) + ": "
                                    : std::string();
      return Fail(where + Excerpt(numbers_[next_]) + " is out of range (beyond the float range)");
    }
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
    std::string_view what = error.what();
    if (const std::size_t end = what.find("] "); end != std::string_view::npos) what.remove_prefix(end + 2);
    constexpr std::size_t kLongest = 160;
    std::string text(what.substr(0, kLongest));
    if (what.size() > kLongest) text += "...";
    return Fail("not valid JSON: " + text);
  }

  std::optional<DocumentError>& Error() { return error_; }
  JsonValue& Root() { return root_; }

 private:
  struct Level {
    JsonValue value;
    std::string key;  // the key the next value of this object goes under
    std::unordered_set<std::string> keys;
  };

  bool Fail(std::string message) {
    if (!error_) error_ = DocumentError{std::move(message)};
    return false;
  }

  bool Count() {
    if (++values_ > kMaxJsonValues) return Fail("more than " + std::to_string(kMaxJsonValues) + " values");
    return true;
  }

  bool Add(JsonValue value) {
    if (!Count()) return false;
    if (open_.empty()) {
      root_ = std::move(value);
    } else if (Level& level = open_.back(); level.value.kind == JsonValue::Kind::Object) {
      level.value.members.push_back({std::move(level.key), std::move(value)});
    }
    return true;
  }

  bool AddNumber() {
    if (next_ >= numbers_.size()) return Fail("not valid JSON: a number out of step");
    return Add({JsonValue::Kind::Number, std::string(numbers_[next_++]), {}});
  }

  bool Open(JsonValue::Kind kind) {
    if (open_.size() >= kMaxJsonDepth) {
      return Fail("values nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    open_.push_back({});
    open_.back().value.kind = kind;
    return true;
  }

  bool Close() {
    JsonValue value = std::move(open_.back().value);
    open_.pop_back();
    return Add(std::move(value));
  }

  const std::vector<std::string_view>& numbers_;
  std::size_t next_ = 0;
  std::size_t values_ = 0;
  std::vector<Level> open_;
  JsonValue root_;
  std::optional<DocumentError> error_;
};

std::variant<JsonValue, DocumentError> ParseJson(std::string_view text) {
  if (text.size() > kMaxDocumentBytes) return TooLong(text.size());
  JsonScan scan = ScanJson(text);
  if (scan.error) return *scan.error;
  JsonBuilder builder(scan.numbers);
  const bool parsed = nlohmann::json::sax_parse(text.begin(), text.end(), &builder);
  if (builder.Error()) return *builder.Error();
  if (!parsed) return DocumentError{"not valid JSON"};
  return std::move(builder.Root());
}

// Top-level keys must be among `allowed`, each an object, and `required` there.
std::optional<DocumentError> CheckTop(const JsonValue& document, std::initializer_list<std::string_view> allowed,
                                      std::string_view required) {
  if (document.kind != JsonValue::Kind::Object) return DocumentError{"the document is not a JSON object"};
  for (const JsonMember& member : document.members) {
    if (std::find(allowed.begin(), allowed.end(), member.key) == allowed.end()) {
      return DocumentError{"unknown key " + Quoted(member.key)};
    }
    if (member.value.kind != JsonValue::Kind::Object) return DocumentError{Quoted(member.key) + " is not an object"};
  }
  if (document.Find(required) == nullptr) return DocumentError{"no \"" + std::string(required) + "\" object"};
  return std::nullopt;
}

// A number written without fraction or exponent, within the 64-bit range.
std::optional<std::int64_t> WholeNumber(const JsonValue& value) {
  if (value.kind != JsonValue::Kind::Number || value.text.find_first_of(".eE") != std::string::npos) {
    return std::nullopt;
  }
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(value.text.data(), value.text.data() + value.text.size(), number);
  if (error != std::errc{} || end != value.text.data() + value.text.size()) return std::nullopt;
  return number;
}

// ---- JSON as written ----

// A JSON string of our own texts (labels, units, file names: UTF-8 as they
// stand), escaped as JSON requires.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

using WrittenMembers = std::vector<std::pair<std::string, std::string>>;  // key, value as JSON text

// An object at nesting `level`, two spaces a level, members in their order.
std::string ObjectText(const WrittenMembers& members, int level) {
  if (members.empty()) return "{}";
  const std::string indent(static_cast<std::size_t>(2 * (level + 1)), ' ');
  std::string text = "{\n";
  for (std::size_t i = 0; i < members.size(); ++i) {
    text += indent + JsonString(members[i].first) + ": " + members[i].second;
    text += i + 1 < members.size() ? ",\n" : "\n";
  }
  return text + std::string(static_cast<std::size_t>(2 * level), ' ') + "}";
}

// A float as a JSON value: a number when finite, else its spelling as a string.
std::string JsonFloat(float value) {
  return std::isfinite(value) ? ShortestFloatText(value) : JsonString(FloatText(value));
}

// ---- parameter record ----

std::string FieldValueText(const ParamField& field, const ControllerParams& values) {
  return std::visit(
      [&values](auto member) -> std::string {
        const auto value = values.*member;
        if constexpr (kIsFloat<decltype(value)>) {
          return JsonFloat(value);
        } else {
          return std::to_string(static_cast<int>(value));
        }
      },
      field.member);
}

std::string FieldsObject(std::span<const ParamField> fields, const ControllerParams& values, int level) {
  WrittenMembers members;
  for (const ParamField& field : fields) members.emplace_back(field.name, FieldValueText(field, values));
  return ObjectText(members, level);
}

bool InRange(const ParamField& field, std::int64_t value) {
  if (field.also != kNoAlso && value == field.also) return true;
  if (!field.choices.empty()) {
    return std::find(field.choices.begin(), field.choices.end(), value) != field.choices.end();
  }
  return static_cast<double>(value) >= field.min && static_cast<double>(value) <= field.max;
}

std::string RangeText(const ParamField& field) {
  std::ostringstream text;
  if (!field.choices.empty()) {
    text << "one of";
    for (int choice : field.choices) text << ' ' << choice;
  } else {
    text << static_cast<std::int64_t>(field.min) << ".." << static_cast<std::int64_t>(field.max);
  }
  if (field.also != kNoAlso) text << " or " << field.also;
  return text.str();
}

// Takes one field's value from the document into `values`, or says why not.
std::optional<DocumentError> TakeField(const ParamField& field, const JsonValue& value, ValueCheck check,
                                       ControllerParams& values) {
  const std::string where = "field \"" + std::string(field.name) + "\": ";
  if (const auto member = std::get_if<float ControllerParams::*>(&field.member)) {
    std::optional<float> number;
    if (value.kind == JsonValue::Kind::Number) {
      number = FloatFromText(value.text);
      if (!number) {
        return DocumentError{where + Excerpt(value.text) + " is out of range (beyond the float range, " +
                             FloatText(-std::numeric_limits<float>::max()) + ".." +
                             FloatText(std::numeric_limits<float>::max()) + ")"};
      }
    } else if (value.kind == JsonValue::Kind::String) {
      number = FloatFromText(value.text);
      if (!number || std::isfinite(*number)) {
        return DocumentError{where + ValueExcerpt(value) +
                             " is not a number (finite values are written as numbers; \"inf\", \"-inf\", "
                             "\"nan\" and \"nan(0xHHHHHHHH)\" as strings)"};
      }
    } else {
      return DocumentError{where + "not a number"};
    }
    if (check == ValueCheck::Ranges && !std::isfinite(*number)) {
      return DocumentError{where + FloatText(*number) + " is out of range (a finite number)"};
    }
    values.*(*member) = *number;
    return std::nullopt;
  }
  if (value.kind != JsonValue::Kind::Number) return DocumentError{where + "not a number"};
  if (value.text.find_first_of(".eE") != std::string::npos) {
    return DocumentError{where + "must be a whole number"};
  }
  const std::optional<std::int64_t> number = WholeNumber(value);
  return std::visit(
      [&](auto member) -> std::optional<DocumentError> {
        using T = std::remove_reference_t<decltype(values.*member)>;
        if constexpr (!kIsFloat<T>) {
          constexpr auto kLow = static_cast<std::int64_t>(std::numeric_limits<T>::min());
          constexpr auto kHigh = static_cast<std::int64_t>(std::numeric_limits<T>::max());
          const bool fits = number && *number >= kLow && *number <= kHigh;
          if (check == ValueCheck::AsRead && !fits) {
            return DocumentError{where + Excerpt(value.text) + " is out of range (" + std::to_string(kLow) + ".." +
                                 std::to_string(kHigh) + ")"};
          }
          if (check == ValueCheck::Ranges && (!fits || !InRange(field, *number))) {
            return DocumentError{where + Excerpt(value.text) + " is out of range (" + RangeText(field) + ")"};
          }
          values.*member = static_cast<T>(*number);
        }
        return std::nullopt;
      },
      field.member);
}

constexpr CalibName kCalibNames[] = {
    {CalibChannel::Temperature, "temperature"},     {CalibChannel::Humidity, "humidity"},
    {CalibChannel::AirPressure, "pressure"},        {CalibChannel::Speed, "speed"},
    {CalibChannel::TorqueFrontLeft, "torque-fl"},   {CalibChannel::TorqueFrontRight, "torque-fr"},
    {CalibChannel::TorqueRearLeft, "torque-rl"},    {CalibChannel::TorqueRearRight, "torque-rr"},
    {CalibChannel::Loss, "loss"},                   {CalibChannel::Variable, "var"},
};


std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

const ChannelField* ChannelFieldByLabel(std::string_view label, std::size_t* index) {
  const auto fields = ChannelFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].label == label) {
      *index = i;
      return &fields[i];
    }
  }
  return nullptr;
}

// ---- backup manifest ----

constexpr std::string_view kBackupFormat = "rolta-backup/1";
constexpr std::string_view kDigestPrefix = "fnv1a64:";

std::string DigestOf(std::string_view content) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (char c : content) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(kDigestPrefix) + hex;
}

// "files" of a manifest: role -> file name, the tables by their names.
WrittenMembers CalibFileMembers() {
  WrittenMembers members;
  for (const CalibName& name : kCalibNames) members.emplace_back(name.name, CalibFileName(name.channel));
  return members;
}

bool IsBackupFile(std::string_view name) {
  if (name == kParamsFile || name == kChannelsFile) return true;
  return std::any_of(std::begin(kCalibNames), std::end(kCalibNames),
                     [name](const CalibName& calib) { return CalibFileName(calib.channel) == name; });
}

// An object of exactly these string members, in any order.
bool HoldsExactly(const JsonValue& object, const WrittenMembers& expected) {
  if (object.kind != JsonValue::Kind::Object || object.members.size() != expected.size()) return false;
  return std::all_of(expected.begin(), expected.end(), [&object](const auto& member) {
    const JsonValue* value = object.Find(member.first);
    return value != nullptr && value->kind == JsonValue::Kind::String && value->text == member.second;
  });
}

bool ListsTheBackupFiles(const JsonValue& files) {
  if (files.kind != JsonValue::Kind::Object || files.members.size() != 3) return false;
  const JsonValue* params = files.Find("params");
  const JsonValue* channels = files.Find("channels");
  const JsonValue* calib = files.Find("calib");
  return params != nullptr && params->kind == JsonValue::Kind::String && params->text == kParamsFile &&
         channels != nullptr && channels->kind == JsonValue::Kind::String && channels->text == kChannelsFile &&
         calib != nullptr && HoldsExactly(*calib, CalibFileMembers());
}

// "fnv1a64:" and 16 hex digits, either case; lower case as kept.
std::optional<std::string> DigestText(const JsonValue& value) {
  if (value.kind != JsonValue::Kind::String || value.text.size() != kDigestPrefix.size() + 16 ||
      !SameNoCase(std::string_view(value.text).substr(0, kDigestPrefix.size()), kDigestPrefix)) {
    return std::nullopt;
  }
  std::string digest(kDigestPrefix);
  for (char c : std::string_view(value.text).substr(kDigestPrefix.size())) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!IsDigit(c) && !(c >= 'a' && c <= 'f')) return std::nullopt;
    digest += c;
  }
  return digest;
}

}  // namespace

// ---- float spelling ----

std::string ShortestFloatText(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string FloatText(float value) {
  if (std::isnan(value)) {
    const std::uint32_t bits = BitsOf(value);
    if (bits == kQuietNanBits) return "nan";
    char text[24];
    std::snprintf(text, sizeof text, "nan(0x%08X)", static_cast<unsigned>(bits));
    return text;
  }
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  return ShortestFloatText(value);
}

std::optional<float> FloatFromText(std::string_view text) {
  if (SameNoCase(text, "inf")) return std::numeric_limits<float>::infinity();
  if (SameNoCase(text, "-inf")) return -std::numeric_limits<float>::infinity();
  if (SameNoCase(text, "nan")) return FloatOfBits(kQuietNanBits);
  constexpr std::string_view kNanBits = "nan(0x";
  if (text.size() == kNanBits.size() + 9 && SameNoCase(text.substr(0, kNanBits.size()), kNanBits) &&
      text.back() == ')') {
    const std::string_view hex = text.substr(kNanBits.size(), 8);
    std::uint32_t bits = 0;
    const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), bits, 16);
    const bool isNan = (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0;
    if (error != std::errc{} || end != hex.data() + hex.size() || !isNan) return std::nullopt;
    return FloatOfBits(bits);
  }
  return FiniteFloatFromText(text);
}

bool SameFloatBits(float a, float b) { return BitsOf(a) == BitsOf(b); }

// ---- parameter record ----

std::span<const ParamField> ParamFields() { return kParamFields; }
std::span<const ParamField> ControllerInfoFields() { return kControllerInfoFields; }

std::string ParamsToJson(const ControllerParams& values) {
  WrittenMembers units;
  for (const ParamField& field : kParamFields) {
    if (!field.unit.empty()) units.emplace_back(field.name, JsonString(field.unit));
  }
  const WrittenMembers document = {{"controller", FieldsObject(kControllerInfoFields, values, 1)},
                                   {"clock", FieldsObject(kClockFields, values, 1)},
                                   {"settings", FieldsObject(kParamFields, values, 1)},
                                   {"units", ObjectText(units, 1)}};
  return ObjectText(document, 0) + "\n";
}

std::variant<ControllerParams, DocumentError> ParamsFromJson(std::string_view text, const ControllerParams& base,
                                                             ValueCheck check) {
  return Guarded([&]() -> std::variant<ControllerParams, DocumentError> {
    auto parsed = ParseJson(text);
    if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
    const JsonValue& document = std::get<JsonValue>(parsed);
    if (auto error = CheckTop(document, {"controller", "clock", "settings", "units"}, "settings")) return *error;
    ControllerParams values = base;
    for (const JsonMember& member : document.Find("settings")->members) {
      const ParamField* field = FieldNamed(kParamFields, member.key);
      if (field == nullptr) {
        const char* why = FieldNamed(kControllerInfoFields, member.key) != nullptr ? "the controller's own, cannot be written"
                          : FieldNamed(kClockFields, member.key) != nullptr
                              ? "the controller's clock, read-only (a write sets it to the PC's time)"
                              : "unknown field";
        return DocumentError{"field " + Quoted(member.key) + ": " + why};
      }
      if (auto error = TakeField(*field, member.value, check, values)) return *error;
    }
    return values;
  });
}

std::vector<std::string> ParamsDifferences(const ControllerParams& sent, const ControllerParams& back) {
  std::vector<std::string> lines;
  for (const ParamField& field : kParamFields) {
    std::visit(
        [&](auto member) {
          const auto a = sent.*member;
          const auto b = back.*member;
          std::string was, is;
          if constexpr (kIsFloat<decltype(a)>) {
            if (SameFloatBits(a, b)) return;
            was = FloatText(a), is = FloatText(b);
          } else {
            if (a == b) return;
            was = std::to_string(static_cast<int>(a)), is = std::to_string(static_cast<int>(b));
          }
          lines.push_back(std::string(field.name) + " (sent " + was + ", the controller holds " + is + ")");
        },
        field.member);
  }
  return lines;
}

// ---- channel map ----

std::string ChannelMapToJson(const ChannelMapEditor& editor) {
  WrittenMembers channels;
  const auto fields = ChannelFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].replyByte == kNoByte) continue;
    channels.emplace_back(fields[i].label, std::to_string(static_cast<int>(ChannelByteFromText(editor.Text(i)))));
  }
  return ObjectText({{"channels", ObjectText(channels, 1)}}, 0) + "\n";
}

std::variant<std::map<std::size_t, std::uint8_t>, DocumentError> ChannelMapFromJson(std::string_view text) {
  return Guarded([&]() -> std::variant<std::map<std::size_t, std::uint8_t>, DocumentError> {
    auto parsed = ParseJson(text);
    if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
    const JsonValue& document = std::get<JsonValue>(parsed);
    if (auto error = CheckTop(document, {"channels"}, "channels")) return *error;
    std::map<std::size_t, std::uint8_t> values;
    for (const JsonMember& member : document.Find("channels")->members) {
      std::size_t index = 0;
      const ChannelField* field = ChannelFieldByLabel(member.key, &index);
      const std::string where = "channel " + Quoted(member.key) + ": ";
      if (field == nullptr) return DocumentError{where + "unknown channel"};
      if (field->storeByte == kNoByte) return DocumentError{where + "reserved, no frame carries it"};
      const std::optional<std::int64_t> number = WholeNumber(member.value);
      if (!number || *number < 0 || *number > 255) {
        return DocumentError{where + ValueExcerpt(member.value) + " is not a channel number 0..255"};
      }
      values[index] = static_cast<std::uint8_t>(*number);
    }
    return values;
  });
}

std::string ChannelMapText(const ChannelMapEditor& editor) {
  std::string text;
  const auto fields = ChannelFields();
  for (const ChannelGroupInfo& group : ChannelGroups()) {
    text += std::string(group.title) + "\n";
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].group != group.group || fields[i].replyByte == kNoByte) continue;
      text += "  " + std::string(fields[i].label) + "\t" + editor.Text(i) + "\n";
    }
  }
  return text;
}

// ---- calibration tables ----

std::span<const CalibName> CalibNames() { return kCalibNames; }

std::string_view CalibNameOf(CalibChannel channel) {
  for (const CalibName& name : kCalibNames) {
    if (name.channel == channel) return name.name;
  }
  return {};
}

std::optional<CalibChannel> CalibChannelByName(std::string_view name) {
  for (const CalibName& entry : kCalibNames) {
    if (entry.name == name) return entry.channel;
  }
  for (const CalibChannelRow& row : CalibChannels()) {
    if (row.fetchCaption == name || row.storeCaption == name) return row.channel;
  }
  return std::nullopt;
}

std::string CalibToCsv(const CalibTable& table, std::size_t points) {
  std::string text = "first,second\n";
  for (std::size_t i = 0; i < std::min(points, table.Capacity()); ++i) {
    text += FloatText(table.First(i)) + "," + FloatText(table.Second(i)) + "\n";
  }
  return text;
}

std::string CalibToText(const CalibTable& table, std::size_t points) {
  std::string text;
  for (const CalibDisplayRow& row : DisplayRows(table, points)) {
    text += row.number + "\t" + row.first + "\t" + row.second + "\n";
  }
  return text;
}

std::variant<CalibTable, DocumentError> CalibFromCsv(std::string_view text, std::size_t capacity) {
  return Guarded([&]() -> std::variant<CalibTable, DocumentError> {
    if (text.size() > kMaxDocumentBytes) return TooLong(text.size());
    text = WithoutByteOrderMark(text);
    CalibTable table(capacity);
    std::size_t count = 0;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      const std::string_view line = Trim(text.substr(start, end - start));
      start = end + 1;
      ++lineNumber;
      if (line.empty() || (lineNumber == 1 && line == "first,second")) continue;
      const std::string where = "line " + std::to_string(lineNumber) + ": ";
      const std::size_t comma = line.find(',');
      if (comma == std::string_view::npos || line.find(',', comma + 1) != std::string_view::npos) {
        return DocumentError{where + Quoted(line) + " needs two values separated by one comma"};
      }
      float values[2] = {};
      const std::string_view texts[2] = {Trim(line.substr(0, comma)), Trim(line.substr(comma + 1))};
      for (int i = 0; i < 2; ++i) {
        const std::optional<float> value = FloatFromText(texts[i]);
        if (!value) {
          return DocumentError{where + Quoted(texts[i]) + " is not a value (a number within " +
                               FloatText(-std::numeric_limits<float>::max()) + ".." +
                               FloatText(std::numeric_limits<float>::max()) +
                               ", inf, -inf, nan or nan(0xHHHHHHHH))"};
        }
        values[i] = *value;
      }
      if (count == table.Capacity()) {
        return DocumentError{where + "the table holds at most " + std::to_string(table.Capacity()) + " points"};
      }
      table.SetFirst(count, values[0]);
      table.SetSecond(count, values[1]);
      ++count;
    }
    table.SetCount(static_cast<std::int16_t>(count));
    return table;
  });
}

// ---- backup manifest ----

std::string CalibFileName(CalibChannel channel) {
  return "calib-" + std::string(CalibNameOf(channel)) + ".csv";
}

std::string BackupManifest(const std::vector<std::pair<std::string, std::string>>& files) {
  WrittenMembers calib;
  for (const auto& [name, file] : CalibFileMembers()) calib.emplace_back(name, JsonString(file));
  const WrittenMembers listed = {{"params", JsonString(kParamsFile)},
                                 {"channels", JsonString(kChannelsFile)},
                                 {"calib", ObjectText(calib, 2)}};
  WrittenMembers digests;
  for (const auto& [name, content] : files) digests.emplace_back(name, JsonString(DigestOf(content)));
  const WrittenMembers document = {{"format", JsonString(kBackupFormat)},
                                   {"files", ObjectText(listed, 1)},
                                   {"digests", ObjectText(digests, 1)}};
  return ObjectText(document, 0) + "\n";
}

bool Manifest::Unchanged(std::string_view file, std::string_view content) const {
  const auto digest = digests.find(std::string(file));
  return digest != digests.end() && digest->second == DigestOf(content);
}

std::variant<Manifest, DocumentError> ReadManifest(std::string_view text) {
  return Guarded([&]() -> std::variant<Manifest, DocumentError> {
    auto parsed = ParseJson(text);
    if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
    const JsonValue& document = std::get<JsonValue>(parsed);
    const DocumentError notOurs{"not a backup manifest of format " + std::string(kBackupFormat)};
    if (document.kind != JsonValue::Kind::Object) return notOurs;
    const JsonValue* format = document.Find("format");
    if (format == nullptr || format->kind != JsonValue::Kind::String || format->text != kBackupFormat) return notOurs;
    for (const JsonMember& member : document.members) {
      if (member.key != "format" && member.key != "files" && member.key != "digests") {
        return DocumentError{"unknown key " + Quoted(member.key)};
      }
    }
    const JsonValue* files = document.Find("files");
    if (files == nullptr || !ListsTheBackupFiles(*files)) {
      return DocumentError{"the manifest lists other files than a backup holds"};
    }
    Manifest manifest;
    if (const JsonValue* digests = document.Find("digests")) {
      if (digests->kind != JsonValue::Kind::Object) return DocumentError{"\"digests\" is not an object"};
      for (const JsonMember& member : digests->members) {
        if (!IsBackupFile(member.key)) return DocumentError{"a digest of " + Quoted(member.key) + ", no file of a backup"};
        std::optional<std::string> digest = DigestText(member.value);
        if (!digest) {
          return DocumentError{"the digest of " + Quoted(member.key) + " is not \"fnv1a64:\" and 16 hex digits"};
        }
        manifest.digests[member.key] = std::move(*digest);
      }
    }
    return manifest;
  });
}

}  // namespace rolta::cli
