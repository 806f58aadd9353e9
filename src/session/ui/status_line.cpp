#include "session/ui/status_line.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

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
  text_ = text;
  update();
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
  glyph.advance = QFontMetricsF(font()).horizontalAdvance(character);
  return *glyphs_.insert(character, glyph);
}

void CStatusLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The frame as filled strips: far cheaper than stroking a rectangle.
  const QColor frame(150, 165, 190);
  painter.fillRect(rect(), frame);
  painter.fillRect(rect().adjusted(1, 1, -1, -1), QColor(236, 241, 248));
  painter.setPen(palette().color(QPalette::WindowText));
  painter.setClipRect(rect().adjusted(kTextMargin, 0, -kTextMargin, 0));
  const QFontMetricsF metrics(font());
  const qreal top = (height() - metrics.height()) / 2;
  qreal x = kTextMargin;
  for (QChar character : text_) {
    if (x > width()) break;
    const Glyph& glyph = GlyphFor(character);
    painter.drawStaticText(QPointF(x, top), glyph.text);
    x += glyph.advance;
  }
}

void CStatusLine::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) glyphs_.clear();
  QWidget::changeEvent(event);
}

}  // namespace rolta
