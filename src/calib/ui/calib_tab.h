// The calibration workbench: fetch and store buttons for every table of the
// controller, and the grid that shows the working table for editing.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <QDialog>
#include <QRect>
#include <QSize>

#include "calib/calib_exchange.h"
#include "env/ui_services.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace rolta {

class TextLookup;

class CCalibTab : public QDialog, public CalibView {
  Q_OBJECT
 public:
  // Data rows of the grid once shown, and while the window starts.
  static constexpr int kDataRows = 51;
  static constexpr int kStartupDataRows = 21;
  static constexpr int kColumns = 4;
  // Where the window's centre goes each time it is shown.
  static constexpr int kCentreX = 512;
  static constexpr int kCentreY = 384;

  // Created hidden; `picturePath` is the environment record's picture, used
  // instead of the built-in one when that file can be loaded.
  CCalibTab(CalibExchange& exchange, const TextLookup& lookup, MessageBoxService& boxes,
            const std::string& picturePath = {}, QWidget* parent = nullptr);
  ~CCalibTab() override;

  // A reply replaced the working table: hide and show again, which rebuilds
  // the grid and brings the window to the front.
  void OnWorkingTableChanged() override;

  // The grid's data rows 1..51 as the texts of the two value columns.
  std::vector<CalibGridRow> GridRows() const;
  // Row 0 is the header row, column 0 the row numbers.
  QString CellText(int row, int column) const;
  int StretchFlag() const { return stretch_; }

  QTableWidget* Grid() const { return grid_; }
  QPushButton* FetchButton(CalibChannel channel) const;
  QPushButton* StoreButton(CalibChannel channel) const;
  QPushButton* AdjustButton() const { return adjust_; }
  QPushButton* ExitButton() const { return exit_; }
  QLabel* Picture() const { return picture_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayOutGrid(int dataRows);
  void ShowWorkingTable();
  void AdjustTable();
  void ExpandToFit(bool rowsToo);
  void SetCaptions();
  void LoadPicture(const std::string& path);
  QString Text(std::string_view key) const;

  CalibExchange& exchange_;
  const TextLookup& lookup_;
  QTableWidget* grid_ = nullptr;
  QGroupBox* fetchGroup_ = nullptr;
  QGroupBox* storeGroup_ = nullptr;
  std::array<QPushButton*, kCalibChannelCount> fetch_{};
  std::array<QPushButton*, kCalibChannelCount> store_{};
  QPushButton* adjust_ = nullptr;
  QPushButton* exit_ = nullptr;
  QLabel* picture_ = nullptr;
  int stretch_ = 1;
};

}  // namespace rolta
