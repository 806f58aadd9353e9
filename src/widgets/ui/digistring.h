// A text control that shows its text as lit and unlit segment digits, like an
// instrument's digit display. The geometry comes from digi_geometry; this
// class only keeps the text and the colours and paints what the layout says.
#pragma once

#include <QImage>
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

  // Cells rendered once and kept for reuse (see paintEvent).
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
  // Puts one laid-out cell onto the painter's surface, from the cache when
  // the same cell was drawn before at the same sub-pixel position.
  void CompositeCell(QPainter& painter, const DigiCellPixels& cell, const DigiPalette& palette);
  void ClearCellCache();

  struct CachedCell {
    std::vector<int> key;  // lit flags and polygons relative to the image
    QImage image;          // transparent but for the segments
  };

  std::string text_ = "EMPTY";
  DigiCharList characters_;
  bool modified_ = true;
  DigiColour off_colour_ = kDigiOffColour;
  DigiColour on_colour_ = kDigiOnColour;
  DigiColour background_colour_ = kDigiBackgroundColour;
  int paint_count_ = 0;
  int rebuild_count_ = 0;

  // Kept between paints so a repaint reallocates nothing.
  QImage surface_;
  std::vector<DigiCellPixels> layout_;
  std::vector<int> key_scratch_;
  // Keyed by a hash of CachedCell::key; equal hashes are told apart by the key.
  std::unordered_multimap<std::uint64_t, CachedCell> cell_cache_;
  std::size_t cached_bytes_ = 0;
  DigiPalette cache_palette_{};
};

}  // namespace rolta
