// The channel map window against the controller simulator over its pseudo-terminal:
// read the map, edit a field, store, read it back, then store the defaults.
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QtTest>

#include "config/channel_map.h"
#include "config/ui/hard_ch.h"
#include "env/text_lookup.h"
#include "controller_simulator.h"
#include "link/comm_port.h"
#include "link/rx_ring.h"
#include "scripted_services.h"

using namespace rolta;
namespace sim = rolta::sim;

namespace {

// The receive path's receivers with only the channel map wired, as the console routes it.
class ChannelMapRoute final : public FrameReceivers {
 public:
  explicit ChannelMapRoute(CHardCH& window) : window_(window) {}
  void SetStatusLine(const std::string&) override {}
  bool IsCtrlHeld() const override { return false; }
  void PauseAfterFrame() override {}
  void OnParamRecordFrame(const std::uint8_t*) override {}
  void OnCalibFrame(const std::uint8_t*, std::size_t) override {}
  void OnChannelMapFrame(const std::uint8_t* frame) override {
    window_.OnChannelMapReply(frame, ControllerFrameLength(command::kChannelMapRequest));
  }
  void OnStatusFrame(const std::uint8_t*) override { ++statusFrames; }
  int statusFrames = 0;

 private:
  CHardCH& window_;
};

}  // namespace

class HardChSimTest : public QObject {
  Q_OBJECT

 private slots:
  void readEditStoreAndReadBack() {
    sim::ControllerSimulator controller;
    QVERIFY(controller.Start());
    CCommPort port;
    ChannelMapEditor editor(port);
    IdentityLookup lookup;
    testing::ScriptedMessageBoxes boxes;
    CHardCH window(editor, lookup, boxes);
    ChannelMapRoute route(window);
    FrameReceiver receiver(port, lookup, route);
    port.SetNotifyCallback([&](std::uint32_t events) {
      QMetaObject::invokeMethod(&window, [&receiver, events] { receiver.OnCommNotify(events); },
                                Qt::QueuedConnection);
    });
    // Closed before the window and the receiver go, whatever way the test ends.
    struct Closer {
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

    // "设置硬件通道": the reply brings the window up with the controller's map.
    request();
    QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 5000);
    QCOMPARE(window.FieldEdit("后左传感(扭矩)")->text(),
             QString::number(controller.ChannelMap()[30]));
    QLineEdit* fan = window.FieldEdit("冷却风扇");
    fan->clear();
    QTest::keyClicks(fan, "21");
    QTest::mouseClick(window.StoreButton(), Qt::LeftButton);
    QVERIFY(window.isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(controller.ChannelMap()[2], std::uint8_t{21}, 5000);
    // The store's acknowledgement goes to the status decoder, not to this window.
    QTRY_COMPARE_WITH_TIMEOUT(route.statusFrames, 1, 5000);

    fan->setText("99");
    request();
    QTRY_COMPARE_WITH_TIMEOUT(fan->text(), QStringLiteral("21"), 5000);
    QVERIFY(window.isVisible());

    QTest::mouseClick(window.DefaultsButton(), Qt::LeftButton);
    QTest::mouseClick(window.StoreButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(controller.ChannelMap()[2], std::uint8_t{9}, 5000);
    QCOMPARE(controller.ChannelMap()[30], std::uint8_t{3});
    QCOMPARE(controller.ChannelMap()[35], std::uint8_t{10});
    QVERIFY(boxes.Shown().empty());
  }
};

QTEST_MAIN(HardChSimTest)
#include "hard_ch_sim_test.moc"
