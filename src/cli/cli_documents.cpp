#include "cli/cli_documents.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <new>
#include <sstream>

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

// The field of that name. The search starts at `hint` (where the previous
// field was found, plus one), since documents list the fields in order.
const ParamField* FieldNamed(std::span<const ParamField> fields, std::string_view name, std::size_t hint = 0) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const ParamField& field = fields[(hint + i) % fields.size()];
    if (field.name == name) return &field;
  }
  return nullptr;
}

// ---- float spelling ----

constexpr std::uint32_t kQuietNanBits = 0x7FC00000;

std::uint32_t BitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }
float FloatOfBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

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

// ---- byte runs ----

// Byte tests eight at a time, one bit per byte (its high bit), exact for
// every byte: no carry crosses from one byte into the next.
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
constexpr std::uint64_t ByteIs(std::uint64_t word, unsigned char c) {
  const std::uint64_t x = word ^ (kOnes * c);
  return ~(((x & kLow7) + kLow7) | x) & kHigh;
}
constexpr std::uint64_t ByteBelow0x20(std::uint64_t word) {
  return ~((((word & kLow7) + kOnes * (0x80 - 0x20))) | word) & kHigh;
}

// The first byte from `at` whose bit `test` sets; bytes past the end read
// as `pad`, which must set it.
template <typename Test>
std::size_t FirstByteWhere(std::string_view text, std::size_t at, unsigned char pad, Test test) {
  std::uint64_t word;
  for (; text.size() - at >= sizeof word; at += sizeof word) {
    std::memcpy(&word, text.data() + at, sizeof word);
    if (const std::uint64_t found = test(word); found != 0) {
      return at + static_cast<std::size_t>(std::countr_zero(found)) / 8;
    }
  }
  word = kOnes * pad;
  if (at < text.size()) std::memcpy(&word, text.data() + at, text.size() - at);
  return at + static_cast<std::size_t>(std::countr_zero(test(word))) / 8;
}

// Where the run of bytes from `at` ends that are printable ASCII other than
// '"' and '\\': what a JSON string holds as it stands.
std::size_t PlainAsciiRunEnd(std::string_view text, std::size_t at) {
  return FirstByteWhere(text, at, '"', [](std::uint64_t word) {
    return (word & kHigh) | ByteBelow0x20(word) | ByteIs(word, '"') | ByteIs(word, '\\');
  });
}

// Where the run of JSON blanks from `at` ends.
std::size_t BlankRunEnd(std::string_view text, std::size_t at) {
  return FirstByteWhere(text, at, 'x', [](std::uint64_t word) {
    return ~(ByteIs(word, ' ') | ByteIs(word, '\n') | ByteIs(word, '\r') | ByteIs(word, '\t')) & kHigh;
  });
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

// A reader's body, with an allocation failure turned into a refusal:
// nothing escapes a reader.
template <typename Body>
auto Guarded(Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return DocumentError{"not enough memory to read the file"};
  }
}

// ---- JSON as read ----

// A JSON value as the documents use it. A number keeps its text as written,
// so a float is read from its own digits (and -0 keeps its sign); an array
// keeps no items, since no document holds one. Texts are views of the
// document's text, or of its JsonDocument's decoded strings.
struct JsonMember;
struct JsonValue {
  enum class Kind : std::uint8_t { Null, Boolean, Number, String, Array, Object };
  Kind kind = Kind::Null;
  std::string_view text;            // a number as written, a string's value, "true", "false", "null"
  std::vector<JsonMember> members;  // an object's, in the document's order

  const JsonValue* Find(std::string_view key) const;
};
struct JsonMember {
  std::string_view key;
  JsonValue value;
};
// The root and the strings that held escapes, decoded (a deque: its
// elements stay where they are when it grows or moves).
struct JsonDocument {
  JsonValue root;
  std::deque<std::string> decoded;
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

// Reads JSON text (RFC 8259) into a JsonValue. Written for the documents
// rather than taken from a JSON library because they need each number's own
// text, and a reader that refuses, before building anything unbounded,
// nesting beyond kMaxJsonDepth, more than kMaxJsonValues values and a key
// named twice in one object.
class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  std::variant<JsonDocument, DocumentError> Read() {
    if (text_.size() > kMaxDocumentBytes) return TooLong(text_.size());
    text_ = WithoutByteOrderMark(text_);
    JsonValue root;
    if (Value(root, 0, {})) {
      SkipBlanks();
      if (at_ == text_.size()) return JsonDocument{std::move(root), std::move(decoded_)};
      Syntax(Peek() == '\0' ? "a NUL byte" : "more text after the document");
    }
    return *error_;
  }

