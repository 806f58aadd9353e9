// A text control that shows its text as lit and unlit segment digits, like an
// instrument's digit display. The geometry comes from digi_geometry; this
// class only keeps the text and the colours and paints what the layout says.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "widgets/digi_geometry.h"

class QPainter;
class QString;

namespace rolta {

class CDigistring : public QWidget {
  Q_OBJECT

 public:
  explicit CDigistring(QWidget* parent = nullptr);

  // An equal text (byte for byte) changes nothing and causes no repaint.
  // Anything else replaces the text; a control on screen puts the new cells
  // on its surface at once and repaints only the cells that changed, a
  // hidden one rebuilds its cells at the next paint. A null pointer is
  // ignored.
  void SetText(const char* text);
  void SetText(std::string_view text);
  void SetText(const QString& text);

  // Stale values (the line went silent or was lost) are drawn dimmed, so a
  // frozen display never looks live.
  void SetStale(bool stale);
  bool IsStale() const { return stale_; }

  // The stored text. It is upper-cased in place when the cells are rebuilt,
  // so after a paint a lower-case text reads back in capitals.
  const std::string& text() const { return text_; }
  // The cell list must be rebuilt before the next paint (a hidden control's
  // new text, or one set before the first paint).
  bool IsModified() const { return modified_; }
  // How often the control was painted and how often its cells were rebuilt;
  // lets a caller see that an unchanged text costs nothing.
  int PaintCount() const { return paint_count_; }
  int RebuildCount() const { return rebuild_count_; }

  // Cells drawn once and kept for the paints that show them again.
  int CachedCellCount() const { return static_cast<int>(cell_cache_.size()); }
  // The cache is emptied before it grows beyond this many cells or bytes.
  static constexpr int kMaxCachedCells = 256;
  static constexpr std::size_t kMaxCachedBytes = std::size_t{4} << 20;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void RebuildCells();

  // One cell as drawn: its kind and mask in an exact rectangle give exactly
  // the same pixels every time, so that is all that names it.
  struct CellKey {
    int width = 0;
    int segment_count = 0;
    std::uint16_t mask = 0;
    std::uint64_t rect[4] = {};  // left, top, right, bottom, bit for bit
    friend bool operator==(const CellKey&, const CellKey&) = default;
  };
  struct CellKeyHash {
    std::size_t operator()(const CellKey& key) const;
  };
  struct CachedCell {
    std::uint64_t id = 0;  // never reused, unlike addresses
    QRect bounds;          // on the surface; empty when the cell draws nothing
    QImage image;          // the cell over bounds on the background
  };

  // Brings surface_ up to the text, the size and the colours; returns the
  // surface's pixels that changed (all of them when it was drawn afresh).
  QRect UpdateSurface();
  // Puts the cells into rects_ onto surface_; returns the pixels changed.
  QRect PaintCells(const DigiPalette& palette);
  const CachedCell& FindOrDrawCell(const CDigiChar& cell, const DigiRect& rect, const DigiPalette& palette);
  void ClearCellCache();

  std::string text_ = "EMPTY";
  DigiCharList characters_;
  bool modified_ = true;
  DigiColour off_colour_ = kDigiOffColour;
  DigiColour on_colour_ = kDigiOnColour;
  DigiColour background_colour_ = kDigiBackgroundColour;
  bool stale_ = false;
  int paint_count_ = 0;
  int rebuild_count_ = 0;

  // Kept between paints so a repaint allocates nothing and redraws only the
  // cells that changed.
  QImage surface_;
  // surface_ is the background with exactly shown_ on it.
  bool surface_valid_ = false;
  struct ShownCell {
    std::uint64_t id = 0;
    QRect bounds;
  };
  std::vector<ShownCell> shown_;
  std::vector<DigiRect> rects_;
  std::vector<CachedCell> frame_;  // this paint's cells, in order
  DigiCellPixels scratch_pixels_;
  std::unordered_map<CellKey, CachedCell, CellKeyHash> cell_cache_;
  std::size_t cached_bytes_ = 0;
  std::uint64_t next_cell_id_ = 1;
  DigiPalette cache_palette_{};
};

}  // namespace rolta
