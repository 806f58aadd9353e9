// The trend window "趋势图": the recorded quantities against time, live from
// the session or from a recording file, one lane per chosen series.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "session/controller_session.h"
#include "analysis/ui/coast_analysis_dlg.h"
#include "recording/trend_data.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace rolta {

// The plot: stacked lanes, each with its own scale, min/max per pixel column.
class CTrendPlot : public QWidget {
  Q_OBJECT
 public:
  explicit CTrendPlot(const TextLookup& texts, QWidget* parent = nullptr);

  void SetStore(const TrendStore* store) { store_ = store; }
  void SetColumns(std::vector<std::size_t> columns) { columns_ = std::move(columns); }
  // The time range shown, seconds from the store's origin.
  void SetRange(double t0, double t1) {
    t0_ = t0;
    t1_ = t1;
  }
  double RangeStart() const { return t0_; }
  double RangeEnd() const { return t1_; }
  // Pixel columns of the plot area: one min/max pair each.
  std::size_t Columns() const;
  // Buckets reduced from samples (not reused) for the last paint, all lanes.
  std::size_t LastReduced() const { return lastReduced_; }
  // Shows the range and data as they are now. When the range moved on by
  // whole pixel columns and nothing else changed the picture's look (the
  // lanes, their scales, the cursor, no coast-down marked), what is on the
  // screen scrolls with the data and only the new columns and the parts that
  // stay put (names, time labels, the left edge) are painted; otherwise the
  // whole plot is.
  void ShowChanges();
  std::optional<double> CursorTime() const { return cursor_; }
  void SetCursorTime(std::optional<double> t) { cursor_ = t; }
  void SetCoastDown(std::optional<CoastDownResult> coast) { coast_ = coast; }

 signals:
  void CursorMoved();
  // Wheel or drag: the range changed by the operator.
  void RangeChangedByOperator();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  double TimeAt(double x) const;
  QRectF PlotArea() const;
  // Reduces every lane for the current range and finds its scale.
  void LayOut();
  // The x of a time's pixel column. Counted from whole columns rather than
  // from the range's start, so that a range moved on by whole columns moves
  // the grid and the cursor by whole pixels, exactly as it moves the data.
  double ColumnX(double t) const;

  struct LaneScale {
    double low = 0;
    double high = 0;
    bool any = false;
    bool operator==(const LaneScale&) const = default;
  };
  // All that the picture shows besides the range's start.
  struct Look {
    QSize size;
    double span = 0;
    const TrendStore* store = nullptr;
    std::uint64_t generation = 0;
    std::vector<QString> names;
    std::vector<LaneScale> scales;
    std::optional<double> cursor;
    bool coast = false;
    bool operator==(const Look&) const = default;
  };
  Look CurrentLook() const;
  // What the screen shows once the paints asked for are done.
  struct Picture {
    Look look;
    double t0 = 0;
    double newest = 0;  // the store's newest sample time then
  };

  const TextLookup& texts_;
  const TrendStore* store_ = nullptr;
  std::vector<std::size_t> columns_;
  double t0_ = 0;
  double t1_ = 10;
  std::optional<double> cursor_;
  std::optional<CoastDownResult> coast_;
  std::optional<double> dragFrom_;
  std::vector<MinMaxColumns> lanes_;                       // one per lane, kept between paints
  std::vector<const std::vector<MinMaxBucket>*> buckets_;  // each lane's, from LayOut
  std::vector<LaneScale> scales_;                          // each lane's, from LayOut
  std::vector<QString> names_;
  std::vector<QRectF> nameBoxes_;  // where each lane's name is placed
  std::vector<QRect> nameRects_;   // the part of that its text covers
  std::size_t reducedSincePaint_ = 0;
  std::size_t lastReduced_ = 0;
  std::optional<Picture> shown_;
};

class CTrendDlg : public QDialog {
  Q_OBJECT
 public:
  CTrendDlg(ControllerSession& session, const TextLookup& texts, MessageBoxService& boxes, QWidget* parent = nullptr);
  ~CTrendDlg() override;

