#include "widgets/ui/digistring.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QString>
#include <QVarLengthArray>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace rolta {
namespace {

// Room for a readout such as "-1234.56" (seven digit cells) at a legible scale.
constexpr int kHintCells = 7;
constexpr double kHintScale = 0.6;
constexpr double kMinimumScale = 0.3;

QColor ToQColor(DigiColour c) { return QColor(c.r, c.g, c.b); }

// Room around a cell's points in its image: the 1-pixel pen can set a pixel
// one beyond an end point (below a steep edge's lowest point, for one).
constexpr int kCellMargin = 1;

QSize ScaledCellArea(double scale) {
  return QSize(static_cast<int>(std::ceil(kHintCells * kDigiSegmentCellWidth * scale)),
               static_cast<int>(std::ceil(kDigiCellHeight * scale)));
}

// The one place a cell is drawn: each segment polygon filled with the on or
// off brush and outlined with the matching blended pen, without smoothing so
// edges stay crisp. shift moves every point by whole pixels.
void DrawDigiCell(QPainter& painter, const DigiCellPixels& cell, QPoint shift, const DigiPalette& palette) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QBrush off_brush(ToQColor(palette.off_brush));
  const QBrush on_brush(ToQColor(palette.on_brush));
  QPen off_pen(ToQColor(palette.off_pen));
  off_pen.setWidth(1);
  QPen on_pen(ToQColor(palette.on_pen));
  on_pen.setWidth(1);

  for (const DigiSegmentPixels& segment : cell.segments) {
    // Each outline is one closed polygon (a move-to, then line-tos); drawn
    // as such it gives the same pixels as a path and costs less.
    QVarLengthArray<QPoint, 8> corners;
    for (const SegmentPoint& p : segment.polygon.points) {
      corners.append(QPoint(p.x + shift.x(), p.y + shift.y()));
    }
    painter.setPen(segment.lit ? on_pen : off_pen);
    painter.setBrush(segment.lit ? on_brush : off_brush);
    painter.drawPolygon(corners.constData(), static_cast<int>(corners.size()));
  }
}

// The pixels a cell can touch: its points and the margin. Empty for a cell
// without points.
QRect CellBounds(const DigiCellPixels& cell) {
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
  if (left > right) return {};
  return QRect(QPoint(left - kCellMargin, top - kCellMargin), QPoint(right + kCellMargin, bottom + kCellMargin));
}

// Copies cell (RGB32 like the surface) with its top-left corner at at, cut
// to the surface.
void CopyOpaque(const QImage& cell, QPoint at, QImage& surface) {
  const QRect target = QRect(at, cell.size()).intersected(surface.rect());
  if (target.isEmpty()) return;
  uchar* const bits = surface.bits();
  const qsizetype stride = surface.bytesPerLine();
  const std::size_t row_bytes = static_cast<std::size_t>(target.width()) * sizeof(QRgb);
  for (int y = target.top(); y <= target.bottom(); ++y) {
    std::memcpy(bits + y * stride + target.left() * qsizetype{sizeof(QRgb)},
                cell.constScanLine(y - at.y()) + (target.left() - at.x()) * qsizetype{sizeof(QRgb)}, row_bytes);
  }
}

// Sets area of the (RGB32) surface to colour, cut to the surface.
void FillOpaque(QImage& surface, const QRect& area, QColor colour) {
  const QRect target = area.intersected(surface.rect());
  if (target.isEmpty()) return;
  const QRgb pixel = colour.rgb();
  for (int y = target.top(); y <= target.bottom(); ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(surface.scanLine(y)) + target.left();
    std::fill_n(row, target.width(), pixel);
  }
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
  // On screen, the new cells go onto the surface at once, so that only the
  // cells that changed are painted and sent to the screen again.
  if (!isVisible() || !surface_valid_) {
    update();
    return;
  }
  const QRect changed = UpdateSurface();
  if (changed.isEmpty()) return;
  const qreal ratio = devicePixelRatioF();
  const QRectF logical(changed.x() / ratio, changed.y() / ratio, changed.width() / ratio, changed.height() / ratio);
  update(logical.toAlignedRect().adjusted(-1, -1, 1, 1) & rect());
}

