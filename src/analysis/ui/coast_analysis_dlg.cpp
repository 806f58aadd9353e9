#include "analysis/ui/coast_analysis_dlg.h"

#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "recording/trend_data.h"
#include "readouts/quantities.h"
#include "recording/record_meta.h"
#include "env/number_text.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

const QColor kSampleColor(0x1d, 0x35, 0x57);
const QColor kDirectColor(0xe6, 0x39, 0x46);
const QColor kIntervalColor(0x2a, 0x9d, 0x8f);

}  // namespace

CXyPlot::CXyPlot(QString xTitle, QString yTitle, QWidget* parent)
    : QWidget(parent), xTitle_(std::move(xTitle)), yTitle_(std::move(yTitle)) {
  setMinimumSize(360, 240);
}

void CXyPlot::SetSeries(std::vector<Series> series) {
  series_ = std::move(series);
  update();
}

void CXyPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QRectF area = QRectF(rect()).adjusted(56, 20, -24, -34);
  painter.setPen(Qt::black);
  painter.drawText(QRectF(area.left(), area.bottom() + 16, area.width(), 16), Qt::AlignHCenter, xTitle_);
  painter.drawText(QRectF(4, 2, width() - 8, 16), Qt::AlignLeft, yTitle_);
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  for (const Series& s : series_) {
    for (const QPointF& p : s.points) {
      if (!std::isfinite(p.x()) || !std::isfinite(p.y())) continue;
      x0 = std::min(x0, p.x());
      x1 = std::max(x1, p.x());
      y0 = std::min(y0, p.y());
      y1 = std::max(y1, p.y());
    }
  }
  if (!(x0 < x1) || !(y0 <= y1) || area.width() < 2) return;
  y0 = std::min(y0, 0.0);
  if (y1 - y0 < 1e-9) y1 = y0 + 1;
  // Axes run from tick to tick, so their ends read as round numbers.
  const double xStep = NiceTickStep(x1 - x0, 6);
  const double yStep = NiceTickStep(y1 - y0, 5);
  x0 = std::floor(x0 / xStep) * xStep;
  x1 = std::ceil(x1 / xStep) * xStep;
  y0 = std::floor(y0 / yStep) * yStep;
  y1 = std::ceil(y1 / yStep) * yStep;
  auto map = [&](const QPointF& p) {
    return QPointF(area.left() + (p.x() - x0) / (x1 - x0) * area.width(),
                   area.bottom() - (p.y() - y0) / (y1 - y0) * area.height());
  };
  const QColor grid(0xe0, 0xe0, 0xe0);
  // Counted, not stepped: a step too small for the magnitude would never end.
  const int xTicks = std::min(50, static_cast<int>(std::lround((x1 - x0) / xStep)));
  const int yTicks = std::min(50, static_cast<int>(std::lround((y1 - y0) / yStep)));
  for (int i = 0; i <= xTicks; ++i) {
    const double x = x0 + xStep * i;
    const double at = map({x, y0}).x();
    painter.setPen(grid);
    painter.drawLine(QPointF(at, area.top()), QPointF(at, area.bottom()));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(at - 40, area.bottom() + 2, 80, 14), Qt::AlignHCenter, QString::number(x, 'g', 6));
  }
  for (int i = 0; i <= yTicks; ++i) {
    const double y = y0 + yStep * i;
    const double at = map({x0, y}).y();
    painter.setPen(grid);
    painter.drawLine(QPointF(area.left(), at), QPointF(area.right(), at));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, at - 7, area.left() - 4, 14), Qt::AlignRight | Qt::AlignVCenter,
                     QString::number(y, 'g', 6));
  }
  painter.setPen(QColor(0x90, 0x90, 0x90));
  painter.drawRect(area);
  painter.setRenderHint(QPainter::Antialiasing);
  for (const Series& s : series_) {
    if (s.line) {
      QPolygonF line;
      for (const QPointF& p : s.points) line << map(p);
      painter.setPen(QPen(s.color, 1.8));
      painter.drawPolyline(line);
    } else {
      painter.setPen(Qt::NoPen);
      painter.setBrush(s.color);
      const double radius = s.points.size() > 200 ? 1.2 : 3.5;
      for (const QPointF& p : s.points) painter.drawEllipse(map(p), radius, radius);
    }
  }
}

