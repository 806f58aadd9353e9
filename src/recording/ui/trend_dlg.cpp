#include "recording/ui/trend_dlg.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <fstream>

#include "recording/record_meta.h"
#include "recording/recording.h"
#include "readouts/quantities.h"
#include "link/frames.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

// At most about 30 repaints a second, whatever the frame rate.
constexpr int kTickMs = 33;
// Frames held back by the pixel-column rule are painted after this many ticks
// at the latest: the last frames of a test (its closing frame, the end of a
// coast-down) are followed by no others that would move the picture on.
constexpr int kMaxHeldTicks = 15;
// Live samples are kept for the longest window offered, and a little more.
constexpr double kLiveKeepSeconds = 330;
constexpr double kSpans[] = {10, 60, 300};
constexpr double kGapSeconds = 1.0;
constexpr const char* kSpanTexts[] = {"10 秒", "60 秒", "5 分钟"};
// A lane's name, in its top left corner.
constexpr int kNameFlags = Qt::AlignLeft | Qt::AlignTop;

const QColor kLaneColors[] = {QColor(0x1d, 0x35, 0x57), QColor(0xe6, 0x39, 0x46), QColor(0x2a, 0x9d, 0x8f),
                              QColor(0xf4, 0xa2, 0x61), QColor(0x6a, 0x4c, 0x93), QColor(0x26, 0x46, 0x53)};

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The lane's caption and the unit its data were written with.
QString SeriesName(const TextLookup& texts, std::size_t column, BenchUnits units) {
  return Q(NameWithUnit(texts.Lookup(RecordColumns()[column].caption), UnitOf(column, units)));
}

QString Number(double value) { return QString::number(value, 'g', 6); }

const std::size_t kSpeed = static_cast<std::size_t>(RecordColumnIndex("speed"));
const std::size_t kCoastTime = static_cast<std::size_t>(RecordColumnIndex("coast_time"));
QString UnitText(std::size_t column) { return Q(UnitOf(column)); }

// An axis end with as many decimals as the lane's range needs to tell its ends
// apart: "107" and "-0.231" rather than "107.171" and "-0.231477".
QString AxisNumber(double value, double range) {
  const int decimals = range > 0 ? std::clamp(2 - static_cast<int>(std::floor(std::log10(range))), 0, 6) : 2;
  return QString::number(value, 'f', decimals);
}

// The buckets to draw for the pixel columns first..last: from the second
// drawn point before first to the second after last, or the line's ends. A
// line's first and last steps are drawn apart by the raster engine; cut
// there, they fall outside the columns painted.
std::pair<std::size_t, std::size_t> DrawnRun(const std::vector<MinMaxBucket>& buckets, long long first,
                                             long long last) {
  const auto count = static_cast<long long>(buckets.size());
  auto drawn = [&](long long i) { return i >= 0 && i < count && buckets[static_cast<std::size_t>(i)].any; };
  long long from = std::clamp(first, 0LL, count - 1);
  for (int found = 0; from > 0 && found < 2;) {
    if (drawn(--from)) ++found;
  }
  long long to = std::clamp(last, 0LL, count - 1);
  for (int found = 0; to < count - 1 && found < 2;) {
    if (drawn(++to)) ++found;
  }
  return {static_cast<std::size_t>(std::min(from, to)), static_cast<std::size_t>(to)};
}

}  // namespace

