#include "config/ui/set_hard.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimer>
#include <QScopedValueRollback>
#include <QVBoxLayout>

#include <functional>
#include <map>

#include "env/shown_text.h"
#include "env/ui/re_ctl_langue_str.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A drop-down list that reports when its open list closes (the retarder
// advice), with the item chosen in it: the list closes before the choice is
// committed, so the report waits for the choice ("activated") or, when the
// list was closed without one, for the next turn of the event loop. Hiding a
// closed list (as the window hides) reports nothing.
class DropDownCombo final : public QComboBox {
 public:
  std::function<void()> onClosed;
  explicit DropDownCombo(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::activated, this, [this] { ReportClosed(); });
  }
  void hidePopup() override {
    const bool wasOpen = view() != nullptr && view()->isVisible();
    QComboBox::hidePopup();
    if (!wasOpen || closing_) return;
    closing_ = true;
    QTimer::singleShot(0, this, [this] { ReportClosed(); });
  }

 private:
  void ReportClosed() {
    if (!closing_) return;
    closing_ = false;
    if (onClosed) onClosed();
  }
  bool closing_ = false;
};

constexpr int kGroupColumns = 4;

}  // namespace

CSetHard::CSetHard(ParamsForm& form, const TextLookup& lookup, MessageBoxService& messages, QWidget* parent)
    : CBkDialog(parent), form_(form) {
  setObjectName(QStringLiteral("setHard"));
  setWindowTitle(Q(form_.Title()));
  Build();
  ApplyState();
  Connect();
  // "设置" writes the record here; on the console it opens the port.
  ReCtlLangueStr translator(lookup, messages);
  translator.SetContext(kParamsFormTextContext);
  translator.Attach(this);
  translator.TranslateAll();
  translator.Attach(page_);  // the groups inside the scrolling pane
  translator.TranslateAll();
  setButton_->setToolTip(QString::fromStdString(ShownText(lookup, "设置控制器参数")));
  // The walk rewrote texts: the state follows the widgets again.
  ReadWidgets();
}

