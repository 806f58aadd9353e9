#pragma once

#include <QDialog>

class QListWidget;

namespace rolta {

class TextLookup;
class MessageBoxService;

// "重要提示": which console versions go with which controller firmware,
// shown once at start-up until the operator acknowledges it.
class CDiagTipsList : public QDialog {
  Q_OBJECT
 public:
  CDiagTipsList(const TextLookup& lookup, MessageBoxService& messages, QWidget* parent = nullptr);

  bool Acknowledged() const { return acknowledged_; }
  QListWidget* List() const { return list_; }

 private:
  void OnAcknowledge();

  QListWidget* list_;
  bool acknowledged_ = false;
};

}  // namespace rolta
