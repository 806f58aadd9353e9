// Every window of the console under the English dictionary: no visible text,
// tooltip, list item or message box may still hold a CJK character.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "console/catalogue.h"
#include "console/readouts.h"
#include "console/ui/about_dlg.h"
#include "console/ui/console_tools.h"
#include "console/ui/diag_tips_list.h"
#include "console/ui/rolta_dlg.h"
#include "console/ui/tool_dlg.h"
#include "env/env_library.h"
#include "fake_environment.h"
#include "pty_pair.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::test::FakeEnvironment;
using rolta::test::ScriptedMessageBoxes;

namespace rolta::test {
namespace {

bool HoldsCjk(const QString& text) {
  for (const char32_t c : text.toUcs4()) {
    const bool cjk = (c >= 0x3000 && c <= 0x303F) || (c >= 0x3400 && c <= 0x4DBF) ||
                     (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
                     (c >= 0xFF00 && c <= 0xFFEF);
    if (cjk) return true;
  }
  return false;
}

// Every text a window shows: its title, and of each control that is not
// explicitly hidden its text, items, headers, placeholder and tooltip.
QStringList ShownTexts(QWidget* window) {
  QStringList texts{window->windowTitle()};
  const auto children = window->findChildren<QWidget*>();
  for (QWidget* widget : children) {
    if (widget->window() != window || !widget->isVisibleTo(window)) continue;
    texts << widget->toolTip();
    if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) texts << group->title();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) texts << edit->text() << edit->placeholderText();
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
      const QAbstractItemModel* model = view->model();
      for (int column = 0; column < model->columnCount(); ++column) {
        texts << model->headerData(column, Qt::Horizontal).toString();
      }
      for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
          texts << model->index(row, column).data().toString();
        }
      }
    }
  }
  return texts;
}

void Collect(const char* where, const QStringList& texts, QStringList& chinese) {
  for (const QString& text : texts) {
    if (HoldsCjk(text)) chinese << QStringLiteral("%1: %2").arg(QString::fromUtf8(where), text);
  }
}

void CollectWindow(const char* where, QWidget* window, QStringList& chinese) {
  window->show();
  QCoreApplication::processEvents();
  Collect(where, ShownTexts(window), chinese);
}

}  // namespace

class EnglishWalkTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    qputenv("ROLTA_LANGUAGE", "en");
    qputenv("ROLTA_DICTIONARY_DIR", ROLTA_SOURCE_DIR "/envkit/dictionaries");
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    QCOMPARE(library_.Load(1), kEnvLoadOk);
  }

  void noWindowShowsChineseInEnglish() {
    const EnvTextLookup english(library_);
    QVERIFY(!english.IsDefaultLanguage());
    QStringList chinese;
    ScriptedMessageBoxes boxes;
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()}, &english);
    {
      CDiagTipsList tips(english, boxes);
      CollectWindow("tips", &tips, chinese);
    }
    CRoltaDlg console(environment);
    CollectWindow("console", &console, chinese);
    CollectWindow("about", console.AboutBox(), chinese);
    CollectWindow("parameter form", console.ParamsFormWindow(), chinese);
    CollectWindow("parameter summary", console.ParamsSummaryWindow(), chinese);
    CollectWindow("calibration", console.CalibrationWindow(), chinese);
    CollectWindow("channel map", console.ChannelMapWindow(), chinese);
    CollectWindow("tools", console.Tools()->ToolWindow(), chinese);

    // The about box after a version query, and the readout captions of every
    // frame type.
    console.Button("版本")->click();
    CollectWindow("about after query", console.AboutBox(), chinese);
    for (int type = 0; type < 256; ++type) {
      ControllerStatus status;
      status.FrameType = static_cast<std::uint8_t>(type);
      for (const ReadoutChange& change : PresentLiveFrame(status, english)) {
        if (change.caption) Collect("readout caption", {QString::fromStdString(*change.caption)}, chinese);
      }
    }

    // Message boxes: closed channel, then every position with the channel open
    // (confirmations cancelled).
    console.Button("执行")->click();
    console.Button("升级")->click();
    console.Tools()->OnToolWindowButton();
    console.Button("设置")->click();
    QVERIFY(console.Port().IsOpen());
    for (int position : {9, 22, 23, 27, 48, 84}) {
      boxes.Answer(MessageAnswer::Cancel);
      console.CommandList()->setCurrentIndex(position);
      console.Button("执行")->click();
    }
    console.Button("关闭")->click();
    for (const MessageRequest& box : boxes.Shown()) {
      Collect("message box", {QString::fromStdString(box.text), QString::fromStdString(box.caption)}, chinese);
    }
    QVERIFY(boxes.Shown().size() >= 9);

    chinese.removeDuplicates();
    for (const QString& line : chinese) qInfo().noquote() << "still Chinese:" << line;
    QVERIFY2(chinese.isEmpty(), qPrintable(QStringLiteral("%1 texts still Chinese").arg(chinese.size())));
  }

 private:
  QTemporaryDir config_;
  EnvLibrary library_;
};

}  // namespace rolta::test

QTEST_MAIN(rolta::test::EnglishWalkTest)
#include "english_walk_test.moc"
