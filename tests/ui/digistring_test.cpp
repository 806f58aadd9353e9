// The segment display as painted: pixels at segment centres and rims, the
// background around the cells, and when the control repaints.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QtTest/QtTest>

#include <string>
#include <vector>

#include "paint_regions.h"
#include "widgets/ui/digistring.h"

using rolta::CDigistring;

namespace {

const QColor kOn(0, 255, 0);
const QColor kOff(0, 52, 0);
const QColor kBackground(0, 0, 0);
const QColor kOnPen(0, 191, 0);
const QColor kOffPen(0, 39, 0);

QImage Render(CDigistring& display) { return display.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QColor At(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

// The display drawn the plain way, every segment straight onto one image: the
// background, then each polygon filled with its brush and outlined with the
// 1-pixel blended pen, no antialiasing.
QImage DrawDirectly(const std::string& text, QSize size) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(kBackground);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (const rolta::DigiCellPixels& cell : rolta::LayoutDigiText(text, size.width(), size.height())) {
    for (const rolta::DigiSegmentPixels& segment : cell.segments) {
      QPainterPath path;
      for (const rolta::SegmentPoint& p : segment.polygon.points) {
        if (p.kind == rolta::SegmentPoint::Kind::MoveTo) {
          path.moveTo(p.x, p.y);
        } else {
          path.lineTo(p.x, p.y);
        }
      }
      path.closeSubpath();
      QPen pen(segment.lit ? kOnPen : kOffPen);
      pen.setWidth(1);
      painter.setPen(pen);
      painter.setBrush(segment.lit ? kOn : kOff);
      painter.drawPath(path);
    }
  }
  return image;
}

// Empty when the display shows what DrawDirectly draws, else where it differs.
QString Mismatch(CDigistring& display, const std::string& text) {
  display.SetText(text.c_str());
  const QImage shown = Render(display);
  const QImage expected = DrawDirectly(text, display.size());
  if (shown.size() != expected.size()) return QStringLiteral("image size differs");
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) {
      if (shown.pixel(x, y) != expected.pixel(x, y)) {
        return QString("\"%1\" in %2x%3: pixel %4,%5 is %6, drawn directly %7")
            .arg(QString::fromStdString(text))
            .arg(shown.width())
            .arg(shown.height())
            .arg(x)
            .arg(y)
            .arg(QColor(shown.pixel(x, y)).name())
            .arg(QColor(expected.pixel(x, y)).name());
      }
    }
  }
  return {};
}

// Seven-segment interior points in cell units, segment i at index i.
constexpr QPoint kSevenCentres[] = {{24, 7}, {7, 24}, {41, 24}, {24, 41}, {7, 58}, {41, 58}, {24, 75}};

}  // namespace

class DigistringTest : public QObject {
  Q_OBJECT

 private slots:
  void startsEmptyAndOpaque();
  void segmentsLitByCharacter_data();
  void segmentsLitByCharacter();
  void twelvePointFiveDrawsItsDecimalPoint();
  void areaOutsideTheCellsIsBackground();
  void textWithoutDrawableCharactersShowsBackgroundOnly_data();
  void textWithoutDrawableCharactersShowsBackgroundOnly();
  void segmentRimUsesBlendedPen();
  void lowerCaseIsShownAsCapitals();
  void sameTextTwiceRepaintsOnce();
  void onScreenOnlyChangedCellsAreRepainted();
  void cellsAreRebuiltOnlyAtTheNextPaint();
  void sizeHintsKeepTheCellProportions();
  void reusedCellsGiveTheSamePixelsAsDrawingDirectly();
  void boundedCellCacheKeepsThePixels();
  void everySizeGivesTheSamePixelsAsDrawingDirectly();
};

void DigistringTest::startsEmptyAndOpaque() {
  CDigistring display;
  QCOMPARE(display.text(), std::string("EMPTY"));
  QVERIFY(display.IsModified());
  QVERIFY(display.testAttribute(Qt::WA_OpaquePaintEvent));
  QVERIFY(!display.autoFillBackground());
  display.SetText(static_cast<const char*>(nullptr));  // ignored, not a crash
  QCOMPARE(display.text(), std::string("EMPTY"));
}

