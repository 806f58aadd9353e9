// rolta-cli's files: parameter and channel-map JSON and calibration CSV are
// refused whole with the field or line named, and round-trip exactly.
#include <gtest/gtest.h>

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
      {R"({"settings": {"clockYear": 2024}})", "\"clockYear\": unknown field"},
      {R"({"settings": {"liftSpeed": "3"}})", "\"liftSpeed\": not a number"},
      {R"({"settings": {"liftSpeed": 3.5}})", "\"liftSpeed\": must be a whole number"},
      {R"({"settings": {"liftSpeed": 6}})", "\"liftSpeed\": 6 is out of range (1..5)"},
      {R"({"settings": {"encoderTeeth": 65536}})", "\"encoderTeeth\""},
      {R"({"settings": {"baudDivisor": 4}})", "one of 1 2 3 6 12"},
      {R"({"settings": {"autoRestoreSeconds": 60}})", "120..32767 or 0"},
      {R"({"settings": {"valveSettleTime": 2}})", "3..20 or 255"},
      {R"({"settings": {"benchCorrection": -128}})", "\"benchCorrection\""},
      {R"({"settings": {"rollerSize": 1e39}})", "\"rollerSize\""},
  };
  for (const BadDocument& row : rows) {
    const std::string message = ErrorOf(ParamsFromJson(row.text, {}));
    EXPECT_NE(message.find(row.messageHas), std::string::npos) << row.text << " -> " << message;
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
  const std::string text = ParamsToJson(values);
  EXPECT_NE(text.find("\"stabilityBand\": 0.005,"), std::string::npos) << text;
  const auto back = ParamsFromJson(text, {});
  ASSERT_TRUE(std::holds_alternative<ControllerParams>(back)) << ErrorOf(back);
  ControllerParams expected = values;
  expected.kernelVersion = 0;  // the controller's own fields are never taken from a file
  EXPECT_EQ(std::get<ControllerParams>(back), expected);
  const std::string again = ParamsToJson(std::get<ControllerParams>(back));
  EXPECT_EQ(again.substr(again.find("\"settings\"")), text.substr(text.find("\"settings\"")));

  const auto partial = ParamsFromJson(R"({"settings": {"encoderTeeth": 720}})", values);
  ControllerParams changed = values;
  changed.encoderTeeth = 720;
  EXPECT_EQ(std::get<ControllerParams>(partial), changed);
  EXPECT_EQ(ParamsDifferences(values, changed).size(), 1u);
  EXPECT_EQ(ParamsDifferences(values, changed)[0].rfind("encoderTeeth", 0), 0u);
}

TEST(CliDocuments, BadChannelMapsAndCsvAreRefused) {
  const BadDocument channels[] = {
      {R"({"channels": {"没有": 1}})", "\"没有\": unknown channel"},
      {R"({"channels": {"保留3#": 1}})", "reserved"},
      {R"({"channels": {"涡流机": 256}})", "256 is not a channel number"},
      {R"({"channels": {"涡流机": -1}})", "-1 is not a channel number"},
      {R"({"channels": {"涡流机": "7"}})", "not a channel number"},
      {R"({"map": {}})", "unknown key"},
  };
  for (const BadDocument& row : channels) {
    const std::string message = ErrorOf(ChannelMapFromJson(row.text));
    EXPECT_NE(message.find(row.messageHas), std::string::npos) << row.text << " -> " << message;
  }
  const BadDocument csv[] = {
      {"first,second\n1\n", "line 2: needs two values"},
      {"1,2,3\n", "line 1: needs two values"},
      {"1,abc\n", "line 1: \"1,abc\" is not two finite numbers"},
      {"1,nan\n", "not two finite numbers"},
      {"1,inf\n", "not two finite numbers"},
      {"1e40,1\n", "not two finite numbers"},
      {"0,0\n1,1\n2,2\n3,3\n4,4\n5,5\n6,6\n7,7\n8,8\n9,9\n10,10\n", "line 11: the table holds at most 10"},
  };
  for (const BadDocument& row : csv) {
    const std::string message = ErrorOf(CalibFromCsv(row.text, 10));
    EXPECT_NE(message.find(row.messageHas), std::string::npos) << row.text << " -> " << message;
  }
}

TEST(CliDocuments, CalibrationCsvCarriesExactValues) {
  CalibTable table(10);
  table.SetCount(3);
  const float values[][2] = {{0.1f, -3.5f}, {1e-7f, 123456.78f}, {2.5f, 0.0f}};
  for (std::size_t i = 0; i < 3; ++i) {
    table.SetFirst(i, values[i][0]);
    table.SetSecond(i, values[i][1]);
  }
  const std::string csv = CalibToCsv(table, 3);
  EXPECT_EQ(csv, "first,second\n0.1,-3.5\n1e-07,123456.78\n2.5,0\n");
  const auto rows = CalibFromCsv(csv + "\n", 10);
  ASSERT_TRUE(std::holds_alternative<std::vector<CalibGridRow>>(rows)) << ErrorOf(rows);
  EXPECT_EQ(TableFromGridRows(std::get<0>(rows), 10), table);
  EXPECT_EQ(CalibChannelByName("var"), CalibChannel::Variable);
  EXPECT_EQ(CalibChannelByName("前左力矩"), CalibChannel::TorqueFrontLeft);
  EXPECT_EQ(CalibChannelByName("压力"), CalibChannel::AirPressure);  // the store caption
  EXPECT_FALSE(CalibChannelByName("nothing"));
  EXPECT_FALSE(CheckManifest(BackupManifest()));
  EXPECT_TRUE(CheckManifest(R"({"format": "rolta-backup/1", "files": {}})"));
}

}  // namespace
}  // namespace rolta::test
