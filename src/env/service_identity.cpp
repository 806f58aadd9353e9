#include "env/service_identity.h"

#include "env/config_home.h"
#include "env/key_value_file.h"

namespace rolta {

std::filesystem::path ServiceIdentityPath() { return ConfigHome() / "rolta" / "service.conf"; }

ServiceIdentity LoadServiceIdentity(const std::filesystem::path& path) {
  ServiceIdentity identity;
  for (const KeyValueLine& line : ReadKeyValueFile(path).lines) {
    if (line.key == "bench") identity.bench = line.value;
    if (line.key == "engineer") identity.engineer = line.value;
    if (line.key == "traceability") identity.traceability = line.value;
  }
  return identity;
}

}  // namespace rolta