CCoastAnalysisDlg::CCoastAnalysisDlg(const TextLookup& texts, MessageBoxService& boxes, QWidget* parent)
    : QDialog(parent), texts_(texts), boxes_(boxes) {
  auto tr = [this](const char* text) { return Q(texts_.Lookup(text)); };
  auto withUnit = [this](const char* caption, std::string_view column) {
    return Q(NameWithUnit(texts_.Lookup(caption), UnitOf(static_cast<std::size_t>(QuantityIndex(column)))));
  };
  setWindowTitle(tr("滑行分析"));
  setObjectName(QStringLiteral("滑行分析"));
  resize(900, 640);
  KeepOnScreen(this);
  auto* top = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(tr("等效质量 (kg)"), this));
  mass_ = new QLineEdit(this);
  mass_->setObjectName(QStringLiteral("mass"));
  mass_->setMaximumWidth(120);
  bar->addWidget(mass_);
  auto addButton = [&](const char* text) {
    auto* button = new QPushButton(tr(text), this);
    button->setObjectName(QString::fromUtf8(text));
    button->setAutoDefault(false);
    bar->addWidget(button);
    return button;
  };
  saveMass_ = addButton("保存到记录");
  saveMass_->setToolTip(tr("把等效质量保存在记录旁的说明文件中"));
  saveMass_->setEnabled(false);
  connect(saveMass_, &QPushButton::clicked, this, [this] { SaveMassToRecording(); });
  connect(addButton("计算"), &QPushButton::clicked, this, [this] { Analyse(); });
  connect(addButton("导出CSV..."), &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, Q(texts_.Lookup("导出CSV...")),
                                                      QStringLiteral("coast-down.csv"), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty() && !ExportCsv(path)) {
      boxes_.Show({texts_.Lookup("无法保存文件") + "\n" + path.toStdString(), texts_.Lookup("滑行分析"),
                   MessageIcon::Warning, MessageButtons::Ok});
    }
  });
  connect(addButton("导出PNG..."), &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, Q(texts_.Lookup("导出PNG...")),
                                                      QStringLiteral("coast-down.png"), QStringLiteral("PNG (*.png)"));
    if (!path.isEmpty() && !ExportPng(path)) {
      boxes_.Show({texts_.Lookup("无法保存图片") + "\n" + path.toStdString(), texts_.Lookup("滑行分析"),
                   MessageIcon::Warning, MessageButtons::Ok});
    }
  });
  bar->addStretch(1);
  top->addLayout(bar);
  massNote_ = new QLabel(this);
  massNote_->setObjectName(QStringLiteral("massNote"));
  top->addWidget(massNote_);

  auto* plots = new QHBoxLayout;
  // Axis and column titles carry the units of the quantity table.
  const QString speed = withUnit("速度", "speed");
  const QString resistance = Q(NameWithUnit(texts_.Lookup("阻力"), kRoadLoadUnit));
  speedPlot_ = new CXyPlot(withUnit("时间", "coast_time"), speed, this);
  forcePlot_ = new CXyPlot(speed, resistance, this);
  plots->addWidget(speedPlot_);
  plots->addWidget(forcePlot_);
  top->addLayout(plots, 1);

  auto* lower = new QHBoxLayout;
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("summary"));
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  summary_->setWordWrap(true);
  lower->addWidget(summary_, 1);
  bands_ = new QTableWidget(0, 3, this);
  bands_->setHorizontalHeaderLabels({withUnit("速度区间", "speed"), withUnit("滑行时间", "coast_time"), resistance});
  bands_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  bands_->verticalHeader()->hide();
  bands_->setMinimumWidth(340);
  bands_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lower->addWidget(bands_, 1);
  top->addLayout(lower);
}

void CCoastAnalysisDlg::SetSamples(std::vector<CoastSample> samples) {
  samples_ = std::move(samples);
  result_.reset();
  ShowResult();
}

