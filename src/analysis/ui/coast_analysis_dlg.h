// The coast-down analysis window "滑行分析": the effective mass typed in, the
// road-load coefficients of both methods, the speed-time samples with the
// fitted curve, the force-speed band points with the fitted curves, and
// export of the result as CSV and PNG.
#pragma once

#include <QDialog>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "analysis/coast_analysis.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace rolta {

// A small x-y plot: point series and line series on shared axes.
class CXyPlot : public QWidget {
  Q_OBJECT
 public:
  struct Series {
    std::vector<QPointF> points;
    QColor color;
    bool line = false;
  };
  CXyPlot(QString xTitle, QString yTitle, QWidget* parent = nullptr);
  void SetSeries(std::vector<Series> series);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString xTitle_, yTitle_;
  std::vector<Series> series_;
};

class CCoastAnalysisDlg : public QDialog {
  Q_OBJECT
 public:
  CCoastAnalysisDlg(const TextLookup& texts, MessageBoxService& boxes, QWidget* parent = nullptr);

  // The samples of a coast-down; the analysis runs when a mass is there.
  void SetSamples(std::vector<CoastSample> samples);
  void SetMass(double massKg);
  // The recording the samples come from (empty: none) and the mass kept with
  // it; without a recording, `fallbackMassKg` (the operator's latest). A
  // recording without its mass, or whose details are damaged, gives no mass
  // (and a message for the damaged one), never a guessed one.
  void SetRecording(const std::filesystem::path& recording, std::optional<double> fallbackMassKg);
  // Keeps the typed mass with the recording; false after the message when
  // there is no recording, the mass is not one, or it cannot be written.
  bool SaveMassToRecording();
  QString MassText() const;
  QString MassNote() const;
  // Analyses the samples with the typed mass; false (after the message) when
  // the data cannot carry a fit.
  bool Analyse();
  // With a mass at hand (kept with the recording, or typed before), shows the
  // result at once; unsuitable data leaves the hint, without a message.
  bool AnalyseIfMassKnown();
  // Told of every analysis the operator asked for ("计算") that gave a result.
  using AnalysedObserver = std::function<void(const CoastAnalysis& analysis, double massKg)>;
  void SetAnalysedObserver(AnalysedObserver observer) { analysed_ = std::move(observer); }
  bool ExportCsv(const QString& path) const;
  bool ExportPng(const QString& path);
  const std::optional<CoastAnalysis>& Result() const { return result_; }
  QString ResultText() const;

 private:
  void ShowResult();
  bool Run(bool tellWhyNot);

  const TextLookup& texts_;
  MessageBoxService& boxes_;
  std::vector<CoastSample> samples_;
  std::optional<CoastAnalysis> result_;
  AnalysedObserver analysed_;
  double massKg_ = 0;
  std::filesystem::path recording_;
  QLineEdit* mass_ = nullptr;
  QLabel* massNote_ = nullptr;
  QPushButton* saveMass_ = nullptr;
  QLabel* summary_ = nullptr;
  QTableWidget* bands_ = nullptr;
  CXyPlot* speedPlot_ = nullptr;
  CXyPlot* forcePlot_ = nullptr;
};

}  // namespace rolta
