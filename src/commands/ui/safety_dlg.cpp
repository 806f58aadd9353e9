#include "commands/ui/safety_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "env/number_text.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

struct LimitRow {
  LimitKind kind;
  const char* label;
  double SafetySettings::*value;
};
constexpr LimitRow kLimitRows[] = {
    {LimitKind::Speed, "速度上限 (km/h)", &SafetySettings::speedLimit},
    {LimitKind::Force, "力上限 (N)", &SafetySettings::forceLimit},
    {LimitKind::Power, "功率上限 (kW)", &SafetySettings::powerLimit},
};

QString Translated(const TextLookup& texts, const char* text) { return QString::fromStdString(texts.Lookup(text)); }

}  // namespace

CSafetyDlg::CSafetyDlg(const SafetySettings& settings, const TextLookup& texts, MessageBoxService& boxes,
                       QWidget* parent)
    : QDialog(parent), texts_(texts), boxes_(boxes), settings_(settings) {
  KeepOnScreen(this);
  setWindowTitle(Translated(texts, "安全设置"));
  auto* form = new QFormLayout(this);
  for (std::size_t i = 0; i < std::size(kLimitRows); ++i) {
    auto* edit = new QLineEdit(QString::fromStdString(FormatText("%g", settings.*kLimitRows[i].value)), this);
    edit->setObjectName(QString::fromUtf8(kLimitRows[i].label));
    form->addRow(Translated(texts, kLimitRows[i].label), edit);
    limits_[i] = edit;
  }
  autoReconnect_ = new QCheckBox(Translated(texts, "自动重连"), this);
  autoReconnect_->setChecked(settings.autoReconnect);
  form->addRow(autoReconnect_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CSafetyDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CSafetyDlg::reject);
  form->addRow(buttons);
}

QLineEdit* CSafetyDlg::LimitEdit(LimitKind kind) const {
  for (std::size_t i = 0; i < std::size(kLimitRows); ++i) {
    if (kLimitRows[i].kind == kind) return limits_[i];
  }
  return nullptr;
}

void CSafetyDlg::accept() {
  SafetySettings edited = settings_;
  for (std::size_t i = 0; i < std::size(kLimitRows); ++i) {
    const std::string text = limits_[i]->text().toStdString();
    const std::optional<double> value = text.empty() ? std::nullopt : ParseStrictNumber(text);
    if (!value || *value <= 0) {
      boxes_.Show({texts_.Lookup("安全限值必须是正数") + ": " + texts_.Lookup(kLimitRows[i].label),
                   texts_.Lookup("输入错误"), MessageIcon::Warning, MessageButtons::Ok});
      limits_[i]->setFocus();
      return;
    }
    edited.*kLimitRows[i].value = *value;
  }
  edited.autoReconnect = autoReconnect_->isChecked();
  settings_ = edited;
  QDialog::accept();
}

}  // namespace rolta
