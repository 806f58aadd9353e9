// rolta-cli's files: parameter and channel-map JSON, calibration CSV and the
// backup manifest are refused whole with the field or line named, and
// round-trip exactly, any float bit pattern included.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <variant>

#include "cli/cli_documents.h"

namespace rolta::test {
namespace {

using namespace cli;

template <typename T>
std::string ErrorOf(const std::variant<T, DocumentError>& result) {
  const auto* error = std::get_if<DocumentError>(&result);
  return error ? error->message : std::string();
}

std::uint32_t Bits(float value) { return std::bit_cast<std::uint32_t>(value); }
float OfBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

struct BadDocument {
  std::string text;
  std::string messageHas;
};

TEST(CliDocuments, BadParameterFilesAreRefusedNamingTheField) {
  const BadDocument rows[] = {
      {"{", "not valid JSON"},
      {"[]", "not a JSON object"},
      {R"({"settings": {"liftSpeed": 3}, "extra": {}})", "unknown key \"extra\""},
      {R"({"controller": {}})", "no \"settings\""},
      {R"({"settings": {"noSuchField": 1}})", "\"noSuchField\": unknown field"},
      {R"({"settings": {"kernelVersion": 800}})", "\"kernelVersion\": the controller's own"},
      {R"({"settings": {"clockYear": 2024}})", "\"clockYear\": the controller's clock, read-only"},
      {R"({"settings": {"liftSpeed": "3"}})", "\"liftSpeed\": not a number"},
      {R"({"settings": {"liftSpeed": [3]}})", "\"liftSpeed\": not a number"},
      {R"({"settings": {"liftSpeed": 3.5}})", "\"liftSpeed\": must be a whole number"},
      {R"({"settings": {"liftSpeed": 6}})", "\"liftSpeed\": 6 is out of range (1..5)"},
      {R"({"settings": {"encoderTeeth": 65536}})", "\"encoderTeeth\""},
      {R"({"settings": {"encoderTeeth": 99999999999999999999999}})",
       "\"encoderTeeth\": 99999999999999999999999 is out"},
      {R"({"settings": {"baudDivisor": 4}})", "one of 1 2 3 6 12"},
      {R"({"settings": {"autoRestoreSeconds": 60}})", "120..32767 or 0"},
      {R"({"settings": {"valveSettleTime": 2}})", "3..20 or 255"},
      {R"({"settings": {"benchCorrection": -128}})", "\"benchCorrection\""},
      {R"({"settings": {"rollerSize": 1e39}})", "\"rollerSize\": 1e39 is out of range"},
      {R"({"settings": {"rollerSize": 1e999}})", "\"rollerSize\": 1e999 is out of range"},
      {R"({"settings": {"rollerSize": -3.4028236e38}})", "\"rollerSize\""},
      {R"({"settings": {"rollerSize": "1.5"}})", "\"rollerSize\": \"1.5\" is not a number"},
      {R"({"settings": {"rollerSize": "infinity"}})", "\"rollerSize\": \"infinity\" is not a number"},
      {R"({"settings": {"rollerSize": null}})", "\"rollerSize\": not a number"},
      {R"({"settings": {"rollerSize": "nan"}})", "\"rollerSize\": nan is out of range (a finite number)"},
      {R"({"settings": {"liftSpeed": 3, "liftSpeed": 4}})", "the key \"liftSpeed\" in \"settings\" is named twice"},
      {R"({"settings": {}, "settings": {}})", "the key \"settings\" is named twice"},
      {std::string(R"({"settings": {"liftSpeed": 3}})") + '\0' + "{",
       "not valid JSON at line 1, column 31: a NUL byte"},
      {std::string(R"({"settings": {"liftSpeed": "3)") + '\0' + R"("}})", "not valid JSON"},
      {std::string(100000, '[') + std::string(100000, ']'), "line 1, column 65: values nested deeper than 64 levels"},
      {std::string(kMaxDocumentBytes, '['), "nested deeper than 64"},
      {std::string(kMaxDocumentBytes + 1, ' '), "4194305 bytes, more than the 4194304"},
  };
  for (const BadDocument& row : rows) {
    const std::string message = ErrorOf(ParamsFromJson(row.text, {}));
    EXPECT_NE(message.find(row.messageHas), std::string::npos) << row.text.substr(0, 80) << " -> " << message;
    // Messages stay short whatever the file holds.
    EXPECT_LT(message.size(), 300u) << message.substr(0, 300);
  }
  std::string many = "[";
  for (std::size_t i = 0; i <= kMaxJsonValues; ++i) many += "0,";
  many += "0]";
  EXPECT_NE(ErrorOf(ParamsFromJson(many, {})).find("more than 65536 values"), std::string::npos);
}

// The JSON grammar itself: strings (escapes, surrogate pairs, UTF-8),
// numbers, literals and arrays, with the position of what is wrong.
TEST(CliDocuments, JsonTextIsReadAsRfc8259HasIt) {
  const auto units = [](const std::string& value) { return R"({"settings": {}, "units": {"a": )" + value + "}}"; };
  const BadDocument rows[] = {
      // an empty messageHas: taken
      {units(R"("\u00e9\n\t\"\\\/\b\f\r")"), ""},
      {units(R"("\ud83d\ude00")"), ""},
      {units("\"\xF0\x9F\x98\x80 \xE6\xB6\xA1\""), ""},
      {units(R"([1, {"b": [true, false, null, -0.5e+3]}, []])"), ""},
      {units(R"("\ud83d")"), "a high surrogate without its low one"},
      {units(R"("\ud83d\u0041")"), "a high surrogate without its low one"},
      {units(R"("\ude00")"), "a lone low surrogate"},
      {units(R"("\x")"), "no escape \\x"},
      {units(R"("\u12")"), "\\u needs four hex digits"},
      {units("\"\xC3\x28\""), "not UTF-8"},
      {units("\"\xC0\xAF\""), "not UTF-8"},          // overlong
      {units("\"\xED\xA0\x80\""), "not UTF-8"},      // a surrogate's bytes
      {units("\"\xF4\x90\x80\x80\""), "not UTF-8"},  // beyond U+10FFFF
      {units("\"\xE6\xB6\""), "not UTF-8"},          // cut short
      {units("\"a\tb\""), "a control character inside a string"},
      {units("\"abc"), "the text ends inside a string"},
      {units("01"), "a ',' or '}' should be here"},
      {units("1."), "a digit should be here"},
      {units("-"), "a digit should be here"},
      {units("1e+"), "a digit should be here"},
      {units("tru"), "no value starts with \"t\""},
      {units("[1,]"), "no value starts with \"]\""},
      {units("'a'"), "no value starts with \"'\""},
      {R"({"settings": {"liftSpeed": 3},})", "a key in double quotes should be here"},
      {R"({"settings" {}})", "a ':' should follow the key"},
      {"{\n  \"settings\": {\n    \"liftSpeed\": 3,\n  }\n}",
       "not valid JSON at line 4, column 3: a key in double quotes"},
      {"{\"settings\": {}} x", "not valid JSON at line 1, column 18: more text after the document"},
      {"", "the text ends where a value should be"},
  };
  for (const BadDocument& row : rows) {
    const std::string message = ErrorOf(ParamsFromJson(row.text, {}));
    if (row.messageHas.empty()) {
      EXPECT_EQ(message, "") << row.text;
    } else {
      EXPECT_NE(message.find(row.messageHas), std::string::npos) << row.text << " -> " << message;
    }
  }
  // A key written with escapes is the same key.
  const auto channels = ChannelMapFromJson(R"({"channels": {"\u6da1\u6d41\u673a": 7}})");
  ASSERT_EQ(ErrorOf(channels), "");
  EXPECT_EQ(std::get<0>(channels).at(ChannelMapEditor::FieldIndex("涡流机")), 7);
}

TEST(CliDocuments, ValuesAreCheckedAgainstTheirTypeWhenTakenAsRead) {
  const struct {
    std::string settings;
    bool ranges, asRead;
  } rows[] = {
      {R"("liftSpeed": 255)", false, true},
      {R"("liftSpeed": 256)", false, false},
      {R"("liftSpeed": -1)", false, false},
      {R"("liftSpeed": 2.0)", false, false},
      {R"("benchCorrection": -128)", false, true},
      {R"("benchCorrection": 128)", false, false},
      {R"("autoRestoreSeconds": -32768)", false, true},
      {R"("autoRestoreSeconds": 32768)", false, false},
      {R"("encoderTeeth": 65535)", true, true},
      {R"("encoderTeeth": 65536)", false, false},
      {R"x("rollerSize": "nan(0xFFFFFFFF)")x", false, true},
      {R"("rollerSize": "-INF")", false, true},
      {R"("rollerSize": 3.4028235e+38)", true, true},
      {R"x("rollerSize": "nan(0x00000000)")x", false, false},
  };
  for (const auto& row : rows) {
    const std::string text = "{\"settings\": {" + row.settings + "}}";
    EXPECT_EQ(std::holds_alternative<ControllerParams>(ParamsFromJson(text, {})), row.ranges) << text;
    const auto asRead = ParamsFromJson(text, {}, ValueCheck::AsRead);
    EXPECT_EQ(std::holds_alternative<ControllerParams>(asRead), row.asRead) << text << " -> " << ErrorOf(asRead);
  }
}

TEST(CliDocuments, FloatsHaveOneSpellingThatKeepsEveryBit) {
  const struct {
    std::uint32_t bits;
    const char* text;
  } spelled[] = {
      {0x7FC00000, "nan"},
      {0xFFFFFFFF, "nan(0xFFFFFFFF)"},
      {0x7F800001, "nan(0x7F800001)"},
      {0xFFC00000, "nan(0xFFC00000)"},
      {0x7F800000, "inf"},
      {0xFF800000, "-inf"},
      {0x7F7FFFFF, "3.4028235e+38"},
      {0xFF7FFFFF, "-3.4028235e+38"},
      {0x80000000, "-0"},
      {0x00000001, "1e-45"},
      {0x3DCCCCCD, "0.1"},
      {0x00000000, "0"},
  };
  for (const auto& row : spelled) {
    EXPECT_EQ(FloatText(OfBits(row.bits)), row.text);
    const std::optional<float> back = FloatFromText(row.text);
    ASSERT_TRUE(back) << row.text;
    EXPECT_EQ(Bits(*back), row.bits) << row.text;
  }
  const struct {
    const char* text;
    std::optional<std::uint32_t> bits;
  } read[] = {
      {"NaN", 0x7FC00000},
      {"INF", 0x7F800000},
      {"nan(0x7fc00001)", 0x7FC00001},
      {"+1.5", 0x3FC00000},
      {"1e-50", 0},
      {"-1e-50", 0x80000000},
      {"3.40282356e38", 0x7F7FFFFF},
      {".5", 0x3F000000},
      {"nan(0x00000000)", {}},
      {"nan(0x7F800000)", {}},
      {"nan(0x123)", {}},
      {"nan()", {}},
      {"infinity", {}},
      {"+inf", {}},
      {"-nan", {}},
      {"1e39", {}},
      {"3.4028236e38", {}},
      {"-1e999", {}},
      {" 1", {}},
      {"0x10", {}},
      {"", {}},
      {"-", {}},
      {"1,", {}},
      {"+-1", {}},
  };
  for (const auto& row : read) {
    const std::optional<float> value = FloatFromText(row.text);
    EXPECT_EQ(value.has_value(), row.bits.has_value()) << row.text;
    if (value && row.bits) {
      EXPECT_EQ(Bits(*value), *row.bits) << row.text;
    }
  }
}

TEST(CliDocuments, ParametersRoundTripAndPartialFilesKeepTheRest) {
  ControllerParams values;
  // Codes the console's form can send (every selector on its first entry).
  values.loadMode = values.liftModule = values.motorModule = values.retarderType = 10;
  values.motorControl = values.lugdownScanMode = 10;
  values.speedThreshold = 1;
  values.rollerSize = 216.3f;
  values.stabilityBand = 0.005f;
  values.benchCorrection = -127;
  values.valveSettleTime = 255;
  values.autoRestoreSeconds = 120;
  values.baudDivisor = 6;
  values.liftSpeed = 5;
  values.kernelVersion = 734;
  values.clockYear = 2024;
  values.clockSecond = 59;
  const std::string text = ParamsToJson(values);
  EXPECT_NE(text.find("\"stabilityBand\": 0.005,"), std::string::npos) << text;
  EXPECT_NE(text.find("\"clock\": {\n    \"clockYear\": 2024,\n    \"clockMonth\": 0,"), std::string::npos) << text;
  EXPECT_NE(text.find("\"clockSecond\": 59\n  },"), std::string::npos) << text;
  const auto back = ParamsFromJson(text, {});
  ASSERT_TRUE(std::holds_alternative<ControllerParams>(back)) << ErrorOf(back);
  ControllerParams expected = values;
  // The controller's own fields and the clock are never taken from a file.
  expected.kernelVersion = expected.clockYear = 0;
  expected.clockSecond = 0;
  EXPECT_EQ(std::get<ControllerParams>(back), expected);
  const std::string again = ParamsToJson(std::get<ControllerParams>(back));
  EXPECT_EQ(again.substr(again.find("\"settings\"")), text.substr(text.find("\"settings\"")));

  const auto partial = ParamsFromJson(R"({"settings": {"encoderTeeth": 720}})", values);
  ControllerParams changed = values;
  changed.encoderTeeth = 720;
  EXPECT_EQ(std::get<ControllerParams>(partial), changed);
  EXPECT_EQ(ParamsDifferences(values, changed).size(), 1u);
  EXPECT_EQ(ParamsDifferences(values, changed)[0].rfind("encoderTeeth", 0), 0u);

  // A byte-order mark and CRLF line ends are taken; "-0" keeps its sign.
  const auto edited =
      ParamsFromJson("\xEF\xBB\xBF{\r\n\"settings\": {\"rollerSize\": -0,\r\n\"liftSpeed\": 2}}\r\n", {});
  ASSERT_TRUE(std::holds_alternative<ControllerParams>(edited)) << ErrorOf(edited);
  EXPECT_EQ(Bits(std::get<ControllerParams>(edited).rollerSize), 0x80000000u);
}

TEST(CliDocuments, ReadBackComparesFloatsByTheirBits) {
  ControllerParams sent;
  sent.rollerSize = OfBits(0x7FC00000);
  sent.stabilityBand = 0.0f;
  ControllerParams back = sent;
  EXPECT_TRUE(ParamsDifferences(sent, back).empty());
  back.rollerSize = OfBits(0x7FC00001);
  back.stabilityBand = -0.0f;
  const std::vector<std::string> lines = ParamsDifferences(sent, back);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "rollerSize (sent nan, the controller holds nan(0x7FC00001))");
  EXPECT_EQ(lines[1], "stabilityBand (sent 0, the controller holds -0)");
  EXPECT_TRUE(SameFloatBits(OfBits(0xFFFFFFFF), OfBits(0xFFFFFFFF)));
  EXPECT_FALSE(SameFloatBits(0.0f, -0.0f));
}

// Any record the controller can hold, erased EEPROM and NaN floats included,
// comes back byte for byte in every field the document carries.
TEST(CliDocuments, AnyRecordRoundTripsThroughItsDocumentAsRead) {
  std::mt19937 random(20240601);
  const std::uint32_t floats[] = {0x7FC00000, 0xFFFFFFFF, 0x7F800001, 0x7F800000, 0xFF800000,
                                  0x7F7FFFFF, 0x80000000, 0x00000001, 0x807FFFFF};
  for (int round = 0; round < 300; ++round) {
    ParamsPayload payload;
    for (auto& byte : payload) byte = static_cast<std::uint8_t>(random());
    if (round == 0) payload.fill(0xFF);
    // Frame offsets 14 (rollerSize) and 53 (stabilityBand): special patterns half the time.
    for (std::size_t at : {14u - 6u, 53u - 6u}) {
      if (random() % 2 == 0) PutUInt32LE(&payload[at], floats[random() % std::size(floats)]);
    }
    const ControllerParams read = DecodeParams(payload);
    const auto taken = ParamsFromJson(ParamsToJson(read), {}, ValueCheck::AsRead);
    ASSERT_TRUE(std::holds_alternative<ControllerParams>(taken)) << ErrorOf(taken);
    ControllerParams back = std::get<ControllerParams>(taken);
    // What the document shows but does not carry back.
    back.kernelVersion = read.kernelVersion, back.hardwareVersion = read.hardwareVersion;
    back.hardwareModel = read.hardwareModel, back.reserved66 = read.reserved66;
    back.clockYear = read.clockYear, back.clockMonth = read.clockMonth, back.clockDay = read.clockDay;
    back.clockHour = read.clockHour, back.clockMinute = read.clockMinute, back.clockSecond = read.clockSecond;
    ParamWriteFrame frame;
    std::copy(payload.begin(), payload.end(), frame.data() + kPayloadOffset);
    EncodeParams(back, std::nullopt, frame);
    // Payload bytes 0-3 are the write code, built at send time.
    ASSERT_TRUE(std::equal(payload.begin() + 4, payload.end(), frame.data() + kPayloadOffset + 4)) << round;
    EXPECT_TRUE(ParamsDifferences(read, back).empty());
  }
}

TEST(CliDocuments, BadChannelMapsAndCsvAreRefused) {
  const BadDocument channels[] = {
      {R"({"channels": {"没有": 1}})", "\"没有\": unknown channel"},
      {R"({"channels": {"保留3#": 1}})", "reserved"},
      {R"({"channels": {"涡流机": 256}})", "256 is not a channel number"},
      {R"({"channels": {"涡流机": -1}})", "-1 is not a channel number"},
      {R"({"channels": {"涡流机": 1.0}})", "1.0 is not a channel number"},
      {R"({"channels": {"涡流机": "7"}})", "not a channel number"},
      {R"({"channels": {"涡流机": 1, "涡流机": 2}})", "the key \"涡流机\" in \"channels\" is named twice"},
      {R"({"map": {}})", "unknown key"},
  };
  for (const BadDocument& row : channels) {
    const std::string message = ErrorOf(ChannelMapFromJson(row.text));
    EXPECT_NE(message.find(row.messageHas), std::string::npos) << row.text << " -> " << message;
  }
  const BadDocument csv[] = {
      {"first,second\n1\n", "line 2: \"1\" needs two values"},
      {"1,2,3\n", "line 1: \"1,2,3\" needs two values"},
      {"1,abc\n", "line 1: \"abc\" is not a value"},
      {"1e40,1\n", "line 1: \"1e40\" is not a value (a number within -3.4028235e+38..3.4028235e+38"},
      {"1,+inf\n", "\"+inf\" is not a value"},
      {std::string("1,2\0\n", 5), "line 1: \"2\\x00\" is not a value"},
      {"0,0\n1,1\n2,2\n3,3\n4,4\n5,5\n6,6\n7,7\n8,8\n9,9\n10,10\n", "line 11: the table holds at most 10"},
      {std::string(kMaxDocumentBytes, '1'), "line 1: \"1111111111111111111111111111111111111111...\" needs two"},
      {std::string(kMaxDocumentBytes + 1, '\n'), "more than the 4194304"},
  };
  for (const BadDocument& row : csv) {
    const std::string message = ErrorOf(CalibFromCsv(row.text, 10));
    EXPECT_NE(message.find(row.messageHas), std::string::npos) << row.text.substr(0, 80) << " -> " << message;
  }
}

TEST(CliDocuments, CalibrationCsvCarriesExactValues) {
  CalibTable table(10);
  table.SetCount(6);
  const std::uint32_t bits[][2] = {{0x3DCCCCCD, 0xC0600000}, {0x33D6BF95, 0x47F1206C}, {0x40200000, 0x80000000},
                                   {0x7FC00000, 0xFFFFFFFF}, {0x7F800000, 0xFF800000}, {0x7F7FFFFF, 0x00000001}};
  for (std::size_t i = 0; i < 6; ++i) {
    std::memcpy(table.FirstBytes(i), &bits[i][0], 4);
    std::memcpy(table.SecondBytes(i), &bits[i][1], 4);
  }
  const std::string csv = CalibToCsv(table, 6);
  EXPECT_EQ(csv,
            "first,second\n0.1,-3.5\n1e-07,123456.84\n2.5,-0\nnan,nan(0xFFFFFFFF)\ninf,-inf\n"
            "3.4028235e+38,1e-45\n");
  const auto back = CalibFromCsv(csv + "\n", 10);
  ASSERT_TRUE(std::holds_alternative<CalibTable>(back)) << ErrorOf(back);
  EXPECT_EQ(std::get<CalibTable>(back), table);
  // A byte-order mark, CRLF, blanks around values and either case of the spellings.
  const auto edited = CalibFromCsv(
      "\xEF\xBB\xBF"
      "first,second\r\n 1 ,\tNaN\r\n\r\n2,INF\r\n",
      20);
  ASSERT_TRUE(std::holds_alternative<CalibTable>(edited)) << ErrorOf(edited);
  EXPECT_EQ(std::get<CalibTable>(edited).Capacity(), 20u);
  EXPECT_EQ(std::get<CalibTable>(edited).Count(), 2);
  EXPECT_EQ(Bits(std::get<CalibTable>(edited).Second(0)), 0x7FC00000u);
  EXPECT_EQ(std::get<CalibTable>(edited).Second(1), std::numeric_limits<float>::infinity());

  EXPECT_EQ(CalibChannelByName("var"), CalibChannel::Variable);
  EXPECT_EQ(CalibChannelByName("前左力矩"), CalibChannel::TorqueFrontLeft);
  EXPECT_EQ(CalibChannelByName("压力"), CalibChannel::AirPressure);  // the store caption
  EXPECT_FALSE(CalibChannelByName("nothing"));
}

TEST(CliDocuments, ManifestDigestsTellUnchangedFilesFromEditedOnes) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"params.json", "{}\n"}, {"calib-var.csv", "first,second\n"}, {"channels.json", "a"}};
  const std::string text = BackupManifest(files);
  // The published 64-bit FNV-1a of "a".
  EXPECT_NE(text.find("\"channels.json\": \"fnv1a64:af63dc4c8601ec8c\""), std::string::npos) << text;
  const auto read = ReadManifest(text);
  ASSERT_TRUE(std::holds_alternative<Manifest>(read)) << ErrorOf(read);
  const Manifest& manifest = std::get<Manifest>(read);
  EXPECT_TRUE(manifest.Unchanged("params.json", "{}\n"));
  EXPECT_FALSE(manifest.Unchanged("params.json", "{} \n"));
  EXPECT_TRUE(manifest.Unchanged("calib-var.csv", "first,second\n"));
  EXPECT_FALSE(manifest.Unchanged("calib-speed.csv", "first,second\n"));  // no digest recorded

