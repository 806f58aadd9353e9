// The live trend plot scrolls what is on the screen when its range moves on
// by whole pixel columns and paints only what changed; the screen must still
// show what a full paint draws.
#include <QScreen>
#include <QTest>
#include <cmath>
#include <random>

#include "env/text_lookup.h"
#include "paint_regions.h"
#include "recording/recording.h"
#include "recording/ui/trend_dlg.h"

using namespace rolta;

class TrendPlotTest : public QObject {
  Q_OBJECT

 private slots:
  void scrolledPictureIsAFullPaint();
};

void TrendPlotTest::scrolledPictureIsAFullPaint() {
  const IdentityLookup texts;
  TrendStore store(330);
  CTrendPlot plot(texts);
  plot.SetStore(&store);
  auto column = [](const char* name) { return static_cast<std::size_t>(RecordColumnIndex(name)); };
  plot.SetColumns({column("v1"), column("v2"), column("v4")});
  plot.resize(640, 360);
  plot.show();
  QVERIFY(QTest::qWaitForWindowExposed(&plot));

  // A saw-tooth between fixed bounds keeps each lane's scale while the range
  // moves on; `spike` breaks it once.
  double t = 0;
  int frame = 0;
  double spike = 0;
  std::minstd_rand noise(7);  // a line that goes up and down by any amount
  auto feed = [&](double until) {
    for (; t < until; t += 1.0 / 480, ++frame) {
      ControllerStatus status;
      status.FrameType = 16;
      status.Value1 = 40.0f + static_cast<float>(frame % 240) / 12.0f + static_cast<float>(spike);
      status.Value2 = 900.0f - static_cast<float>(frame % 97) * static_cast<float>(noise() % 100) / 100.0f;
      status.Value4 = 2000.0f + static_cast<float>(frame % 55);
      store.AddFrame(status, t);
    }
  };
  const double span = 10;
  const double width = span / static_cast<double>(plot.Columns());
  auto follow = [&] {
    const double end = std::max(span, (std::floor(store.LastTime() / width) + 1) * width);
    plot.SetRange(end - span, end);
    plot.ShowChanges();
  };

  test::PaintRegions regions(&plot);
  struct Step {
    const char* what;
    double columns;                              // how far the data move on
    int follows;                                 // range updates before the window paints
    double spike;                                // added to the first lane's values from now on
    enum { kNoMark, kCursor, kCoastDown } mark;  // placed before the data move on
    bool scrolls;
  };
  const Step steps[] = {
      {"the first picture", 12 / width, 1, 0, Step::kNoMark, false},
      {"one column", 1, 1, 0, Step::kNoMark, true},
      {"three columns", 3, 1, 0, Step::kNoMark, true},
      {"a part of a column", 0.4, 1, 0, Step::kNoMark, true},
      {"two updates before one paint", 2, 2, 0, Step::kNoMark, true},
      {"a spike rescales the lane", 1, 1, 100, Step::kNoMark, false},
      {"back to scrolling with the spike in view", 2, 1, 0, Step::kNoMark, true},
      {"the cursor placed", 1, 1, 0, Step::kCursor, false},
      {"the cursor moves with the data", 5, 1, 0, Step::kNoMark, true},
      {"three updates before one paint", 1, 3, 0, Step::kNoMark, true},
      {"seven columns with the cursor in view", 7, 1, 0, Step::kNoMark, true},
      // Its band's edges fall between pixels: drawn whole while it shows.
      {"a coast-down marked", 1, 1, 0, Step::kCoastDown, false},
      {"a coast-down in view", 2, 1, 0, Step::kNoMark, false},
  };
  for (const Step& step : steps) {
    regions.all = {};
    spike = step.spike;
    if (step.mark == Step::kCursor) plot.SetCursorTime(t - 3);
    if (step.mark == Step::kCoastDown) plot.SetCoastDown(CoastDownResult{{t - 4, t - 1, 80, 20}, true, true});
    for (int i = 0; i < step.follows; ++i) {
      feed(t + step.columns * width / step.follows);
      follow();
    }
    QTRY_VERIFY2(!regions.all.isEmpty(), step.what);
    const QRegion repainted = regions.all;  // before the full paint below adds its own
    QVERIFY2(plot.screen()->grabWindow(plot.winId()).toImage() == plot.grab().toImage(), step.what);
    int area = 0;
    for (const QRect& rect : repainted) area += rect.width() * rect.height();
    // Scrolled: the new columns, the edges, the names and the time labels.
    QVERIFY2(step.scrolls ? area < plot.width() * plot.height() / 4 : repainted.contains(plot.rect()), step.what);
  }
}

QTEST_MAIN(TrendPlotTest)
#include "trend_plot_test.moc"
