#include "cli/cli_channels.h"

#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "cli/cli_documents.h"
#include "link/command_codes.h"

namespace rolta::cli {

int ReadChannels(CommandContext& cli, Line& line) {
  Awaited awaited;
  if (int code = cli.Exchange(
          line, command::kChannelMapRequest,
          [&line] { line.Session().Executor().SendShort(command::kChannelMapRequest); }, awaited, "channels");
      code != kExitDone) {
    return code;
  }
  // The session has handed the reply to its channel map already.
  if (awaited.frame.size() != kChannelMapReplyLength) {
    return cli.Fail(kExitRefused, Say(cli.texts, "channels: a reply of the wrong length"));
  }
  return kExitDone;
}

int ChannelsGet(CommandContext& cli, Line& line) {
  if (int code = ReadChannels(cli, line); code != kExitDone) return code;
  const ChannelMapEditor& editor = line.Session().ChannelMap();
  cli.out << (cli.request.format == OutputFormat::Json ? ChannelMapToJson(editor) : ChannelMapText(editor));
  return kExitDone;
}

int WriteChannels(CommandContext& cli, Line& line, const std::map<std::size_t, std::uint8_t>& values) {
  if (int code = ReadChannels(cli, line); code != kExitDone) return code;
  ChannelMapEditor& editor = line.Session().ChannelMap();
  for (const auto& [field, value] : values) editor.SetText(field, std::to_string(value));
  const ChannelMap sent = editor.Collect();
  if (!editor.StoreChannelMap()) return cli.Fail(kExitPortError, Say(cli.texts, "channels: the port is closed"));
  // Read back into the same editor: `sent` keeps what went out.
  if (int code = ReadChannels(cli, line); code != kExitDone) return code;
  const ChannelMapEditor& back = editor;
  std::vector<std::string> missed;
  const auto fields = ChannelFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].replyByte != kNoByte && back.Text(i) != std::to_string(sent.bytes[fields[i].replyByte])) {
      missed.push_back(std::string(fields[i].label) + " (" + Say(cli.texts, "sent") + " " +
                       std::to_string(sent.bytes[fields[i].replyByte]) + ", " + Say(cli.texts, "holds") + " " +
                       back.Text(i) + ")");
    }
  }
  if (!missed.empty()) {
    cli.err << Say(cli.texts, "channels: the controller did not take") << ":\n";
    for (const std::string& field : missed) cli.err << "  " << field << "\n";
    return kExitRefused;
  }
  cli.out << Say(cli.texts, "channels: stored and read back equal") << "\n";
  return kExitDone;
}

int ChannelsSet(CommandContext& cli) {
  const std::optional<std::string> document = cli.ReadText(cli.request.path);
  if (!document) return kExitUsage;
  auto parsed = ChannelMapFromJson(*document);
  if (auto* error = std::get_if<DocumentError>(&parsed)) return cli.Invalid(cli.request.path, *error);
  return cli.WithLine([&](Line& line) { return WriteChannels(cli, line, std::get<0>(parsed)); });
}

}  // namespace rolta::cli