CTrendPlot::CTrendPlot(const TextLookup& texts, QWidget* parent) : QWidget(parent), texts_(texts) {
  setMouseTracking(true);
  setMinimumSize(480, 300);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QRectF CTrendPlot::PlotArea() const { return QRectF(rect()).adjusted(72, 6, -24, -24); }

std::size_t CTrendPlot::Columns() const { return static_cast<std::size_t>(std::max(0.0, PlotArea().width())); }

double CTrendPlot::TimeAt(double x) const {
  const QRectF area = PlotArea();
  return t0_ + (x - area.left()) / std::max(1.0, area.width()) * (t1_ - t0_);
}

double CTrendPlot::ColumnX(double t) const {
  const double column = (t1_ - t0_) / static_cast<double>(std::max<std::size_t>(1, Columns()));
  // The small allowance keeps a time on a column's edge in that column
  // however the division rounds.
  auto index = [column](double time) { return std::floor(time / column + 1e-6); };
  return PlotArea().left() + (index(t) - index(t0_)) + 0.5;
}

void CTrendPlot::LayOut() {
  const std::size_t lanes = columns_.size();
  const std::size_t width = Columns();
  const QRectF area = PlotArea();
  lanes_.resize(lanes);
  buckets_.assign(lanes, nullptr);
  scales_.assign(lanes, LaneScale{});
  names_.resize(lanes);
  nameBoxes_.resize(lanes);
  nameRects_.resize(lanes);
  if (store_ == nullptr || !(t1_ > t0_)) return;
  for (std::size_t lane = 0; lane < lanes; ++lane) {
    const double laneHeight = area.height() / static_cast<double>(lanes);
    const QRectF box(area.left(), area.top() + laneHeight * static_cast<double>(lane), area.width(), laneHeight);
    QString name = SeriesName(texts_, columns_[lane], store_->Units());
    const QRectF nameBox = box.adjusted(6, 2, -4, -2);
    // Measuring the text costs more than the rest of a layout: only when it
    // or its place changed.
    if (name != names_[lane] || nameBox != nameBoxes_[lane]) {
      nameRects_[lane] =
          QFontMetricsF(font()).boundingRect(nameBox, kNameFlags, name).toAlignedRect().adjusted(-2, -2, 2, 2);
      names_[lane] = std::move(name);
      nameBoxes_[lane] = nameBox;
    }
    const std::vector<MinMaxBucket>& buckets = lanes_[lane].Reduce(*store_, columns_[lane], t0_, t1_, width);
    buckets_[lane] = &buckets;
    reducedSincePaint_ += lanes_[lane].LastReduced();
    double low = INFINITY, high = -INFINITY;
    for (const MinMaxBucket& b : buckets) {
      if (!b.any) continue;
      low = std::min(low, b.min);
      high = std::max(high, b.max);
    }
    if (!(low <= high)) continue;
    if (high - low < 1e-9) {
      low -= 1;
      high += 1;
    }
    // Some room above and below, and the ends on whole steps of a round
    // number: the scale moves in steps rather than with every new extreme,
    // so a rising speed rescales its lane a few times instead of at every
    // repaint, and the picture can scroll in between.
    const double pad = (high - low) * 0.08;
    const double step = NiceTickStep(high - low + 2 * pad, 4);
    scales_[lane] = LaneScale{std::floor((low - pad) / step) * step, std::ceil((high + pad) / step) * step, true};
  }
}

CTrendPlot::Look CTrendPlot::CurrentLook() const {
  return Look{size(), t1_ - t0_, store_,  store_ != nullptr ? store_->Generation() : 0,
              names_, scales_,   cursor_, coast_.has_value()};
}

void CTrendPlot::ShowChanges() {
  LayOut();
  const Look look = CurrentLook();
  const double newest = store_ != nullptr ? store_->LastTime() : 0;
  const std::optional<Picture> before = std::exchange(shown_, Picture{look, t0_, newest});
  const QRectF area = PlotArea();
  const auto width = static_cast<long long>(Columns());
  const double column = (t1_ - t0_) / static_cast<double>(std::max<long long>(1, width));
  const double shift = before ? (t0_ - before->t0) / column : 0;
  const long long step = std::llround(shift);
  // The column the newest sample painted before is in now: from it on the
  // buckets may have changed, and from the one before it the line joining
  // them (one more column for rounding).
  const long long changedFrom = before ? static_cast<long long>(std::floor((before->newest - t0_) / column)) - 2 : -1;
  const bool scrolls = isVisible() && before && before->look == look && !look.coast && step >= 0 &&
                       std::abs(shift - static_cast<double>(step)) < 1e-6 && newest >= before->newest &&
                       changedFrom >= 1 && changedFrom < width;
  if (!scrolls) {
    update();
    return;
  }
  const QRect plot = area.toAlignedRect();
  const int left = plot.left();
  const int top = plot.top();
  const int height = plot.height() + 1;  // the lanes' bottom edge included
  // The left edge (the lanes' border, drawn over by the first column) stays
  // put, as does the right border; the columns between move with the data.
  if (step > 0) scroll(-static_cast<int>(step), 0, QRect(left + 1, top, static_cast<int>(width) - 1, height));
  // The first two columns again: the line now starts there, and the raster
  // engine draws a line's first step apart from the same step further on.
  QRegion fresh(left, top, 2, height);
  // The changed columns up to the right border, which a mark at the range's
  // very end is drawn on.
  fresh += QRect(left + static_cast<int>(changedFrom), top, static_cast<int>(width - changedFrom) + 1, height);
  fresh += QRect(0, top + height, this->width(), this->height() - top - height);  // the time labels
  // The names stay put: where they are, and where the scroll took them.
  for (const QRect& name : nameRects_) fresh += name.adjusted(-static_cast<int>(step), 0, 0, 0);
  update(fresh);
}

void CTrendPlot::paintEvent(QPaintEvent* event) {
  LayOut();
  lastReduced_ = std::exchange(reducedSincePaint_, 0);
  // Partial paints (a scrolled picture's new columns) skip what they do not touch.
  const QRegion& region = event->region();
  if (region.contains(rect())) {
    shown_ = Picture{CurrentLook(), t0_, store_ != nullptr ? store_->LastTime() : 0};
  } else if (shown_ && !(shown_->look == CurrentLook())) {
    // Painted in part with a look the rest does not have: all of it again.
    shown_.reset();
    update();
  }
  auto touches = [&region](const QRectF& rect) { return region.intersects(rect.toAlignedRect()); };

  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QRectF area = PlotArea();
  const double span = t1_ - t0_;
  if (store_ == nullptr || area.width() < 2 || area.height() < 2 || !(span > 0)) return;
  auto xOf = [&](double t) { return area.left() + (t - t0_) / span * area.width(); };
  if (coast_) {
    // The coast-down's band under everything else, in an opaque tint: a
    // translucent fill over the drawing blends every pixel of it.
    const double x0 = std::clamp(xOf(coast_->marks.startTime), area.left(), area.right());
    const double x1 = std::clamp(xOf(coast_->marks.endTime), area.left(), area.right());
    if (x1 > x0) painter.fillRect(QRectF(x0, area.top(), x1 - x0, area.height()), QColor(0xe8, 0xf4, 0xf3));
  }

  // Time axis.
  painter.setPen(QColor(0xc0, 0xc0, 0xc0));
  const double step = NiceTickStep(span, 8);
  for (double t = std::ceil(t0_ / step) * step; t <= t1_; t += step) {
    const double x = ColumnX(t);
    if (touches(QRectF(x - 1, area.top(), 2, area.height()))) {
      painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    }
    const QRectF label(x - 40, area.bottom() + 2, 80, 20);
    if (touches(label)) painter.drawText(label, Qt::AlignHCenter | Qt::AlignTop, Number(t) + QStringLiteral(" s"));
  }

  const std::size_t lanes = columns_.size();
  for (std::size_t lane = 0; lane < lanes; ++lane) {
    const double laneHeight = area.height() / static_cast<double>(lanes);
    const QRectF box(area.left(), area.top() + laneHeight * static_cast<double>(lane), area.width(), laneHeight);
    if (!touches(box.adjusted(-area.left(), -1, 1, 1))) continue;
    painter.setPen(QColor(0x90, 0x90, 0x90));
    painter.drawRect(box);
    const QColor color = kLaneColors[lane % std::size(kLaneColors)];
    painter.setPen(color);
    if (region.intersects(nameRects_[lane])) {
      painter.drawText(nameBoxes_[lane], kNameFlags, names_[lane]);
    }

    const LaneScale scale = scales_[lane];
    if (!scale.any) continue;
    const double low = scale.low;
    const double high = scale.high;
    painter.setPen(Qt::black);
    const QRectF highLabel(0, box.top(), area.left() - 4, 16);
    const QRectF lowLabel(0, box.bottom() - 16, area.left() - 4, 16);
    if (touches(highLabel)) painter.drawText(highLabel, Qt::AlignRight | Qt::AlignTop, AxisNumber(high, high - low));
    if (touches(lowLabel)) painter.drawText(lowLabel, Qt::AlignRight | Qt::AlignBottom, AxisNumber(low, high - low));
    auto yOf = [&](double v) { return box.bottom() - (v - low) / (high - low) * box.height(); };
    const std::vector<MinMaxBucket>& buckets = *buckets_[lane];
    // One pixel wide: the raster engine draws such a line directly, whereas
    // any wider pen is outlined and filled as a polygon, which for a line
    // going up and down the lane in every pixel column took half a second.
    painter.setPen(QPen(color, 1));
    // Frames further apart than a second are a gap in the data and in the
    // line; closer ones are joined however many pixel columns lie between.
    const double secondsPerColumn = span / static_cast<double>(std::max<std::size_t>(1, buckets.size()));
    auto drawLine = [&](std::size_t from, std::size_t to) {
      QPolygonF line;
      line.reserve(static_cast<qsizetype>(2 * (to - from + 1)));
      std::optional<std::size_t> previous;
      for (std::size_t i = from; i <= to; ++i) {
        const MinMaxBucket& b = buckets[i];
        if (!b.any) continue;
        if (previous && static_cast<double>(i - *previous - 1) * secondsPerColumn > kGapSeconds) {
          if (line.size() > 1) painter.drawPolyline(line);
          line.clear();
        }
        previous = i;
        const double x = area.left() + static_cast<double>(i) + 0.5;
        line << QPointF(x, yOf(b.max));
        if (b.min != b.max) line << QPointF(x, yOf(b.min));
      }
      if (line.size() == 1) line << line.front() + QPointF(1, 0);
      if (line.size() > 1) painter.drawPolyline(line);
    };
    // Only around the columns this paint touches: a scrolled picture's paint
    // draws a few dozen points of the line rather than all of them.
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (const QRect& part : region) {
      const QRect inLane = part.intersected(box.toAlignedRect());
      if (inLane.isEmpty() || buckets.empty()) continue;
      runs.push_back(DrawnRun(buckets, static_cast<long long>(inLane.left() - area.left()),
                              static_cast<long long>(inLane.right() - area.left())));
    }
    std::sort(runs.begin(), runs.end());
    for (std::size_t i = 0; i < runs.size(); ++i) {
      std::pair<std::size_t, std::size_t> run = runs[i];
      while (i + 1 < runs.size() && runs[i + 1].first <= run.second)
        run.second = std::max(run.second, runs[++i].second);
      drawLine(run.first, run.second);
    }
  }

  if (coast_) {
    const CoastDownMarks& marks = coast_->marks;
    painter.setPen(QPen(QColor(0x2a, 0x9d, 0x8f), 1.5, Qt::DashLine));
    for (const double t : {marks.startTime, marks.endTime}) {
      if (t < t0_ || t > t1_) continue;
      painter.drawLine(QPointF(xOf(t), area.top()), QPointF(xOf(t), area.bottom()));
    }
  }
  if (cursor_ && *cursor_ >= t0_ && *cursor_ <= t1_) {
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.drawLine(QPointF(ColumnX(*cursor_), area.top()), QPointF(ColumnX(*cursor_), area.bottom()));
  }
}

void CTrendPlot::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) nameBoxes_.clear();  // measured again at the next layout
}

