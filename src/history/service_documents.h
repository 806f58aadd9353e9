// The PDF documents of the service history: a calibration certificate of
// one assistant run and the service report of a visit. Drawn by the Qt layer
// (history/ui/service_pdf); a program without it has none.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "calib/calibration_run.h"
#include "env/service_identity.h"
#include "env/text_lookup.h"
#include "history/service_history.h"

namespace rolta {

class ServiceDocuments {
 public:
  virtual ~ServiceDocuments() = default;
  // Empty when the file was written, else why not (shown). The document's
  // texts pass through `texts`.
  virtual std::string WriteCertificate(const CalibrationRun& run, const TextLookup& texts,
                                       const std::filesystem::path& out) const = 0;
  // `entries` with their fields, oldest first.
  virtual std::string WriteServiceReport(std::span<const HistoryEntry> entries, std::int64_t fromUtc,
                                         std::int64_t toUtc, const ServiceIdentity& identity, const TextLookup& texts,
                                         const std::filesystem::path& out) const = 0;
};

}  // namespace rolta
