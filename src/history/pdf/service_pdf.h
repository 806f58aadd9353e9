// The service history's PDF documents drawn with QPdfWriter: the calibration
// certificate of an assistant run and the service report of a visit. Needs
// Qt Gui only; a program without a QGuiApplication (rolta-cli) gets one on
// the offscreen platform when no platform is set.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "env/text_lookup.h"
#include "history/service_documents.h"

namespace rolta {

class PdfServiceDocuments final : public ServiceDocuments {
 public:
  std::string WriteCertificate(const CalibrationRun& run, const TextLookup& texts,
                               const std::filesystem::path& out) const override;
  std::string WriteServiceReport(std::span<const HistoryEntry> entries, std::int64_t fromUtc, std::int64_t toUtc,
                                 const ServiceIdentity& identity, const TextLookup& texts,
                                 const std::filesystem::path& out) const override;
};

}  // namespace rolta
