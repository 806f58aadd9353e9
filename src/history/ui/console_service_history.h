// The console's service history: opened at start (a damaged or newer
// database is said once and the console goes on without it), the recorder
// the session tells of every change, the PDF documents and the "服务记录"
// window.
#pragma once

#include <QPointer>

#include <filesystem>
#include <memory>

#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "history/history_recorder.h"
#include "history/pdf/service_pdf.h"
#include "history/service_history.h"
#include "history/ui/service_history_window.h"

class QWidget;

namespace rolta {

class ConsoleServiceHistory {
 public:
  ConsoleServiceHistory(const TextLookup& texts, MessageBoxService& boxes, QWidget* parent,
                        const std::filesystem::path& path = DefaultHistoryPath());
  ~ConsoleServiceHistory();

  // Where the session's and the windows' changes go; nullptr without a history.
  HistoryRecorder* Recorder() { return recorder_.get(); }
  // Opens the window, or says again why there is no history.
  void ShowWindow();
  ServiceHistoryWindow* Window() const { return window_; }

 private:
  const TextLookup& texts_;
  MessageBoxService& boxes_;
  QWidget* parent_;
  std::filesystem::path path_;
  std::string unavailable_;  // why there is no history
  std::unique_ptr<ServiceHistory> history_;
  std::unique_ptr<HistoryRecorder> recorder_;
  PdfServiceDocuments documents_;
  QPointer<ServiceHistoryWindow> window_;
};

}  // namespace rolta
