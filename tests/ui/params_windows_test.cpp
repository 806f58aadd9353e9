// The parameter form and the summary listing offscreen: a record loaded,
// "设置" pressed without changes, the written payload, the reactions (the
// retarder advice as its list closes, check boxes however they change), the list.
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <vector>

#include "config/ui/hard_info_list.h"
#include "config/ui/set_hard.h"
#include "controller_model.h"
#include "memory_channel.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::test::ScriptedMessageBoxes;
using Id = rolta::FormControlId;

namespace {

struct FixedClock final : LocalClock {
  std::optional<LocalTime> Now() const override { return LocalTime{2025, 3, 4, 10, 20, 30}; }
};

std::vector<std::uint8_t> ReplyFrame(const ParamsPayload& payload) {
  std::vector<std::uint8_t> frame(kParamsReplyLength, 0);
  frame[0] = 0x55;
  frame[1] = 0xAA;
  frame[2] = 1;
  std::copy(payload.begin(), payload.end(), frame.begin() + kPayloadOffset);
  StoreChecksum(frame.data(), frame.size());
  return frame;
}

// The console's part: the exchange, both windows, and a listener that
// brings up the window a reply names.
struct Rig : ParamsListener {
  test::MemoryChannel channel;
  ParamRequestFrame request;
  IdentityLookup lookup;
  ScriptedMessageBoxes boxes;
  FixedClock clock;
  ParamsExchange exchange{channel, request, lookup, boxes};
  ParamsForm form{exchange, lookup, boxes, clock};
  CSetHard setHard{form, lookup, boxes};
  CHardInfoList summary{exchange, lookup, boxes, ""};
  ParamsPayload record{};

  Rig() {
    exchange.SetListener(this);
    const sim::ControllerModel controller;
    std::copy(controller.ParamRecord().begin(), controller.ParamRecord().end(), record.begin());
  }
  void ShowParamsSummary() override { summary.Refresh(); }
  void ShowParamsForm() override { setHard.Refresh(); }
  void Reply(ParamReplyTarget target) {
    exchange.RequestParams(target);
    const auto frame = ReplyFrame(record);
    exchange.OnParamsFrame(frame.data(), frame.size());
  }
};

}  // namespace

class ParamsWindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void formLoadsTheReplyAndSendsItBackUnchanged() {
    Rig rig;
    QVERIFY(rig.setHard.isHidden());
    rig.record[76 - kPayloadOffset] = 4;    // settle time 4 s
    rig.record[21 - kPayloadOffset] = 4;    // unknown line speed
    rig.record[48 - kPayloadOffset] = 200;  // automatic restore 200 s
    rig.Reply(ParamReplyTarget::Form);
    QVERIFY(rig.setHard.isVisible());
    QCOMPARE(rig.setHard.windowTitle(), QStringLiteral("硬件型号：QRX"));
    QCOMPARE(rig.setHard.Edit(Id::RollerSize)->text(), QStringLiteral("216.00"));
    QCOMPARE(rig.setHard.Selector(Id::BaudRate)->currentText(), QStringLiteral("57.6K"));
    QCOMPARE(rig.setHard.Selector(Id::ValveSettle)->currentText(), QStringLiteral("4秒"));
    QCOMPARE(rig.setHard.Edit(Id::Year)->text(), QStringLiteral("2025"));
    QVERIFY(!rig.setHard.Check(Id::FuelTest)->isEnabled());           // no engine-speed input
    QVERIFY(rig.setHard.Caption(Id::LugdownScanSpeed)->isEnabled());  // steady-state scan

