// The console's "记录" control: start and stop a recording of every decoded
// status frame (to the default file or one chosen), a red indicator with the
// elapsed time and row count while it runs, and the button of the trend window.
#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "session/controller_session.h"
#include "recording/frame_recorder.h"
#include "recording/ui/trend_dlg.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"

class QLabel;
class QLineEdit;
class QToolButton;
class QPushButton;

namespace rolta {

class CRecordControl : public QWidget {
  Q_OBJECT
 public:
  CRecordControl(ControllerSession& session, const TextLookup& texts, MessageBoxService& boxes,
                 QWidget* parent = nullptr);
  ~CRecordControl() override;

  // ~/rolta-records, or what was set.
  std::filesystem::path RecordFolder() const;
  void SetRecordFolder(const std::filesystem::path& folder) { folder_ = folder; }
  // Starts a recording to `file` (empty: a new file named by the time in the
  // record folder). False after the message when it cannot start.
  bool StartRecording(const std::filesystem::path& file = {});
  void StopRecording();
  bool Recording() const { return recorder_ && recorder_->Recording(); }
  // The file of the latest recording, and whether its writer has finished.
  std::filesystem::path LastFile() const { return lastFile_; }
  bool LastRecordingFinished() const;
  void OpenTrendWindow();
  // The effective mass for coast-downs (rollers' inertia plus vehicle), typed
  // beside "记录": remembered between runs and kept with each recording from
  // its start and whenever it changes. False after the message when the text
  // is not a mass (the last good one stays).
  bool ApplyMassText();
  std::optional<double> Mass() const { return mass_; }
  QLineEdit* MassEdit() const { return massEdit_; }
  CTrendDlg* TrendWindow() const { return trend_; }
  // Handed on to the trend window's coast-down analysis (the service history).
  void SetCoastAnalysedObserver(CCoastAnalysisDlg::AnalysedObserver observer) { coastAnalysed_ = std::move(observer); }
  QLabel* Indicator() const { return indicator_; }
  QToolButton* RecordButton() const { return recordButton_; }

 private:
  void OnTick();
  void UpdateIndicator();
  void ChooseFileAndRecord();
  // At the start (new details) or after a change (the other keys kept).
  void KeepMassWithRecording(bool started);

  ControllerSession& session_;
  const TextLookup& texts_;
  MessageBoxService& boxes_;
  StatusObserverId observer_ = 0;
  std::filesystem::path folder_;
  std::filesystem::path lastFile_;
  // What the latest recording spans (until: max while it runs).
  std::chrono::steady_clock::time_point lastFrom_{};
  std::chrono::steady_clock::time_point lastUntil_{};
  std::unique_ptr<FrameRecorder> recorder_;
  // Recordings that were stopped and whose writer still finishes its file.
  std::vector<std::unique_ptr<FrameRecorder>> closing_;
  QToolButton* recordButton_ = nullptr;
  QLabel* indicator_ = nullptr;
  QPushButton* trendButton_ = nullptr;
  QLineEdit* massEdit_ = nullptr;
  std::optional<double> mass_;
  QPointer<CTrendDlg> trend_;
  CCoastAnalysisDlg::AnalysedObserver coastAnalysed_;
  QTimer tick_;
};

}  // namespace rolta
