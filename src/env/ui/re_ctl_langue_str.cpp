#include "env/ui/re_ctl_langue_str.h"

#include <array>
#include <functional>
#include <vector>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

namespace rolta {
namespace {

constexpr char kControlError[] = "[ReCtlLangueStr][TransferLanguage()...Err]";
constexpr char kWalkError[] = "[ReCtlLangueStr][ReCtlLangueName()...Err]";

template <class T>
bool Is(const QWidget* widget) {
  return qobject_cast<const T*>(widget) != nullptr;
}

// The class codes, tested in this order.
struct ClassRule {
  bool (*matches)(const QWidget*);
  std::uint32_t code;
};
const std::array<ClassRule, 8> kClassRules = {{
    {Is<QLabel>, ReCtlLangueStr::kStatic},
    {Is<QComboBox>, ReCtlLangueStr::kComboBox},
    {Is<QLineEdit>, ReCtlLangueStr::kEdit},
    {Is<QPlainTextEdit>, ReCtlLangueStr::kEdit},
    {Is<QAbstractButton>, ReCtlLangueStr::kButton},
    {Is<QGroupBox>, ReCtlLangueStr::kButton},
    {Is<QTabWidget>, ReCtlLangueStr::kTabControl},
    {Is<QAbstractItemView>, ReCtlLangueStr::kListView},
}};

// Widgets that only hold other controls. Their children count as the dialog's
// own (where the dialog template would have them as siblings); anything
// derived from these, such as a scroll area's viewport, is a control of its own.
bool IsPlainContainer(const QWidget* widget) {
  const QMetaObject* type = widget->metaObject();
  return type == &QWidget::staticMetaObject || type == &QFrame::staticMetaObject ||
         type == &QDialogButtonBox::staticMetaObject;
}

}  // namespace

ReCtlLangueStr::ReCtlLangueStr(const TextLookup& lookup, MessageBoxService& messages)
    : lookup_(lookup), messages_(messages) {}

int ReCtlLangueStr::Attach(QWidget* dialog) {
  owner_ = dialog;
  return 1;
}

int ReCtlLangueStr::TranslateAll() {
  if (owner_.isNull()) {
    ReportError(kWalkError);
    return 0;
  }
  Walk(owner_);
  return 1;
}

void ReCtlLangueStr::Walk(QWidget* parent) {
  // Taken before any text changes, so the walk sees the children as they were;
  // a control that goes away while an earlier one is translated is passed by.
  std::vector<QPointer<QWidget>> children;
  for (QObject* child : parent->children()) {
    if (auto* widget = qobject_cast<QWidget*>(child); widget != nullptr && !widget->isWindow()) {
      children.emplace_back(widget);
    }
  }
  for (const QPointer<QWidget>& child : children) {
    if (child.isNull() || child->isHidden()) continue;
    std::uint32_t kind = kOther;
    Classify(child, kind);
    TranslateControl(child, kind);
    if (!child.isNull() && (Is<QGroupBox>(child) || IsPlainContainer(child))) Walk(child);
  }
}

int ReCtlLangueStr::Classify(QWidget* control, std::uint32_t& kind) {
  kind = kOther;
  if (control != nullptr) {
    for (const ClassRule& rule : kClassRules) {
      if (rule.matches(control)) {
        kind = rule.code;
        break;
      }
    }
  }
  kind_ = kind;
  return 1;
}

// Texts are looked up whole, whatever their length: a key cut to a fixed
// buffer would put a shortened text back into the control.
std::string ReCtlLangueStr::Translate(const QString& text) const {
  return lookup_.LookupIn(context_, text.toStdString());
}

int ReCtlLangueStr::TranslateControl(QWidget* control, std::uint32_t kind) {
  kind_ = kind;
  if (kind == kOther || kind > kIpAddress) return 0;
  if (kind == kTabControl || kind == kListView || kind == kIpAddress) return 1;

  // Replaces a text by its translation; an empty text has none, and an
  // unchanged one is not set again (a picture label keeps its picture).
  const auto translate = [this](const QString& text, const std::function<void(const QString&)>& set) {
    if (text.isEmpty()) return;
    const QString translated = QString::fromStdString(Translate(text));
    if (translated != text) set(translated);
  };

  if (kind == kComboBox) {
    auto* combo = qobject_cast<QComboBox*>(control);
    if (combo == nullptr) {
      ReportError(kControlError);
      return 0;
    }
    // Each item is replaced where it stands, so the order, the item data and
    // the current selection stay as they were.
    const int count = combo->count();
    for (int i = 0; i < count && i < combo->count(); ++i) {
      translate(combo->itemText(i), [combo, i](const QString& text) { combo->setItemText(i, text); });
    }
    return 1;
  }

  if (auto* label = qobject_cast<QLabel*>(control); label != nullptr && kind == kStatic) {
    translate(label->text(), [label](const QString& text) { label->setText(text); });
    return 1;
  }
  if (kind == kEdit) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
      translate(edit->text(), [edit](const QString& text) { edit->setText(text); });
      return 1;
    }
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) {
      translate(edit->toPlainText(), [edit](const QString& text) { edit->setPlainText(text); });
      return 1;
    }
  }
  if (kind == kButton) {
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
      translate(button->text(), [button](const QString& text) { button->setText(text); });
      return 1;
    }
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
      translate(group->title(), [group](const QString& text) { group->setTitle(text); });
      return 1;
    }
  }
  ReportError(kControlError);
  return 0;
}

void ReCtlLangueStr::ReportError(const char* text) {
  messages_.Show({text, QCoreApplication::applicationName().toStdString(), MessageIcon::None, MessageButtons::Ok});
}

}  // namespace rolta
