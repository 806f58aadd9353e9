// The calibration workbench offscreen: captions, the grid after replies, edits
// replaced on show, table adjustment and resizing, the buttons' frames, the picture.
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "calib/ui/calib_tab.h"
#include "marking_lookup.h"
#include "memory_channel.h"
#include "scripted_services.h"

namespace rolta::test {
namespace {

class NoPause final : public EventPump {
 public:
  void ProcessPendingEvents() override {}
  void SleepMilliseconds(int) override {}
};

// Hands the exchange a complete 50-point image with this count; point i is
// (i + 0.0625, i + 0.25) with the signs of `sign`.
void ReceiveVarTable(CalibExchange& exchange, std::int16_t count, float sign = 1.0f) {
  CalibTable table(50);
  table.SetCount(count);
  for (std::size_t i = 0; i < 50; ++i) {
    table.SetFirst(i, sign * (static_cast<float>(i) + 0.0625f));
    table.SetSecond(i, sign * (static_cast<float>(i) + 0.25f));
  }
  for (std::size_t offset = 0; offset < 402; offset += 200) {
    std::vector<std::uint8_t> frame(219, 0);
    frame[0] = 0x55;
    frame[1] = 0xAA;
    frame[2] = 5;
    const std::size_t length = std::min<std::size_t>(200, 402 - offset);
    PutUInt16LE(&frame[6], 402);
    PutUInt16LE(&frame[8], static_cast<std::uint16_t>(offset));
    PutUInt16LE(&frame[10], static_cast<std::uint16_t>(length));
    std::copy_n(table.Image().begin() + static_cast<std::ptrdiff_t>(offset), length, frame.begin() + 12);
    exchange.OnCalibFrame(frame.data(), frame.size());
  }
}

int RowHeights(const QTableWidget& grid) {
  int total = 0;
  for (int r = 0; r < grid.rowCount(); ++r) total += grid.rowHeight(r);
  return total;
}

int ColumnWidths(const QTableWidget& grid) {
  int total = 0;
  for (int c = 0; c < grid.columnCount(); ++c) total += grid.columnWidth(c);
  return total;
}

}  // namespace

class CalibTabTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    stabDir_ = std::make_unique<QTemporaryDir>();
    channel_ = std::make_unique<test::MemoryChannel>();
    exchange_ = std::make_unique<CalibExchange>(*channel_, pump_, profile_,
                                                std::filesystem::path(stabDir_->path().toStdString()) / "stab.qrx");
  }
  void cleanup() { exchange_.reset(); }

  void startsHiddenWithTranslatedCaptions() {
    test::MarkingLookup lookup;
    CCalibTab tab(*exchange_, lookup, messages_);
    QVERIFY(tab.isHidden() && tab.windowTitle().trimmed().isEmpty());
    QCOMPARE(tab.Grid()->rowCount(), CCalibTab::kStartupDataRows);
    // Captions are looked up when set, and once more by the control translation.
    QCOMPARE(tab.FetchButton(CalibChannel::AirPressure)->text(), QStringLiteral("<<大气压>>"));
    QCOMPARE(tab.StoreButton(CalibChannel::AirPressure)->text(), QStringLiteral("<<压力>>"));
    QCOMPARE(tab.AdjustButton()->toolTip(), QStringLiteral("<调整表格>"));
    QCOMPARE(tab.CellText(0, 2), QStringLiteral("<物理值>/<真实值>"));
  }

  void gridShowsTheWorkingTable_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<float>("sign");
    QTest::addColumn<int>("filledRows");
    QTest::addColumn<QString>("first1");
    QTest::addColumn<QString>("second1");
    QTest::newRow("count 0") << 0 << 1.0f << 0 << QString() << QString();
    QTest::newRow("count 50") << 50 << 1.0f << 50 << "0.063"
                              << "0.300";
    QTest::newRow("count 50, negative") << 50 << -1.0f << 50 << "-0.062"
                                        << "-0.200";
    QTest::newRow("count 51 is not shown") << 51 << 1.0f << 0 << QString() << QString();
  }
  void gridShowsTheWorkingTable() {
    QFETCH(int, count);
    QFETCH(float, sign);
    QFETCH(int, filledRows);
    QFETCH(QString, first1);
    QFETCH(QString, second1);
    IdentityLookup lookup;
    CCalibTab tab(*exchange_, lookup, messages_);
    ReceiveVarTable(*exchange_, static_cast<std::int16_t>(count), sign);
    tab.show();
    QCOMPARE(tab.Grid()->rowCount(), CCalibTab::kDataRows);
    QCOMPARE(tab.Grid()->columnCount(), 4);
    QCOMPARE(tab.CellText(0, 1), QStringLiteral("电压值/原始值"));
    for (int row = 1; row <= CCalibTab::kDataRows; ++row) {
      const bool filled = row <= filledRows;
      QCOMPARE(tab.CellText(row, 0), filled ? QString::number(row) : QString());
      QCOMPARE(tab.CellText(row, 1).isEmpty(), !filled);
      QCOMPARE(tab.CellText(row, 2).isEmpty(), !filled);
    }
    QCOMPARE(tab.CellText(1, 1), first1);
    QCOMPARE(tab.CellText(1, 2), second1);
    QVERIFY(!(tab.Grid()->item(0, 0)->flags() & Qt::ItemIsEditable));
    QVERIFY(tab.Grid()->item(0, 1)->flags() & Qt::ItemIsEditable);
    QCOMPARE(tab.Grid()->palette().color(QPalette::Base), QColor(255, 255, 224));
    // Centred at (512, 384) where the window fits on the screen there; moved
    // onto the screen (its top left inside) where it does not.
    QRect wanted = tab.frameGeometry();
    wanted.moveCenter(QPoint(512, 384));
    const QRect area = tab.screen()->availableGeometry();
    if (area.contains(wanted)) {
      QVERIFY((tab.frameGeometry().center() - QPoint(512, 384)).manhattanLength() <= 2);
    } else {
      QVERIFY(area.contains(tab.frameGeometry().topLeft()));
    }
  }

  void editsAreReplacedWhenAReplyArrives() {
    IdentityLookup lookup;
    CCalibTab tab(*exchange_, lookup, messages_);
    tab.show();
    tab.Grid()->item(1, 1)->setText(QStringLiteral("99"));
    tab.Grid()->item(9, 2)->setText(QStringLiteral("42"));
    tab.Grid()->setItem(9, 3, new QTableWidgetItem(QStringLiteral("note")));
    // A speed reply with three points refreshes the window.
    std::vector<std::uint8_t> reply(90, 0);
    reply[0] = 0x55;
    reply[1] = 0xAA;
    reply[2] = 61;
    PutUInt16LE(&reply[6], 3);
    for (int i = 0; i < 3; ++i) PutFloat32LE(&reply[8 + 4 * i], 10.0f * static_cast<float>(i + 1));
    QVERIFY(exchange_->OnCalibFrame(reply.data(), reply.size()));
    QVERIFY(tab.isVisible());
    QCOMPARE(tab.CellText(2, 1), QStringLiteral("20.000"));
    QCOMPARE(tab.CellText(2, 2), QStringLiteral("0.000"));
    QCOMPARE(tab.CellText(10, 2), QString());
    QCOMPARE(tab.CellText(4, 0), QString());
    QCOMPARE(tab.CellText(10, 3), QStringLiteral("note"));  // remarks are never rewritten
  }

  void tableAdjustmentTogglesTheStretchFlag() {
    IdentityLookup lookup;
    CCalibTab tab(*exchange_, lookup, messages_);
    tab.show();
    QTableWidget& grid = *tab.Grid();
    tab.AdjustButton()->click();
    QCOMPARE(tab.StretchFlag(), 0);
    QCOMPARE(tab.AdjustButton()->text(), QStringLiteral("表格调整"));
    // Tall enough for every row to grow; with the flag at 0 only the columns widen.
    const int rowsAtZero = RowHeights(grid);
    tab.resize(tab.width() + 300, rowsAtZero + 1200);
    QCoreApplication::processEvents();
    QCOMPARE(grid.width(), 590 + 300);
    QCOMPARE(ColumnWidths(grid), grid.viewport()->width());
    QCOMPARE(RowHeights(grid), rowsAtZero);
    // The second press sets the flag back and fills the height as well.
    tab.AdjustButton()->click();
    QCOMPARE(tab.StretchFlag(), 1);
    QCOMPARE(RowHeights(grid), grid.viewport()->height());
    // Smaller than at start-up: the grid keeps its first size.
    tab.resize(300, 200);
    QCoreApplication::processEvents();
    QCOMPARE(grid.size(), QSize(590, 580));
  }

  void buttonsSendTheirFramesAndExitHides() {
    IdentityLookup lookup;
    CCalibTab tab(*exchange_, lookup, messages_);
    tab.show();
    tab.FetchButton(CalibChannel::Speed)->click();
    tab.FetchButton(CalibChannel::Variable)->click();
    tab.Grid()->item(0, 1)->setText(QStringLiteral(" 1.5 "));
    tab.Grid()->item(0, 2)->setText(QStringLiteral("abc"));
    tab.StoreButton(CalibChannel::Speed)->click();
    const auto writes = channel_->Writes();
    QCOMPARE(writes.size(), std::size_t{5});
    QCOMPARE(writes[0], (std::vector<std::uint8_t>{0x55, 0xAA, 0x3D, 0x00, 0xC4, 0xFE}));
    QCOMPARE(writes[3][2], std::uint8_t{5});
    QCOMPARE(writes[4][2], std::uint8_t{59});
    QCOMPARE(GetInt16LE(&writes[4][6]), std::int16_t{1});
    QCOMPARE(GetFloat32LE(&writes[4][8]), 1.5f);
    QCOMPARE(GetFloat32LE(&writes[4][48]), 0.0f);  // letters read as 0
    QVERIFY(QFileInfo::exists(stabDir_->filePath("stab.qrx")));
    tab.ExitButton()->click();
    QVERIFY(tab.isHidden());
  }

  void pictureFileReplacesTheBuiltInOne() {
    IdentityLookup lookup;
    const QString path = stabDir_->filePath("picture.png");
    QPixmap red(40, 30);
    red.fill(Qt::red);
    QVERIFY(red.save(path));
    CCalibTab withFile(*exchange_, lookup, messages_, path.toStdString());
    const QImage shown = withFile.Picture()->pixmap().toImage();
    QCOMPARE(shown.size(), withFile.Picture()->size());
    QCOMPARE(shown.pixelColor(5, 5), QColor(Qt::red));
    CCalibTab missing(*exchange_, lookup, messages_, stabDir_->filePath("none.png").toStdString());
    QVERIFY(!missing.Picture()->pixmap().isNull());
    QVERIFY(missing.Picture()->pixmap().toImage().pixelColor(5, 5) != QColor(Qt::red));
  }

 private:
  rolta::test::ScriptedMessageBoxes messages_;
  NoPause pump_;
  ProfileFrame profile_;
  std::unique_ptr<QTemporaryDir> stabDir_;
  std::unique_ptr<test::MemoryChannel> channel_;
  std::unique_ptr<CalibExchange> exchange_;
};

}  // namespace rolta::test

QTEST_MAIN(rolta::test::CalibTabTest)
#include "calib_tab_test.moc"