 private:
  // "line L, column C" of the current position (columns in bytes).
  std::string Position() const {
    const std::string_view before = text_.substr(0, at_);
    const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t lineStart = before.rfind('\n');
    const std::size_t column = at_ - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
  }
  bool Syntax(std::string_view what) { return Refuse("not valid JSON at " + Position() + ": " + std::string(what)); }
  bool Refuse(std::string message) {
    if (!error_) error_ = DocumentError{std::move(message)};
    return false;
  }

  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek() const { return text_[at_]; }

  void SkipBlanks() { at_ = BlankRunEnd(text_, at_); }

  // A key named twice in one object. Up to 64 keys through a small hash
  // table, beyond that by sorting: never n² comparisons.
  static std::optional<std::string_view> KeyNamedTwice(const std::vector<JsonMember>& members) {
    constexpr std::size_t kSlots = 128;
    if (members.size() <= kSlots / 2) {
      std::array<const std::string_view*, kSlots> slots{};
      for (const JsonMember& member : members) {
        std::size_t slot = std::hash<std::string_view>{}(member.key) % kSlots;
        while (slots[slot] != nullptr) {
          if (*slots[slot] == member.key) return member.key;
          slot = (slot + 1) % kSlots;
        }
        slots[slot] = &member.key;
      }
      return std::nullopt;
    }
    std::vector<std::string_view> keys;
    keys.reserve(members.size());
    for (const JsonMember& member : members) keys.push_back(member.key);
    std::sort(keys.begin(), keys.end());
    if (const auto twice = std::adjacent_find(keys.begin(), keys.end()); twice != keys.end()) return *twice;
    return std::nullopt;
  }

  bool Expect(char c, std::string_view what) {
    SkipBlanks();
    if (AtEnd() || Peek() != c) return Syntax(what);
    ++at_;
    return true;
  }

  // `depth`: containers open around this value; `key`: the member it is, for messages.
  bool Value(JsonValue& out, std::size_t depth, std::string_view key) {
    SkipBlanks();
    if (AtEnd()) return Syntax("the text ends where a value should be");
    if (++values_ > kMaxJsonValues) return Refuse("more than " + std::to_string(kMaxJsonValues) + " values");
    const char c = Peek();
    if (c == '{' || c == '[') {
      if (depth == kMaxJsonDepth) {
        return Refuse(Position() + ": values nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
      }
      return c == '{' ? Object(out, depth + 1, key) : Array(depth + 1);
    }
    if (c == '"') {
      out.kind = JsonValue::Kind::String;
      return String(out.text);
    }
    if (c == '-' || IsDigit(c)) return Number(out);
    for (const std::string_view literal : {"true", "false", "null"}) {
      if (text_.substr(at_, literal.size()) == literal) {
        out.kind = literal == "null" ? JsonValue::Kind::Null : JsonValue::Kind::Boolean;
        out.text = literal;
        at_ += literal.size();
        return true;
      }
    }
    return Syntax(c == '\0' ? "a NUL byte" : "no value starts with " + Quoted(text_.substr(at_, 1)));
  }

  bool Object(JsonValue& out, std::size_t depth, std::string_view key) {
    out.kind = JsonValue::Kind::Object;
    out.members.reserve(8);
    ++at_;
    SkipBlanks();
    if (!AtEnd() && Peek() == '}') {
      ++at_;
      return true;
    }
    while (true) {
      SkipBlanks();
      if (AtEnd() || Peek() != '"') return Syntax("a key in double quotes should be here");
      JsonMember member;
      if (!String(member.key) || !Expect(':', "a ':' should follow the key")) return false;
      if (!Value(member.value, depth, member.key)) return false;
      out.members.push_back(std::move(member));
      SkipBlanks();
      if (AtEnd() || (Peek() != ',' && Peek() != '}')) return Syntax("a ',' or '}' should be here");
      if (text_[at_++] == '}') break;
    }
    if (const std::optional<std::string_view> twice = KeyNamedTwice(out.members)) {
      return Refuse("the key " + Quoted(*twice) + (key.empty() && depth == 1 ? "" : " in " + Quoted(key)) +
                    " is named twice");
    }
    return true;
  }

  // No document holds an array: its items are read and dropped.
  bool Array(std::size_t depth) {
    ++at_;
    SkipBlanks();
    if (!AtEnd() && Peek() == ']') {
      ++at_;
      return true;
    }
    while (true) {
      JsonValue item;
      if (!Value(item, depth, {})) return false;
      SkipBlanks();
      if (AtEnd() || (Peek() != ',' && Peek() != ']')) return Syntax("a ',' or ']' should be here");
      if (text_[at_++] == ']') return true;
    }
  }

  bool Digits() {
    const std::size_t start = at_;
    while (!AtEnd() && IsDigit(Peek())) ++at_;
    return at_ > start || Syntax("a digit should be here");
  }

  bool Number(JsonValue& out) {
    const std::size_t start = at_;
    if (Peek() == '-') ++at_;
    if (!AtEnd() && Peek() == '0') {
      ++at_;
    } else if (!Digits()) {
      return false;
    }
    if (!AtEnd() && Peek() == '.') {
      ++at_;
      if (!Digits()) return false;
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      ++at_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) ++at_;
      if (!Digits()) return false;
    }
    out.kind = JsonValue::Kind::Number;
    out.text = text_.substr(start, at_ - start);
    return true;
  }

