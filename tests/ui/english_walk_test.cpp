// Every window of the console under the English dictionary: no visible text,
// tooltip, list item or message box may still hold a CJK character. And in
// both languages, on a 1366x768 and a 1280x1024 screen: every window opens
// wholly inside the available area, its minimum size fits there, and no text
// is wider than its control, as shown and at the minimum size.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

#include "commands/catalogue.h"
#include "readouts/readouts.h"
#include "console/ui/about_dlg.h"
#include "console/ui/console_tools.h"
#include "console/ui/diag_tips_list.h"
#include "console/ui/html_view_dlg.h"
#include "monitor/ui/line_monitor_dlg.h"
#include "console/ui/rolta_dlg.h"
#include "commands/ui/safety_dlg.h"
#include "console/ui/tool_dlg.h"
#include "recording/ui/trend_dlg.h"
#include "env/env_library.h"
#include "fake_environment.h"
#include "pty_pair.h"
#include "scripted_services.h"

using namespace rolta;
using rolta::test::FakeEnvironment;
using rolta::test::ScriptedMessageBoxes;
using rolta::test::ScriptedServices;

namespace rolta::test {
namespace {

bool HoldsCjk(const QString& text) {
  for (const char32_t c : text.toUcs4()) {
    const bool cjk = (c >= 0x3000 && c <= 0x303F) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
                     (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF);
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

QString Plain(QString text) { return text.remove(QRegularExpression(QStringLiteral("&(?!&)"))); }

// Texts wider than the room their control gives them: labels (one line, or
// wrapped into their height), buttons, check boxes, group box titles, tabs.
QStringList ClippedTexts(QWidget* window) {
  QStringList clipped;
  const auto report = [&clipped](const QWidget* widget, const QString& text, int need, int room) {
    if (need > room) {
      clipped << QStringLiteral("%1 \"%2\" needs %3 px, has %4")
                     .arg(QString::fromUtf8(widget->metaObject()->className()), text)
                     .arg(need)
                     .arg(room);
    }
  };
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    if (widget->window() != window || !widget->isVisibleTo(window)) continue;
    const QFontMetrics metrics = widget->fontMetrics();
    QStyle* style = widget->style();
    if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().isEmpty()) {
      if (label->wordWrap()) {
        report(label, label->text(), label->heightForWidth(label->width()), label->height());
      } else {
        report(label, label->text(), label->minimumSizeHint().width(), label->width());
      }
    } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
      const int box = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check) +
                      style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check);
      report(check, check->text(), metrics.horizontalAdvance(Plain(check->text())),
             check->contentsRect().width() - box);
    } else if (auto* button = qobject_cast<QPushButton*>(widget); button && !button->text().isEmpty()) {
      const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
      const int frame = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                        2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
      report(button, button->text(), metrics.horizontalAdvance(Plain(button->text())) + icon,
             button->contentsRect().width() - frame);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget); group && !group->title().isEmpty()) {
      report(group, group->title(), metrics.horizontalAdvance(Plain(group->title())) + 12, group->width());
    } else if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
      const int space = style->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, tabs);
      for (int i = 0; i < tabs->count(); ++i) {
        report(tabs, tabs->tabText(i), metrics.horizontalAdvance(Plain(tabs->tabText(i))) + space,
               tabs->tabRect(i).width());
      }
    }
  }
  return clipped;
}