void CTrendPlot::mouseMoveEvent(QMouseEvent* event) {
  const double t = TimeAt(event->position().x());
  if (dragFrom_ && (event->buttons() & Qt::LeftButton)) {
    const double shift = *dragFrom_ - t;
    t0_ += shift;
    t1_ += shift;
    emit RangeChangedByOperator();
  } else {
    cursor_ = t;
    emit CursorMoved();
  }
  update();
}

void CTrendPlot::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragFrom_ = TimeAt(event->position().x());
}

void CTrendPlot::mouseReleaseEvent(QMouseEvent*) { dragFrom_.reset(); }

void CTrendPlot::wheelEvent(QWheelEvent* event) {
  const double at = TimeAt(event->position().x());
  const double factor = event->angleDelta().y() > 0 ? 0.8 : 1.25;
  const double newSpan = std::clamp((t1_ - t0_) * factor, 0.05, 1e7);
  const double share = (at - t0_) / (t1_ - t0_);
  t0_ = at - share * newSpan;
  t1_ = t0_ + newSpan;
  emit RangeChangedByOperator();
  update();
}

CTrendDlg::CTrendDlg(ControllerSession& session, const TextLookup& texts, MessageBoxService& boxes, QWidget* parent)
    : QDialog(parent),
      session_(session),
      texts_(texts),
      boxes_(boxes),
      origin_(std::chrono::steady_clock::now()),
      live_(kLiveKeepSeconds),
      recordFolder_(DefaultRecordFolder()) {
  // Live times count from the oldest moment the session's history knows,
  // so the past it holds lies at positive times.
  const FrameHistory& history = session_.History();
  if (!history.Openings().empty()) origin_ = std::min(origin_, history.Openings().front());
  if (!history.Empty()) origin_ = std::min(origin_, history.At(history.Begin()).at);
  live_.SetUnits(CurrentBenchUnits());
  auto tr = [this](const char* text) { return Q(texts_.Lookup(text)); };
  setWindowTitle(tr("趋势图"));
  setObjectName(QStringLiteral("趋势图"));
  resize(980, 620);
  KeepOnScreen(this);

  auto* top = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  spanList_ = new QComboBox(this);
  spanList_->setObjectName(QStringLiteral("spanList"));
  for (const char* text : kSpanTexts) spanList_->addItem(tr(text));
  spanList_->setCurrentIndex(1);
  connect(spanList_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) SetSpan(kSpans[index]);
  });
  bar->addWidget(new QLabel(tr("时间窗口"), this));
  bar->addWidget(spanList_);
  auto makeButton = [&](const char* text) {
    auto* button = new QPushButton(tr(text), this);
    button->setObjectName(QString::fromUtf8(text));
    button->setAutoDefault(false);
    bar->addWidget(button);
    return button;
  };
  pauseButton_ = makeButton("暂停");
  pauseButton_->setCheckable(true);
  connect(pauseButton_, &QPushButton::toggled, this, [this](bool on) { SetPaused(on); });
  connect(makeButton("实时"), &QPushButton::clicked, this, [this] { ShowLive(); });
  connect(makeButton("打开记录..."), &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, Q(texts_.Lookup("打开记录...")),
                                                      QString::fromStdString(recordFolder_.string()),
                                                      QStringLiteral("CSV (*.csv);;* (*)"));
    if (!path.isEmpty()) OpenRecording(path);
  });
  connect(makeButton("导出PNG..."), &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, Q(texts_.Lookup("导出PNG...")), QStringLiteral("trend.png"),
                                                      QStringLiteral("PNG (*.png)"));
    if (!path.isEmpty() && !ExportPng(path)) {
      boxes_.Show({texts_.Lookup("无法保存图片") + "\n" + path.toStdString(), texts_.Lookup("趋势图"),
                   MessageIcon::Warning, MessageButtons::Ok});
    }
  });
  connect(makeButton("滑行分析"), &QPushButton::clicked, this, [this] { OpenCoastAnalysis(); });
  bar->addStretch(1);
  sourceLabel_ = new QLabel(this);
  bar->addWidget(sourceLabel_);
  top->addLayout(bar);

  auto* middle = new QHBoxLayout;
  series_ = new QListWidget(this);
  series_->setObjectName(QStringLiteral("seriesList"));
  series_->setMaximumWidth(200);
  const std::size_t defaults[] = {static_cast<std::size_t>(RecordColumnIndex("speed")),
                                  static_cast<std::size_t>(RecordColumnIndex("force")),
                                  static_cast<std::size_t>(RecordColumnIndex("power"))};
  for (std::size_t column = 0; column < RecordColumns().size(); ++column) {
    auto* item = new QListWidgetItem(SeriesName(texts_, column, live_.Units()), series_);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    const bool shown = std::find(std::begin(defaults), std::end(defaults), column) != std::end(defaults);
    item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
  }
  connect(series_, &QListWidget::itemChanged, this, [this] {
    UpdateColumns();
    Refresh();
  });
  middle->addWidget(series_);
  plot_ = new CTrendPlot(texts_, this);
  plot_->setObjectName(QStringLiteral("trendPlot"));
  middle->addWidget(plot_, 1);
  top->addLayout(middle, 1);

  cursorLabel_ = new QLabel(this);
  cursorLabel_->setObjectName(QStringLiteral("cursorText"));
  coastLabel_ = new QLabel(this);
  coastLabel_->setObjectName(QStringLiteral("coastText"));
  // Long readings wrap rather than widen the window past the screen.
  cursorLabel_->setWordWrap(true);
  coastLabel_->setWordWrap(true);
  top->addWidget(cursorLabel_);
  top->addWidget(coastLabel_);

  connect(plot_, &CTrendPlot::CursorMoved, this, [this] { UpdateLabels(); });
  connect(plot_, &CTrendPlot::RangeChangedByOperator, this, [this] { following_ = false; });
  UpdateColumns();
  plot_->SetStore(&live_);
  SetSpan(span_);
  sourceLabel_->setText(tr("实时"));
  PullHistory();

  tick_.setInterval(kTickMs);
  connect(&tick_, &QTimer::timeout, this, [this] { OnTick(); });
  UpdateTicking();
}

