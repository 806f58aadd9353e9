// Segment-digit geometry: character cells, outlines, layout and pen colours.
#include "widgets/digi_geometry.h"

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

namespace rolta {
namespace {

using Kind = SegmentPoint::Kind;

std::vector<std::pair<int, int>> Points(const SegmentShape& shape) {
  std::vector<std::pair<int, int>> out;
  for (const SegmentPoint& p : shape.points) out.emplace_back(p.x, p.y);
  return out;
}

std::vector<int> LitSegments(const CDigiChar& cell) {
  std::vector<int> lit;
  for (int i = 0; i < cell.SegmentCount(); ++i) {
    if (cell.IsLit(i)) lit.push_back(i);
  }
  return lit;
}

TEST(DigiGeometry, TwelvePointFiveMakesThreeDigitCellsAndOneDotCell) {
  std::string text = "12.5";
  const DigiCharList cells = BuildDigiChars(text);
  ASSERT_EQ(cells.size(), 4u);
  EXPECT_NE(dynamic_cast<const CDigi7Segment*>(cells[0].get()), nullptr);
  EXPECT_NE(dynamic_cast<const CDigi7Segment*>(cells[1].get()), nullptr);
  EXPECT_NE(dynamic_cast<const CDigiColonDotChar*>(cells[2].get()), nullptr);
  EXPECT_NE(dynamic_cast<const CDigi7Segment*>(cells[3].get()), nullptr);
  int total = 0;
  for (const auto& cell : cells) total += cell->Width();
  EXPECT_EQ(total, 165);
  // The dot cell lights only the decimal point, not the colon's dots.
  EXPECT_EQ(LitSegments(*cells[2]), (std::vector<int>{2}));
  // "1" is the two right-hand bars.
  EXPECT_EQ(LitSegments(*cells[0]), (std::vector<int>{2, 5}));
}

TEST(DigiGeometry, TwelvePointFiveInA330By83ControlIsCentredAtScaleOne) {
  const auto laid = LayoutDigiText("12.5", 330, 83);
  ASSERT_EQ(laid.size(), 4u);
  const double lefts[] = {82.5, 131.5, 180.5, 198.5};
  const double rights[] = {131.5, 180.5, 198.5, 247.5};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(laid[i].rect.left, lefts[i]) << "cell " << i;
    EXPECT_DOUBLE_EQ(laid[i].rect.right, rights[i]) << "cell " << i;
    EXPECT_DOUBLE_EQ(laid[i].rect.top, 0.0);
    EXPECT_DOUBLE_EQ(laid[i].rect.bottom, 83.0);
  }
  // Top bar of the "1" starts at cell point (5,4): 82.5 + 5 + 0.5 -> 88.
  ASSERT_EQ(laid[0].segments.size(), 7u);
  EXPECT_EQ(laid[0].segments[0].polygon.points[0], (SegmentPoint{88, 4, Kind::MoveTo}));
  EXPECT_FALSE(laid[0].segments[0].lit);
  EXPECT_TRUE(laid[0].segments[2].lit);
  // Decimal point square (4,68)-(13,77) of the dot cell at 180.5.
  ASSERT_EQ(laid[2].segments.size(), 3u);
  EXPECT_EQ(Points(laid[2].segments[2].polygon),
            (std::vector<std::pair<int, int>>{{185, 68}, {185, 77}, {194, 77}, {194, 68}}));
  EXPECT_TRUE(laid[2].segments[2].lit);
  EXPECT_FALSE(laid[2].segments[0].lit);
  EXPECT_FALSE(laid[2].segments[1].lit);
  // "5" lights top, upper left, middle, lower right, bottom (bits 0,1,3,5,6).
  std::vector<int> lit;
  for (int i = 0; i < 7; ++i) {
    if (laid[3].segments[static_cast<std::size_t>(i)].lit) lit.push_back(i);
  }
  EXPECT_EQ(lit, (std::vector<int>{0, 1, 3, 5, 6}));
  // Bottom bar (5,78)..(43,78) of the last cell: 198.5 + 5 + 0.5 -> 204, 198.5 + 43 + 0.5 -> 242.
  EXPECT_EQ(laid[3].segments[6].polygon.points[0], (SegmentPoint{204, 78, Kind::MoveTo}));
  EXPECT_EQ(laid[3].segments[6].polygon.points[3], (SegmentPoint{242, 78, Kind::LineTo}));
}

TEST(DigiGeometry, WiderOrHigherControlKeepsProportionsAndCentres) {
  // Twice as wide as the text needs: same scale, centred horizontally.
  const auto wide = LayoutDigiText("12.5", 660, 83);
  ASSERT_EQ(wide.size(), 4u);
  EXPECT_DOUBLE_EQ(wide[0].rect.left, 247.5);
  EXPECT_DOUBLE_EQ(wide[3].rect.right, 412.5);
  EXPECT_DOUBLE_EQ(wide[0].rect.top, 0.0);
  EXPECT_DOUBLE_EQ(wide[0].rect.bottom, 83.0);

  // Twice as high: same scale, centred vertically.
  const auto high = LayoutDigiText("12.5", 165, 166);
  ASSERT_EQ(high.size(), 4u);
  EXPECT_DOUBLE_EQ(high[0].rect.left, 0.0);
  EXPECT_DOUBLE_EQ(high[0].rect.top, 41.5);
  EXPECT_DOUBLE_EQ(high[0].rect.bottom, 124.5);
  EXPECT_DOUBLE_EQ(high[1].rect.left, 49.0);
  // (5,4) of the top bar: x 0 + 5 + 0.5 -> 5, y 41.5 + 4 + 0.5 -> 46.
  EXPECT_EQ(high[0].segments[0].polygon.points[0], (SegmentPoint{5, 46, Kind::MoveTo}));

  // Twice the size in both directions doubles the cells.
  const auto doubled = LayoutDigiText("12.5", 330, 166);
  ASSERT_EQ(doubled.size(), 4u);
  EXPECT_DOUBLE_EQ(doubled[1].rect.left, 98.0);
  EXPECT_DOUBLE_EQ(doubled[2].rect.left, 196.0);
  EXPECT_DOUBLE_EQ(doubled[3].rect.left, 232.0);
  EXPECT_EQ(Points(doubled[2].segments[2].polygon),
            (std::vector<std::pair<int, int>>{{204, 136}, {204, 154}, {222, 154}, {222, 136}}));
}

TEST(DigiGeometry, FractionalScaleTruncatesAfterAddingOneHalf) {
  // "8" in 100 x 100: s = 100/83, x = (100 - 49 s) / 2 = 20.4819..., y0 = 0.
  const auto laid = LayoutDigiText("8", 100, 100);
  ASSERT_EQ(laid.size(), 1u);
  EXPECT_NEAR(laid[0].rect.left, 20.48193, 1e-5);
  EXPECT_NEAR(laid[0].rect.top, 0.0, 1e-9);
  EXPECT_NEAR(laid[0].rect.bottom, 100.0, 1e-9);
  // Bottom bar (5,78) -> (27.006, 94.476) and (43,78) -> (72.789, 94.476).
  const SegmentShape& bottom = laid[0].segments[6].polygon;
  EXPECT_EQ(bottom.points[0], (SegmentPoint{27, 94, Kind::MoveTo}));
  EXPECT_EQ(bottom.points[3], (SegmentPoint{72, 94, Kind::LineTo}));
  for (const auto& segment : laid[0].segments) EXPECT_TRUE(segment.lit);
}

TEST(DigiGeometry, LowerCaseIsShownAsCapitals) {
  std::string text = "k";
  const DigiCharList cells = BuildDigiChars(text);
  EXPECT_EQ(text, "K");  // the stored text is converted in place
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_NE(dynamic_cast<const CDigi14Segment*>(cells[0].get()), nullptr);
  EXPECT_EQ(cells[0]->Mask(), 0x0354);
  EXPECT_EQ(cells[0]->SegmentCount(), 14);

  std::string lower = "abcdefghijklmnopqrstuvwxyz";
  std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const DigiCharList from_lower = BuildDigiChars(lower);
  const DigiCharList from_upper = BuildDigiChars(upper);
  EXPECT_EQ(lower, upper);
  ASSERT_EQ(from_lower.size(), 26u);
  ASSERT_EQ(from_upper.size(), 26u);
  for (std::size_t i = 0; i < 26; ++i) EXPECT_EQ(from_lower[i]->Mask(), from_upper[i]->Mask());
}

TEST(DigiGeometry, UndrawableCharactersTakeNoCell) {
  std::string with_skips = "%1,5%";
  const DigiCharList cells = BuildDigiChars(with_skips);
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0]->Mask(), 0x24);  // "1"
  EXPECT_EQ(cells[1]->Mask(), 0x6B);  // "5"

  for (const char* nothing : {"", "%", ",", "%,%", "\xE9\x80\x9F\x01\x7F"}) {
    std::string text = nothing;
    EXPECT_TRUE(BuildDigiChars(text).empty()) << nothing;
    EXPECT_TRUE(LayoutDigiText(nothing, 330, 83).empty()) << nothing;
  }
  // A space is a blank digit cell, not a skip.
  EXPECT_EQ(LayoutDigiText(" ", 330, 83).size(), 1u);
}

