// The console on the test line against a real broker: publishing switched on
// in its settings, a command sent from the window shows up in its "测试线"
// window's table with the running command and the speed; a bad setting is
// refused with the field named.
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include "console/ui/rolta_dlg.h"
#include "console_rig.h"
#include "mosquitto_broker.h"
#include "scripted_services.h"
#include "testline/testline_settings.h"
#include "testline/ui/testline_ui.h"

using rolta::test::kWaitMs;

class TestLineConsoleTest : public QObject {
  Q_OBJECT

 private slots:
  void aCommandShowsInTheLineWindowAndABadSettingIsRefused() {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_STATE_HOME", home.path().toUtf8());
    qputenv("ROLTA_KEYRING", "off");
    rolta::test::MosquittoBroker broker(home.path().toStdString(), {});
    QVERIFY(broker.Start());
    rolta::TestLineSettings settings;
    settings.enabled = true;
    settings.port = broker.Port();
    settings.benchName = "console-bench";
    QVERIFY(rolta::SaveTestLineSettings(rolta::TestLineSettingsPath(), settings));

    rolta::test::ScriptedServices services;
    rolta::test::ConsoleRig rig(services.Host());
    QVERIFY(rig.Up());
    QVERIFY(rolta::test::Connect(*rig));
    rolta::test::Choose(*rig, 0);  // "恒速测试"
    rolta::test::Type(*rig, rolta::CommandInput::ParamA, QStringLiteral("50"));
    rolta::test::Press(rig->Buttons().execute);

    rolta::test::Press(rig->findChild<QPushButton*>(QString::fromUtf8(rolta::kTestLineTitle)));
    QTableWidget* table = rig->TestLine()->Window()->Table();
    const auto cell = [table](int column) {
      return table->rowCount() > 0 && table->item(0, column) ? table->item(0, column)->text() : QString();
    };
    QVERIFY(QTest::qWaitFor([&] { return cell(2) == QString::fromUtf8("恒速测试") && cell(3) != "--"; }, kWaitMs));
    QCOMPARE(cell(0), QStringLiteral("console-bench"));

    rolta::CTestLineSettingsDlg* dialog = rig->TestLine()->SettingsDialog();
    emit rig->TestLine()->Window()->SettingsWanted();
    dialog->findChild<QLineEdit*>(QString::fromUtf8("端口"))->setText("70000");
    dialog->accept();
    QVERIFY(dialog->isVisible());
    QVERIFY(!services.boxes.Shown().empty());
    QVERIFY(services.boxes.Shown().back().text.find("端口") != std::string::npos);
  }
};

QTEST_MAIN(TestLineConsoleTest)
#include "testline_console_test.moc"