CTrendDlg::~CTrendDlg() = default;

void CTrendDlg::BringUp() {
  show();
  raise();
  activateWindow();
  Refresh();
}

void CTrendDlg::OnFrame(const ControllerStatus& status, std::chrono::steady_clock::time_point at) {
  live_.AddFrame(status, SecondsOf(at));
  if (!showingFile_) dirty_ = true;
}

double CTrendDlg::SecondsOf(std::chrono::steady_clock::time_point at) const {
  return std::chrono::duration<double>(at - origin_).count();
}

void CTrendDlg::PullHistory() {
  const FrameHistory& history = session_.History();
  const auto& openings = history.Openings();
  auto takeOpenings = [&](std::chrono::steady_clock::time_point upTo) {
    for (const auto& opened : openings) {
      if (opened > upTo) break;
      if (lastOpening_ && opened <= *lastOpening_) continue;
      live_.MarkWatchStart(SecondsOf(opened));
      lastOpening_ = opened;
    }
  };
  std::uint64_t next = std::max(nextFrame_, history.Begin());
  // Frames the history no longer holds, or older ones the live span would
  // only trim again (the first look at a long history): the store sees the
  // line from the last frame it does not get on.
  const bool lost = nextFrame_ < history.Begin() && (nextFrame_ > 0 || history.Begin() > 0);
  const std::uint64_t first = FirstFrameWorthTaking(history, next, kLiveKeepSeconds);
  if ((first > next || lost) && next < history.End()) {
    const auto seenFrom = history.At(first > next ? first - 1 : next).at;
    takeOpenings(seenFrom);
    live_.MarkWatchStart(SecondsOf(seenFrom));
    next = first;
  }
  for (; next < history.End(); ++next) {
    const FrameHistory::Entry& entry = history.At(next);
    takeOpenings(entry.at);
    OnFrame(entry.status, entry.at);
  }
  // An opening without frames yet: the line is watched from then on.
  takeOpenings(std::chrono::steady_clock::time_point::max());
  nextFrame_ = next;
}

void CTrendDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  UpdateTicking();
  // Frames that came while hidden wait in the session's history.
  if (!paused_) Refresh();
}

void CTrendDlg::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  UpdateTicking();
}

void CTrendDlg::UpdateTicking() {
  const bool wanted = isVisible() && !paused_ && !showingFile_;
  if (wanted && !tick_.isActive()) tick_.start();
  if (!wanted) tick_.stop();
}

void CTrendDlg::OnTick() {
  if (paused_ || !isVisible()) return;
  PullHistory();
  if (!dirty_) return;
  // Following the newest frame, the picture changes only when the data has
  // moved on by a pixel column: a 5-minute window repaints about three times
  // a second, a 10-second one at the full tick rate.
  if (following_ && !showingFile_ && ++heldTicks_ < kMaxHeldTicks) {
    const double secondsPerColumn = span_ / static_cast<double>(std::max<std::size_t>(1, plot_->Columns()));
    if (live_.LastTime() - paintedUpTo_ < secondsPerColumn) return;
  }
  Refresh();
}

void CTrendDlg::Refresh() {
  if (!paused_) PullHistory();
  dirty_ = false;
  heldTicks_ = 0;
  const TrendStore& store = Shown();
  paintedUpTo_ = store.LastTime();
  if (following_ && !showingFile_) {
    // The end steps from one pixel column's edge to the next, just past the
    // newest frame, so the columns already reduced keep their samples.
    const double column = span_ / static_cast<double>(std::max<std::size_t>(1, plot_->Columns()));
    const double end = std::max(span_, (std::floor(store.LastTime() / column) + 1) * column);
    plot_->SetRange(end - span_, end);
  }
  double start = NAN, end = NAN;
  if (!showingFile_) {
    // The speeds of the coast-down command last sent.
    const CoastDownSpeeds speeds = session_.CoastDown();
    start = speeds.start;
    end = speeds.end;
  }
  coast_ = FindCoastDown(store, start, end);
  plot_->SetCoastDown(coast_);
  UpdateLabels();
  plot_->ShowChanges();
}

