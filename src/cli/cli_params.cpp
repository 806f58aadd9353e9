#include "cli/cli_params.h"

#include <optional>
#include <ostream>
#include <span>
#include <variant>

#include "config/param_summary.h"
#include "config/params_exchange.h"
#include "link/command_codes.h"
#include "link/frames.h"
#include "readouts/console_texts.h"

namespace rolta::cli {
namespace {

constexpr std::int16_t kNumthParamsWritten = 102;

}  // namespace

ControllerParams DecodeParamsFrame(const std::vector<std::uint8_t>& frame) {
  return DecodeParams(
      std::span<const std::uint8_t, kParamsPayloadLength>(frame.data() + kPayloadOffset, kParamsPayloadLength));
}

int ReadParams(CommandContext& cli, Line& line, ControllerParams& values) {
  Awaited awaited;
  if (int code = cli.Exchange(
          line, command::kParamRequest, [&line] { line.Session().Params().RequestParams(ParamReplyTarget::Summary); },
          awaited, "params");
      code != kExitDone) {
    return code;
  }
  if (awaited.frame.size() != kParamsReplyLength) {
    return cli.Fail(kExitRefused, Say(cli.texts, "params: a reply of the wrong length"));
  }
  values = DecodeParamsFrame(awaited.frame);
  return kExitDone;
}

int ParamsGet(CommandContext& cli, Line& line) {
  ControllerParams values;
  if (int code = ReadParams(cli, line, values); code != kExitDone) return code;
  if (cli.request.format == OutputFormat::Json) {
    cli.out << ParamsToJson(values);
  } else {
    for (const std::string& summaryLine : BuildSummary(values, cli.texts)) cli.out << summaryLine << "\n";
  }
  return kExitDone;
}

int WriteParams(CommandContext& cli, Line& line, const std::string& document, ValueCheck check) {
  ControllerParams base;
  if (int code = ReadParams(cli, line, base); code != kExitDone) return code;
  ControllerParams values = std::get<ControllerParams>(ParamsFromJson(document, base, check));
  // As the settings form does: the controller's clock is set to the PC's.
  const std::optional<LocalTime> now = SystemLocalClock().Now();
  if (now) {
    values.clockYear = static_cast<std::uint16_t>(now->year);
    values.clockMonth = static_cast<std::uint8_t>(now->month);
    values.clockDay = static_cast<std::uint8_t>(now->day);
    values.clockHour = static_cast<std::uint8_t>(now->hour);
    values.clockMinute = static_cast<std::uint8_t>(now->minute);
    values.clockSecond = static_cast<std::uint8_t>(now->second);
  }
  Awaited awaited;
  if (int code = cli.Exchange(
          line, command::kParamWrite, [&] { line.Session().Params().SendParams(values, now); }, awaited,
          "params write");
      code != kExitDone) {
    return code;
  }
  if (const std::int16_t numth = NumthOf(awaited.frame.data(), awaited.frame.size()); numth != kNumthParamsWritten) {
    cli.err << Say(cli.texts, "params: the controller answered the write with") << " "
            << FrameStatusText(cli.texts, command::kParamWrite, numth) << "\n";
  }
  ControllerParams back;
  if (int code = ReadParams(cli, line, back); code != kExitDone) return code;
  const std::vector<std::string> missed = ParamsDifferences(values, back);
  if (!missed.empty()) {
    cli.err << Say(cli.texts, "params: the controller did not take") << ":\n";
    for (const std::string& field : missed) cli.err << "  " << field << "\n";
    return kExitRefused;
  }
  cli.out << Say(cli.texts, "params: written and read back equal") << "\n";
  return kExitDone;
}

int ParamsSet(CommandContext& cli) {
  const std::optional<std::string> document = cli.ReadText(cli.request.path);
  if (!document) return kExitUsage;
  if (auto parsed = ParamsFromJson(*document, {}); std::holds_alternative<DocumentError>(parsed)) {
    return cli.Invalid(cli.request.path, std::get<DocumentError>(parsed));
  }
  return cli.WithLine([&](Line& line) { return WriteParams(cli, line, *document, ValueCheck::Ranges); });
}

}  // namespace rolta::cli
