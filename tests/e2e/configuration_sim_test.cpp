// The parameter record, the channel map and the calibration tables through
// the real console window against the simulator: read, edit, store, read back.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest/QtTest>

#include "calib/calib_table.h"
#include "console_rig.h"
#include "link/command_codes.h"
#include "scripted_services.h"

using namespace rolta;
using namespace rolta::test;

namespace {

constexpr int kReadParams = 26;      // "读QRX参数"
constexpr int kEditParams = 27;      // "设置QRX参数"
constexpr int kReadChannelMap = 31;  // "设置硬件通道"

QStringList Items(const QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

}  // namespace

class ConfigurationSimTest : public QObject {
  Q_OBJECT

 private slots:
  void parameterRecordIsListedEditedWrittenAndReadBackChanged() {
    ScriptedServices services;
    ConsoleRig rig(services.Host());
    QVERIFY(rig.Up());
    QVERIFY(Connect(*rig));
    CHardInfoList* listing = rig->ParamsSummaryWindow();
    CSetHard* form = rig->ParamsFormWindow();

    Choose(*rig, kReadParams);
    Press(rig->Buttons().execute);
    QTRY_VERIFY_WITH_TIMEOUT(listing->isVisible(), kWaitMs);
    QVERIFY(Items(listing->List()).contains(QStringLiteral("滚筒尺寸：216.00")));
    listing->OkButton()->click();

    Choose(*rig, kEditParams);
    Press(rig->Buttons().execute);  // the hint box first, answered Ok
    QCOMPARE(services.boxes.Shown().size(), std::size_t{1});
    QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), kWaitMs);
    QCOMPARE(form->Edit(FormControlId::RollerSize)->text(), QStringLiteral("216.00"));
    form->Edit(FormControlId::RollerSize)->setText(QStringLiteral("218.5"));
    form->SetButton()->click();
    QVERIFY(form->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(Status(*rig), QStringLiteral("Numth: 102 2"), kWaitMs);

    Choose(*rig, kReadParams);
    Press(rig->Buttons().execute);
    QTRY_VERIFY_WITH_TIMEOUT(Items(listing->List()).contains(QStringLiteral("滚筒尺寸：218.50")), kWaitMs);
  }

  void channelMapIsReadEditedStoredAndReadBack() {
    ScriptedServices services;
    ConsoleRig rig(services.Host());
    QVERIFY(rig.Up());
    QVERIFY(Connect(*rig));
    CHardCH* map = rig->ChannelMapWindow();

    Choose(*rig, kReadChannelMap);
    Press(rig->Buttons().execute);
    QTRY_VERIFY_WITH_TIMEOUT(map->isVisible(), kWaitMs);
    QLineEdit* fan = map->FieldEdit("冷却风扇");
    QVERIFY(fan);
    const QString before = fan->text();
    const QString changed = before == QStringLiteral("21") ? QStringLiteral("22") : QStringLiteral("21");
    fan->setText(changed);
    map->StoreButton()->click();
    QVERIFY(map->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(FramesWithCode(*rig.controller, command::kChannelMapStore).size(), std::size_t{1},
                              kWaitMs);

    fan->setText(before);  // what is shown next comes from the controller
    Choose(*rig, kReadChannelMap);
    Press(rig->Buttons().execute);
    QTRY_COMPARE_WITH_TIMEOUT(fan->text(), changed, kWaitMs);
    QVERIFY(map->isVisible());
    QVERIFY(services.boxes.Shown().empty());
  }

  void everyCalibrationTableIsStoredAndFetchedBackEqual() {
    ScriptedServices services;
    ConsoleRig rig(services.Host());
    QVERIFY(rig.Up());
    QVERIFY(Connect(*rig));
    Press(rig->Buttons().calibration);
    CCalibTab* bench = rig->CalibrationWindow();
    QTRY_VERIFY_WITH_TIMEOUT(bench->isVisible(), kWaitMs);
    for (const CalibChannelRow& table : CalibChannels()) {
      const QString name =
          QString::fromUtf8(table.fetchCaption.data(), static_cast<qsizetype>(table.fetchCaption.size()));
      QPushButton* fetch = bench->FetchButton(table.channel);
      QVERIFY2(fetch, qPrintable(name));
      // Three points of our own, stored, then fetched back.
      bench->Grid()->clearContents();
      const int points = 3;
      const int mark = static_cast<int>(table.channel);
      for (int row = 1; row <= points; ++row) {  // data row n is the grid's row n - 1
        bench->Grid()->setItem(row - 1, 1, new QTableWidgetItem(QString::number(row * 10 + mark)));
        bench->Grid()->setItem(row - 1, 2, new QTableWidgetItem(QString::number(row * 2.5)));
      }
      bench->StoreButton(table.channel)->click();
      fetch->click();
      QTRY_VERIFY2_WITH_TIMEOUT(bench->CellText(points, 1).toDouble() == points * 10 + mark, qPrintable(name), kWaitMs);
      QCOMPARE(bench->CellText(1, 1).toDouble(), 10.0 + mark);
      QCOMPARE(bench->CellText(points, 2).toDouble(), points * 2.5);
      QCOMPARE(bench->CellText(points + 1, 1), QString());
    }
    QVERIFY(services.boxes.Shown().empty());
  }
};

QTEST_MAIN(ConfigurationSimTest)
#include "configuration_sim_test.moc"
