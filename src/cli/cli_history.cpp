#include "cli/cli_history.h"

#include <charconv>
#include <fstream>
#include <ostream>
#include <variant>

#include "env/service_identity.h"
#include "history/history_records.h"

namespace rolta::cli {
namespace {

// The history at its usual place, or the error said on the error stream.
std::unique_ptr<ServiceHistory> OpenHistory(CommandContext& cli) {
  const std::filesystem::path path = DefaultHistoryPath();
  auto opened = ServiceHistory::Open(path, LoadServiceIdentity(ServiceIdentityPath()));
  if (auto* history = std::get_if<std::unique_ptr<ServiceHistory>>(&opened)) return std::move(*history);
  cli.err << HistoryErrorText(cli.texts, std::get<HistoryError>(opened), path) << "\n";
  return nullptr;
}

// The request's filter; nothing (said) when a kind or time is not one.
std::optional<HistoryFilter> RequestedFilter(CommandContext& cli) {
  HistoryFilter filter;
  const CliRequest& request = cli.request;
  if (!request.historyKind.empty()) {
    filter.kind = HistoryKindFromName(request.historyKind);
    if (!filter.kind) {
      cli.err << Say(cli.texts, "history: no such kind") << ": " << request.historyKind << "\n";
      return std::nullopt;
    }
  }
  if (!request.historyBench.empty()) filter.bench = request.historyBench;
  const auto time = [&cli](const std::string& text, std::optional<std::int64_t>& into, bool endOfDay) {
    if (text.empty()) return true;
    into = UtcTimeFromText(text);
    if (!into) cli.err << Say(cli.texts, "history: not a time (YYYY-MM-DD[ HH:MM[:SS]])") << ": " << text << "\n";
    // A day alone as the end takes the whole day.
    if (into && endOfDay && text.size() == 10) *into += 24 * 3600 - 1;
    return into.has_value();
  };
  if (!time(request.historyFrom, filter.fromUtc, false) || !time(request.historyTo, filter.toUtc, true)) {
    return std::nullopt;
  }
  return filter;
}

std::optional<HistoryEntry> EntryOf(CommandContext& cli, const ServiceHistory& history, std::int64_t id) {
  std::optional<HistoryEntry> entry = history.Get(id);
  if (!entry) cli.err << Say(cli.texts, "history: no entry") << " " << id << "\n";
  return entry;
}

// The entries the filter lets through, with their fields.
std::vector<HistoryEntry> EntriesWithFields(const ServiceHistory& history, const HistoryFilter& filter) {
  std::vector<HistoryEntry> entries;
  for (const HistoryEntry& listed : history.List(filter)) {
    if (std::optional<HistoryEntry> entry = history.Get(listed.id)) entries.push_back(std::move(*entry));
  }
  return entries;
}

void PrintHeading(std::ostream& out, const HistoryEntry& entry) {
  out << entry.id << "  " << UtcTimeText(entry.timeUtc) << " UTC  " << HistoryKindName(entry.kind) << "  "
      << entry.bench << "  " << entry.engineer << "  " << entry.summary << "\n";
}

// Runs `body` on the opened history; kExitHistory when it cannot be opened.
int WithHistory(CommandContext& cli, const std::function<int(ServiceHistory&)>& body) {
  const std::unique_ptr<ServiceHistory> history = OpenHistory(cli);
  return history ? body(*history) : kExitHistory;
}

}  // namespace

bool ChangesController(Command command) {
  return command == Command::ParamsSet || command == Command::ChannelsSet || command == Command::CalibSet ||
         command == Command::Restore || command == Command::Upgrade;
}

int OpenCommandHistory(CommandContext& cli, CommandHistory& opened) {
  opened.history = OpenHistory(cli);
  if (!opened.history) {
    if (ChangesController(cli.request.command)) {
      return cli.Fail(kExitHistory, Say(cli.texts, "Nothing was sent: the change could not be recorded."));
    }
    cli.err << Say(cli.texts, "Going on without the service history.") << "\n";
    return kExitDone;
  }
  opened.recorder = std::make_unique<HistoryRecorder>(*opened.history, cli.texts);
  opened.recorder->SetFailureHandler([&cli, &opened](const std::string& message) {
    opened.failed = true;
    cli.err << message << "\n";
  });
  return kExitDone;
}

int HistoryList(CommandContext& cli) {
  const std::optional<HistoryFilter> filter = RequestedFilter(cli);
  if (!filter) return kExitUsage;
  return WithHistory(cli, [&](ServiceHistory& history) {
    for (const HistoryEntry& entry : history.List(*filter)) PrintHeading(cli.out, entry);
    return kExitDone;
  });
}

int HistoryShow(CommandContext& cli) {
  return WithHistory(cli, [&](ServiceHistory& history) {
    const std::optional<HistoryEntry> entry = EntryOf(cli, history, cli.request.entryIds.at(0));
    if (!entry) return kExitUsage;
    PrintHeading(cli.out, *entry);
    for (const HistoryField& field : ReadableFields(*entry))
      cli.out << "  " << field.key << ": " << field.value << "\n";
    return kExitDone;
  });
}

int HistoryDiff(CommandContext& cli) {
  return WithHistory(cli, [&](ServiceHistory& history) {
    const std::optional<HistoryEntry> before = EntryOf(cli, history, cli.request.entryIds.at(0));
    const std::optional<HistoryEntry> after = EntryOf(cli, history, cli.request.entryIds.at(1));
    if (!before || !after) return kExitUsage;
    PrintHeading(cli.out, *before);
    PrintHeading(cli.out, *after);
    for (const FieldChange& change : DiffEntries(*before, *after)) {
      cli.out << "  " << change.key << ": " << change.before << " → " << change.after << "\n";
    }
    return kExitDone;
  });
}

int HistoryExport(CommandContext& cli) {
  const std::optional<HistoryFilter> filter = RequestedFilter(cli);
  if (!filter) return kExitUsage;
  return WithHistory(cli, [&](ServiceHistory& history) {
    const std::vector<HistoryEntry> entries = EntriesWithFields(history, *filter);
    std::ofstream file(cli.request.path, std::ios::binary | std::ios::trunc);
    WriteHistoryCsv(file, entries);
    file.close();
    if (!file) return cli.Fail(kExitOutputFailed, Say(cli.texts, "history: cannot write") + " " + cli.request.path);
    cli.out << entries.size() << " " << Say(cli.texts, "entries written to") << " " << cli.request.path << "\n";
    return kExitDone;
  });
}

int HistoryCertificate(CommandContext& cli) {
  if (cli.environment.documents == nullptr) {
    return cli.Fail(kExitUsage, Say(cli.texts, "history: this program draws no PDF documents"));
  }
  return WithHistory(cli, [&](ServiceHistory& history) {
    const std::optional<HistoryEntry> entry = EntryOf(cli, history, cli.request.entryIds.at(0));
    if (!entry) return kExitUsage;
    const std::optional<CalibrationRun> run = CalibrationRunOf(*entry);
    if (!run) return cli.Fail(kExitUsage, Say(cli.texts, "history: the entry is not a calibration run"));
    const std::string failure = cli.environment.documents->WriteCertificate(*run, cli.texts, cli.request.outPath);
    if (!failure.empty()) return cli.Fail(kExitOutputFailed, failure);
    cli.out << Say(cli.texts, "certificate written to") << " " << cli.request.outPath << "\n";
    return kExitDone;
  });
}

int HistoryReport(CommandContext& cli) {
  if (cli.environment.documents == nullptr) {
    return cli.Fail(kExitUsage, Say(cli.texts, "history: this program draws no PDF documents"));
  }
  const std::optional<HistoryFilter> filter = RequestedFilter(cli);
  if (!filter) return kExitUsage;
  return WithHistory(cli, [&](ServiceHistory& history) {
    const std::vector<HistoryEntry> entries = EntriesWithFields(history, *filter);
    ServiceIdentity identity = history.Identity();
    if (filter->bench) identity.bench = *filter->bench;
    const std::string failure = cli.environment.documents->WriteServiceReport(entries, filter->fromUtc.value_or(0),
                                                                              filter->toUtc.value_or(NowUtc()),
                                                                              identity, cli.texts, cli.request.outPath);
    if (!failure.empty()) return cli.Fail(kExitOutputFailed, failure);
    cli.out << Say(cli.texts, "report written to") << " " << cli.request.outPath << "\n";
    return kExitDone;
  });
}

}  // namespace rolta::cli
