// A text control that shows its text as lit and unlit segment digits, like an
// instrument's digit display. The geometry comes from digi_geometry; this
// class only keeps the text and the colours and paints what the layout says.
#pragma once

#include <QWidget>

#include <string>
#include <string_view>

#include "widgets/digi_geometry.h"

class QString;

namespace rolta {

class CDigistring : public QWidget {
  Q_OBJECT

 public:
  explicit CDigistring(QWidget* parent = nullptr);

  // An equal text (byte for byte) changes nothing and causes no repaint;
  // anything else replaces the text and repaints the whole control. A null
  // pointer is ignored.
  void SetText(const char* text);
  void SetText(std::string_view text);
  void SetText(const QString& text);

  // The stored text. It is upper-cased in place when the cells are rebuilt,
  // so after a paint a lower-case text reads back in capitals.
  const std::string& text() const { return text_; }
  // The cell list must be rebuilt before the next paint.
  bool IsModified() const { return modified_; }
  // How often the control was painted and how often its cells were rebuilt;
  // lets a caller see that an unchanged text costs nothing.
  int PaintCount() const { return paint_count_; }
  int RebuildCount() const { return rebuild_count_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void RebuildCells();

  std::string text_ = "EMPTY";
  DigiCharList characters_;
  bool modified_ = true;
  DigiColour off_colour_ = kDigiOffColour;
  DigiColour on_colour_ = kDigiOnColour;
  DigiColour background_colour_ = kDigiBackgroundColour;
  int paint_count_ = 0;
  int rebuild_count_ = 0;
};

}  // namespace rolta
