// The channel map window offscreen: translated texts, store, defaults, cancel and a closed channel.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "config/channel_map.h"
#include "config/ui/hard_ch.h"
#include "env/text_lookup.h"
#include "marking_lookup.h"
#include "memory_channel.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::test::MarkingLookup;
using rolta::test::MemoryChannel;
using rolta::testing::ScriptedMessageBoxes;

class HardChTest : public QObject {
  Q_OBJECT

 private slots:
  void startsHiddenWithTranslatedCaptionsAndTooltips() {
    MemoryChannel channel;
    ChannelMapEditor editor(channel);
    MarkingLookup lookup;
    ScriptedMessageBoxes boxes;
    CHardCH window(editor, lookup, boxes);
    QVERIFY(window.isHidden());
    QCOMPARE(window.windowTitle(), QStringLiteral("<硬件通道配置>"));
    // Looked up when set, and once more by the walk over the controls.
    QCOMPARE(window.StoreButton()->text(), QStringLiteral("<<确认>>"));
    QCOMPARE(window.StoreButton()->toolTip(), QStringLiteral("<确认>"));
    QCOMPARE(window.CancelButton()->toolTip(), QStringLiteral("<取消>"));
    QCOMPARE(window.DefaultsButton()->text(), QStringLiteral("<<缺省>>"));
    QStringList titles;
    for (const QGroupBox* box : window.findChildren<QGroupBox*>()) titles << box->title();
    QCOMPARE(titles, (QStringList{"<数字通道>", "<输出通道>", "<输入通道>", "<专用通道>", "<模拟通道>"}));
    QVERIFY(window.findChildren<QLabel*>().size() == static_cast<qsizetype>(editor.FieldCount()));
    // Field contents pass through the lookup too, and the store reads what the field shows.
    QCOMPARE(window.FieldEdit("后左传感(扭矩)")->text(), QStringLiteral("<2>"));
    QCOMPARE(editor.Text(ChannelMapEditor::FieldIndex("后左传感(扭矩)")), std::string("<2>"));
    QVERIFY(boxes.Shown().empty());
  }

  void storeDefaultsAndCancelAsTheOperatorUsesThem() {
    MemoryChannel channel;
    ChannelMapEditor editor(channel);
    IdentityLookup lookup;
    ScriptedMessageBoxes boxes;
    CHardCH window(editor, lookup, boxes);
    window.BringUp();
    QLineEdit* eddy = window.FieldEdit("涡流机");
    eddy->clear();
    QTest::keyClicks(eddy, "300");
    QTest::keyClick(eddy, Qt::Key_Return);  // Enter in a field stores nothing
    QVERIFY(channel.Writes().empty());

    // Cancel keeps the edit and sends nothing; the next showing has it.
    QTest::mouseClick(window.CancelButton(), Qt::LeftButton);
    QVERIFY(window.isHidden());
    QVERIFY(channel.Writes().empty());
    window.BringUp();
    QCOMPARE(eddy->text(), QStringLiteral("300"));

    QTest::mouseClick(window.DefaultsButton(), Qt::LeftButton);
    QCOMPARE(eddy->text(), QStringLiteral("15"));
    QCOMPARE(window.FieldEdit("后右传感")->text(), QStringLiteral("2"));
    QVERIFY(channel.Writes().empty());

    window.FieldEdit("数字入")->setText("-1");
    QTest::mouseClick(window.StoreButton(), Qt::LeftButton);
    QVERIFY(window.isHidden());
    const auto writes = channel.Writes();
    QCOMPARE(writes.size(), std::size_t{1});
    const std::vector<std::uint8_t>& frame = writes[0];
    QCOMPARE(frame.size(), kChannelMapStoreLength);
    QCOMPARE(frame[6 + 24], std::uint8_t{255});
    QCOMPARE(frame[6 + 31], std::uint8_t{2});

    // A closed channel says so and keeps the window up with its texts.
    channel.SetOpen(false);
    window.BringUp();
    QTest::mouseClick(window.StoreButton(), Qt::LeftButton);
    QCOMPARE(boxes.Shown(), std::vector<MessageRequest>{ChannelClosedMessage()});
    QVERIFY(window.isVisible());
    QCOMPARE(channel.Writes().size(), std::size_t{1});
  }
};

QTEST_MAIN(HardChTest)
#include "hard_ch_test.moc"
