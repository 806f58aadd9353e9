// A firmware upgrade through the real console window ("升级") against the
// simulator on a pseudo-terminal: the simulator's image equals the ROM file.
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <fstream>

#include "upgrade/ui/qt_upgrade_host.h"
#include "console/ui/rolta_dlg.h"
#include "controller_simulator.h"
#include "console_rig.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::test::ScriptedServices;
namespace sim = rolta::sim;

class UpgradeSimTest : public QObject {
  Q_OBJECT

 private slots:
  void romArrivesAtTheSimulatorByteForByte() {
    ScriptedServices services;
    rolta::test::ConsoleRig rig(services.Host(), sim::SimulatorOptions{});
    QVERIFY(rig.Up());
    sim::ControllerSimulator& controller = *rig.controller;
    CRoltaDlg* console = rig.console.get();
    QVERIFY(rolta::test::Connect(*console));

    QTemporaryDir dir;
    const std::string rom = (dir.path() + "/FIRM.ROM").toStdString();
    std::vector<char> bytes(30001);
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>((k * 131) ^ (k >> 8));
    std::ofstream(rom, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    std::string filter;
    console->UpgradeHost().chooseFile = [&](const RomFileDialog& d) {
      filter = d.filterName;
      return std::optional<std::string>(rom);
    };
    QProgressBar* bar = console->Progress();
    bool barShownDuringUpgrade = false;
    services.boxes.OnShow([&](const MessageRequest&) { barShownDuringUpgrade = bar->isVisible(); });

    console->Buttons().upgrade->click();

    QCOMPARE(filter, std::string("QRX5000 files(*.ROM)"));
    QCOMPARE(services.boxes.Shown().size(), std::size_t{2});
    QCOMPARE(QString::fromStdString(services.boxes.Shown()[1].text), QStringLiteral("更新成功"));
    QVERIFY(barShownDuringUpgrade);
    QVERIFY(bar->isHidden());
    QCOMPARE(bar->value(), 101);
    QVERIFY(console->Buttons().upgrade->isEnabled());
    QVERIFY(controller.FirmwareComplete());
    const std::vector<std::uint8_t> image = controller.FirmwareImage();
    QCOMPARE(image.size(), bytes.size());
    QVERIFY(std::equal(image.begin(), image.end(), reinterpret_cast<const std::uint8_t*>(bytes.data())));
    QVERIFY(!controller.InUpgradeProgram());
    console->Buttons().close->click();
  }
};

QTEST_MAIN(UpgradeSimTest)
#include "upgrade_sim_test.moc"
