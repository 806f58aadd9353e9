#include "widgets/digi_geometry.h"

#include <algorithm>
#include <array>
#include <utility>

namespace rolta {
namespace {

using Outline = std::span<const std::pair<int, int>>;

// Seven-segment base outlines.
constexpr std::pair<int, int> k7TopBar[] = {{5, 4}, {12, 11}, {36, 11}, {43, 4}};
constexpr std::pair<int, int> k7UpperLeftBar[] = {{4, 6}, {4, 40}, {11, 36}, {11, 13}};
constexpr std::pair<int, int> k7MiddleBar[] = {{6, 41}, {14, 45}, {34, 45}, {42, 41}, {34, 37}, {14, 37}};

// Fourteen-segment base outlines.
constexpr std::pair<int, int> k14CentreStroke[] = {{20, 13}, {20, 36}, {24, 40}, {28, 36}, {28, 13}};
constexpr std::pair<int, int> k14Diagonal[] = {{5, 5}, {15, 35}, {20, 37}, {18, 25}};
constexpr std::pair<int, int> k14HalfMiddleBar[] = {{6, 41}, {14, 45}, {18, 45}, {22, 41}, {18, 37}, {14, 37}};
constexpr std::pair<int, int> k14UpperLeftBar[] = {{4, 7}, {4, 40}, {11, 36}, {11, 26}};
constexpr std::pair<int, int> k14TopBar[] = {{6, 4}, {11, 11}, {37, 11}, {42, 4}};

// Colon/dot squares: two colon dots, then the decimal point.
constexpr std::pair<int, int> kColonUpper[] = {{4, 23}, {4, 32}, {13, 32}, {13, 23}};
constexpr std::pair<int, int> kColonLower[] = {{4, 50}, {4, 59}, {13, 59}, {13, 50}};
constexpr std::pair<int, int> kDecimalPoint[] = {{4, 68}, {4, 77}, {13, 77}, {13, 68}};

struct SegmentRecipe {
  Outline outline;
  DigiReflect reflect;
};

// Segment i of each cell kind, in bit order.
const std::array<SegmentRecipe, 7> kSevenSegments = {{
    {k7TopBar, DigiReflect::None},          // 0 top
    {k7UpperLeftBar, DigiReflect::None},    // 1 upper left
    {k7UpperLeftBar, DigiReflect::Mirror},  // 2 upper right
    {k7MiddleBar, DigiReflect::None},       // 3 middle
    {k7UpperLeftBar, DigiReflect::Flip},    // 4 lower left
    {k7UpperLeftBar, DigiReflect::Turn},    // 5 lower right
    {k7TopBar, DigiReflect::Flip},          // 6 bottom
}};

const std::array<SegmentRecipe, 14> kFourteenSegments = {{
    {k14CentreStroke, DigiReflect::None},     // 0 upper centre stroke
    {k14Diagonal, DigiReflect::None},         // 1 upper-left diagonal
    {k14Diagonal, DigiReflect::Mirror},       // 2 upper-right diagonal
    {k14Diagonal, DigiReflect::Flip},         // 3 lower-left diagonal
    {k14Diagonal, DigiReflect::Turn},         // 4 lower-right diagonal
    {k14CentreStroke, DigiReflect::Flip},     // 5 lower centre stroke
    {k14HalfMiddleBar, DigiReflect::None},    // 6 left half of the middle bar
    {k14HalfMiddleBar, DigiReflect::Mirror},  // 7 right half of the middle bar
    {k14UpperLeftBar, DigiReflect::None},     // 8 upper left
    {k14UpperLeftBar, DigiReflect::Flip},     // 9 lower left
    {k14TopBar, DigiReflect::Flip},           // 10 bottom
    {k14UpperLeftBar, DigiReflect::Turn},     // 11 lower right
    {k14UpperLeftBar, DigiReflect::Mirror},   // 12 upper right
    {k14TopBar, DigiReflect::None},           // 13 top
}};

const std::array<SegmentRecipe, 3> kColonDotSegments = {{
    {kColonUpper, DigiReflect::None},
    {kColonLower, DigiReflect::None},
    {kDecimalPoint, DigiReflect::None},
}};

constexpr DigiGlyph kCharacterSet[] = {
    {' ', DigiCellKind::SevenSegment, 0x00},      {'0', DigiCellKind::SevenSegment, 0x77},
    {'1', DigiCellKind::SevenSegment, 0x24},      {'2', DigiCellKind::SevenSegment, 0x5D},
    {'3', DigiCellKind::SevenSegment, 0x6D},      {'4', DigiCellKind::SevenSegment, 0x2E},
    {'5', DigiCellKind::SevenSegment, 0x6B},      {'6', DigiCellKind::SevenSegment, 0x7B},
    {'7', DigiCellKind::SevenSegment, 0x25},      {'8', DigiCellKind::SevenSegment, 0x7F},
    {'9', DigiCellKind::SevenSegment, 0x6F},      {'-', DigiCellKind::SevenSegment, 0x08},
    {'.', DigiCellKind::ColonDot, 0x04},          {':', DigiCellKind::ColonDot, 0x03},
    {'*', DigiCellKind::FourteenSegment, 0x00FF}, {'+', DigiCellKind::FourteenSegment, 0x00E1},
    {'A', DigiCellKind::FourteenSegment, 0x3BC0}, {'B', DigiCellKind::FourteenSegment, 0x3CA1},
    {'C', DigiCellKind::FourteenSegment, 0x2700}, {'D', DigiCellKind::FourteenSegment, 0x3C21},
    {'E', DigiCellKind::FourteenSegment, 0x27C0}, {'F', DigiCellKind::FourteenSegment, 0x23C0},
    {'G', DigiCellKind::FourteenSegment, 0x2F80}, {'H', DigiCellKind::FourteenSegment, 0x1BC0},
    {'I', DigiCellKind::FourteenSegment, 0x2421}, {'J', DigiCellKind::FourteenSegment, 0x1E00},
    {'K', DigiCellKind::FourteenSegment, 0x0354}, {'L', DigiCellKind::FourteenSegment, 0x0700},
    {'M', DigiCellKind::FourteenSegment, 0x1B06}, {'N', DigiCellKind::FourteenSegment, 0x1B12},
    {'O', DigiCellKind::FourteenSegment, 0x3F00}, {'P', DigiCellKind::FourteenSegment, 0x33C0},
    {'Q', DigiCellKind::FourteenSegment, 0x3F10}, {'R', DigiCellKind::FourteenSegment, 0x33D0},
    {'S', DigiCellKind::FourteenSegment, 0x2DC0}, {'T', DigiCellKind::FourteenSegment, 0x2021},
    {'U', DigiCellKind::FourteenSegment, 0x1F00}, {'V', DigiCellKind::FourteenSegment, 0x030C},
    {'W', DigiCellKind::FourteenSegment, 0x1B18}, {'X', DigiCellKind::FourteenSegment, 0x001E},
    {'Y', DigiCellKind::FourteenSegment, 0x11E0}, {'Z', DigiCellKind::FourteenSegment, 0x240C},
};

void ReflectOutlineInto(Outline outline, DigiReflect how, SegmentShape& shape) {
  const bool mirror = how == DigiReflect::Mirror || how == DigiReflect::Turn;
  const bool flip = how == DigiReflect::Flip || how == DigiReflect::Turn;
  shape.points.clear();
  for (const auto& [x, y] : outline) {
    shape.points.push_back({mirror ? kDigiMirrorAxis - x : x, flip ? kDigiFlipAxis - y : y,
                            shape.points.empty() ? SegmentPoint::Kind::MoveTo : SegmentPoint::Kind::LineTo});
  }
}

// Rebuilds the shapes in the room out already has.
void BuildShapes(std::span<const SegmentRecipe> recipes, std::vector<SegmentShape>& out) {
  out.resize(recipes.size());
  for (std::size_t i = 0; i < recipes.size(); ++i) {
    ReflectOutlineInto(recipes[i].outline, recipes[i].reflect, out[i]);
  }
}

std::unique_ptr<CDigiChar> MakeCell(DigiCellKind kind) {
  switch (kind) {
    case DigiCellKind::SevenSegment: return std::make_unique<CDigi7Segment>();
    case DigiCellKind::FourteenSegment: return std::make_unique<CDigi14Segment>();
    case DigiCellKind::ColonDot: return std::make_unique<CDigiColonDotChar>();
  }
  return nullptr;
}

bool IsCellOfKind(const CDigiChar& cell, DigiCellKind kind) {
  switch (kind) {
    case DigiCellKind::SevenSegment: return dynamic_cast<const CDigi7Segment*>(&cell) != nullptr;
    case DigiCellKind::FourteenSegment: return dynamic_cast<const CDigi14Segment*>(&cell) != nullptr;
    case DigiCellKind::ColonDot: return dynamic_cast<const CDigiColonDotChar*>(&cell) != nullptr;
  }
  return false;
}

std::uint8_t BlendComponent(std::uint8_t segment, std::uint8_t background) {
  // Truncation, not rounding: 0.75 * 255 gives 191.
  return static_cast<std::uint8_t>(0.75 * segment + 0.25 * background);
}

}  // namespace

void CDigi7Segment::SetElementData(std::uint16_t mask) {
  BuildShapes(kSevenSegments, MutableSegments());
  CDigiChar::SetElementData(mask);
}

void CDigi14Segment::SetElementData(std::uint16_t mask) {
  BuildShapes(kFourteenSegments, MutableSegments());
  CDigiChar::SetElementData(mask);
}

void CDigiColonDotChar::SetElementData(std::uint16_t mask) {
  BuildShapes(kColonDotSegments, MutableSegments());
  CDigiChar::SetElementData(mask);
}

SegmentShape ReflectOutline(std::span<const std::pair<int, int>> outline, DigiReflect how) {
  SegmentShape shape;
  ReflectOutlineInto(outline, how, shape);
  return shape;
}

std::span<const DigiGlyph> DigiCharacterSet() { return kCharacterSet; }

const DigiGlyph* FindDigiGlyph(unsigned char byte) {
  for (const DigiGlyph& glyph : kCharacterSet) {
    if (static_cast<unsigned char>(glyph.character) == byte) return &glyph;
  }
  return nullptr;
}

void UpperCaseDigiText(std::string& text) {
  // Not std::toupper: the result must not depend on the process locale.
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

DigiCharList BuildDigiChars(std::string& text) {
  DigiCharList cells;
  BuildDigiChars(text, cells);
  return cells;
}

void BuildDigiChars(std::string& text, DigiCharList& cells) {
  UpperCaseDigiText(text);
  std::size_t count = 0;
  for (char c : text) {
    const DigiGlyph* glyph = FindDigiGlyph(static_cast<unsigned char>(c));
    if (glyph == nullptr) continue;  // not drawable: takes no cell
    if (count == cells.size()) {
      cells.push_back(MakeCell(glyph->kind));
    } else if (!IsCellOfKind(*cells[count], glyph->kind)) {
      cells[count] = MakeCell(glyph->kind);
    }
    cells[count]->SetElementData(glyph->mask);
    ++count;
  }
  cells.resize(count);
}

DigiColour BlendPenColour(DigiColour segment, DigiColour background) {
  return {BlendComponent(segment.r, background.r), BlendComponent(segment.g, background.g),
          BlendComponent(segment.b, background.b)};
}

DigiPalette MakeDigiPalette(DigiColour off, DigiColour on, DigiColour background) {
  return {background, off, on, BlendPenColour(off, background), BlendPenColour(on, background)};
}

SegmentPoint MapDigiPoint(const DigiRect& rect, int cell_width, SegmentPoint p) {
  const double x = rect.left + (rect.right - rect.left) / cell_width * p.x + 0.5;
  const double y = rect.top + (rect.bottom - rect.top) / kDigiCellHeight * p.y + 0.5;
  return {static_cast<int>(x), static_cast<int>(y), p.kind};
}

std::vector<DigiCellPixels> LayoutDigiCells(const DigiCharList& cells, int cw, int ch) {
  std::vector<DigiRect> rects;
  LayoutDigiRects(cells, cw, ch, rects);
  std::vector<DigiCellPixels> laid_out(rects.size());
  for (std::size_t i = 0; i < rects.size(); ++i) MapDigiCell(*cells[i], rects[i], laid_out[i]);
  return laid_out;
}

void LayoutDigiRects(const DigiCharList& cells, int cw, int ch, std::vector<DigiRect>& out) {
  out.clear();
  int total_width = 0;
  for (const auto& cell : cells) total_width += cell->Width();
  // Nothing to scale against: a text without drawable characters shows only
  // the background, and so does a control without area.
  if (total_width <= 0 || cw <= 0 || ch <= 0) return;

  const double s = std::min(static_cast<double>(cw) / total_width, static_cast<double>(ch) / kDigiCellHeight);
  double x = (cw - total_width * s) / 2;
  const double y0 = (ch - kDigiCellHeight * s) / 2;
  for (const auto& cell : cells) {
    out.push_back({x, y0, x + cell->Width() * s, y0 + kDigiCellHeight * s});
    x += cell->Width() * s;
  }
}

void MapDigiCell(const CDigiChar& cell, const DigiRect& rect, DigiCellPixels& out) {
  out.rect = rect;
  const auto& segments = cell.Segments();
  out.segments.resize(segments.size());
  for (std::size_t i = 0; i < segments.size(); ++i) {
    DigiSegmentPixels& segment = out.segments[i];
    segment.lit = cell.IsLit(static_cast<int>(i));
    segment.polygon.points.clear();
    for (const SegmentPoint& p : segments[i].points) {
      segment.polygon.points.push_back(MapDigiPoint(rect, cell.Width(), p));
    }
  }
}

std::vector<DigiCellPixels> LayoutDigiText(std::string_view text, int cw, int ch) {
  std::string shown(text);
  return LayoutDigiCells(BuildDigiChars(shown), cw, ch);
}

}  // namespace rolta
