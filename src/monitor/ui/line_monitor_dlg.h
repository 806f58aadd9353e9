// "通讯监视": every frame on the controller line, as the line monitor core
// records it, in a list that takes new rows in batches a few times a second.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <array>
#include <cstdint>
#include <vector>

#include "session/controller_session.h"
#include "monitor/hex_frame.h"
#include "monitor/line_monitor.h"
#include "monitor/monitor_texts.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace rolta {

// The rows of a LineMonitor that pass a filter, by sequence number.
class MonitorTableModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  MonitorTableModel(const LineMonitor& monitor, const TextLookup& lookup, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Drops the rows the monitor no longer keeps and appends the new ones that
  // pass the filter, each as one change of the model.
  void Refresh();
  void SetFilter(const MonitorFilter& filter);
  const MonitorFilter& Filter() const { return filter_; }
  // Starts again from what the monitor keeps (after it was cleared).
  void Rebuild();
  const std::vector<std::uint64_t>& Sequences() const { return sequences_; }

 private:
  const LineMonitor& monitor_;
  const TextLookup& lookup_;
  MonitorFilter filter_;
  std::vector<std::uint64_t> sequences_;
  std::uint64_t seen_ = 0;  // next sequence to look at
};

class CLineMonitorDlg : public QDialog {
  Q_OBJECT
 public:
  CLineMonitorDlg(ControllerSession& session, const TextLookup& lookup, MessageBoxService& boxes,
                  QWidget* parent = nullptr);
  ~CLineMonitorDlg() override;

  // Shows the window in front; it records while it is shown.
  void BringUp();
  // What the timer does: new rows into the list, counters refreshed.
  void RefreshNow();

  void SetPaused(bool paused);
  void ClearRows();
  // Direction: 0 all, 1 sent, 2 received, 3 skipped. Type: empty for all,
  // else a decimal or 0x number 0..255; otherwise a box says why and false
  // is returned with the filter unchanged.
  bool SetFilter(int direction, const QString& type);
  // Selects the next row after the current one that contains `text`.
  bool FindNext(const QString& text);
  // Writes the listed rows; a failure is reported in a box.
  bool SaveRows(const QString& path, bool csv);
  bool SendLine(const QString& text);

  LineMonitor& Monitor() { return monitor_; }
  MonitorTableModel& Model() { return model_; }
  QTableView* View() const { return view_; }
  QLineEdit* SendEdit() const { return sendEdit_; }
  // The value label of counter `index` (order of MonitorCounterTexts).
  QLabel* CounterValue(std::size_t index) const { return counterValues_[index]; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildLayout();
  void ApplyFilterInputs();
  void AskSave(bool csv);

  ControllerSession& session_;
  const TextLookup& lookup_;
  MessageBoxService& boxes_;
  LineMonitor monitor_;
  MonitorTableModel model_;
  HexFrameSender sender_;
  QTimer* timer_ = nullptr;
  QTableView* view_ = nullptr;
  std::array<QLabel*, kMonitorCounterCount> counterValues_{};
  std::array<QLabel*, kMonitorCounterCount> counterCaptions_{};
  QPushButton* pause_ = nullptr;
  QComboBox* direction_ = nullptr;
  QLineEdit* type_ = nullptr;
  QLineEdit* find_ = nullptr;
  QLabel* findResult_ = nullptr;
  QLineEdit* sendEdit_ = nullptr;
};

// The console's ways in: a button in `toolsGroup` and Ctrl+M on `console`.
void InstallLineMonitorOpeners(QWidget& console, QWidget* toolsGroup, CLineMonitorDlg& monitor,
                               const TextLookup& lookup);
inline constexpr const char* kLineMonitorTitle = "通讯监视";
inline constexpr const char* kLineMonitorShortcut = "Ctrl+M";

}  // namespace rolta
