// "标定向导": the calibration assistant's window. The engineer identifies the
// bench, the channel, the sensor and the reference, gives the reference loads,
// then follows the steps; the live reading and its spread show while a point
// settles, and the as-found and as-left points with their errors and
// pass/fail fill the two tables. The window drives the assistant from a timer
// and the session's frames, so nothing waits on the window thread.
#pragma once

#include <functional>
#include <optional>

#include <QDialog>

#include "calib/calibration_run.h"
#include "calibration/calibration_assistant.h"
#include "calibration/calibration_settings.h"
#include "env/service_identity.h"
#include "env/ui_services.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace rolta {

class CCalibrationWizard : public QDialog {
  Q_OBJECT
 public:
  // Boxes go through `boxes`, whose texts are lookup keys.
  CCalibrationWizard(ControllerSession& session, const TextLookup& texts, MessageBoxService& boxes,
                     QWidget* parent = nullptr);
  ~CCalibrationWizard() override;

  // Told with the whole record whenever a run ends (completed, aborted, failed).
  void SetRunObserver(std::function<void(const CalibrationRun&)> observer) { runObserver_ = std::move(observer); }

  // Starts a run from the fields; a refusal is shown in a box.
  void OnStart();
  void OnContinue();
  void OnAbort();

  CalibrationAssistant& Assistant() { return assistant_; }
  QComboBox* ChannelList() const { return channel_; }
  QComboBox* ReferenceKindList() const { return referenceKind_; }
  QLineEdit* LoadsField() const { return loads_; }
  QLineEdit* SerialField() const { return serial_; }
  QLineEdit* CertificateField() const { return certificate_; }
  QLineEdit* UncertaintyField() const { return uncertainty_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* ContinueButton() const { return continue_; }
  QPushButton* AbortButton() const { return abort_; }
  QLabel* InstructionLabel() const { return instruction_; }
  QLabel* ResultLabel() const { return result_; }
  QTableWidget* AsFoundTable() const { return asFound_; }
  QTableWidget* AsLeftTable() const { return asLeft_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Tick();
  void Refresh();
  void FillPoints(QTableWidget* table, const std::vector<CalibrationPoint>& points, bool assessed);
  std::optional<std::vector<double>> References(CalibChannel channel);
  void Refuse(const std::string& text);
  QString T(const char* text) const;

  ControllerSession& session_;
  const TextLookup& texts_;
  MessageBoxService& boxes_;
  CalibrationSettings settings_;
  std::string traceability_;  // the service identity's, for the run's record
  CalibrationAssistant assistant_;
  std::function<void(const CalibrationRun&)> runObserver_;
  CalibrationStep shownStep_ = CalibrationStep::Idle;
  bool askingToStore_ = false;
  bool changed_ = false;

  QLineEdit* bench_ = nullptr;
  QLineEdit* engineer_ = nullptr;
  QComboBox* channel_ = nullptr;
  QLineEdit* serial_ = nullptr;
  QComboBox* referenceKind_ = nullptr;
  QLineEdit* referenceDescription_ = nullptr;
  QLineEdit* certificate_ = nullptr;
  QLineEdit* uncertainty_ = nullptr;
  QLineEdit* loads_ = nullptr;
  QLineEdit* tolerance_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* continue_ = nullptr;
  QPushButton* abort_ = nullptr;
  QLabel* instruction_ = nullptr;
  QLabel* live_ = nullptr;
  QLabel* asFoundTitle_ = nullptr;
  QLabel* asLeftTitle_ = nullptr;
  QTableWidget* asFound_ = nullptr;
  QTableWidget* asLeft_ = nullptr;
  QLabel* result_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace rolta
