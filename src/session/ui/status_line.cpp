#include "session/ui/status_line.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace rolta {
namespace {

constexpr int kTextMargin = 6;
// Texts come from a small alphabet (digits, a few letters and the Chinese
// messages); the cache is dropped if anything fills it beyond that.
constexpr qsizetype kMaxCachedGlyphs = 512;

}  // namespace

CStatusLine::CStatusLine(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(fontMetrics().height() + 6);
}

void CStatusLine::setText(const QString& text) {
  if (text == text_) return;
  // Usually only a counter's last digits change: the characters in front
  // stand where they stood, and so do those behind when the changed ones
  // take the same room. Only the ink of the changed ones is painted again.
  const qsizetype shorter = std::min(text.size(), text_.size());
  qsizetype front = 0;
  qreal from = kTextMargin;
  while (front < shorter && text[front] == text_[front]) from += GlyphFor(text[front++]).advance;
  qsizetype back = 0;
  while (back < shorter - front && text[text.size() - 1 - back] == text_[text_.size() - 1 - back]) ++back;
  struct Span {
    qreal room = 0;
    qreal left = std::numeric_limits<qreal>::max();
    qreal right = std::numeric_limits<qreal>::lowest();
  };
  const auto spanOf = [&](const QString& line) {
    Span span;
    for (qsizetype i = front; i < line.size() - back; ++i) {
      const Glyph& glyph = GlyphFor(line[i]);
      span.left = std::min(span.left, from + span.room + glyph.inkLeft);
      span.right = std::max(span.right, from + span.room + glyph.inkRight);
      span.room += glyph.advance;
    }
    return span;
  };
  const Span before = spanOf(text_);
  const Span after = spanOf(text);
  text_ = text;
  qreal left = std::min(before.left, after.left);
  qreal right = std::max(before.right, after.right);
  if (std::abs(before.room - after.room) >= 0.01 || left > right) {
    // What follows moved: it is painted again to the end of the line.
    left = std::min(left, from);
    right = width();
  }
  const int x = static_cast<int>(std::floor(left));
  update(QRect(x, 0, static_cast<int>(std::ceil(right)) - x, height()));
}

QSize CStatusLine::sizeHint() const { return {360, height()}; }

QSize CStatusLine::minimumSizeHint() const { return {120, height()}; }

const CStatusLine::Glyph& CStatusLine::GlyphFor(QChar character) {
  auto found = glyphs_.constFind(character);
  if (found != glyphs_.constEnd()) return *found;
  if (glyphs_.size() >= kMaxCachedGlyphs) glyphs_.clear();
  Glyph glyph;
  glyph.text = QStaticText(QString(character));
  glyph.text.setTextFormat(Qt::PlainText);
  glyph.text.prepare(QTransform(), font());
  const QFontMetricsF metrics(font());
  glyph.advance = metrics.horizontalAdvance(character);
  // A negative bearing is ink beyond the advance; a pixel more for rounding.
  glyph.inkLeft = std::min<qreal>(metrics.leftBearing(character), 0) - 1;
  glyph.inkRight = glyph.advance - std::min<qreal>(metrics.rightBearing(character), 0) + 1;
  return *glyphs_.insert(character, glyph);
}

void CStatusLine::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  // The frame as filled strips: far cheaper than stroking a rectangle.
  const QColor frame(150, 165, 190);
  painter.fillRect(rect(), frame);
  painter.fillRect(rect().adjusted(1, 1, -1, -1), QColor(236, 241, 248));
  painter.setPen(palette().color(QPalette::WindowText));
  painter.setClipRect(rect().adjusted(kTextMargin, 0, -kTextMargin, 0));
  const QFontMetricsF metrics(font());
  const qreal top = (height() - metrics.height()) / 2;
  // Characters whose ink lies wholly outside the area to paint are not drawn.
  const QRect area = event->rect();
  qreal x = kTextMargin;
  for (QChar character : text_) {
    if (x > std::min(area.right() + 1, width())) break;
    const Glyph& glyph = GlyphFor(character);
    if (x + glyph.inkRight >= area.left() && x + glyph.inkLeft <= area.right() + 1) {
      painter.drawStaticText(QPointF(x, top), glyph.text);
    }
    x += glyph.advance;
  }
}

void CStatusLine::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) glyphs_.clear();
  QWidget::changeEvent(event);
}

}  // namespace rolta
