// "服务记录": the service history's timeline with filters (kind, bench, time
// range), an entry's fields, the difference of two entries, the CSV export,
// a calibration run's certificate and the service report of the shown span.
#pragma once

#include <QDialog>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "history/service_documents.h"
#include "history/service_history.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QTableWidget;

namespace rolta {

class ServiceHistoryWindow : public QDialog {
  Q_OBJECT
 public:
  // Asks where a file goes: caption, suggested name, filter; nothing when cancelled.
  using FileChooser = std::function<std::optional<std::filesystem::path>(
      const std::string& caption, const std::string& suggested, const std::string& filter)>;

  ServiceHistoryWindow(ServiceHistory& history, const ServiceDocuments& documents, const TextLookup& texts,
                       MessageBoxService& boxes, QWidget* parent = nullptr);

  void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

  // Lists the entries the filters let through again (newest at the bottom).
  void Refresh();
  // The entries listed, in the order shown.
  const std::vector<HistoryEntry>& Listed() const { return listed_; }
  // Shows the fields of the listed entry at `row`, or the difference of two.
  void ShowEntry(int row);
  void ShowDifference(int firstRow, int secondRow);
  QString DetailsText() const;

  // The listed entries as CSV / the certificate of the selected calibration
  // run / the report of the listed entries; false (after a box) on failure.
  bool ExportCsv(const std::filesystem::path& path);
  bool WriteCertificate(int row, const std::filesystem::path& path);
  bool WriteReport(const std::filesystem::path& path);

 private:
  std::optional<HistoryFilter> CurrentFilter();
  std::vector<int> SelectedRows() const;
  void OnExport();
  void OnCertificate();
  void OnReport();
  void OnCompare();
  void Fail(const std::string& text);

  ServiceHistory& history_;
  const ServiceDocuments& documents_;
  const TextLookup& texts_;
  MessageBoxService& boxes_;
  FileChooser chooseFile_;
  QComboBox* kind_ = nullptr;
  QComboBox* bench_ = nullptr;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QTableWidget* table_ = nullptr;
  QPlainTextEdit* details_ = nullptr;
  std::vector<HistoryEntry> listed_;
};

}  // namespace rolta
