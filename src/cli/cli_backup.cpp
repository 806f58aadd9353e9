#include "cli/cli_backup.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_calib.h"
#include "cli/cli_channels.h"
#include "cli/cli_documents.h"
#include "cli/cli_params.h"

namespace rolta::cli {
namespace {

namespace fs = std::filesystem;

// How a backup folder's writing went: an empty problem when it is in place.
// How a backup folder's writing went: an empty problem when it is in place.
struct BackupWriteResult {
  std::string problem;  // a fixed text for the lookup
  std::string detail;   // the system's reason
};

bool WriteWholeFile(int folderFd, const std::string& name, const std::string& text) {
  const FileDescriptor file(::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (file.fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(file.fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return ::fsync(file.fd) == 0;
}

bool SyncFolder(const fs::path& folder) {
  const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.fd >= 0 && ::fsync(fd.fd) == 0;
}

// Writes the files into a hidden sibling of `requested`, syncs them and puts
// the folder in place with one rename: a failure (a full disk) leaves no
// folder, and an existing backup is only ever replaced whole (`replace`), or
// left as it was.
BackupWriteResult WriteBackupAtomically(const fs::path& requested,
                                        const std::vector<std::pair<std::string, std::string>>& files, bool replace) {
  fs::path target = fs::absolute(requested).lexically_normal();
  if (!target.has_filename()) target = target.parent_path();
  const fs::path parent = target.parent_path();
  // Appended piece by piece: GCC 12 misreads `"." + string` at -O3 (-Wrestrict).
  std::string tag(1, '.');
  tag.append(target.filename().string()).append(".rolta-").append(std::to_string(::getpid()));
  const fs::path staging = parent / (tag + "-new");
  const fs::path previous = parent / (tag + "-old");
  const auto failed = [&staging](std::string problem, int error) {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    return BackupWriteResult{std::move(problem), error != 0 ? std::strerror(error) : ""};
  };
  std::error_code error;
  fs::create_directories(parent, error);
  fs::remove_all(staging, error);
  if (::mkdir(staging.c_str(), 0755) != 0) return failed("the backup folder could not be written", errno);
  {
    const FileDescriptor folder(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) return failed("the backup folder could not be written", errno);
    for (const auto& [name, text] : files) {
      if (!WriteWholeFile(folder.fd, name, text)) return failed("the backup folder could not be written", errno);
    }
    if (::fsync(folder.fd) != 0) return failed("the backup folder could not be written", errno);
  }
  // An empty folder is replaced by rename itself; a full one only when asked.
  bool movedAside = false;
  if (::rename(staging.c_str(), target.c_str()) != 0) {
    const int renameError = errno;
    if ((renameError != ENOTEMPTY && renameError != EEXIST) || !replace) {
      return failed(renameError == ENOTEMPTY || renameError == EEXIST ? "already holds files; --force replaces it whole"
                                                                      : "the backup folder could not be put in place",
                    renameError == ENOTEMPTY || renameError == EEXIST ? 0 : renameError);
    }
    fs::remove_all(previous, error);
    if (::rename(target.c_str(), previous.c_str()) != 0) {
      return failed("the backup folder could not be put in place", errno);
    }
    movedAside = true;
    if (::rename(staging.c_str(), target.c_str()) != 0) {
      const int putError = errno;
      ::rename(previous.c_str(), target.c_str());  // the old backup back where it was
      return failed("the backup folder could not be put in place", putError);
    }
  }
  SyncFolder(parent);
  if (movedAside) fs::remove_all(previous, error);
  return {};
}

// `<folder>.before-<local time>` beside the folder a restore reads.
fs::path SafetyBackupPath(const fs::path& source) {
  fs::path folder = fs::absolute(source).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return folder.parent_path() / (folder.filename().string() + ".before-" + stamp);
}

using BackupFiles = std::vector<std::pair<std::string, std::string>>;

// The controller's state as the files of a backup folder, manifest last.
int ReadBackupFiles(CommandContext& cli, Line& line, BackupFiles& files) {
  ControllerParams values;
  if (int code = ReadParams(cli, line, values); code != kExitDone) return code;
  files.emplace_back(kParamsFile, ParamsToJson(values, false));
  if (int code = ReadChannels(cli, line); code != kExitDone) return code;
  files.emplace_back(kChannelsFile, ChannelMapToJson(line.Session().ChannelMap()));
  CalibLink link(line);
  for (const CalibName& name : CalibNames()) {
    CalibTable table;
    std::size_t points = 0;
    if (int code = ReadTable(cli, link, name.channel, table, points); code != kExitDone) return code;
    files.emplace_back(CalibFileName(name.channel), CalibToCsv(table, points));
  }
  files.emplace_back(kManifestFile, BackupManifest(files));
  return kExitDone;
}

// A folder a backup may be written to: new, empty, or replaced with --force.
std::optional<std::string> BackupTargetProblem(CommandContext& cli, const fs::path& folder, bool force) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(folder, error);
  if (!fs::exists(status)) return std::nullopt;
  if (!fs::is_directory(status)) return Say(cli.texts, "exists and is not a folder");
  if (!force && !fs::is_empty(folder, error)) return Say(cli.texts, "already holds files; --force replaces it whole");
  return std::nullopt;
}

int WriteBackupFolder(CommandContext& cli, const fs::path& requested, const BackupFiles& files, bool force) {
  const BackupWriteResult result = WriteBackupAtomically(requested, files, force);
  if (!result.problem.empty()) {
    return cli.Fail(kExitUsage, requested.string() + ": " + Say(cli.texts, result.problem) +
                                    (result.detail.empty() ? "" : " (" + result.detail + ")"));
  }
  return kExitDone;
}

// One step of a restore, for the report of a restore that stopped.
struct RestoreStep {
  std::string name;
  std::function<int(Line&)> write;
};

// A text the shell reads back as `text`.
std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void ReportStoppedRestore(CommandContext& cli, const std::vector<RestoreStep>& steps, std::size_t failed,
                          const std::optional<fs::path>& safetyBackup, const std::string& port) {
  const auto names = [&steps](std::size_t from, std::size_t to) {
    std::string list;
    for (std::size_t i = from; i < to; ++i) list += (list.empty() ? "" : ", ") + steps[i].name;
    return list.empty() ? std::string("-") : list;
  };
  cli.err << Say(cli.texts, "The restore stopped at") << " " << steps[failed].name << ".\n"
          << "  " << Say(cli.texts, "now holding the backup's values:") << " " << names(0, failed) << "\n"
          << "  " << Say(cli.texts, "unknown, the write failed:") << " " << steps[failed].name << "\n"
          << "  " << Say(cli.texts, "still holding the previous values:") << " " << names(failed + 1, steps.size())
          << "\n";
  if (safetyBackup) {
    cli.err << Say(cli.texts, "To put the previous state back:") << " rolta-cli --port " << ShellQuoted(port)
            << " restore --no-safety-backup " << ShellQuoted(safetyBackup->string()) << "\n";
  }
}

}  // namespace

int Backup(CommandContext& cli) {
  const fs::path folder(cli.request.path);
  if (auto problem = BackupTargetProblem(cli, folder, cli.request.force)) {
    return cli.Fail(kExitUsage, folder.string() + ": " + *problem + " (" + Say(cli.texts, "nothing was read") + ")");
  }
  return cli.WithLine([&](Line& line) {
    BackupFiles files;
    if (int code = ReadBackupFiles(cli, line, files); code != kExitDone) return code;
    if (int code = WriteBackupFolder(cli, folder, files, cli.request.force); code != kExitDone) return code;
    cli.out << Say(cli.texts, "backup written to") << " " << cli.request.path << "\n";
    return kExitDone;
  });
}

int Restore(CommandContext& cli) {
  const fs::path folder(cli.request.path);
  const std::optional<std::string> manifestText = cli.ReadText(folder / kManifestFile);
  if (!manifestText) return kExitUsage;
  auto manifest = ReadManifest(*manifestText);
  if (auto* error = std::get_if<DocumentError>(&manifest)) return cli.Invalid(folder / kManifestFile, *error);
  // Every file is checked before anything is sent.
  const std::optional<std::string> params = cli.ReadText(folder / kParamsFile);
  if (!params) return kExitUsage;
  // A record as the controller held it is written back as it was read, even
  // a value the console would not send; an edited one is checked.
  const ValueCheck check =
      std::get<Manifest>(manifest).Unchanged(kParamsFile, *params) ? ValueCheck::AsRead : ValueCheck::Ranges;
  if (auto parsed = ParamsFromJson(*params, {}, check); std::holds_alternative<DocumentError>(parsed)) {
    return cli.Invalid(folder / kParamsFile, std::get<DocumentError>(parsed));
  }
  const std::optional<std::string> channelsText = cli.ReadText(folder / kChannelsFile);
  if (!channelsText) return kExitUsage;
  auto channels = ChannelMapFromJson(*channelsText);
  if (auto* error = std::get_if<DocumentError>(&channels)) return cli.Invalid(folder / kChannelsFile, *error);
  std::vector<std::pair<CalibChannel, CalibTable>> tables;
  for (const CalibName& name : CalibNames()) {
    const fs::path path = folder / CalibFileName(name.channel);
    const std::optional<std::string> text = cli.ReadText(path);
    if (!text) return kExitUsage;
    auto table = CalibFromCsv(*text, CalibChannelInfo(name.channel).capacity);
    if (auto* error = std::get_if<DocumentError>(&table)) return cli.Invalid(path, *error);
    tables.emplace_back(name.channel, std::get<CalibTable>(table));
  }
  std::optional<fs::path> safetyBackup;
  if (!cli.request.noSafetyBackup) {
    safetyBackup = SafetyBackupPath(folder);
    if (fs::exists(*safetyBackup)) {
      return cli.Fail(kExitUsage,
                      safetyBackup->string() + ": " + Say(cli.texts, "exists already; try again in a second"));
    }
  }
  return cli.WithLine([&](Line& line) {
    if (safetyBackup) {
      BackupFiles before;
      if (int code = ReadBackupFiles(cli, line, before); code != kExitDone) {
        cli.err << Say(cli.texts, "The controller's current state could not be backed up; nothing was written.")
                << "\n";
        return code;
      }
      if (int code = WriteBackupFolder(cli, *safetyBackup, before, false); code != kExitDone) {
        cli.err << Say(cli.texts, "The controller's current state could not be backed up; nothing was written.")
                << "\n";
        return code;
      }
      cli.out << Say(cli.texts, "the controller's state before the restore:") << " " << safetyBackup->string() << "\n";
    }
    std::vector<RestoreStep> steps;
    steps.push_back({"params", [&](Line& l) { return WriteParams(cli, l, *params, check); }});
    steps.push_back({"channels", [&](Line& l) { return WriteChannels(cli, l, std::get<0>(channels)); }});
    auto link = std::make_shared<std::optional<CalibLink>>();
    for (std::size_t t = 0; t < tables.size(); ++t) {
      steps.push_back({"calib " + std::string(CalibNameOf(tables[t].first)), [&cli, &tables, link, t](Line& l) {
                         if (!*link) link->emplace(l);
                         return WriteTable(cli, **link, tables[t].first, tables[t].second);
                       }});
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
      if (const int code = steps[i].write(line); code != kExitDone) {
        ReportStoppedRestore(cli, steps, i, safetyBackup, line.PortName());
        return code;
      }
    }
    cli.out << Say(cli.texts, "restored from") << " " << cli.request.path << "\n";
    return kExitDone;
  });
}

}  // namespace rolta::cli
