// The upgrade through the real serial channel, receive path and Qt host against the simulator on a pseudo-terminal.
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <fstream>
#include <iterator>

#include "console/firmware_upgrade.h"
#include "console/ui/qt_upgrade_host.h"
#include "controller_simulator.h"
#include "link/comm_port.h"
#include "link/rx_ring.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::testing::ScriptedMessageBoxes;
namespace sim = rolta::sim;

namespace {

// The link half of a console: the port, its receive path into UpgradeReplies,
// the status line and the console's ShortFrame.
class Link : public QObject, private FrameReceivers, private StatusFrameSinks {
 public:
  Link() {
    port.SetNotifyCallback([this](std::uint32_t events) {
      QMetaObject::invokeMethod(this, [this, events] { receiver.OnCommNotify(events); }, Qt::QueuedConnection);
    });
  }
  ~Link() override { port.Close(); }

  void SendShort(std::uint8_t code) {
    shortFrame.SetCommand(code);
    const auto bytes = shortFrame.Seal();
    port.Write(bytes.data(), bytes.size());
  }
  void SetStatusLine(const std::string& text) override { status = text; }

  CCommPort port;
  IdentityLookup lookup;
  FrameReceiver receiver{port, lookup, *this};
  UpgradeReplies replies;
  ShortFrame shortFrame;
  std::string status;

 private:
  bool IsCtrlHeld() const override { return false; }
  void PauseAfterFrame() override {}
  void OnParamRecordFrame(const std::uint8_t*) override {}
  void OnCalibFrame(const std::uint8_t*, std::size_t) override {}
  void OnChannelMapFrame(const std::uint8_t*) override {}
  void OnStatusFrame(const std::uint8_t* frame) override { DecodeStatusFrame(frame, decoded, replies, *this); }
  void ShowControllerVersion(bool, double) override {}
  void ShowLiveFrame(const ControllerStatus&) override {}
  ControllerStatus decoded;
};

}  // namespace

class UpgradeSimTest : public QObject {
  Q_OBJECT

 private slots:
  void romArrivesAtTheSimulatorByteForByte() {
    sim::ControllerSimulator controller;
    std::string error;
    QVERIFY2(controller.Start(&error), error.c_str());

    QTemporaryDir dir;
    const std::string rom = (dir.path() + "/FIRM.ROM").toStdString();
    std::vector<char> bytes(30001);
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>((k * 131) ^ (k >> 8));
    std::ofstream(rom, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    QWidget console;
    auto* bar = new QProgressBar(&console);
    bar->setRange(0, 102);
    auto* upgradeButton = new QPushButton(&console);
    auto* executeButton = new QPushButton(&console);
    Link link;
    QVERIFY(link.port.Open(controller.SlavePath(), 8, 0, 0, 115200) == 1);
    QtUpgradeHost host({bar, {upgradeButton, executeButton}, [&](const std::string& s) { link.SetStatusLine(s); },
                        [&](std::uint8_t code) { link.SendShort(code); }, &console});
    std::string filter;
    host.chooseFile = [&](const RomFileDialog& d) {
      filter = d.filterName;
      return std::optional<std::string>(rom);
    };
    ScriptedMessageBoxes boxes;
    bool barShownDuringUpgrade = false;
    boxes.OnShow([&](const MessageRequest&) { barShownDuringUpgrade = bar->isVisible(); });
    FirmwareUpgrade upgrade(link.port, link.replies, link.lookup, host);
    console.show();

    upgrade.OnUpgrade();

    QCOMPARE(filter, std::string("QRX5000 files(*.ROM)"));
    QCOMPARE(boxes.Shown().size(), std::size_t{2});
    QCOMPARE(QString::fromStdString(boxes.Shown()[1].text), QStringLiteral("更新成功"));
    QVERIFY(barShownDuringUpgrade);
    QVERIFY(bar->isHidden());
    QCOMPARE(bar->value(), 101);
    QVERIFY(upgradeButton->isEnabled());
    QCOMPARE(QString::fromStdString(upgrade.UpgradeText()), QStringLiteral("Uploaded！"));
    QVERIFY(controller.FirmwareComplete());
    const std::vector<std::uint8_t> image = controller.FirmwareImage();
    QCOMPARE(image.size(), bytes.size());
    QVERIFY(std::equal(image.begin(), image.end(), reinterpret_cast<const std::uint8_t*>(bytes.data())));
    QVERIFY(!controller.InUpgradeProgram());
    controller.Stop();
  }
};

QTEST_MAIN(UpgradeSimTest)
#include "upgrade_sim_test.moc"
