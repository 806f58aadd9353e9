// The channel map window offscreen: translated texts, and an operator's session against the controller simulator.
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "config/channel_map.h"
#include "config/ui/hard_ch.h"
#include "controller_simulator.h"
#include "link/comm_port.h"
#include "frame_router.h"
#include "link/command_codes.h"
#include "link/frame_sync.h"
#include "marking_lookup.h"
#include "memory_channel.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::test::ScriptedMessageBoxes;

class HardChTest : public QObject {
  Q_OBJECT

 private slots:
  void startsHiddenWithTranslatedTexts() {
    test::MemoryChannel channel;
    ChannelMapEditor editor(channel);
    test::MarkingLookup lookup;
    ScriptedMessageBoxes boxes;
    CHardCH window(editor, lookup, boxes);
    QVERIFY(window.isHidden());
    // Captions are looked up when set and once more by the walk over the controls.
    QCOMPARE(window.StoreButton()->text(), QStringLiteral("<<确认>>"));
    QCOMPARE(window.CancelButton()->toolTip(), QStringLiteral("<取消>"));
    QStringList titles;
    for (const QGroupBox* box : window.findChildren<QGroupBox*>()) titles << box->title();
    QCOMPARE(titles, (QStringList{"<数字通道>", "<输出通道>", "<输入通道>", "<专用通道>", "<模拟通道>"}));
    // Field contents pass through the lookup too, and the store reads what the field shows.
    QCOMPARE(window.FieldEdit("后左传感(扭矩)")->text(), QStringLiteral("<2>"));
    QCOMPARE(editor.Text(ChannelMapEditor::FieldIndex("后左传感(扭矩)")), "<2>");
  }

  // An operator's session against the simulator: read, edit, cancel, store, read back, and
  // a store after the line was closed.
  void sessionAgainstTheSimulator() {
    sim::ControllerSimulator controller;
    QVERIFY(controller.Start());
    CCommPort port;
    ChannelMapEditor editor(port);
    IdentityLookup lookup;
    ScriptedMessageBoxes boxes;
    CHardCH window(editor, lookup, boxes);
    test::FrameRouter route;
    route.On(ControllerFrameKind::ChannelMap,
             [&editor](const std::uint8_t* frame, std::size_t length) { editor.OnChannelMapReply(frame, length); });
    FrameReceiver receiver(port, route);
    port.SetNotifyCallback([&](std::uint32_t events) {
      QMetaObject::invokeMethod(
          &window, [&receiver, events] { receiver.OnCommNotify(events); }, Qt::QueuedConnection);
    });
    struct Closer {  // the port goes before the window and receiver, however the test ends
      CCommPort& port;
      ~Closer() { port.Close(); }
    } closer{port};
    QCOMPARE(port.Open(controller.SlavePath(), 8, 0, 0, 115200), 1);
    auto request = [&] {
      ShortFrame frame;
      frame.SetCommand(command::kChannelMapRequest);
      const auto bytes = frame.Seal();
      port.Write(bytes.data(), bytes.size());
    };
    request();
    QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 5000);
    QCOMPARE(window.FieldEdit("后左传感(扭矩)")->text(), QString::number(controller.ChannelMap()[30]));
    QLineEdit* fan = window.FieldEdit("冷却风扇");
    fan->clear();
    QTest::keyClicks(fan, "21");
    QTest::keyClick(fan, Qt::Key_Return);  // Enter in a field stores nothing
    QTest::mouseClick(window.CancelButton(), Qt::LeftButton);
    QVERIFY(window.isHidden());
    window.BringUp();  // "查看缺省通道配置": the edit is still there
    QCOMPARE(fan->text(), QStringLiteral("21"));

    QTest::mouseClick(window.StoreButton(), Qt::LeftButton);
    QVERIFY(window.isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(controller.ChannelMap()[2], std::uint8_t{21}, 5000);
    QCOMPARE(controller.ReceivedCount(), std::size_t{2});  // the request and this store only
    QTest::mouseClick(window.DefaultsButton(), Qt::LeftButton);
    QCOMPARE(fan->text(), QStringLiteral("9"));
    request();
    QTRY_COMPARE_WITH_TIMEOUT(fan->text(), QStringLiteral("21"), 5000);

    port.Close();  // says so, sends nothing and stays up
    QTest::mouseClick(window.StoreButton(), Qt::LeftButton);
    QCOMPARE(boxes.Shown(), std::vector<MessageRequest>{ChannelClosedMessage()});
    QVERIFY(window.isVisible());
  }
};

QTEST_MAIN(HardChTest)
#include "hard_ch_test.moc"