void CTrendDlg::UpdateSeriesNames() {
  const BenchUnits units = Shown().Units();
  const QSignalBlocker quiet(series_);
  for (int i = 0; i < series_->count(); ++i) {
    series_->item(i)->setText(SeriesName(texts_, static_cast<std::size_t>(i), units));
  }
}

void CTrendDlg::UpdateColumns() {
  std::vector<std::size_t> columns;
  for (int i = 0; i < series_->count(); ++i) {
    if (series_->item(i)->checkState() == Qt::Checked) columns.push_back(static_cast<std::size_t>(i));
  }
  plot_->SetColumns(std::move(columns));
}

void CTrendDlg::SetSeriesShown(std::size_t column, bool shown) {
  if (QListWidgetItem* item = series_->item(static_cast<int>(column))) {
    item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
  }
}

void CTrendDlg::SetSpan(double seconds) {
  span_ = seconds;
  if (showingFile_ || !following_) {
    // Keep the middle of what is shown.
    const double middle = (plot_->RangeStart() + plot_->RangeEnd()) / 2;
    plot_->SetRange(middle - seconds / 2, middle + seconds / 2);
  }
  Refresh();
}

void CTrendDlg::ShowRange(double t0, double t1) {
  following_ = false;
  plot_->SetRange(t0, t1);
  Refresh();
}