// Shows the window on each screen as far off as a careless opener would put
// it (its top 53 px above the screen, its right third beyond the edge) and
// collects what does not fit: the window not wholly inside one screen's
// available area, a minimum size larger than the area, and clipped texts as
// shown and at the minimum size.
void CheckOnEveryScreen(const QString& where, QWidget* window, QStringList& problems) {
  // Shown once where it wants, so it has its own size before it is misplaced.
  window->show();
  QCoreApplication::processEvents();
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect area = screen->availableGeometry();
    const QString place = QStringLiteral("%1 on %2x%3").arg(where).arg(area.width()).arg(area.height());
    window->hide();
    window->move(area.right() + 1 - 2 * window->width() / 3, area.top() - 53);
    window->show();
    QCoreApplication::processEvents();
    // Wholly on one screen: this one, or the console's for a window that
    // opens over the console.
    const QScreen* on = QGuiApplication::screenAt(window->frameGeometry().center());
    if (on == nullptr || !on->availableGeometry().contains(window->frameGeometry())) {
      problems << QStringLiteral("%1: window at %2,%3 %4x%5")
                      .arg(place)
                      .arg(window->x())
                      .arg(window->y())
                      .arg(window->width())
                      .arg(window->height());
    }
    const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize());
    if (least.width() > area.width() || least.height() > area.height()) {
      problems << QStringLiteral("%1: minimum size %2x%3").arg(place).arg(least.width()).arg(least.height());
    }
    for (const QString& text : ClippedTexts(window)) problems << place + QStringLiteral(": ") + text;
    const QSize shown = window->size();
    window->resize(least);
    QCoreApplication::processEvents();
    for (const QString& text : ClippedTexts(window)) problems << place + QStringLiteral(" at its minimum: ") + text;
    window->resize(shown);
  }
  window->hide();
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
    // An empty service history of its own: entries are data in the language they were written in.
    qputenv("XDG_DATA_HOME", config_.path().toUtf8());
    QCOMPARE(library_.Load(1), kEnvLoadOk);
  }

  void noWindowShowsChineseInEnglish() {
    const EnvTextLookup english(library_);
    QVERIFY(!english.IsDefaultLanguage());
    QStringList chinese;
    ScriptedServices services;
    ScriptedMessageBoxes& boxes = services.boxes;
    test::PtyPair pty;
    FakeEnvironment environment({pty.SlavePath()}, &english);
    {
      CDiagTipsList tips(english, boxes);
      CollectWindow("tips", &tips, chinese);
    }
    CRoltaDlg console(environment, services.Host());
    CollectWindow("console", &console, chinese);
    CollectWindow("about", console.AboutBox(), chinese);
    CollectWindow("parameter form", console.ParamsFormWindow(), chinese);
    CollectWindow("parameter summary", console.ParamsSummaryWindow(), chinese);
    CollectWindow("calibration", console.CalibrationWindow(), chinese);
    CollectWindow("calibration assistant", console.CalibrationAssistantWindow(), chinese);
    CollectWindow("channel map", console.ChannelMapWindow(), chinese);
    CollectWindow("tools", console.Tools()->ToolWindow(), chinese);
    console.ServiceRecords().ShowWindow();
    CollectWindow("service history", console.ServiceRecords().Window(), chinese);

    // The tools page and the operator's guide shipped in English.
    QStringList pages;
    console.Tools()->programDirectory = [] { return QStringLiteral(ROLTA_BIN_DIR); };
    console.Tools()->currentDirectory = [this] { return config_.path(); };
    console.Tools()->showPage = [&pages, &chinese](const QString& path, const QString& title, QWidget*) {
      pages << path;
      QFile page(path);
      if (!page.open(QIODevice::ReadOnly)) return false;
      // The maker's help file keeps its own name.
      const QString text = QString::fromUtf8(page.readAll()).remove(QStringLiteral("QRX5000说明.CHM"));
      Collect("shipped page", {text, title}, chinese);
      return true;
    };
    console.Tools()->OnToolsPage();
    console.Tools()->OnHelp();
    QCOMPARE(pages, (QStringList{QStringLiteral(ROLTA_BIN_DIR "/en/tools.htm"),
                                 QStringLiteral(ROLTA_BIN_DIR "/en/rolta-guide.html")}));

    // The about box after a version query, and the readout captions of every
    // frame type.
    console.Buttons().version->click();
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
    console.Buttons().execute->click();
    console.Buttons().upgrade->click();
    console.Tools()->OnToolWindowButton();
    console.Buttons().connect->click();
    QVERIFY(console.Port().IsOpen());
    for (int position : {9, 22, 23, 27, 48, 84}) {
      boxes.Answer(MessageAnswer::Cancel);
      console.CommandList()->setCurrentIndex(position);
      console.Buttons().execute->click();
    }
    console.Buttons().close->click();
    for (const MessageRequest& box : boxes.Shown()) {
      Collect("message box", {QString::fromStdString(box.text), QString::fromStdString(box.caption)}, chinese);
    }
    QVERIFY(boxes.Shown().size() >= 9);

    chinese.removeDuplicates();
    for (const QString& line : chinese) qInfo().noquote() << "still Chinese:" << line;
    QVERIFY2(chinese.isEmpty(), qPrintable(QStringLiteral("%1 texts still Chinese").arg(chinese.size())));
  }

  void everyWindowFitsEveryScreen_data() {
    QTest::addColumn<QByteArray>("language");
    QTest::newRow("Chinese") << QByteArray();
    QTest::newRow("English") << QByteArray("en");
  }

  void everyWindowFitsEveryScreen() {
    QFETCH(QByteArray, language);
    qputenv("ROLTA_LANGUAGE", language);
    const EnvTextLookup texts(library_);
    QCOMPARE(texts.IsDefaultLanguage(), language.isEmpty());
    QVERIFY(!QGuiApplication::screens().isEmpty());
    ScriptedServices services;
    ScriptedMessageBoxes& boxes = services.boxes;
    FakeEnvironment environment({}, &texts);
    CRoltaDlg console(environment, services.Host());
    QStringList problems;
    // The console first, shown as the program shows it; the others over it.
    console.show();
    CheckOnEveryScreen(QStringLiteral("console"), &console, problems);
    console.show();
    CDiagTipsList tips(texts, boxes);
    CSafetyDlg safety(console.Session().Safety(), texts, boxes, &console);
    const QString pages = QStringLiteral(ROLTA_SOURCE_DIR "/share/");
    CHtmlViewDlg guide(pages + QStringLiteral("rolta-guide.html"), QStringLiteral("guide"), &console);
    CTrendDlg trend(console.Session(), texts, boxes, &console);
    const std::pair<const char*, QWidget*> windows[] = {
        {"tips", &tips},
        {"about", console.AboutBox()},
        {"parameter form", console.ParamsFormWindow()},
        {"parameter summary", console.ParamsSummaryWindow()},
        {"calibration", console.CalibrationWindow()},
        {"calibration assistant", console.CalibrationAssistantWindow()},
        {"channel map", console.ChannelMapWindow()},
        {"tools", console.Tools()->ToolWindow()},
        {"line monitor", console.LineMonitorWindow()},
        {"safety settings", &safety},
        {"guide", &guide},
        {"trend", &trend},
        {"coast-down analysis", trend.OpenCoastAnalysis()},
        {"service history", (console.ServiceRecords().ShowWindow(), console.ServiceRecords().Window())},
    };
    for (const auto& [where, window] : windows) CheckOnEveryScreen(QString::fromUtf8(where), window, problems);
    // The parameter form as the console brings it up: over the console.
    console.move(0, 0);
    console.ParamsFormWindow()->Refresh();
    QCoreApplication::processEvents();
    if (!console.screen()->availableGeometry().contains(console.ParamsFormWindow()->frameGeometry())) {
      problems << QStringLiteral("parameter form brought up beyond the screen");
    }
    for (const QString& line : problems) qInfo().noquote() << line;
    QVERIFY2(problems.isEmpty(), qPrintable(QStringLiteral("%1 windows or texts do not fit").arg(problems.size())));
    console.Buttons().exit->click();
  }

 private:
  QTemporaryDir config_;
  EnvLibrary library_;
};

}  // namespace rolta::test

// Two offscreen screens side by side, 1366x768 and 1280x1024, unless the
// caller chose another platform.
int main(int argc, char* argv[]) {
  QTemporaryDir screens;
  const QString config = screens.filePath(QStringLiteral("screens.json"));
  if (qEnvironmentVariable("QT_QPA_PLATFORM") == QStringLiteral("offscreen")) {
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return 2;
    file.write(R"({"screens": [
      {"name": "small", "x": 0, "y": 0, "width": 1366, "height": 768,
       "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
      {"name": "square", "x": 1366, "y": 0, "width": 1280, "height": 1024,
       "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}
    ]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit());
  }
  QApplication application(argc, argv);
  rolta::test::EnglishWalkTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "english_walk_test.moc"
