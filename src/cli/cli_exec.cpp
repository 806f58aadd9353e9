#include "cli/cli_exec.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_channels.h"
#include "cli/cli_documents.h"
#include "cli/cli_params.h"
#include "commands/catalogue.h"
#include "commands/input_checks.h"
#include "config/param_summary.h"
#include "link/frames.h"
#include "readouts/console_texts.h"
#include "readouts/readouts.h"

namespace rolta::cli {
namespace {

// The catalogue position the request names by its number or its caption.
std::optional<int> ResolvePosition(const CommandContext& cli) {
  const std::string& text = cli.request.position;
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return text.size() <= 3 ? std::optional<int>(std::stoi(text)) : std::nullopt;
  }
  const auto rows = CommandCatalogue();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].caption.empty() && (rows[i].caption == text || cli.texts.Lookup(rows[i].caption) == text)) {
      return static_cast<int>(i);
    }
  }
  return std::nullopt;
}

// The answer to a position, as the console would show it.
void PrintDecoded(CommandContext& cli, Line& line, const std::vector<std::uint8_t>& frame) {
  const std::uint8_t type = frame[kCommandCodeOffset];
  switch (ControllerFrameKindOf(type)) {
    case ControllerFrameKind::Status: {
      const ControllerStatus& status = line.Session().Status();
      cli.out << FrameStatusText(cli.texts, type, status.Numth) << "\t" << ShortestFloatText(status.Value1) << " "
              << ShortestFloatText(status.Value2) << " " << ShortestFloatText(status.Value3) << " "
              << ShortestFloatText(status.Value4) << "\n";
      const ReadoutUpdate initial = InitialReadouts(cli.texts);
      const ReadoutUpdate update = PresentLiveFrame(status, cli.texts);
      for (std::size_t cell = 0; cell < kReadoutCount; ++cell) {
        if (!update[cell].text) continue;
        cli.out << update[cell].caption.value_or(*initial[cell].caption) << "\t" << *update[cell].text << "\n";
      }
      break;
    }
    case ControllerFrameKind::ParamRecord:
      for (const std::string& summaryLine : BuildSummary(DecodeParamsFrame(frame), cli.texts)) {
        cli.out << summaryLine << "\n";
      }
      break;
    case ControllerFrameKind::ChannelMap: {
      // The session has handed the reply to its channel map.
      cli.out << ChannelMapText(line.Session().ChannelMap());
      break;
    }
    case ControllerFrameKind::CalibTable:
      cli.out << FrameStatusText(cli.texts, type, NumthOf(frame.data(), frame.size())) << "\n";
      break;
  }
}

}  // namespace

int Exec(CommandContext& cli) {
  const std::optional<int> position = ResolvePosition(cli);
  const CatalogueRow* row = position ? CatalogueRowAt(*position) : nullptr;
  if (row == nullptr || row->action == CatalogueAction::None) {
    return cli.Fail(kExitUsage, Say(cli.texts, "exec: no catalogue position") + " \"" + cli.request.position + "\"");
  }
  if (row->action == CatalogueAction::ExternalProgram) {
    return cli.Fail(kExitUsage, Say(cli.texts, "exec: this position starts an external program; not available here"));
  }
  if (row->action == CatalogueAction::ShowChannelMap) {
    return cli.Fail(kExitUsage, Say(cli.texts, "exec: this position only shows the channel map; use \"channels get\""));
  }
  // The console's boxes for these speak of its buttons and its form; here
  // the commands that do the same are named.
  if (row->action == CatalogueAction::ParamRecordForm) {
    return cli.Fail(kExitUsage, Say(cli.texts,
                                    "exec: this position opens the console's settings form; use \"params get "
                                    "--json\" and \"params set FILE.json\""));
  }
  if (row->action == CatalogueAction::Message) {
    constexpr int kForceCalibrationPosition = 22;  // points to the workbench's button
    return cli.Fail(kExitUsage, "exec: " + cli.texts.Lookup(row->caption) + ": " +
                                    (*position == kForceCalibrationPosition
                                         ? Say(cli.texts,
                                               "the torque tables are stored with \"calib set torque-fl FILE.csv\" "
                                               "(torque-fr, torque-rl, torque-rr)")
                                         : cli.texts.Lookup(row->text)));
  }
  CommandInputs inputs;
  const auto take = [](const std::optional<std::string>& value, std::string& into) {
    if (value) into = *value;
  };
  take(cli.request.paramA, inputs.ParamA);
  take(cli.request.paramB, inputs.ParamB);
  take(cli.request.paramM, inputs.ParamM);
  take(cli.request.paramC, inputs.ParamC);
  take(cli.request.startSpeed, inputs.StartSpeed);
  take(cli.request.endSpeed, inputs.EndSpeed);
  take(cli.request.startLoad, inputs.StartLoad);
  take(cli.request.endLoad, inputs.EndLoad);
  inputs.Flywheels = cli.request.flywheels;
  // The console's checks of its input fields, before the port is opened.
  const SafetySettings safety = LoadSafetySettings(SafetySettingsPath());
  for (const InputProblem& problem : CheckInputs(*position, inputs, safety)) {
    const ExecOption* option = ExecOptionOf(problem.input);
    const std::string flag = option != nullptr ? std::string(option->flag) : std::string();
    // A number beyond what a frame can carry is no limit to confirm.
    if (problem.kind != InputProblem::Kind::AboveLimit) {
      const bool outOfRange = problem.kind == InputProblem::Kind::OutOfRange;
      return cli.Fail(kExitUsage, "exec " + flag + " (" + cli.texts.Lookup(InputFieldOf(problem.input)->label) +
                                      "): \"" + problem.text + "\" " +
                                      Say(cli.texts, outOfRange ? "is out of range" : "is not a number") + " (" +
                                      Say(cli.texts, "nothing was sent") + ")");
    }
    if (!cli.request.confirmLimits) {
      return cli.Fail(kExitUsage, "exec " + flag + ": " + LimitExceededText(cli.texts, problem) + "; " +
                                      Say(cli.texts, "add --confirm-limits to send it") + " (" +
                                      Say(cli.texts, "nothing was sent") + ")");
    }
  }

  return cli.WithLine([&](Line& line) {
    const auto execute = [&line, &position, &inputs] { line.Session().Execute(*position, inputs); };
    const bool answered = row->action == CatalogueAction::Send || row->action == CatalogueAction::ParamRecordSummary ||
                          row->action == CatalogueAction::ParamRecordForm;
    if (!cli.request.wait || !answered) {
      execute();
      if (cli.environment.interrupted.load()) return kExitInterrupted;
      return kExitDone;
    }
    Awaited awaited;
    if (int code = cli.Exchange(line, row->CommandCode(), execute, awaited, row->caption); code != kExitDone) {
      return code;
    }
    PrintDecoded(cli, line, awaited.frame);
    return kExitDone;
  });
}

}  // namespace rolta::cli
