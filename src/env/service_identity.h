// Who and where the service work is done: the bench's name, the engineer's
// name and the traceability statement a certificate carries. Kept by the
// engineer in `service.conf` beside the other settings:
//   bench=Line 3, west hall
//   engineer=Li Wei
//   traceability=Weights traceable to NIM via certificate ...
#pragma once

#include <filesystem>
#include <string>

namespace rolta {

struct ServiceIdentity {
  std::string bench;
  std::string engineer;
  std::string traceability;
};

// config_home/rolta/service.conf
std::filesystem::path ServiceIdentityPath();

// A missing or unreadable file gives empty values; unknown keys are a later
// console's settings and are left alone.
ServiceIdentity LoadServiceIdentity(const std::filesystem::path& path);

}  // namespace rolta