void CCoastAnalysisDlg::SetMass(double massKg) { mass_->setText(QString::number(massKg, 'g', 10)); }

QString CCoastAnalysisDlg::MassText() const { return mass_->text(); }

QString CCoastAnalysisDlg::MassNote() const { return massNote_->text(); }

void CCoastAnalysisDlg::SetRecording(const std::filesystem::path& recording, std::optional<double> fallbackMassKg) {
  recording_ = recording;
  saveMass_->setEnabled(!recording.empty());
  mass_->clear();
  if (recording.empty()) {
    if (fallbackMassKg) SetMass(*fallbackMassKg);
    massNote_->setText(fallbackMassKg ? Q(texts_.Lookup("等效质量取自上次输入")) : QString());
    return;
  }
  const QString name = QString::fromStdString(recording.filename().string());
  const std::filesystem::path metaFile = RecordMetaPath(recording);
  const RecordMetaResult meta = ReadRecordMeta(metaFile);
  if (meta.state == RecordMetaState::Damaged) {
    massNote_->setText(name + QStringLiteral(": ") + Q(texts_.Lookup("记录说明文件损坏，等效质量未取用")));
    boxes_.Show({RecordMetaErrorText(texts_, metaFile, meta) + "\n" + texts_.Lookup("请输入等效质量"),
                 texts_.Lookup("滑行分析"), MessageIcon::Warning, MessageButtons::Ok});
    return;
  }
  if (!meta.meta.massKg) {
    massNote_->setText(name + QStringLiteral(": ") + Q(texts_.Lookup("记录中没有等效质量")));
    return;
  }
  SetMass(*meta.meta.massKg);
  massNote_->setText(name + QStringLiteral(": ") + Q(texts_.Lookup("等效质量取自记录")));
}

bool CCoastAnalysisDlg::SaveMassToRecording() {
  if (recording_.empty()) return false;
  const std::optional<double> mass = ParseMass(mass_->text().toStdString());
  if (!mass) {
    boxes_.Show(
        {texts_.Lookup("等效质量必须是正数"), texts_.Lookup("滑行分析"), MessageIcon::Warning, MessageButtons::Ok});
    return false;
  }
  const std::filesystem::path metaFile = RecordMetaPath(recording_);
  if (const std::error_code ec = StoreMass(metaFile, mass)) {
    boxes_.Show({texts_.Lookup("无法保存文件") + "\n" + metaFile.string() + "\n" + ec.message(),
                 texts_.Lookup("滑行分析"), MessageIcon::Warning, MessageButtons::Ok});
    return false;
  }
  massNote_->setText(QString::fromStdString(recording_.filename().string()) + QStringLiteral(": ") +
                     Q(texts_.Lookup("等效质量已保存到记录")));
  return true;
}

bool CCoastAnalysisDlg::Analyse() {
  const bool analysed = Run(true);
  if (analysed && analysed_) analysed_(*result_, massKg_);
  return analysed;
}

bool CCoastAnalysisDlg::AnalyseIfMassKnown() {
  if (mass_->text().trimmed().isEmpty() || samples_.empty()) return false;
  return Run(false);
}

bool CCoastAnalysisDlg::Run(bool tellWhyNot) {
  // A mass text that is not a number is no mass (not 0, as atof would read it).
  bool ok = false;
  const double mass = mass_->text().trimmed().toDouble(&ok);
  const CoastAnalysisResult analysis = AnalyseCoastDown(samples_, ok ? mass : std::nan(""));
  if (analysis.error) {
    result_.reset();
    ShowResult();
    if (tellWhyNot)
      boxes_.Show({texts_.Lookup(CoastAnalysisErrorKey(*analysis.error)), texts_.Lookup("滑行分析"),
                   MessageIcon::Warning, MessageButtons::Ok});
    return false;
  }
  massKg_ = mass;
  result_ = analysis.analysis;
  ShowResult();
  return true;
}

QString CCoastAnalysisDlg::ResultText() const { return summary_->text(); }

