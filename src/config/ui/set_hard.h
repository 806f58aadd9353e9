#pragma once

#include <array>

#include "config/param_form.h"
#include "widgets/ui/bk_dialog.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace rolta {

// Where the form's texts are looked up first ("<context>|<text>").
inline constexpr std::string_view kParamsFormTextContext = "参数表";

// "控制器参数设定": the widgets of the parameter form, built from the form's
// control table. Every show or hide loads the last record for the form; "设置"
// writes the record back and hides the window. It never owns the port.
class CSetHard : public CBkDialog {
  Q_OBJECT
 public:
  CSetHard(ParamsForm& form, const TextLookup& lookup, MessageBoxService& messages, QWidget* parent = nullptr);

  // Hide and show again: the window reloads the record and comes up.
  void Refresh() { BringUp(); }

  void OnSet();
  void OnExit() { hide(); }

  QWidget* Control(FormControlId id) const { return controls_[Index(id)]; }
  QLineEdit* Edit(FormControlId id) const;
  QComboBox* Selector(FormControlId id) const;
  QCheckBox* Check(FormControlId id) const;
  QLabel* Caption(FormControlId id) const { return captions_[Index(id)]; }
  QPushButton* SetButton() const { return setButton_; }
  QPushButton* ExitButton() const { return exitButton_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  static std::size_t Index(FormControlId id) { return static_cast<std::size_t>(id); }
  void Build();
  void Connect();
  void LoadParams();
  // Widgets into the form's state, and back.
  void ReadWidgets();
  void ApplyState();
  // Runs a reaction of the form between the two copies.
  template <typename Reaction>
  void React(Reaction reaction);

  ParamsForm& form_;
  std::array<QWidget*, kFormControlCount> controls_{};
  std::array<QLabel*, kFormControlCount> captions_{};
  QWidget* page_ = nullptr;  // the groups, in a scrolling pane
  bool applying_ = false;    // the form's state going into the widgets
  QPushButton* setButton_ = nullptr;
  QPushButton* exitButton_ = nullptr;
};

}  // namespace rolta