  std::optional<unsigned> Hex4() {
    if (text_.size() - at_ < 4) return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, value, 16);
    if (error != std::errc{} || end != text_.data() + at_ + 4) return std::nullopt;
    at_ += 4;
    return value;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool Escape(std::string& out) {
    ++at_;  // the backslash
    if (AtEnd()) return Syntax("the text ends inside a string");
    const char c = text_[at_++];
    constexpr std::string_view kFrom = "\"\\/bfnrt";
    constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
    if (const std::size_t simple = kFrom.find(c); simple != std::string_view::npos) {
      out += kTo[simple];
      return true;
    }
    if (c != 'u') return Syntax("no escape \\" + Excerpt(std::string_view(&c, 1)));
    std::optional<unsigned> code = Hex4();
    if (!code) return Syntax("\\u needs four hex digits");
    if (*code >= 0xDC00 && *code <= 0xDFFF) return Syntax("a lone low surrogate");
    if (*code >= 0xD800 && *code <= 0xDBFF) {
      if (text_.substr(at_, 2) != "\\u") return Syntax("a high surrogate without its low one");
      at_ += 2;
      const std::optional<unsigned> low = Hex4();
      if (!low || *low < 0xDC00 || *low > 0xDFFF) return Syntax("a high surrogate without its low one");
      *code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
    }
    AppendUtf8(out, *code);
    return true;
  }

  // One UTF-8 character of two to four bytes, checked as RFC 3629 has it.
  bool Utf8(std::string* out) {
    const auto byte = [this](std::size_t i) { return static_cast<unsigned char>(text_[at_ + i]); };
    const unsigned lead = byte(0);
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text_.size() - at_ < length) return Syntax("a string that is not UTF-8");
    const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(1) < low || byte(1) > high) return Syntax("a string that is not UTF-8");
    for (std::size_t i = 2; i < length; ++i) {
      if ((byte(i) & 0xC0) != 0x80) return Syntax("a string that is not UTF-8");
    }
    if (out != nullptr) out->append(text_.substr(at_, length));
    at_ += length;
    return true;
  }

  // A string's value: a view of the text when it holds no escape, else its
  // decoded copy, kept in decoded_.
  bool String(std::string_view& out) {
    ++at_;  // the opening quote
    const std::size_t start = at_;
    std::optional<std::string> decoded;
    while (true) {
      // Plain characters are taken a run at a time.
      const std::size_t run = at_;
      at_ = PlainAsciiRunEnd(text_, at_);
      if (decoded) decoded->append(text_.substr(run, at_ - run));
      if (AtEnd()) return Syntax("the text ends inside a string");
      const auto c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        out = decoded ? std::string_view(decoded_.emplace_back(std::move(*decoded))) : text_.substr(start, at_ - start);
        ++at_;
        return true;
      }
      if (c < 0x20) return Syntax(c == 0 ? "a NUL byte" : "a control character inside a string");
      if (c == '\\' && !decoded) decoded.emplace(text_.substr(start, at_ - start));
      if (!(c == '\\' ? Escape(*decoded) : Utf8(decoded ? &*decoded : nullptr))) return false;
    }
  }

  std::string_view text_;
  std::deque<std::string> decoded_;
  std::size_t at_ = 0;
  std::size_t values_ = 0;
  std::optional<DocumentError> error_;
};

