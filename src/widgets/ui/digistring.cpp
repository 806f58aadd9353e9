#include "widgets/ui/digistring.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>

#include <cmath>

namespace rolta {
namespace {

// Room for a readout such as "-1234.56" (seven digit cells) at a legible scale.
constexpr int kHintCells = 7;
constexpr double kHintScale = 0.6;
constexpr double kMinimumScale = 0.3;

QColor ToQColor(DigiColour c) { return QColor(c.r, c.g, c.b); }

QSize ScaledCellArea(double scale) {
  return QSize(static_cast<int>(std::ceil(kHintCells * kDigiSegmentCellWidth * scale)),
               static_cast<int>(std::ceil(kDigiCellHeight * scale)));
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
  QImage surface(cw, ch, QImage::Format_RGB32);
  surface.fill(ToQColor(palette.background));

  if (modified_) RebuildCells();
  const std::vector<DigiCellPixels> cells = LayoutDigiCells(characters_, cw, ch);

  {
    QPainter painter(&surface);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QBrush off_brush(ToQColor(palette.off_brush));
    const QBrush on_brush(ToQColor(palette.on_brush));
    QPen off_pen(ToQColor(palette.off_pen));
    off_pen.setWidth(1);
    QPen on_pen(ToQColor(palette.on_pen));
    on_pen.setWidth(1);

    for (const DigiCellPixels& cell : cells) {
      for (const DigiSegmentPixels& segment : cell.segments) {
        QPainterPath path;
        for (const SegmentPoint& p : segment.polygon.points) {
          if (p.kind == SegmentPoint::Kind::MoveTo) {
            path.moveTo(p.x, p.y);
          } else {
            path.lineTo(p.x, p.y);
          }
        }
        path.closeSubpath();
        painter.setPen(segment.lit ? on_pen : off_pen);
        painter.setBrush(segment.lit ? on_brush : off_brush);
        painter.drawPath(path);
      }
    }
  }

  surface.setDevicePixelRatio(ratio);
  QPainter screen(this);
  screen.drawImage(QPoint(0, 0), surface);
}

}  // namespace rolta