void DigistringTest::segmentsLitByCharacter_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("lit");  // '1' per seven-segment bit 0..6
  QTest::newRow("8 lights every segment") << "8"
                                          << "1111111";
  QTest::newRow("1 lights the right-hand bars") << "1"
                                                << "0010010";
  QTest::newRow("minus lights the middle bar") << "-"
                                               << "0001000";
  QTest::newRow("space is a dark digit") << " "
                                         << "0000000";
  QTest::newRow("7 is top and right") << "7"
                                      << "1010010";
}

void DigistringTest::segmentsLitByCharacter() {
  QFETCH(QString, text);
  QFETCH(QString, lit);
  CDigistring display;
  display.resize(98, 166);  // exactly one digit cell at scale 2
  display.SetText(text);
  const QImage image = Render(display);
  for (int i = 0; i < 7; ++i) {
    const QPoint p = kSevenCentres[i] * 2;
    QCOMPARE(At(image, p.x(), p.y()), lit[i] == '1' ? kOn : kOff);
  }
  // Between the upper bars and the middle bar there is only background.
  QCOMPARE(At(image, 48, 48), kBackground);
}

void DigistringTest::twelvePointFiveDrawsItsDecimalPoint() {
  CDigistring display;
  display.resize(330, 166);  // 165 units at scale 2; cells at 0, 98, 196, 232
  display.SetText("12.5");
  const QImage image = Render(display);
  // "1": right bars lit, left bars dim.
  QCOMPARE(At(image, 82, 48), kOn);
  QCOMPARE(At(image, 14, 48), kOff);
  // "2": upper right lit, upper left dim, lower left lit.
  QCOMPARE(At(image, 98 + 82, 48), kOn);
  QCOMPARE(At(image, 98 + 14, 48), kOff);
  QCOMPARE(At(image, 98 + 14, 116), kOn);
  // Dot cell: the decimal point square (4,68)-(13,77) lit, the colon's dots dim.
  QCOMPARE(At(image, 196 + 17, 145), kOn);
  QCOMPARE(At(image, 196 + 17, 55), kOff);
  QCOMPARE(At(image, 196 + 17, 109), kOff);
  QCOMPARE(At(image, 196 + 2, 145), kBackground);
  // "5": upper left lit, upper right dim, lower right lit.
  QCOMPARE(At(image, 232 + 14, 48), kOn);
  QCOMPARE(At(image, 232 + 82, 48), kOff);
  QCOMPARE(At(image, 232 + 82, 116), kOn);
}

void DigistringTest::areaOutsideTheCellsIsBackground() {
  CDigistring display;
  display.resize(330, 300);  // scale 2, the string centred 67 pixels down
  display.SetText("12.5");
  const QImage image = Render(display);
  QCOMPARE(At(image, 82, 48 + 67), kOn);
  QCOMPARE(At(image, 82, 48), kBackground);
  for (int x = 0; x < 330; x += 7) {
    QCOMPARE(At(image, x, 30), kBackground);
    QCOMPARE(At(image, x, 299), kBackground);
  }

  display.resize(200, 166);  // "1" alone: one cell 98 wide, centred at 51
  display.SetText("1");
  const QImage narrow = Render(display);
  QCOMPARE(At(narrow, 51 + 82, 48), kOn);
  for (int y = 0; y < 166; y += 5) {
    QCOMPARE(At(narrow, 10, y), kBackground);
    QCOMPARE(At(narrow, 190, y), kBackground);
  }
}

void DigistringTest::textWithoutDrawableCharactersShowsBackgroundOnly_data() {
  QTest::addColumn<QString>("text");
  QTest::newRow("empty") << "";
  QTest::newRow("percent and comma") << "%,%";
  QTest::newRow("non-ASCII") << QString::fromUtf8("速度");
}

void DigistringTest::textWithoutDrawableCharactersShowsBackgroundOnly() {
  QFETCH(QString, text);
  CDigistring display;
  display.resize(120, 60);
  display.SetText(text);
  const QImage image = Render(display);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (At(image, x, y) != kBackground) QFAIL(qPrintable(QString("pixel %1,%2 drawn").arg(x).arg(y)));
    }
  }
}