std::variant<JsonDocument, DocumentError> ParseJson(std::string_view text) { return JsonReader(text).Read(); }

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
  if (value.kind != JsonValue::Kind::Number || value.text.find_first_of(".eE") != std::string_view::npos) {
    return std::nullopt;
  }
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(value.text.data(), value.text.data() + value.text.size(), number);
  if (error != std::errc{} || end != value.text.data() + value.text.size()) return std::nullopt;
  return number;
}

// ---- JSON as written ----

// Appends a JSON string of our own texts (labels, units, file names: UTF-8
// as they stand), escaped as JSON requires.
void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  while (!text.empty()) {
    // Runs that need no escape are appended whole.
    const std::size_t plain = PlainAsciiRunEnd(text, 0);
    out.append(text.substr(0, plain));
    if (plain == text.size()) break;
    const char c = text[plain];
    if (static_cast<unsigned char>(c) >= 0x80) {
      out += c;  // UTF-8 as it stands
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      out += escaped;
    }
    text.remove_prefix(plain + 1);
  }
  out += '"';
}

// A text that needs no escape in JSON: the record's field names and units,
// checked when compiling (below), are written without a scan.
struct PlainText {
  std::string_view text;
};

// Objects with two-space indent, members in the order given: the layout of
// the files written before (nlohmann's dump(2)), so a backup of equal
// settings stays byte for byte equal.
class JsonWriter {
 public:
  JsonWriter() {
    text_.reserve(4096);
    text_ += '{';
  }
  // A member whose value is JSON text.
  void Member(std::string_view key, std::string_view value) {
    Key(key);
    text_ += value;
  }
  void StringMember(std::string_view key, std::string_view value) {
    Key(key);
    AppendJsonString(text_, value);
  }
  void Member(PlainText key, std::string_view value) {
    Key(key);
    text_ += value;
  }
  void StringMember(PlainText key, PlainText value) {
    Key(key);
    AppendPlain(value);
  }
  void BeginObject(std::string_view key) {
    Key(key);
    text_ += '{';
    empty_.push_back(true);
  }
  void EndObject() {
    const bool empty = empty_.back();
    empty_.pop_back();
    if (!empty) {
      text_ += '\n';
      text_.append(2 * empty_.size(), ' ');
    }
    text_ += '}';
  }
  std::string Finish() {
    EndObject();
    text_ += '\n';
    return std::move(text_);
  }

 private:
  void NewLine() {
    if (!empty_.back()) text_ += ',';
    empty_.back() = false;
    text_ += '\n';
    text_.append(2 * empty_.size(), ' ');
  }
  void Key(std::string_view key) {
    NewLine();
    AppendJsonString(text_, key);
    text_ += ": ";
  }
  void Key(PlainText key) {
    NewLine();
    AppendPlain(key);
    text_ += ": ";
  }
  void AppendPlain(PlainText text) {
    text_ += '"';
    text_ += text.text;
    text_ += '"';
  }

  std::string text_;
  std::vector<bool> empty_{true};  // per open object: nothing written in it yet
};

// ---- parameter record ----

constexpr bool IsPlainText(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x80 || c == '"' || c == '\\') return false;
  }
  return true;
}
constexpr bool NamesArePlainText(std::span<const ParamField> fields) {
  for (const ParamField& field : fields) {
    if (!IsPlainText(field.name) || !IsPlainText(field.unit)) return false;
  }
  return true;
}
static_assert(NamesArePlainText(kParamFields) && NamesArePlainText(kControllerInfoFields) &&
              NamesArePlainText(kClockFields));

