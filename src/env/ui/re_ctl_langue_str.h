// Translates, once, the texts of a dialog's controls through the environment
// library's lookup. Secondary dialogs run it at the end of their set-up, after
// filling their controls with their own Chinese texts and list items.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <QPointer>
#include <QWidget>

#include "env/ui_services.h"
#include "env/text_lookup.h"

namespace rolta {

class ReCtlLangueStr {
 public:
  // Class codes of the controls, as the walk decides them.
  enum ClassCode : std::uint32_t {
    kOther = 0,
    kStatic = 1,      // QLabel: its text
    kComboBox = 2,    // QComboBox: every list item
    kEdit = 3,        // QLineEdit, QPlainTextEdit: its text
    kButton = 4,      // QAbstractButton, QGroupBox: its text or title
    kTabControl = 5,  // QTabWidget: nothing
    kListView = 6,    // item views: nothing
    kIpAddress = 7,   // no such control here: nothing
  };

  ReCtlLangueStr(const TextLookup& lookup, MessageBoxService& messages);

  // Texts are looked up in this context first (TextLookup::LookupIn).
  void SetContext(std::string_view context) { context_ = context; }
  // Remembers the dialog whose controls are translated. Returns 1.
  int Attach(QWidget* dialog);
  // Translates every shown control of the dialog in child order: its direct
  // children, and the children of group boxes and plain containers among
  // them, which in this toolkit hold controls that belong to the dialog.
  // Hidden controls keep their texts; a control's own internals are never
  // visited. 0 when there is no dialog to walk, else 1.
  int TranslateAll();
  // Sets kind from the control's type. Returns 1.
  int Classify(QWidget* control, std::uint32_t& kind);
  // 1 for kinds 1..7; 0 for kind 0, kinds above 7, and when the control is
  // not of the kind given (after saying so in a message box).
  int TranslateControl(QWidget* control, std::uint32_t kind);

  QWidget* owner() const { return owner_; }
  std::uint32_t kind() const { return kind_; }

 private:
  void Walk(QWidget* parent);
  std::string Translate(const QString& text) const;
  void ReportError(const char* text);

  const TextLookup& lookup_;
  MessageBoxService& messages_;
  QPointer<QWidget> owner_;
  std::uint32_t kind_ = kOther;
  std::string context_;
};

}  // namespace rolta
