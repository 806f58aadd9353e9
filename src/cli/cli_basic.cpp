#include "cli/cli_basic.h"

#include <ostream>
#include <string>

#include "link/command_codes.h"
#include "session/safety_messages.h"

namespace rolta::cli {

int Ports(CommandContext& cli) {
  if (!cli.environment.portsAvailable) {
    return cli.Fail(kExitPortError, Say(cli.texts, "The environment library could not be loaded: no port list."));
  }
  for (const std::string& port : cli.environment.ports) cli.out << port << "\n";
  return kExitDone;
}

int Version(CommandContext& cli, Line& line) {
  Awaited awaited;
  if (int code = cli.Exchange(
          line, command::kVersion, [&line] { line.Session().QueryVersion(); }, awaited, "version");
      code != kExitDone) {
    return code;
  }
  cli.out << line.View().version.caption << ": " << line.View().version.value << "\n";
  return kExitDone;
}

int EmergencyStop(CommandContext& cli, Line& line) {
  Awaited awaited;
  const int code = cli.Exchange(
      line, command::kEmergencyStop, [&line] { line.Session().EmergencyStop(); }, awaited, cli.texts.Lookup("急停"));
  if (code != kExitDone) {
    cli.err << EmergencyStopUnconfirmedMessage(cli.texts, code == kExitRefused).text << "\n";
    return code;
  }
  cli.out << Say(cli.texts, "Emergency stop sent and confirmed.") << "\n";
  return kExitDone;
}

}  // namespace rolta::cli