// Every field of `fields` as a member object `name`: integers as numbers,
// floats in their spelling (a number when finite, else a string).
void FieldsObject(JsonWriter& out, std::string_view name, std::span<const ParamField> fields,
                  const ControllerParams& values) {
  out.BeginObject(name);
  for (const ParamField& field : fields) {
    std::visit(
        [&](auto member) {
          const auto value = values.*member;
          if constexpr (kIsFloat<decltype(value)>) {
            if (std::isfinite(value)) {
              out.Member(PlainText{field.name}, ShortestFloatText(value));
            } else {
              out.Member(PlainText{field.name}, "\"" + FloatText(value) + "\"");  // no escape in a float's spelling
            }
          } else {
            char digits[8];
            const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<int>(value)).ptr;
            out.Member(PlainText{field.name}, std::string_view(digits, static_cast<std::size_t>(end - digits)));
          }
        },
        field.member);
  }
  out.EndObject();
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
  // Built only for a refusal: most fields are taken.
  const auto refuse = [&field](const std::string& why) {
    return DocumentError{"field \"" + std::string(field.name) + "\": " + why};
  };
  if (const auto member = std::get_if<float ControllerParams::*>(&field.member)) {
    std::optional<float> number;
    if (value.kind == JsonValue::Kind::Number) {
      number = FloatFromText(value.text);
      if (!number) {
        return refuse(Excerpt(value.text) + " is out of range (beyond the float range, " +
                      FloatText(-std::numeric_limits<float>::max()) + ".." +
                      FloatText(std::numeric_limits<float>::max()) + ")");
      }
    } else if (value.kind == JsonValue::Kind::String) {
      number = FloatFromText(value.text);
      if (!number || std::isfinite(*number)) {
        return refuse(ValueExcerpt(value) +
                      " is not a number (finite values are written as numbers; \"inf\", \"-inf\", "
                      "\"nan\" and \"nan(0xHHHHHHHH)\" as strings)");
      }
    } else {
      return refuse("not a number");
    }
    if (check == ValueCheck::Ranges && !std::isfinite(*number)) {
      return refuse(FloatText(*number) + " is out of range (a finite number)");
    }
    values.*(*member) = *number;
    return std::nullopt;
  }
  if (value.kind != JsonValue::Kind::Number) return refuse("not a number");
  if (value.text.find_first_of(".eE") != std::string_view::npos) {
    return refuse("must be a whole number");
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
            return refuse(Excerpt(value.text) + " is out of range (" + std::to_string(kLow) + ".." +
                          std::to_string(kHigh) + ")");
          }
          if (check == ValueCheck::Ranges && (!fits || !InRange(field, *number))) {
            return refuse(Excerpt(value.text) + " is out of range (" + RangeText(field) + ")");
          }
          values.*member = static_cast<T>(*number);
        }
        return std::nullopt;
      },
      field.member);
}