void CDigistring::SetText(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  SetText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void CDigistring::SetStale(bool stale) {
  if (stale == stale_) return;
  stale_ = stale;
  update();
}

QSize CDigistring::sizeHint() const { return ScaledCellArea(kHintScale); }

QSize CDigistring::minimumSizeHint() const { return ScaledCellArea(kMinimumScale); }

void CDigistring::RebuildCells() {
  BuildDigiChars(text_, characters_);
  modified_ = false;
  ++rebuild_count_;
}

std::size_t CDigistring::CellKeyHash::operator()(const CellKey& key) const {
  // FNV-1a over the fields.
  std::uint64_t hash = 14695981039346656037ULL;
  const auto mix = [&hash](std::uint64_t v) {
    hash ^= v;
    hash *= 1099511628211ULL;
  };
  mix(static_cast<std::uint64_t>(key.width));
  mix(static_cast<std::uint64_t>(key.segment_count));
  mix(key.mask);
  for (std::uint64_t bits : key.rect) mix(bits);
  return static_cast<std::size_t>(hash);
}

void CDigistring::ClearCellCache() {
  cell_cache_.clear();
  cached_bytes_ = 0;
}

const CDigistring::CachedCell& CDigistring::FindOrDrawCell(const CDigiChar& cell, const DigiRect& rect,
                                                           const DigiPalette& palette) {
  const CellKey key{cell.Width(),
                    cell.SegmentCount(),
                    cell.Mask(),
                    {std::bit_cast<std::uint64_t>(rect.left), std::bit_cast<std::uint64_t>(rect.top),
                     std::bit_cast<std::uint64_t>(rect.right), std::bit_cast<std::uint64_t>(rect.bottom)}};
  if (const auto it = cell_cache_.find(key); it != cell_cache_.end()) return it->second;

  CachedCell drawn;
  drawn.id = next_cell_id_++;
  MapDigiCell(cell, rect, scratch_pixels_);
  drawn.bounds = CellBounds(scratch_pixels_);
  if (!drawn.bounds.isEmpty()) {
    drawn.image = QImage(drawn.bounds.size(), QImage::Format_RGB32);
    drawn.image.fill(ToQColor(palette.background));
    QPainter painter(&drawn.image);
    DrawDigiCell(painter, scratch_pixels_, -drawn.bounds.topLeft(), palette);
  }

  const std::size_t bytes = static_cast<std::size_t>(drawn.image.sizeInBytes());
  if (static_cast<int>(cell_cache_.size()) >= kMaxCachedCells || cached_bytes_ + bytes > kMaxCachedBytes) {
    ClearCellCache();
  }
  cached_bytes_ += bytes;
  return cell_cache_.emplace(key, std::move(drawn)).first->second;
}

QRect CDigistring::PaintCells(const DigiPalette& palette) {
  // Copies of the cached cells (images are shared, not copied), so emptying
  // the cache halfway through cannot pull one away.
  frame_.clear();
  // Cells run left to right; when each one's box starts after the previous
  // one's ends, no two cells share a pixel and each box can be copied whole.
  bool apart = true;
  int previous_right = std::numeric_limits<int>::min();
  for (std::size_t i = 0; i < rects_.size(); ++i) {
    frame_.push_back(FindOrDrawCell(*characters_[i], rects_[i], palette));
    const QRect& bounds = frame_.back().bounds;
    if (bounds.isEmpty()) continue;
    if (bounds.left() <= previous_right) apart = false;
    previous_right = bounds.right();
  }

  const QColor background = ToQColor(palette.background);
  if (!apart) {
    // So small that neighbouring cells share pixels: each is drawn over the
    // one before, straight onto the surface.
    surface_.fill(background);
    QPainter painter(&surface_);
    for (std::size_t i = 0; i < rects_.size(); ++i) {
      MapDigiCell(*characters_[i], rects_[i], scratch_pixels_);
      DrawDigiCell(painter, scratch_pixels_, QPoint(0, 0), palette);
    }
    surface_valid_ = false;
    frame_.clear();
    return surface_.rect();
  }

  QRect changed;
  if (!surface_valid_) {
    surface_.fill(background);
    shown_.clear();
    changed = surface_.rect();
  }
  // A cell still shown at the same place stays; the boxes of the others go
  // back to background before the new cells are copied in. Boxes within one
  // paint never overlap, so neither step touches a cell that stays.
  const auto stays = [this](std::size_t i) {
    return i < shown_.size() && i < frame_.size() && shown_[i].id == frame_[i].id;
  };
  for (std::size_t i = 0; i < shown_.size(); ++i) {
    if (stays(i)) continue;
    FillOpaque(surface_, shown_[i].bounds, background);
    changed |= shown_[i].bounds;
  }
  for (std::size_t i = 0; i < frame_.size(); ++i) {
    if (stays(i)) continue;
    CopyOpaque(frame_[i].image, frame_[i].bounds.topLeft(), surface_);
    changed |= frame_[i].bounds;
  }
  shown_.resize(frame_.size());
  for (std::size_t i = 0; i < frame_.size(); ++i) shown_[i] = {frame_[i].id, frame_[i].bounds};
  surface_valid_ = true;
  frame_.clear();
  return changed & surface_.rect();
}

QRect CDigistring::UpdateSurface() {
  // Lay out in device pixels so the segment edges land on real pixels on
  // scaled screens too.
  const qreal ratio = devicePixelRatioF();
  const int cw = static_cast<int>(std::lround(width() * ratio));
  const int ch = static_cast<int>(std::lround(height() * ratio));
  if (cw <= 0 || ch <= 0) return {};

  // Stale digits keep their shape but lose their glow.
  constexpr DigiColour kStaleOnColour{72, 104, 72};
  const DigiPalette palette = MakeDigiPalette(off_colour_, stale_ ? kStaleOnColour : on_colour_, background_colour_);
  if (surface_.width() != cw || surface_.height() != ch) {
    surface_ = QImage(cw, ch, QImage::Format_RGB32);
    surface_valid_ = false;
    // Every cell's rectangle changes with the size.
    ClearCellCache();
  }
  if (!(palette == cache_palette_)) {
    surface_valid_ = false;
    ClearCellCache();
    cache_palette_ = palette;
  }
  // Painted at one image pixel per unit; the ratio is only for the screen.
  surface_.setDevicePixelRatio(1.0);

  if (modified_) RebuildCells();
  LayoutDigiRects(characters_, cw, ch, rects_);
  const QRect changed = PaintCells(palette);
  surface_.setDevicePixelRatio(ratio);
  return changed;
}

void CDigistring::paintEvent(QPaintEvent*) {
  ++paint_count_;
  UpdateSurface();
  if (surface_.isNull() || width() <= 0 || height() <= 0) return;
  // Only the update region reaches the screen; the painter is cut to it.
  QPainter screen(this);
  screen.drawImage(QPoint(0, 0), surface_);
}

}  // namespace rolta