void DigistringTest::segmentRimUsesBlendedPen() {
  CDigistring display;
  display.resize(98, 166);
  display.SetText("7");  // top bar lit, middle bar dim
  const QImage image = Render(display);
  // The top bar's upper edge runs along y = 8 from x = 10 to 86; its fill starts below.
  QCOMPARE(At(image, 48, 8), kOnPen);
  QCOMPARE(At(image, 48, 10), kOn);
  QCOMPARE(At(image, 48, 7), kBackground);
  // The middle bar's lower edge runs along y = 90 from x = 28 to 68.
  QCOMPARE(At(image, 48, 90), kOffPen);
  QCOMPARE(At(image, 48, 88), kOff);
}

void DigistringTest::lowerCaseIsShownAsCapitals() {
  CDigistring lower;
  CDigistring upper;
  lower.resize(200, 83);
  upper.resize(200, 83);
  lower.SetText("k");
  upper.SetText("K");
  const QImage shown = Render(lower);
  QCOMPARE(shown, Render(upper));
  QCOMPARE(lower.text(), std::string("K"));
  // At scale 1 in a 200-wide control the cell starts at 75.5. K lights the
  // upper-left bar (interior 7,30) but not the top bar (24,7).
  QCOMPARE(At(shown, 76 + 7, 30), kOn);
  QCOMPARE(At(shown, 76 + 24, 7), kOff);
}

void DigistringTest::sameTextTwiceRepaintsOnce() {
  CDigistring display;
  display.resize(330, 83);
  display.show();
  QVERIFY(QTest::qWaitForWindowExposed(&display));
  QTRY_VERIFY(display.PaintCount() > 0);

  int paints = display.PaintCount();
  display.SetText("12.5");
  QTRY_VERIFY(display.PaintCount() > paints);
  QVERIFY(!display.IsModified());
  paints = display.PaintCount();
  const int rebuilds = display.RebuildCount();

  display.SetText("12.5");
  display.SetText(std::string("12.5"));
  display.SetText(QStringLiteral("12.5"));
  QVERIFY(!display.IsModified());
  QTest::qWait(100);
  QCOMPARE(display.PaintCount(), paints);
  QCOMPARE(display.RebuildCount(), rebuilds);

  display.SetText("12.6");
  QTRY_VERIFY(display.PaintCount() > paints);
  QCOMPARE(display.RebuildCount(), rebuilds + 1);
}

void DigistringTest::onScreenOnlyChangedCellsAreRepainted() {
  // What reaches the screen, not what a fresh render draws: a cell left out
  // of the repaint would show there as the old digit.
  CDigistring display;
  display.resize(330, 83);
  display.show();
  QVERIFY(QTest::qWaitForWindowExposed(&display));
  QTRY_VERIFY(display.PaintCount() > 0);
  const auto onScreen = [&display] {
    return display.screen()->grabWindow(display.winId()).toImage().convertToFormat(QImage::Format_RGB32);
  };
  rolta::test::PaintRegions regions(&display);

  display.SetText("12.5");
  QTRY_COMPARE(onScreen(), DrawDirectly("12.5", display.size()));
  for (const char* text : {"12.6", "-3.0", "13.0", "13.0 "}) {
    regions.all = {};
    const int paints = display.PaintCount();
    display.SetText(text);
    QTRY_VERIFY(display.PaintCount() > paints);
    QCOMPARE(onScreen(), DrawDirectly(text, display.size()));
    QVERIFY2(!regions.all.isEmpty(), text);
    QVERIFY2(regions.all.boundingRect().width() < display.width(), text);
  }
  // One digit of four: about a quarter of the width.
  regions.all = {};
  display.SetText("13.1 ");
  QTRY_VERIFY(!regions.all.isEmpty());
  QVERIFY(regions.all.boundingRect().width() < display.width() / 3);
  QCOMPARE(onScreen(), DrawDirectly("13.1 ", display.size()));
}

