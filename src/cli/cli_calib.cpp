#include "cli/cli_calib.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

#include "cli/cli_documents.h"

namespace rolta::cli {
namespace {

std::optional<CalibChannel> RequestedChannel(CommandContext& cli) {
  const std::optional<CalibChannel> channel = CalibChannelByName(cli.request.channel);
  if (!channel) {
    std::string names;
    for (const CalibName& name : CalibNames()) names.append(" ").append(name.name);
    cli.err << Say(cli.texts, "calib: no table") << " \"" << cli.request.channel << "\"; " << Say(cli.texts, "tables:")
            << names << "\n";
  }
  return channel;
}

}  // namespace

CalibLink::CalibLink(Line& line) : exchange(line.Session().Calib()), line(line) { exchange.SetView(&watch); }

CalibLink::~CalibLink() { exchange.SetView(nullptr); }

int ReadTable(CommandContext& cli, CalibLink& link, CalibChannel channel, CalibTable& table, std::size_t& points) {
  link.watch.changed = false;
  link.exchange.RequestTable(channel);
  const WaitResult result = link.line.WaitUntil([&link] { return link.watch.changed; }, cli.request.timeoutSeconds);
  if (result != WaitResult::Done) return cli.WaitFailure(result, "calib " + std::string(CalibNameOf(channel)));
  table = link.exchange.WorkingTable();
  points = std::min(table.PointCount(), CalibChannelInfo(channel).capacity);
  return kExitDone;
}

int CalibGet(CommandContext& cli) {
  const std::optional<CalibChannel> channel = RequestedChannel(cli);
  if (!channel) return kExitUsage;
  return cli.WithLine([&](Line& line) {
    CalibLink link(line);
    CalibTable table;
    std::size_t points = 0;
    if (int code = ReadTable(cli, link, *channel, table, points); code != kExitDone) return code;
    cli.out << (cli.request.format == OutputFormat::Csv ? CalibToCsv(table, points) : CalibToText(table, points));
    return kExitDone;
  });
}

int WriteTable(CommandContext& cli, CalibLink& link, CalibChannel channel, const CalibTable& sent) {
  link.exchange.StoreTable(channel, sent);
  CalibTable back;
  std::size_t points = 0;
  if (int code = ReadTable(cli, link, channel, back, points); code != kExitDone) return code;
  // Bit for bit: a NaN the table held is taken back as the same NaN.
  bool equal = back.Count() == sent.Count();
  for (std::size_t i = 0; equal && i < sent.PointCount(); ++i) {
    equal = SameFloatBits(back.First(i), sent.First(i)) && SameFloatBits(back.Second(i), sent.Second(i));
  }
  if (!equal) {
    return cli.Fail(kExitRefused, Say(cli.texts, "calib: the controller did not take the table") + " " +
                                      std::string(CalibNameOf(channel)));
  }
  cli.out << "calib " << CalibNameOf(channel) << ": " << Say(cli.texts, "stored and read back equal") << "\n";
  return kExitDone;
}

int CalibSet(CommandContext& cli) {
  const std::optional<CalibChannel> channel = RequestedChannel(cli);
  if (!channel) return kExitUsage;
  const std::optional<std::string> document = cli.ReadText(cli.request.path);
  if (!document) return kExitUsage;
  auto table = CalibFromCsv(*document, CalibChannelInfo(*channel).capacity);
  if (auto* error = std::get_if<DocumentError>(&table)) return cli.Invalid(cli.request.path, *error);
  // An empty file would erase the table: only when asked for.
  if (std::get<CalibTable>(table).Count() == 0 && !cli.request.allowEmpty) {
    return cli.Invalid(cli.request.path,
                       DocumentError{Say(cli.texts, "no points; --allow-empty stores an empty table")});
  }
  return cli.WithLine([&](Line& line) {
    CalibLink link(line);
    // The table in force first, so the service history keeps what the store replaced.
    CalibTable before;
    std::size_t points = 0;
    if (int code = ReadTable(cli, link, *channel, before, points); code != kExitDone) return code;
    return WriteTable(cli, link, *channel, std::get<CalibTable>(table));
  });
}

}  // namespace rolta::cli
