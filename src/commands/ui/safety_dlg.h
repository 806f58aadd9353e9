#pragma once

#include <QDialog>
#include <array>

#include "commands/input_checks.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"

class QCheckBox;
class QLineEdit;

namespace rolta {

// "安全设置": the set-point limits and the automatic reconnection, edited by
// the operator. Accept() checks every limit is a positive number.
class CSafetyDlg final : public QDialog {
  Q_OBJECT
 public:
  CSafetyDlg(const SafetySettings& settings, const TextLookup& texts, MessageBoxService& boxes,
             QWidget* parent = nullptr);
  // The settings as edited; only meaningful after the dialog was accepted.
  const SafetySettings& Settings() const { return settings_; }
  QLineEdit* LimitEdit(LimitKind kind) const;
  QCheckBox* AutoReconnect() const { return autoReconnect_; }
  void accept() override;

 private:
  const TextLookup& texts_;
  MessageBoxService& boxes_;
  SafetySettings settings_;
  std::array<QLineEdit*, 3> limits_{};
  QCheckBox* autoReconnect_ = nullptr;
};

}  // namespace rolta
