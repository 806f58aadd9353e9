#include "widgets/ui/digistring.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace rolta {
namespace {

// Room for a readout such as "-1234.56" (seven digit cells) at a legible scale.
constexpr int kHintCells = 7;
constexpr double kHintScale = 0.6;
constexpr double kMinimumScale = 0.3;

QColor ToQColor(DigiColour c) { return QColor(c.r, c.g, c.b); }

// Blank pixels around a cached cell's points.
constexpr int kCellMargin = 1;

QSize ScaledCellArea(double scale) {
  return QSize(static_cast<int>(std::ceil(kHintCells * kDigiSegmentCellWidth * scale)),
               static_cast<int>(std::ceil(kDigiCellHeight * scale)));
}

// The one place a cell is drawn: each segment polygon filled with the on or
// off brush and outlined with the matching blended pen, without smoothing so
// edges stay crisp. shift moves every point by whole pixels.
void DrawDigiCell(QPainter& painter, const DigiCellPixels& cell, QPoint shift,
                  const DigiPalette& palette) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QBrush off_brush(ToQColor(palette.off_brush));
  const QBrush on_brush(ToQColor(palette.on_brush));
  QPen off_pen(ToQColor(palette.off_pen));
  off_pen.setWidth(1);
  QPen on_pen(ToQColor(palette.on_pen));
  on_pen.setWidth(1);

  for (const DigiSegmentPixels& segment : cell.segments) {
    QPainterPath path;
    for (const SegmentPoint& p : segment.polygon.points) {
      if (p.kind == SegmentPoint::Kind::MoveTo) {
        path.moveTo(p.x + shift.x(), p.y + shift.y());
      } else {
        path.lineTo(p.x + shift.x(), p.y + shift.y());
      }
    }
    path.closeSubpath();
    painter.setPen(segment.lit ? on_pen : off_pen);
    painter.setBrush(segment.lit ? on_brush : off_brush);
    painter.drawPath(path);
  }
}

// FNV-1a over the key's values.
std::uint64_t HashKey(const std::vector<int>& key) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (int v : key) {
    hash ^= static_cast<std::uint32_t>(v);
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace

CDigistring::CDigistring(QWidget* parent) : QWidget(parent) {
  // The paint covers every pixel from an off-screen image, so the background
  // is never erased separately (that would flicker).
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
}

void CDigistring::SetText(const char* text) {
  if (text == nullptr) return;
  SetText(std::string_view(text));
}

void CDigistring::SetText(std::string_view text) {
  if (text == text_) return;
  text_.assign(text);
  modified_ = true;
  update();
}

void CDigistring::SetText(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  SetText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

QSize CDigistring::sizeHint() const { return ScaledCellArea(kHintScale); }

QSize CDigistring::minimumSizeHint() const { return ScaledCellArea(kMinimumScale); }

void CDigistring::RebuildCells() {
  characters_ = BuildDigiChars(text_);
  modified_ = false;
  ++rebuild_count_;
}

void CDigistring::ClearCellCache() {
  cell_cache_.clear();
  cached_bytes_ = 0;
}

void CDigistring::CompositeCell(QPainter& painter, const DigiCellPixels& cell,
                                const DigiPalette& palette) {
  // A cell's pixels follow from its polygons alone; moved by whole pixels they
  // draw the same pixels moved. So the polygons relative to their own top-left
  // corner, with the lit flags, say exactly which image this cell is.
  int left = std::numeric_limits<int>::max();
  int top = std::numeric_limits<int>::max();
  int right = std::numeric_limits<int>::min();
  int bottom = std::numeric_limits<int>::min();
  for (const DigiSegmentPixels& segment : cell.segments) {
    for (const SegmentPoint& p : segment.polygon.points) {
      left = std::min(left, p.x);
      top = std::min(top, p.y);
      right = std::max(right, p.x);
      bottom = std::max(bottom, p.y);
    }
  }
  if (left > right) return;  // no points: nothing to draw
  // The image starts one pixel before the leftmost point and ends one after
  // the rightmost, so nothing the pen puts on an end point is cut off.
  const QPoint origin(left - kCellMargin, top - kCellMargin);

  std::vector<int>& key = key_scratch_;
  key.clear();
  for (const DigiSegmentPixels& segment : cell.segments) {
    key.push_back(segment.lit ? 1 : 0);
    key.push_back(static_cast<int>(segment.polygon.points.size()));
    for (const SegmentPoint& p : segment.polygon.points) {
      key.push_back(p.x - origin.x());
      key.push_back(p.y - origin.y());
    }
  }
  const std::uint64_t hash = HashKey(key);

  auto [first, last] = cell_cache_.equal_range(hash);
  for (auto it = first; it != last; ++it) {
    if (it->second.key == key) {
      painter.drawImage(origin, it->second.image);
      return;
    }
  }

  QImage image(right - left + 1 + 2 * kCellMargin, bottom - top + 1 + 2 * kCellMargin,
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter cell_painter(&image);
    DrawDigiCell(cell_painter, cell, -origin, palette);
  }
  painter.drawImage(origin, image);

  const std::size_t bytes = static_cast<std::size_t>(image.sizeInBytes());
  if (static_cast<int>(cell_cache_.size()) >= kMaxCachedCells ||
      cached_bytes_ + bytes > kMaxCachedBytes) {
    ClearCellCache();
  }
  cached_bytes_ += bytes;
  cell_cache_.emplace(hash, CachedCell{key, std::move(image)});
}

void CDigistring::paintEvent(QPaintEvent*) {
  ++paint_count_;
  // Lay out in device pixels so the segment edges land on real pixels on
  // scaled screens too.
  const qreal ratio = devicePixelRatioF();
  const int cw = static_cast<int>(std::lround(width() * ratio));
  const int ch = static_cast<int>(std::lround(height() * ratio));
  if (cw <= 0 || ch <= 0) return;

  const DigiPalette palette =
      MakeDigiPalette(off_colour_, on_colour_, background_colour_);
  if (surface_.width() != cw || surface_.height() != ch) {
    surface_ = QImage(cw, ch, QImage::Format_RGB32);
    // Every cell's position within its pixel changes with the scale.
    ClearCellCache();
  }
  if (!(palette == cache_palette_)) {
    ClearCellCache();
    cache_palette_ = palette;
  }
  // Painted at one image pixel per unit; the ratio is only for the screen.
  surface_.setDevicePixelRatio(1.0);
  surface_.fill(ToQColor(palette.background));

  if (modified_) RebuildCells();
  LayoutDigiCells(characters_, cw, ch, layout_);

  {
    QPainter painter(&surface_);
    for (const DigiCellPixels& cell : layout_) CompositeCell(painter, cell, palette);
  }

  surface_.setDevicePixelRatio(ratio);
  QPainter screen(this);
  screen.drawImage(QPoint(0, 0), surface_);
}

}  // namespace rolta
