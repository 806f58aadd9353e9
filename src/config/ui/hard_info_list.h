#pragma once

#include <string>

#include <QDialog>

#include "config/params_exchange.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace rolta {

// "硬件信息": the parameter record as a read-only list of lines. Every show
// or hide rebuilds the list from the exchange's copy of the last record for
// the listing.
class CHardInfoList : public QDialog {
  Q_OBJECT
 public:
  // `picturePath`: the environment record's picture; empty or missing shows none.
  CHardInfoList(const ParamsExchange& exchange, const TextLookup& lookup, MessageBoxService& messages,
                const std::string& picturePath, QWidget* parent = nullptr);

  // Hide and show again: the window rebuilds its list and comes up.
  void Refresh();

  QListWidget* List() const { return list_; }
  QPushButton* OkButton() const { return ok_; }
  QLabel* Picture() const { return picture_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildSummaryList();

  const ParamsExchange& exchange_;
  const TextLookup& lookup_;
  QListWidget* list_;
  QPushButton* ok_;
  QLabel* picture_;
};

}  // namespace rolta