  // Shows the window (live).
  void BringUp();
  // Opens a recording; false (after the message) when it cannot be read.
  bool OpenRecording(const QString& path);
  // Back to the live data, following the newest frame.
  void ShowLive();
  bool ExportPng(const QString& path);
  void SetSpan(double seconds);
  // Shows this range and stops following the newest frame (as zoom and pan do).
  void ShowRange(double t0, double t1);
  void SetPaused(bool paused);
  void SetSeriesShown(std::size_t column, bool shown);

  // For tests.
  const TrendStore& LiveStore() const { return live_; }
  const TrendStore& FileStore() const { return file_; }
  bool ShowingFile() const { return showingFile_; }
  CTrendPlot* Plot() const { return plot_; }
  QString CursorText() const;
  QString CoastText() const;
  // "滑行分析": the analysis window with the latest coast-down shown here,
  // and the mass kept with its recording (the opened file, or for the live
  // data the recording `liveRecording` names for the coast-down's span).
  CCoastAnalysisDlg* OpenCoastAnalysis();
  // Handed to the coast-down window when it is made.
  void SetCoastAnalysedObserver(CCoastAnalysisDlg::AnalysedObserver observer) { coastAnalysed_ = std::move(observer); }
  // The recording that holds every frame from `from` to `to`; empty when none does.
  using RecordingFor = std::function<std::filesystem::path(std::chrono::steady_clock::time_point from,
                                                           std::chrono::steady_clock::time_point to)>;
  void SetLiveRecording(RecordingFor liveRecording) { liveRecording_ = std::move(liveRecording); }
  // Repaints now instead of at the next tick.
  void Refresh();
  // A frame as the session hands it over (benchmarks feed frames this way).
  void AddLiveFrame(const ControllerStatus& status, std::chrono::steady_clock::time_point at) { OnFrame(status, at); }
  // Where "打开记录..." starts.
  void SetRecordFolder(const std::filesystem::path& folder) { recordFolder_ = folder; }
  std::chrono::steady_clock::time_point LiveOrigin() const { return origin_; }
  bool Ticking() const { return tick_.isActive(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void OnFrame(const ControllerStatus& status, std::chrono::steady_clock::time_point at);
  // Takes the frames the session's history has gained since the last call
  // (all it holds, the first time): the live data go back to when the port
  // opened, however late the window opens.
  void PullHistory();
  double SecondsOf(std::chrono::steady_clock::time_point at) const;
  // The analysis window, when open, follows what this window shows.
  void UpdateCoastAnalysis();
  void OnTick();
  void UpdateColumns();
  void UpdateSeriesNames();
  void UpdateLabels();
  // The tick runs only while new live frames can change the picture.
  void UpdateTicking();
  const TrendStore& Shown() const { return showingFile_ ? file_ : live_; }

  ControllerSession& session_;
  const TextLookup& texts_;
  MessageBoxService& boxes_;
  std::chrono::steady_clock::time_point origin_;
  std::uint64_t nextFrame_ = 0;                                       // the next frame of the session's history to take
  std::optional<std::chrono::steady_clock::time_point> lastOpening_;  // the latest opening taken
  TrendStore live_;
  TrendStore file_;
  bool showingFile_ = false;
  std::filesystem::path filePath_;
  std::filesystem::path recordFolder_;
  RecordingFor liveRecording_;
  bool paused_ = false;
  bool following_ = true;
  bool dirty_ = false;
  double span_ = 60;
  double paintedUpTo_ = -1e300;  // the newest frame time at the last repaint
  int heldTicks_ = 0;            // ticks with new frames not painted yet
  std::optional<CoastDownResult> coast_;

  CTrendPlot* plot_ = nullptr;
  QListWidget* series_ = nullptr;
  QComboBox* spanList_ = nullptr;
  QPushButton* pauseButton_ = nullptr;
  QLabel* sourceLabel_ = nullptr;
  QLabel* cursorLabel_ = nullptr;
  QLabel* coastLabel_ = nullptr;
  QTimer tick_;
  QPointer<CCoastAnalysisDlg> analysis_;
  CCoastAnalysisDlg::AnalysedObserver coastAnalysed_;
};

}  // namespace rolta
