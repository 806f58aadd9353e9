// Segment-digit geometry: the character cells of the segment display, their
// segment outlines in cell units, the character set, and the layout of a text
// in a pixel area. Everything a painter needs is computed here; the widget
// only fills and strokes the polygons it is handed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rolta {

// Cell geometry: x runs 0..width-1 to the right, y runs 0..82 downwards.
inline constexpr int kDigiCellHeight = 83;
inline constexpr int kDigiSegmentCellWidth = 49;  // seven- and fourteen-segment cells
inline constexpr int kDigiColonDotCellWidth = 18;
// Reflection axes of the outlines: mirror is x -> 48 - x, flip is y -> 82 - y.
inline constexpr int kDigiMirrorAxis = kDigiSegmentCellWidth - 1;
inline constexpr int kDigiFlipAxis = kDigiCellHeight - 1;

struct SegmentPoint {
  enum class Kind : std::uint8_t { MoveTo, LineTo };
  int x = 0;
  int y = 0;
  Kind kind = Kind::LineTo;
  friend bool operator==(const SegmentPoint&, const SegmentPoint&) = default;
};

// One segment's outline: a move-to followed by line-tos, one closed polygon.
// The same type carries the outline in cell units and, after layout, in pixels.
struct SegmentShape {
  std::vector<SegmentPoint> points;
  friend bool operator==(const SegmentShape&, const SegmentShape&) = default;
};

// How a base outline is reflected to make a segment.
enum class DigiReflect : std::uint8_t { None, Mirror, Flip, Turn };

// One character cell. The base class only stores the mask; the derived cells
// build their segment shapes first.
class CDigiChar {
 public:
  CDigiChar(int width, int segment_count) : width_(width), segment_count_(segment_count) {}
  virtual ~CDigiChar() = default;
  CDigiChar(const CDigiChar&) = default;
  CDigiChar& operator=(const CDigiChar&) = default;

  virtual void SetElementData(std::uint16_t mask) { mask_ = mask; }

  int Width() const { return width_; }
  std::uint16_t Mask() const { return mask_; }
  int SegmentCount() const { return segment_count_; }
  const std::vector<SegmentShape>& Segments() const { return segments_; }
  bool IsLit(int segment) const { return segment >= 0 && segment < 16 && (mask_ >> segment) & 1U; }

 protected:
  std::vector<SegmentShape>& MutableSegments() { return segments_; }

 private:
  int width_;
  std::uint16_t mask_ = 0;
  std::vector<SegmentShape> segments_;
  int segment_count_;
};

class CDigi7Segment : public CDigiChar {
 public:
  CDigi7Segment() : CDigiChar(kDigiSegmentCellWidth, 7) {}
  void SetElementData(std::uint16_t mask) override;
};

class CDigi14Segment : public CDigiChar {
 public:
  CDigi14Segment() : CDigiChar(kDigiSegmentCellWidth, 14) {}
  void SetElementData(std::uint16_t mask) override;
};

class CDigiColonDotChar : public CDigiChar {
 public:
  CDigiColonDotChar() : CDigiChar(kDigiColonDotCellWidth, 3) {}
  void SetElementData(std::uint16_t mask) override;
};

// Base outline reflected as a segment asks for; the first point is the move-to.
SegmentShape ReflectOutline(std::span<const std::pair<int, int>> outline, DigiReflect how);

enum class DigiCellKind : std::uint8_t { SevenSegment, FourteenSegment, ColonDot };

struct DigiGlyph {
  char character;
  DigiCellKind kind;
  std::uint16_t mask;
};

// The drawable characters, upper case only.
std::span<const DigiGlyph> DigiCharacterSet();
// Null when the byte takes no cell. Lower case is not folded here.
const DigiGlyph* FindDigiGlyph(unsigned char byte);

// ASCII upper-casing as the display applies it to its stored text; bytes
// outside a..z are left alone.
void UpperCaseDigiText(std::string& text);

using DigiCharList = std::vector<std::unique_ptr<CDigiChar>>;

// Upper-cases text in place, then makes one cell per drawable byte in order.
DigiCharList BuildDigiChars(std::string& text);
// Same, into cells. A cell already there of the kind a position needs is set
// up again in place rather than made anew, so a repaint allocates nothing.
void BuildDigiChars(std::string& text, DigiCharList& cells);

struct DigiColour {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const DigiColour&, const DigiColour&) = default;
};

inline constexpr DigiColour kDigiOffColour{0, 52, 0};
inline constexpr DigiColour kDigiOnColour{0, 255, 0};
inline constexpr DigiColour kDigiBackgroundColour{0, 0, 0};

// Outline pen: three quarters segment colour, one quarter background, truncated,
// so a lit segment gets a slightly darker rim than its fill.
DigiColour BlendPenColour(DigiColour segment, DigiColour background);

struct DigiPalette {
  DigiColour background;
  DigiColour off_brush;
  DigiColour on_brush;
  DigiColour off_pen;
  DigiColour on_pen;
  friend bool operator==(const DigiPalette&, const DigiPalette&) = default;
};
DigiPalette MakeDigiPalette(DigiColour off, DigiColour on, DigiColour background);

struct DigiRect {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

// A cell-unit point (px, py) of a cell of the given width drawn into rect.
SegmentPoint MapDigiPoint(const DigiRect& rect, int cell_width, SegmentPoint p);

struct DigiSegmentPixels {
  SegmentShape polygon;  // pixel coordinates
  bool lit = false;
};

struct DigiCellPixels {
  DigiRect rect;
  std::vector<DigiSegmentPixels> segments;
};

// Places the cells side by side, scaled uniformly to fit cw x ch pixels and
// centred in it. No cells (or no area) gives nothing to draw.
std::vector<DigiCellPixels> LayoutDigiCells(const DigiCharList& cells, int cw, int ch);
// The first step of that: only each cell's rectangle, into out (one per cell,
// or none).
void LayoutDigiRects(const DigiCharList& cells, int cw, int ch, std::vector<DigiRect>& out);
// The second: one cell's segments in pixels when it is drawn into rect. The
// result depends on nothing else, so equal cells in equal rectangles give
// equal pixels.
void MapDigiCell(const CDigiChar& cell, const DigiRect& rect, DigiCellPixels& out);
// Same for a text as the display shows it (upper-cased, undrawable bytes dropped).
std::vector<DigiCellPixels> LayoutDigiText(std::string_view text, int cw, int ch);

}  // namespace rolta