    rig.boxes.Clear();
    rig.channel.ClearWrites();
    QTest::mouseClick(rig.setHard.SetButton(), Qt::LeftButton);
    QVERIFY(rig.setHard.isHidden());
    QCOMPARE(rig.boxes.Shown().size(), std::size_t{1});  // the hint only
    QCOMPARE(rig.boxes.Shown()[0], ParamsHintMessage(rig.lookup));
    const auto writes = rig.channel.Writes();
    QCOMPARE(writes.size(), std::size_t{1});
    const std::vector<std::uint8_t>& sent = writes[0];
    QCOMPARE(sent.size(), kParamWriteFrameLength);
    for (std::size_t offset = 14; offset < kParamWriteFrameLength; ++offset) {
      if (offset == 21) continue;  // 4 was not a line speed: "57.6K" sends 2
      const bool clock = offset == 26 || offset == 27 || (offset >= 29 && offset <= 33);
      if (!clock) QCOMPARE(int(sent[offset]), int(rig.record[offset - kPayloadOffset]));
    }
    QCOMPARE(int(sent[21]), 2);
    QCOMPARE(int(sent[26]), 20);
    QCOMPARE(GetUInt32LE(&sent[6]), WriteCode(rig.clock.Now()));
  }

  void formReactions() {
    Rig rig;
    rig.record[65 - kPayloadOffset] = 1;  // engine speed measured
    rig.record[74 - kPayloadOffset] = 1;  // fuel test on
    rig.Reply(ParamReplyTarget::Form);
    QVERIFY(rig.setHard.Check(Id::FuelTest)->isEnabled());
    QVERIFY(rig.setHard.Selector(Id::FuelOutputType)->isEnabled());
    // The groups scroll: the operator brings the box into view, and clicks its
    // mark (a stretched box's middle can lie beyond its text).
    QCheckBox* engineSpeed = rig.setHard.Check(Id::EngineSpeed);
    rig.setHard.findChild<QScrollArea*>()->ensureWidgetVisible(engineSpeed);
    QTest::mouseClick(engineSpeed, Qt::LeftButton, {}, QPoint(8, engineSpeed->height() / 2));
    QVERIFY(!rig.setHard.Check(Id::FuelTest)->isEnabled());
    QVERIFY(rig.setHard.Check(Id::FuelTest)->isChecked());
    QVERIFY(!rig.setHard.Caption(Id::FuelOutputType)->isEnabled());

    rig.boxes.Clear();
    QComboBox* retarder = rig.setHard.Selector(Id::RetarderType);
    retarder->setCurrentIndex(7);
    retarder->showPopup();
    retarder->hidePopup();
    QTRY_COMPARE(rig.boxes.Shown().size(), std::size_t{1});
    QCOMPARE(rig.boxes.Shown()[0], RetarderAdvice(rig.lookup));
    QCOMPARE(retarder->currentText(), QStringLiteral("Z4"));

    QTest::mouseClick(rig.setHard.ExitButton(), Qt::LeftButton);
    QVERIFY(rig.setHard.isHidden());
    QCOMPARE(rig.channel.Writes().size(), std::size_t{1});  // the request only
  }

  void retarderAdviceWhenTheListClosesOnZ4() {
    enum class Way { Mouse, Keys, CloseKey, WriteAndHide };
    const struct {
      int from, to;  // 7 is "Z4"
      Way way;
      bool advice;
    } rows[] = {{1, 7, Way::Mouse, true},        {1, 7, Way::Keys, true},     {7, 5, Way::Mouse, false},
                {7, 6, Way::Keys, false},        {7, 7, Way::CloseKey, true}, {1, 1, Way::CloseKey, false},
                {7, 7, Way::WriteAndHide, false}};
    for (const auto& row : rows) {
      Rig rig;
      rig.record[60 - kPayloadOffset] = static_cast<std::uint8_t>(10 + row.from);
      rig.record[48 - kPayloadOffset] = 200;  // an automatic restore the form keeps
      rig.Reply(ParamReplyTarget::Form);
      QComboBox* retarder = rig.setHard.Selector(Id::RetarderType);
      rig.boxes.Clear();
      QAbstractItemView* list = retarder->view();
      if (row.way != Way::WriteAndHide) retarder->showPopup();
      if (row.way == Way::Mouse) {
        const QRect item = list->visualRect(list->model()->index(row.to, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
      } else if (row.way == Way::Keys) {
        for (int i = row.from; i != row.to; i += row.to > row.from ? 1 : -1) {
          QTest::keyClick(list, row.to > row.from ? Qt::Key_Down : Qt::Key_Up);
        }
        QTest::keyClick(list, Qt::Key_Return);
      } else if (row.way == Way::CloseKey) {
        QTest::keyClick(list, Qt::Key_F4);
      } else {
        QTest::mouseClick(rig.setHard.SetButton(), Qt::LeftButton);  // the form hides
        rig.boxes.Clear();                                           // the write's own hint
      }
      QTest::qWait(50);  // the report waits for the next turn of the event loop
      QVERIFY(!list->isVisible());
      QCOMPARE(retarder->currentIndex(), row.to);
      QCOMPARE(rig.boxes.Shown().size(), row.advice ? 1u : 0u);
      if (row.advice) QCOMPARE(rig.boxes.Shown()[0], RetarderAdvice(rig.lookup));
    }
  }

  void checkBoxesReactToTheSpaceBarAndAScreenReader() {
    for (const bool keyboard : {true, false}) {
      Rig rig;
      rig.record[65 - kPayloadOffset] = 1;  // engine speed measured
      rig.record[74 - kPayloadOffset] = 1;  // fuel test on
      rig.record[80 - kPayloadOffset] = 0;  // channels configured by hand
      rig.Reply(ParamReplyTarget::Form);
      const auto toggle = [&](Id id) {
        if (keyboard) return QTest::keyClick(rig.setHard.Check(id), Qt::Key_Space);
        QAccessible::queryAccessibleInterface(rig.setHard.Check(id))
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::toggleAction());
      };
      rig.boxes.Clear();
      toggle(Id::AutoChannel);  // on: the note
      QCOMPARE(rig.boxes.Shown(), std::vector<MessageRequest>{AutoChannelNote(rig.lookup)});
      toggle(Id::EngineSpeed);  // off: no fuel test
      QVERIFY(!rig.setHard.Check(Id::FuelTest)->isEnabled() && !rig.setHard.Selector(Id::FuelOutputType)->isEnabled());
      toggle(Id::EngineSpeed);
      QVERIFY(rig.setHard.Check(Id::FuelTest)->isEnabled() && rig.setHard.Selector(Id::FuelOutputType)->isEnabled());
      toggle(Id::FuelTest);  // off: no output type
      QVERIFY(!rig.setHard.Selector(Id::FuelOutputType)->isEnabled());
      QCOMPARE(rig.boxes.Shown().size(), std::size_t{1});
    }
  }

  void summaryListsTheRecord() {
    Rig rig;
    rig.Reply(ParamReplyTarget::Summary);
    QVERIFY(rig.summary.isVisible());
    QVERIFY(rig.setHard.isHidden());
    QCOMPARE(rig.summary.windowTitle(), QStringLiteral("硬件信息"));
    QCOMPARE(rig.summary.List()->count(), 49);  // both lift limit checks listed
    QCOMPARE(rig.summary.List()->item(0)->text(), QStringLiteral("硬件型号：QRX"));
    QCOMPARE(rig.summary.List()->item(2)->text(), QStringLiteral("内核版本：7.34"));
    QTest::mouseClick(rig.summary.OkButton(), Qt::LeftButton);
    QVERIFY(rig.summary.isHidden());
  }
};

QTEST_MAIN(ParamsWindowsTest)
#include "params_windows_test.moc"
