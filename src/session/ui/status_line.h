#pragma once

#include <QHash>
#include <QStaticText>
#include <QWidget>

namespace rolta {

// The one-line status text under the readouts. It changes with every frame
// the controller sends, so it repaints only itself (opaque, of fixed height,
// no new layout) and draws each character from a laid-out cache instead of
// shaping the whole line again on every frame. A new text repaints only the
// characters that changed.
class CStatusLine : public QWidget {
  Q_OBJECT
 public:
  explicit CStatusLine(QWidget* parent = nullptr);

  void setText(const QString& text);
  const QString& text() const { return text_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct Glyph {
    QStaticText text;
    qreal advance = 0;
    qreal inkLeft = 0;  // where its ink can start and end, from its origin
    qreal inkRight = 0;
  };
  const Glyph& GlyphFor(QChar character);

  QString text_;
  QHash<QChar, Glyph> glyphs_;
};

}  // namespace rolta
