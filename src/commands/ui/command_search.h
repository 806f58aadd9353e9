#pragma once

#include <QObject>
#include <QPalette>
#include <functional>

#include "commands/command_filter.h"

class QComboBox;
class QLineEdit;

namespace rolta {

// A search field over the console's command list. Typing narrows the list to
// the matching captions by hiding the other rows; the list keeps all its
// positions, so the selected position is the real catalogue position for the
// settings file, the inputs and "执行". Enter in the field or on the list
// executes the selection, as "执行" does.
class CCommandSearch : public QObject {
  Q_OBJECT
 public:
  // Fills `list` with the shown captions of every position.
  CCommandSearch(QComboBox* list, const TextLookup& lookup, std::function<void()> execute, QWidget* parent);

  QLineEdit* Field() const { return field_; }
  // The positions the list shows now, in list order.
  std::vector<int> VisiblePositions() const;
  void SetFilterText(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyFilter();
  void ExecuteIfShown();

  QComboBox* list_;
  QLineEdit* field_;
  CommandFilter filter_;
  std::function<void()> execute_;
  QPalette fieldPalette_;
};

}  // namespace rolta
