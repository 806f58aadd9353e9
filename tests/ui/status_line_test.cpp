// The status line draws its text from per-character pieces; what it shows
// must read like the text drawn in one go.
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include "paint_regions.h"
#include "session/ui/status_line.h"

using rolta::CStatusLine;

namespace {

// Columns that hold any pixel darker than the background.
QList<int> InkedColumns(const QImage& image) {
  QList<int> columns;
  for (int x = 0; x < image.width(); ++x) {
    for (int y = 2; y < image.height() - 2; ++y) {
      if (qGray(image.pixel(x, y)) < 150) {
        columns << x;
        break;
      }
    }
  }
  return columns;
}

QImage Render(CStatusLine& line) {
  QImage image(line.size(), QImage::Format_RGB32);
  line.render(&image);
  return image;
}

}  // namespace

class StatusLineTest : public QObject {
  Q_OBJECT

 private slots:
  void showsItsTextWhereThePlainTextWouldStand() {
    CStatusLine line;
    line.resize(400, line.height());
    line.setText(QStringLiteral("Numth: 1234 16"));
    QCOMPARE(line.text(), QStringLiteral("Numth: 1234 16"));
    const QList<int> inked = InkedColumns(Render(line));
    QVERIFY(!inked.isEmpty());
    // The ink spans about the width the font gives the whole text.
    const int expected = QFontMetrics(line.font()).horizontalAdvance(line.text());
    const int drawn = inked.last() - inked.first() + 1;
    QVERIFY2(qAbs(drawn - expected) <= 4, qPrintable(QStringLiteral("%1 vs %2").arg(drawn).arg(expected)));
  }

  void anEmptyTextShowsOnlyTheFrame() {
    CStatusLine line;
    line.resize(200, line.height());
    line.setText(QString());
    const QImage image = Render(line);
    QVERIFY(InkedColumns(image).isEmpty());
    QCOMPARE(image.pixelColor(100, image.height() / 2), QColor(236, 241, 248));
  }

  void onScreenEachNewTextReplacesTheOld() {
    // Only the changed characters are painted again; what the screen shows
    // must still be the whole new text, whatever moved.
    CStatusLine line;
    line.resize(400, line.height());
    line.show();
    QVERIFY(QTest::qWaitForWindowExposed(&line));
    const auto onScreen = [&line] {
      return line.screen()->grabWindow(line.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    CStatusLine fresh;
    fresh.resize(line.size());
    rolta::test::PaintRegions regions(&line);
    QRegion& painted = regions.all;
    const QString texts[] = {QStringLiteral("Numth: 1234 16"),  QStringLiteral("Numth: 1235 16"),
                             QStringLiteral("Numth: 1236 2"),   QStringLiteral("Numth: 99999 16"),
                             QStringLiteral("Numth: 11111 16"), QStringLiteral("无效指令"),
                             QStringLiteral("Numth: 7 16"),     QStringLiteral("Numth: 77 16"),
                             QStringLiteral("Numth: 7 16"),     QString()};
    for (const QString& text : texts) {
      line.setText(text);
      fresh.setText(text);
      QTRY_COMPARE(onScreen(), Render(fresh));
    }
    // A counter's last digit: a strip about a digit wide, not the line.
    line.setText(QStringLiteral("Numth: 1234 16"));
    QTRY_COMPARE(onScreen(), Render(line));
    painted = {};
    line.setText(QStringLiteral("Numth: 1235 16"));
    QTRY_VERIFY(!painted.isEmpty());
    const int digit = QFontMetrics(line.font()).horizontalAdvance(QLatin1Char('5'));
    QVERIFY2(painted.boundingRect().width() <= digit + 6, qPrintable(QString::number(painted.boundingRect().width())));
    fresh.setText(line.text());
    QCOMPARE(onScreen(), Render(fresh));
  }

  void textsNeverDrawnBeyondTheLine() {
    CStatusLine line;
    line.resize(60, line.height());
    line.setText(QString(400, QLatin1Char('8')) + QStringLiteral("无效指令"));
    const QImage image = Render(line);
    // The right margin stays clear.
    for (int y = 1; y < image.height() - 1; ++y)
      QCOMPARE(image.pixelColor(image.width() - 3, y), QColor(236, 241, 248));
  }
};

QTEST_MAIN(StatusLineTest)
#include "status_line_test.moc"