void DigistringTest::cellsAreRebuiltOnlyAtTheNextPaint() {
  CDigistring display;
  display.resize(98, 166);
  display.SetText("1");
  display.SetText("2");
  display.SetText("8");
  QCOMPARE(display.RebuildCount(), 0);
  const QImage first = Render(display);
  QCOMPARE(display.RebuildCount(), 1);
  QCOMPARE(At(first, 14, 48), kOn);  // the "8", not a stale "1"
  Render(display);
  QCOMPARE(display.RebuildCount(), 1);
}

void DigistringTest::sizeHintsKeepTheCellProportions() {
  CDigistring display;
  const QSize hint = display.sizeHint();
  const QSize minimum = display.minimumSizeHint();
  QVERIFY(hint.isValid() && minimum.isValid());
  QVERIFY(minimum.width() <= hint.width() && minimum.height() <= hint.height());
  // Several digit cells side by side: wider than high.
  QVERIFY(hint.width() > 2 * hint.height());
}

void DigistringTest::reusedCellsGiveTheSamePixelsAsDrawingDirectly() {
  // Readout-like texts, every character kind, lengths that put the same
  // character at many different sub-pixel positions.
  const std::vector<std::string> texts = {"0",           "8",       "12.5",    "12.6",    "-1234.56",    "0.000",
                                          "00042",       "00043",   "2001.7",  "2001.8",  "12:34",       "8.8.8.8",
                                          "ABCDEFG",     "HIJKLMN", "OPQRSTU", "VWXYZ*+", "hello world", " 1 -",
                                          "99999999999", "3.14159", ":.:.:",   "EMPTY"};
  // Whole and fractional scales, odd sizes, controls limited by width and by
  // height, and ones so small that points fall on the last row or column.
  const std::vector<QSize> sizes = {{200, 64}, {201, 64},  {199, 65},  {98, 166}, {330, 83},
                                    {333, 97}, {413, 250}, {1000, 83}, {57, 40},  {123, 45},
                                    {20, 40},  {20, 11},   {7, 5},     {3, 2},    {1, 1}};
  CDigistring display;
  for (const QSize& size : sizes) {
    display.resize(size);
    // Twice: the first pass draws new cells, the second reuses them.
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::string& text : texts) {
        const QString mismatch = Mismatch(display, text);
        if (!mismatch.isEmpty()) QFAIL(qPrintable(mismatch));
      }
    }
  }
}

void DigistringTest::boundedCellCacheKeepsThePixels() {
  CDigistring display;
  // A scale of 101/83 puts the cells of texts of different lengths at
  // different sub-pixel positions; every drawable character at many of them
  // is more distinct cells than the cache keeps.
  display.resize(997, 101);
  const std::string glyphs = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-*+";
  bool emptied = false;
  int last = 0;
  for (int length = 1; length <= 12; ++length) {
    for (std::size_t first = 0; first < glyphs.size(); ++first) {
      std::string text;
      for (std::size_t i = 0; i < static_cast<std::size_t>(length); ++i) {
        text += glyphs[(first + 7 * i) % glyphs.size()];
      }
      const QString mismatch = Mismatch(display, text);
      if (!mismatch.isEmpty()) QFAIL(qPrintable(mismatch));
      const int count = display.CachedCellCount();
      QVERIFY(count <= CDigistring::kMaxCachedCells);
      if (count < last) emptied = true;
      last = count;
    }
  }
  QVERIFY(emptied);
}

void DigistringTest::everySizeGivesTheSamePixelsAsDrawingDirectly() {
  // A sweep of sizes: scales from a few hundredths to above one, each cell
  // at a different fraction of a pixel, limited by width and by height.
  CDigistring display;
  for (int width = 30; width <= 420; width += 39) {
    for (int height = 9; height <= 140; height += 13) {
      display.resize(width, height);
      for (const char* text : {"-1234.56", "8.8:8", "WXYZ 0"}) {
        const QString mismatch = Mismatch(display, text);
        if (!mismatch.isEmpty()) QFAIL(qPrintable(mismatch));
      }
    }
  }
}

QTEST_MAIN(DigistringTest)
#include "digistring_test.moc"