void CCoastAnalysisDlg::ShowResult() {
  std::vector<CXyPlot::Series> speed;
  CXyPlot::Series samples{{}, kSampleColor, false};
  for (const CoastSample& s : samples_) samples.points.emplace_back(s.t, s.kmh);
  speed.push_back(std::move(samples));
  std::vector<CXyPlot::Series> force;
  bands_->setRowCount(0);
  if (!result_) {
    summary_->setText(Q(texts_.Lookup("输入等效质量后按\"计算\"")));
    speedPlot_->SetSeries(std::move(speed));
    forcePlot_->SetSeries(std::move(force));
    return;
  }
  const CoastAnalysis& a = *result_;
  // The fitted speed curve at the sample times, from the fitted start speed.
  std::vector<double> times;
  for (const CoastSample& s : samples_) {
    if (std::isfinite(s.t) && std::isfinite(s.kmh)) times.push_back(s.t);
  }
  std::sort(times.begin(), times.end());
  if (!times.empty()) {
    const std::vector<double> fitted = IntegrateCoastDown(a.direct.load, massKg_, a.directStartKmh, times);
    CXyPlot::Series line{{}, kDirectColor, true};
    for (std::size_t i = 0; i < times.size(); ++i) line.points.emplace_back(times[i], fitted[i]);
    speed.push_back(std::move(line));
  }
  CXyPlot::Series points{{}, kIntervalColor, false};
  const double top = a.bands.empty() ? 100 : a.bands.front().highKmh;
  const double bottom = a.bands.empty() ? 0 : a.bands.back().lowKmh;
  for (const CoastBand& band : a.bands) points.points.emplace_back(band.midKmh, band.forceN);
  CXyPlot::Series direct{{}, kDirectColor, true}, interval{{}, kIntervalColor, true};
  for (double v = bottom; v <= top + 1e-9; v += (top - bottom) / 50) {
    direct.points.emplace_back(v, a.direct.load.ForceN(v));
    interval.points.emplace_back(v, a.interval.load.ForceN(v));
  }
  force.push_back(std::move(points));
  force.push_back(std::move(interval));
  force.push_back(std::move(direct));
  speedPlot_->SetSeries(std::move(speed));
  forcePlot_->SetSeries(std::move(force));

  auto fit = [&](const char* name, const RoadLoadFit& f, const char* rmsUnit) {
    return QStringLiteral(
               "%1: F0 = %2 N, F1 = %3 N/(km/h), F2 = %4 N/(km/h)²; RMS %5 %6; "
               "P(50) = %7 kW, P(80) = %8 kW")
        .arg(Q(texts_.Lookup(name)))
        .arg(f.load.f0, 0, 'f', 2)
        .arg(f.load.f1, 0, 'f', 4)
        .arg(f.load.f2, 0, 'f', 5)
        .arg(f.rms, 0, 'g', 3)
        .arg(QString::fromUtf8(rmsUnit))
        .arg(f.load.PowerKw(50), 0, 'f', 2)
        .arg(f.load.PowerKw(80), 0, 'f', 2);
  };
  summary_->setText(QStringLiteral("F(v) = F0 + F1·v + F2·v²\n") + fit("直接拟合", a.direct, "km/h") + '\n' +
                    fit("区间法", a.interval, "N"));
  for (const CoastBand& band : a.bands) {
    const int row = bands_->rowCount();
    bands_->insertRow(row);
    bands_->setItem(row, 0, new QTableWidgetItem(QStringLiteral("%1 - %2").arg(band.highKmh).arg(band.lowKmh)));
    bands_->setItem(row, 1, new QTableWidgetItem(QString::number(band.seconds, 'f', 2)));
    bands_->setItem(row, 2, new QTableWidgetItem(QString::number(band.forceN, 'f', 1)));
  }
}

bool CCoastAnalysisDlg::ExportCsv(const QString& path) const {
  if (!result_) return false;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const std::string text = CoastAnalysisCsv(*result_, massKg_);
  const bool written = file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
  return file.flush() && written;
}

bool CCoastAnalysisDlg::ExportPng(const QString& path) { return grab().save(path, "PNG"); }

}  // namespace rolta