constexpr CalibName kCalibNames[] = {
    {CalibChannel::Temperature, "temperature"},
    {CalibChannel::Humidity, "humidity"},
    {CalibChannel::AirPressure, "pressure"},
    {CalibChannel::Speed, "speed"},
    {CalibChannel::TorqueFrontLeft, "torque-fl"},
    {CalibChannel::TorqueFrontRight, "torque-fr"},
    {CalibChannel::TorqueRearLeft, "torque-rl"},
    {CalibChannel::TorqueRearRight, "torque-rr"},
    {CalibChannel::Loss, "loss"},
    {CalibChannel::Variable, "var"},
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

bool IsBackupFile(std::string_view name) {
  if (name == kParamsFile || name == kChannelsFile) return true;
  return std::any_of(std::begin(kCalibNames), std::end(kCalibNames),
                     [name](const CalibName& calib) { return CalibFileName(calib.channel) == name; });
}

// "files": the roles' file names, the tables' files by their names (any order).
bool ListsTheBackupFiles(const JsonValue& files) {
  const auto names = [](const JsonValue* value, std::string_view file) {
    return value != nullptr && value->kind == JsonValue::Kind::String && value->text == file;
  };
  if (files.kind != JsonValue::Kind::Object || files.members.size() != 3 || !names(files.Find("params"), kParamsFile) ||
      !names(files.Find("channels"), kChannelsFile)) {
    return false;
  }
  const JsonValue* calib = files.Find("calib");
  return calib != nullptr && calib->kind == JsonValue::Kind::Object &&
         calib->members.size() == std::size(kCalibNames) &&
         std::all_of(std::begin(kCalibNames), std::end(kCalibNames), [calib, &names](const CalibName& name) {
           return names(calib->Find(name.name), CalibFileName(name.channel));
         });
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

std::string ParamsToJson(const ControllerParams& values, bool withClock) {
  JsonWriter out;
  FieldsObject(out, "controller", kControllerInfoFields, values);
  if (withClock) FieldsObject(out, "clock", kClockFields, values);
  FieldsObject(out, "settings", kParamFields, values);
  out.BeginObject("units");
  for (const ParamField& field : kParamFields) {
    if (!field.unit.empty()) out.StringMember(PlainText{field.name}, PlainText{field.unit});
  }
  out.EndObject();
  return out.Finish();
}

std::variant<ControllerParams, DocumentError> ParamsFromJson(std::string_view text, const ControllerParams& base,
                                                             ValueCheck check) {
  return Guarded([&]() -> std::variant<ControllerParams, DocumentError> {
    auto parsed = ParseJson(text);
    if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
    const JsonValue& document = std::get<JsonDocument>(parsed).root;
    if (auto error = CheckTop(document, {"controller", "clock", "settings", "units"}, "settings")) return *error;
    ControllerParams values = base;
    std::size_t next = 0;
    for (const JsonMember& member : document.Find("settings")->members) {
      const ParamField* field = FieldNamed(kParamFields, member.key, next);
      if (field == nullptr) {
        const char* why = FieldNamed(kControllerInfoFields, member.key) != nullptr
                              ? "the controller's own, cannot be written"
                          : FieldNamed(kClockFields, member.key) != nullptr
                              ? "the controller's clock, read-only (a write sets it to the PC's time)"
                              : "unknown field";
        return DocumentError{"field " + Quoted(member.key) + ": " + why};
      }
      if (auto error = TakeField(*field, member.value, check, values)) return *error;
      next = static_cast<std::size_t>(field - kParamFields) + 1;
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
  JsonWriter out;
  out.BeginObject("channels");
  const auto fields = ChannelFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].replyByte == kNoByte) continue;
    out.Member(fields[i].label, std::to_string(static_cast<int>(ChannelByteFromText(editor.Text(i)))));
  }
  out.EndObject();
  return out.Finish();
}

std::variant<std::map<std::size_t, std::uint8_t>, DocumentError> ChannelMapFromJson(std::string_view text) {
  return Guarded([&]() -> std::variant<std::map<std::size_t, std::uint8_t>, DocumentError> {
    auto parsed = ParseJson(text);
    if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
    const JsonValue& document = std::get<JsonDocument>(parsed).root;
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
                               FloatText(std::numeric_limits<float>::max()) + ", inf, -inf, nan or nan(0xHHHHHHHH))"};
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

std::string CalibFileName(CalibChannel channel) { return "calib-" + std::string(CalibNameOf(channel)) + ".csv"; }

std::string BackupManifest(const std::vector<std::pair<std::string, std::string>>& files) {
  JsonWriter out;
  out.StringMember("format", kBackupFormat);
  out.BeginObject("files");
  out.StringMember("params", kParamsFile);
  out.StringMember("channels", kChannelsFile);
  out.BeginObject("calib");
  for (const CalibName& name : kCalibNames) out.StringMember(name.name, CalibFileName(name.channel));
  out.EndObject();
  out.EndObject();
  out.BeginObject("digests");
  for (const auto& [name, content] : files) out.StringMember(name, DigestOf(content));
  out.EndObject();
  return out.Finish();
}

bool Manifest::Unchanged(std::string_view file, std::string_view content) const {
  const auto digest = digests.find(std::string(file));
  return digest != digests.end() && digest->second == DigestOf(content);
}

std::variant<Manifest, DocumentError> ReadManifest(std::string_view text) {
  return Guarded([&]() -> std::variant<Manifest, DocumentError> {
    auto parsed = ParseJson(text);
    if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
    const JsonValue& document = std::get<JsonDocument>(parsed).root;
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
        if (!IsBackupFile(member.key))
          return DocumentError{"a digest of " + Quoted(member.key) + ", no file of a backup"};
        std::optional<std::string> digest = DigestText(member.value);
        if (!digest) {
          return DocumentError{"the digest of " + Quoted(member.key) + " is not \"fnv1a64:\" and 16 hex digits"};
        }
        manifest.digests[std::string(member.key)] = std::move(*digest);
      }
    }
    return manifest;
  });
}

}  // namespace rolta::cli