TEST(DigiGeometry, ControlWithoutAreaDrawsNothing) {
  EXPECT_TRUE(LayoutDigiText("12.5", 0, 83).empty());
  EXPECT_TRUE(LayoutDigiText("12.5", 330, 0).empty());
  EXPECT_TRUE(LayoutDigiText("12.5", -5, -5).empty());
}

TEST(DigiGeometry, MasksLightTheSegmentsTheirCharactersNeed) {
  std::string text = "80-I:+*";
  const DigiCharList cells = BuildDigiChars(text);
  ASSERT_EQ(cells.size(), 7u);
  EXPECT_EQ(LitSegments(*cells[0]), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));  // 8
  EXPECT_EQ(LitSegments(*cells[1]), (std::vector<int>{0, 1, 2, 4, 5, 6}));     // 0: no middle
  EXPECT_EQ(LitSegments(*cells[2]), (std::vector<int>{3}));                    // -: middle only
  // I: both centre strokes, bottom and top bars.
  EXPECT_EQ(LitSegments(*cells[3]), (std::vector<int>{0, 5, 10, 13}));
  EXPECT_EQ(LitSegments(*cells[4]), (std::vector<int>{0, 1}));  // colon dots
  // +: both centre strokes and both halves of the middle bar.
  EXPECT_EQ(LitSegments(*cells[5]), (std::vector<int>{0, 5, 6, 7}));
  // *: every stroke inside the frame, none of the outer bars.
  EXPECT_EQ(LitSegments(*cells[6]), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(DigiGeometry, PenColoursBlendThreeQuartersSegmentOneQuarterBackground) {
  EXPECT_EQ(BlendPenColour(kDigiOffColour, kDigiBackgroundColour), (DigiColour{0, 39, 0}));
  EXPECT_EQ(BlendPenColour(kDigiOnColour, kDigiBackgroundColour), (DigiColour{0, 191, 0}));
  // 75 + 5 = 80; 150 + 10 = 160; 30 + 63.75 truncates to 93.
  EXPECT_EQ(BlendPenColour({100, 200, 40}, {20, 40, 255}), (DigiColour{80, 160, 93}));
  const DigiPalette palette = MakeDigiPalette(kDigiOffColour, kDigiOnColour, kDigiBackgroundColour);
  EXPECT_EQ(palette.off_brush, (DigiColour{0, 52, 0}));
  EXPECT_EQ(palette.on_brush, (DigiColour{0, 255, 0}));
  EXPECT_EQ(palette.background, (DigiColour{0, 0, 0}));
  EXPECT_EQ(palette.off_pen, (DigiColour{0, 39, 0}));
  EXPECT_EQ(palette.on_pen, (DigiColour{0, 191, 0}));
}

TEST(DigiGeometry, SevenSegmentOutlinesAreReflectedBaseOutlines) {
  CDigi7Segment cell;
  cell.SetElementData(0x7F);
  EXPECT_EQ(cell.Width(), 49);
  ASSERT_EQ(cell.Segments().size(), 7u);
  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(Points(cell.Segments()[0]), (P{{5, 4}, {12, 11}, {36, 11}, {43, 4}}));
  EXPECT_EQ(Points(cell.Segments()[2]), (P{{44, 6}, {44, 40}, {37, 36}, {37, 13}}));  // mirrored
  EXPECT_EQ(Points(cell.Segments()[3]), (P{{6, 41}, {14, 45}, {34, 45}, {42, 41}, {34, 37}, {14, 37}}));
  EXPECT_EQ(Points(cell.Segments()[4]), (P{{4, 76}, {4, 42}, {11, 46}, {11, 69}}));    // flipped
  EXPECT_EQ(Points(cell.Segments()[5]), (P{{44, 76}, {44, 42}, {37, 46}, {37, 69}}));  // turned
  EXPECT_EQ(Points(cell.Segments()[6]), (P{{5, 78}, {12, 71}, {36, 71}, {43, 78}}));
  for (const SegmentShape& shape : cell.Segments()) {
    ASSERT_FALSE(shape.points.empty());
    EXPECT_EQ(shape.points.front().kind, Kind::MoveTo);
    for (std::size_t i = 1; i < shape.points.size(); ++i) EXPECT_EQ(shape.points[i].kind, Kind::LineTo);
  }
}

TEST(DigiGeometry, FourteenSegmentOutlinesAreReflectedBaseOutlines) {
  CDigi14Segment cell;
  cell.SetElementData(0x0354);
  EXPECT_EQ(cell.Width(), 49);
  ASSERT_EQ(cell.Segments().size(), 14u);
  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(Points(cell.Segments()[0]), (P{{20, 13}, {20, 36}, {24, 40}, {28, 36}, {28, 13}}));
  EXPECT_EQ(Points(cell.Segments()[2]), (P{{43, 5}, {33, 35}, {28, 37}, {30, 25}}));   // mirrored
  EXPECT_EQ(Points(cell.Segments()[3]), (P{{5, 77}, {15, 47}, {20, 45}, {18, 57}}));   // flipped
  EXPECT_EQ(Points(cell.Segments()[4]), (P{{43, 77}, {33, 47}, {28, 45}, {30, 57}}));  // turned
  EXPECT_EQ(Points(cell.Segments()[5]), (P{{20, 69}, {20, 46}, {24, 42}, {28, 46}, {28, 69}}));
  EXPECT_EQ(Points(cell.Segments()[7]), (P{{42, 41}, {34, 45}, {30, 45}, {26, 41}, {30, 37}, {34, 37}}));
  EXPECT_EQ(Points(cell.Segments()[10]), (P{{6, 78}, {11, 71}, {37, 71}, {42, 78}}));
  EXPECT_EQ(Points(cell.Segments()[11]), (P{{44, 75}, {44, 42}, {37, 46}, {37, 56}}));
  EXPECT_EQ(Points(cell.Segments()[12]), (P{{44, 7}, {44, 40}, {37, 36}, {37, 26}}));
  EXPECT_EQ(Points(cell.Segments()[13]), (P{{6, 4}, {11, 11}, {37, 11}, {42, 4}}));
}

TEST(DigiGeometry, ColonDotCellIsThreeSquares) {
  CDigiColonDotChar cell;
  cell.SetElementData(0x03);
  EXPECT_EQ(cell.Width(), 18);
  ASSERT_EQ(cell.Segments().size(), 3u);
  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(Points(cell.Segments()[0]), (P{{4, 23}, {4, 32}, {13, 32}, {13, 23}}));
  EXPECT_EQ(Points(cell.Segments()[1]), (P{{4, 50}, {4, 59}, {13, 59}, {13, 50}}));
  EXPECT_EQ(Points(cell.Segments()[2]), (P{{4, 68}, {4, 77}, {13, 77}, {13, 68}}));
}

TEST(DigiGeometry, SettingElementDataAgainReplacesRatherThanAppends) {
  CDigiChar plain(49, 7);
  plain.SetElementData(0x1234);
  EXPECT_EQ(plain.Mask(), 0x1234);
  EXPECT_TRUE(plain.Segments().empty());  // the base cell has no shapes of its own

  CDigi7Segment cell;
  cell.SetElementData(0x24);
  cell.SetElementData(0x7F);
  EXPECT_EQ(cell.Segments().size(), 7u);
  EXPECT_EQ(cell.Mask(), 0x7F);
}

TEST(DigiGeometry, RebuildingIntoAnEarlierListGivesTheCellsOfTheNewText) {
  // Kinds change at some positions, stay at others; the list grows and shrinks.
  const char* const texts[] = {"8.8", "A:1-", "12.34", "", "WXYZ*+", "k", "-0.5:"};
  DigiCharList reused;
  for (const char* text : texts) {
    std::string for_reused = text;
    std::string for_fresh = text;
    BuildDigiChars(for_reused, reused);
    const DigiCharList fresh = BuildDigiChars(for_fresh);
    EXPECT_EQ(for_reused, for_fresh);
    ASSERT_EQ(reused.size(), fresh.size()) << text;
    for (std::size_t i = 0; i < fresh.size(); ++i) {
      EXPECT_EQ(typeid(*reused[i]), typeid(*fresh[i])) << text << " cell " << i;
      EXPECT_EQ(reused[i]->Mask(), fresh[i]->Mask()) << text << " cell " << i;
      EXPECT_EQ(reused[i]->Width(), fresh[i]->Width()) << text << " cell " << i;
      EXPECT_EQ(reused[i]->Segments(), fresh[i]->Segments()) << text << " cell " << i;
    }
  }
}

}  // namespace
}  // namespace rolta