  // An older backup's manifest, without digests, stays valid; nothing counts as unchanged.
  std::string older = text.substr(0, text.find(",\n  \"digests\"")) + "\n}\n";
  const auto old = ReadManifest(older);
  ASSERT_TRUE(std::holds_alternative<Manifest>(old)) << ErrorOf(old) << older;
  EXPECT_TRUE(std::get<Manifest>(old).digests.empty());

  const std::string head = text.substr(0, text.find("\"digests\""));
  const BadDocument rows[] = {
      {R"({"format": "rolta-backup/1", "files": {}})", "lists other files"},
      {R"({"format": "rolta-backup/2"})", "not a backup manifest of format rolta-backup/1"},
      {head + R"("digests": {"other.txt": "fnv1a64:0000000000000000"}})", "a digest of \"other.txt\", no file"},
      {head + R"("digests": {"params.json": "fnv1a64:00000000000000g0"}})", "digest of \"params.json\" is not"},
      {head + R"("digests": {"params.json": "sha256:0000000000000000"}})", "digest of \"params.json\" is not"},
      {head + R"("digests": []})", "\"digests\" is not an object"},
      {head + R"("digests": {}, "when": {}})", "unknown key \"when\""},
  };
  for (const BadDocument& row : rows) {
    const std::string message = ErrorOf(ReadManifest(row.text));
    EXPECT_NE(message.find(row.messageHas), std::string::npos) << row.text << " -> " << message;
  }
  // Either case of the hex digits; the digest of nothing is the FNV offset basis.
  const auto upper = ReadManifest(head + R"("digests": {"params.json": "FNV1A64:CBF29CE484222325"}})");
  ASSERT_TRUE(std::holds_alternative<Manifest>(upper)) << ErrorOf(upper);
  EXPECT_TRUE(std::get<Manifest>(upper).Unchanged("params.json", ""));
}

}  // namespace
}  // namespace rolta::test