void CTrendDlg::SetPaused(bool paused) {
  paused_ = paused;
  if (pauseButton_->isChecked() != paused) pauseButton_->setChecked(paused);
  UpdateTicking();
  if (!paused) Refresh();
}

void CTrendDlg::ShowLive() {
  showingFile_ = false;
  following_ = true;
  plot_->SetStore(&live_);
  UpdateSeriesNames();
  UpdateTicking();
  sourceLabel_->setText(Q(texts_.Lookup("实时")));
  SetPaused(false);
  Refresh();
  UpdateCoastAnalysis();
}

bool CTrendDlg::OpenRecording(const QString& path) {
  const std::string name = path.toStdString();
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    boxes_.Show({texts_.Lookup("无法打开文件") + "\n" + name, texts_.Lookup("趋势图"), MessageIcon::Warning,
                 MessageButtons::Ok});
    return false;
  }
  const RecordParseResult parsed = ParseRecording(in);
  if (parsed.error) {
    boxes_.Show({RecordParseErrorText(texts_, name, *parsed.error), texts_.Lookup("趋势图"), MessageIcon::Warning,
                 MessageButtons::Ok});
    return false;
  }
  file_.Clear();
  filePath_ = name;
  file_.SetUnits(parsed.recording.units);
  // Rows are timed from the recording's start: what came before it was not seen.
  file_.MarkWatchStart(0);
  for (const RecordRow& row : parsed.recording.rows) file_.AddRow(row, row.msSinceStart / 1000.0);
  showingFile_ = true;
  following_ = false;
  plot_->SetStore(&file_);
  UpdateSeriesNames();
  UpdateTicking();
  const double first = file_.FirstTime();
  const double last = std::max(file_.LastTime(), first + 1.0);
  plot_->SetRange(first, last);
  QString source = QFileInfo(path).fileName();
  if (parsed.cutOffTail) source += QStringLiteral(" (") + Q(texts_.Lookup("最后一行不完整，已略去")) + ')';
  sourceLabel_->setText(source);
  Refresh();
  UpdateCoastAnalysis();
  return true;
}