void CSetHard::Build() {
  auto* top = new QVBoxLayout(this);
  // The groups scroll when the screen is smaller than the form.
  page_ = new QWidget;
  auto* groupsGrid = new QGridLayout(page_);
  groupsGrid->setContentsMargins(0, 0, 0, 0);
  top->addWidget(ScrollingPane(page_, this), 1);
  std::map<std::string_view, QGridLayout*> groups;
  int groupCount = 0;
  for (const FormControl& control : FormControls()) {
    QGridLayout*& rows = groups[control.group];
    if (rows == nullptr) {
      auto* box = new QGroupBox(Q(control.group), page_);
      rows = new QGridLayout(box);
      groupsGrid->addWidget(box, groupCount / kGroupColumns, groupCount % kGroupColumns);
      ++groupCount;
    }
    auto* box = qobject_cast<QGroupBox*>(rows->parentWidget());
    const int row = rows->rowCount();
    const std::size_t i = Index(control.id);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case FormKind::Edit: widget = new QLineEdit(box); break;
      case FormKind::Check: widget = new QCheckBox(Q(control.caption), box); break;
      case FormKind::Selector: {
        auto* combo = control.id == FormControlId::RetarderType ? new DropDownCombo(box) : new QComboBox(box);
        for (const std::string& item : form_.Items(control.id)) combo->addItem(QString::fromStdString(item));
        widget = combo;
        break;
      }
    }
    widget->setObjectName(QStringLiteral("control%1").arg(i));
    controls_[i] = widget;
    if (control.kind != FormKind::Check && !control.caption.empty()) {
      captions_[i] = new QLabel(Q(control.caption), box);
      rows->addWidget(captions_[i], row, 0);
    }
    rows->addWidget(widget, row, 1);
    if (!control.unit.empty()) rows->addWidget(new QLabel(Q(control.unit), box), row, 2);
  }

  setButton_ = new QPushButton(QStringLiteral("设置"), this);
  setButton_->setToolTip(QStringLiteral("设置控制器参数"));
  exitButton_ = new QPushButton(QStringLiteral("退出"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(setButton_);
  buttons->addWidget(exitButton_);
  top->addLayout(buttons);
}

void CSetHard::Connect() {
  using Id = FormControlId;
  connect(setButton_, &QPushButton::clicked, this, &CSetHard::OnSet);
  connect(exitButton_, &QPushButton::clicked, this, &CSetHard::OnExit);
  // Reactions follow the state, whatever changed it (mouse, keyboard, a
  // screen reader); the form's own loading does not count.
  const auto react = [this](void (ParamsForm::*reaction)()) {
    return [this, reaction] {
      if (!applying_) React([this, reaction] { (form_.*reaction)(); });
    };
  };
  connect(Selector(Id::LugdownScanMode), &QComboBox::currentIndexChanged, this, react(&ParamsForm::OnScanModeChanged));
  connect(Check(Id::EngineSpeed), &QCheckBox::toggled, this, react(&ParamsForm::OnEngineSpeedClicked));
  connect(Check(Id::FuelTest), &QCheckBox::toggled, this, react(&ParamsForm::OnFuelTestClicked));
  connect(Check(Id::AutoChannel), &QCheckBox::toggled, this, react(&ParamsForm::OnAutoChannelClicked));
  static_cast<DropDownCombo*>(Selector(Id::RetarderType))->onClosed = [this] {
    form_.OnRetarderDropDownClosed(Selector(Id::RetarderType)->currentText().toStdString());
  };
}

template <typename Reaction>
void CSetHard::React(Reaction reaction) {
  ReadWidgets();
  reaction();
  ApplyState();
}

QLineEdit* CSetHard::Edit(FormControlId id) const { return qobject_cast<QLineEdit*>(Control(id)); }
QComboBox* CSetHard::Selector(FormControlId id) const { return qobject_cast<QComboBox*>(Control(id)); }
QCheckBox* CSetHard::Check(FormControlId id) const { return qobject_cast<QCheckBox*>(Control(id)); }

void CSetHard::ReadWidgets() {
  for (const FormControl& control : FormControls()) {
    ControlState& s = form_.State()[control.id];
    switch (control.kind) {
      case FormKind::Edit: s.text = Edit(control.id)->text().toStdString(); break;
      case FormKind::Selector: s.selection = Selector(control.id)->currentIndex(); break;
      case FormKind::Check: s.checked = Check(control.id)->isChecked(); break;
    }
  }
}

void CSetHard::ApplyState() {
  const QScopedValueRollback applying(applying_, true);
  for (const FormControl& control : FormControls()) {
    const ControlState& s = form_.State()[control.id];
    switch (control.kind) {
      case FormKind::Edit: Edit(control.id)->setText(QString::fromStdString(s.text)); break;
      case FormKind::Selector: {
        QComboBox* combo = Selector(control.id);
        combo->setCurrentIndex(s.selection < combo->count() ? s.selection : -1);
        break;
      }
      case FormKind::Check: Check(control.id)->setChecked(s.checked); break;
    }
    Control(control.id)->setEnabled(s.enabled);
    if (QLabel* caption = Caption(control.id)) caption->setEnabled(s.captionEnabled);
  }
  setWindowTitle(QString::fromStdString(form_.Title()));
}

void CSetHard::LoadParams() {
  ReadWidgets();
  if (form_.Load()) ApplyState();
}

void CSetHard::showEvent(QShowEvent* event) {
  CBkDialog::showEvent(event);
  if (!event->spontaneous()) LoadParams();
}

void CSetHard::hideEvent(QHideEvent* event) {
  CBkDialog::hideEvent(event);
  if (!event->spontaneous()) LoadParams();
}

void CSetHard::OnSet() {
  ReadWidgets();
  form_.OnSet();
  ApplyState();
  hide();
}

}  // namespace rolta
