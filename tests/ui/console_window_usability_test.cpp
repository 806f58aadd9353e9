// The console window's search field, readout units and caption highlight,
// and a window that grows.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "console/ui/rolta_dlg.h"
#include "fake_environment.h"
#include "pty_pair.h"
#include "scripted_services.h"
#include "widgets/ui/digistring.h"

using namespace rolta;
using rolta::test::FakeEnvironment;
using rolta::test::ScriptedServices;

namespace rolta::test {
namespace {

QList<int> ShownRows(QComboBox* list) {
  auto* view = qobject_cast<QListView*>(list->view());
  QList<int> rows;
  for (int row = 0; row < list->count(); ++row) {
    if (!view->isRowHidden(row)) rows << row;
  }
  return rows;
}

}  // namespace

class ConsoleWindowUsabilityTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    config_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", config_->path().toUtf8());
  }

  void typingNarrowsTheListAndEnterExecutesTheRealPosition() {
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    console.Buttons().connect->click();
    QLineEdit* search = console.CommandSearch()->Field();
    search->setText(QStringLiteral("恒速"));
    QCOMPARE(ShownRows(console.CommandList()), (QList<int>{0, 47, 55, 65, 74, 82, 83, 85}));
    // The selection moved to the first match and its inputs are enabled.
    QCOMPARE(console.CommandList()->currentIndex(), 0);
    QVERIFY(console.Input(CommandInput::ParamA)->isEnabled());
    console.Edit(CommandInput::ParamA)->setText(QStringLiteral("50"));
    QTest::keyClick(search, Qt::Key_Return);
    const std::vector<std::uint8_t> constantSpeed = {0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0x00, 0x00, 0x00, 0x48, 0x42};
    QCOMPARE(pty.ReceiveExactly(11, std::chrono::seconds(2)), constantSpeed);
    QCOMPARE(console.Settings().commandIndex, 0);

    // A selection the filter keeps stays; Enter on the list executes it too.
    console.CommandList()->setCurrentIndex(85);
    search->setText(QStringLiteral("油耗"));
    QCOMPARE(console.CommandList()->currentIndex(), 85);
    QTest::keyClick(console.CommandList(), Qt::Key_Enter);
    QCOMPARE(pty.ReceiveExactly(11, std::chrono::seconds(2)).at(2), std::uint8_t{69});
    QCOMPARE(console.Settings().commandIndex, 85);

    // No match: the selection stays and Enter sends nothing.
    search->setText(QStringLiteral("xyz"));
    QVERIFY(ShownRows(console.CommandList()).isEmpty());
    QTest::keyClick(search, Qt::Key_Return);
    QVERIFY(pty.ReceiveFor(std::chrono::milliseconds(100)).empty());
    // Cleared, the list shows all 91 positions again, the blank ones too.
    search->clear();
    QCOMPARE(ShownRows(console.CommandList()).size(), 91);
    QCOMPARE(console.CommandList()->currentIndex(), 85);
    console.Buttons().close->click();
  }

  void unitsFollowTheCaptionAndAChangeLightsTheReadoutUp() {
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()});
    CRoltaDlg console(environment, services_.Host());
    CReadoutCaptions* captions = console.Captions();
    QCOMPARE(captions->UnitLabel(0)->text(), QStringLiteral("km/h"));
    QCOMPARE(captions->UnitLabel(2)->text(), QStringLiteral("V"));
    for (std::size_t i = 0; i < kReadoutCount; ++i) QVERIFY(!captions->IsHighlighted(i));
    console.Buttons().connect->click();
    // Type 16: "转速" replaces "电压" on the third readout, "参数" the distance.
    std::uint8_t frame[24] = {0x55, 0xAA, 16, 0};
    StoreChecksum(frame, sizeof frame);
    QVERIFY(pty.Send(std::span<const std::uint8_t>(frame)));
    QTRY_COMPARE(console.Readouts()[2].frame->title(), QStringLiteral("转速"));
    QCOMPARE(captions->UnitLabel(2)->text(), QStringLiteral("r/min"));
    QCOMPARE(captions->UnitLabel(3)->text(), QString());
    QVERIFY(!captions->IsHighlighted(0));  // "速度" as before
    QVERIFY(captions->IsHighlighted(2));
    QVERIFY(captions->IsHighlighted(3));
    QTRY_VERIFY_WITH_TIMEOUT(!captions->IsHighlighted(2), CReadoutCaptions::kHighlightMilliseconds + 1000);
    console.Buttons().close->click();
  }

  void anEnlargedWindowGrowsTheReadouts() {
    FakeEnvironment environment;
    CRoltaDlg console(environment, services_.Host());
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    const QSize start = console.size();
    const QSize display = console.Readouts()[0].display->size();
    QVERIFY(console.minimumSizeHint().width() <= start.width());
    console.resize(start.width() + 400, start.height() + 300);
    QTRY_VERIFY(console.Readouts()[0].display->width() > display.width() + 50);
    QVERIFY(console.Readouts()[0].display->height() > display.height() + 150);
    console.Buttons().exit->click();
  }

 private:
  std::unique_ptr<QTemporaryDir> config_;
  ScriptedServices services_;
};

}  // namespace rolta::test

QTEST_MAIN(rolta::test::ConsoleWindowUsabilityTest)
#include "console_window_usability_test.moc"