bool CTrendDlg::ExportPng(const QString& path) {
  Refresh();
  return plot_->grab().save(path, "PNG");
}

CCoastAnalysisDlg* CTrendDlg::OpenCoastAnalysis() {
  if (!analysis_) {
    analysis_ = new CCoastAnalysisDlg(texts_, boxes_, this);
    analysis_->SetAnalysedObserver(coastAnalysed_);
  }
  if (!showingFile_ && !paused_) PullHistory();
  analysis_->show();
  analysis_->raise();
  UpdateCoastAnalysis();
  return analysis_;
}

void CTrendDlg::UpdateCoastAnalysis() {
  if (!analysis_ || !analysis_->isVisible()) return;
  analysis_->SetSamples(LatestCoastDownSamples(Shown()));
  // After show: a message about damaged details stands over the window it concerns.
  if (showingFile_) {
    analysis_->SetRecording(filePath_, std::nullopt);
  } else {
    const RecordMetaResult remembered = ReadRecordMeta(CoastSettingsPath());
    // Only a recording that ran through the whole coast-down has its mass: a
    // later or an earlier one belongs to another run.
    std::filesystem::path recording;
    if (const auto run = LatestCoastRun(live_); run && liveRecording_) {
      const auto at = [this](double seconds) {
        return origin_ +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
      };
      recording = liveRecording_(at(run->first), at(run->second));
    }
    analysis_->SetRecording(recording, remembered.meta.massKg);
  }
  analysis_->AnalyseIfMassKnown();
}

QString CTrendDlg::CursorText() const { return cursorLabel_->text(); }

QString CTrendDlg::CoastText() const { return coastLabel_->text(); }

void CTrendDlg::UpdateLabels() {
  const TrendStore& store = Shown();
  if (const std::optional<double> t = plot_->CursorTime()) {
    QString text = QStringLiteral("t = %1 s").arg(*t, 0, 'f', 3);
    // A value older than a second at the cursor is not that time's value.
    for (int i = 0; i < series_->count(); ++i) {
      if (series_->item(i)->checkState() != Qt::Checked) continue;
      const std::size_t column = static_cast<std::size_t>(i);
      if (const std::optional<double> v = ValueAt(store.Series(column), *t, 1.0)) {
        text += QStringLiteral("   %1 = %2").arg(SeriesName(texts_, column, store.Units()), Number(*v));
      }
    }
    cursorLabel_->setText(text);
  } else {
    cursorLabel_->setText(Q(texts_.Lookup("移动鼠标读取数值；滚轮缩放，拖动平移")));
  }
  QString coastText;
  if (coast_) {
    // A time only from data that hold the start: a window opened or a
    // recording started mid-coast has seen part of it.
    const CoastDownMarks& marks = coast_->marks;
    const QString seconds = coast_->startSeen
                                ? QString::number(marks.Seconds(), 'f', 2) + QStringLiteral(" ") + UnitText(kCoastTime)
                                : Q(texts_.Lookup("未看到滑行起点"));
    const QString speedUnit = UnitText(kSpeed);
    coastText = QStringLiteral("%1: %2  (%3 → %4 %5)")
                    .arg(Q(texts_.Lookup("滑行时间")), seconds, QString::number(marks.startSpeed, 'f', 1),
                         QString::number(marks.endSpeed, 'f', 1), speedUnit);
    if (!coast_->reachedEnd) coastText += QStringLiteral("  ") + Q(texts_.Lookup("滑行中"));
  }
  coastLabel_->setText(coastText);
}

}  // namespace rolta
