// Control text translation on a real dialog, with a lookup that marks every
// text it translates so the walk's reach is visible; texts in a context; Qt's
// own texts in Chinese.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QTranslator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <map>
#include <vector>

#include "env/ui/qt_translations.h"
#include "env/ui/re_ctl_langue_str.h"

namespace {

class MarkingLookup final : public rolta::TextLookup {
 public:
  std::string Lookup(std::string_view text) const override {
    keys.emplace_back(text);
    return "T:" + std::string(text);
  }
  mutable std::vector<std::string> keys;
};

// Another language, from a table; texts without an entry come back as given.
class TableLookup final : public rolta::TextLookup {
 public:
  explicit TableLookup(std::map<std::string, std::string> entries) : entries_(std::move(entries)) {}
  std::string Lookup(std::string_view text) const override {
    const auto found = entries_.find(std::string(text));
    return found == entries_.end() ? std::string(text) : found->second;
  }
  bool IsDefaultLanguage() const override { return false; }

 private:
  std::map<std::string, std::string> entries_;
};

class RecordingMessages final : public rolta::MessageBoxService {
 public:
  rolta::MessageAnswer Show(const rolta::MessageRequest& request) override {
    shown.push_back(request);
    return rolta::MessageAnswer::Ok;
  }
  std::vector<rolta::MessageRequest> shown;
};

QStringList Items(const QComboBox& combo) {
  QStringList items;
  for (int i = 0; i < combo.count(); ++i) items << combo.itemText(i);
  return items;
}

}  // namespace

class ReCtlLangueStrTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QCoreApplication::setApplicationName("ROLTA"); }

  void translatesTheShownControlsOfADialog() {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel("起始速度", &dialog);
    auto* hidden = new QLineEdit("隐藏", &dialog);
    hidden->hide();
    auto* edit = new QLineEdit("216", &dialog);
    auto* progress = new QProgressBar(&dialog);
    auto* button = new QPushButton("执行", &dialog);
    auto* check = new QCheckBox("飞轮1", &dialog);
    auto* notes = new QPlainTextEdit("备注", &dialog);
    auto* after_progress = new QLabel("状态:", &dialog);
    for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(hidden), static_cast<QWidget*>(edit),
                       static_cast<QWidget*>(progress), static_cast<QWidget*>(button), static_cast<QWidget*>(check),
                       static_cast<QWidget*>(notes), static_cast<QWidget*>(after_progress)}) {
      layout->addWidget(w);
    }

    MarkingLookup lookup;
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(lookup, messages);
    QCOMPARE(translator.Attach(&dialog), 1);
    QCOMPARE(translator.TranslateAll(), 1);

    QCOMPARE(label->text(), QString("T:起始速度"));
    QCOMPARE(hidden->text(), QString("隐藏"));  // explicitly hidden: kept
    QCOMPARE(edit->text(), QString("T:216"));   // edits are looked up like captions
    QCOMPARE(button->text(), QString("T:执行"));
    QCOMPARE(check->text(), QString("T:飞轮1"));
    QCOMPARE(notes->toPlainText(), QString("T:备注"));
    QCOMPARE(after_progress->text(), QString("T:状态:"));  // the walk went on past the bar
    QVERIFY(messages.shown.empty());
  }

  void controlsInsideGroupBoxesAndContainersAreTheDialogsOwn() {
    QDialog dialog;
    auto* group = new QGroupBox("通讯设置", &dialog);
    auto* in_group = new QPushButton("设置", group);
    auto* panel = new QWidget(&dialog);
    auto* in_panel = new QLabel("通讯口:", panel);
    auto* hidden_group = new QGroupBox("飞轮组", &dialog);
    hidden_group->hide();
    auto* in_hidden_group = new QCheckBox("飞轮2", hidden_group);

    MarkingLookup lookup;
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(lookup, messages);
    translator.Attach(&dialog);
    QCOMPARE(translator.TranslateAll(), 1);

    QCOMPARE(group->title(), QString("T:通讯设置"));
    QCOMPARE(in_group->text(), QString("T:设置"));
    QCOMPARE(in_panel->text(), QString("T:通讯口:"));
    QCOMPARE(hidden_group->title(), QString("飞轮组"));
    QCOMPARE(in_hidden_group->text(), QString("飞轮2"));
    // Child order: the group box before its own controls.
    QCOMPARE(lookup.keys, (std::vector<std::string>{"通讯设置", "设置", "通讯口:"}));
  }

  void comboItemsAreReplacedInPlace() {
    QDialog dialog;
    auto* empty = new QComboBox(&dialog);
    auto* combo = new QComboBox(&dialog);
    const QStringList items = {"恒速测试",   "恒力测试",   "停止测试", "空载滑行",
                               "恒负荷滑行", "变负荷滑行", "响应测试", "加载飞轮"};
    combo->addItems(items);
    combo->setItemData(5, 42);
    combo->setCurrentIndex(5);

    MarkingLookup lookup;
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(lookup, messages);
    translator.Attach(&dialog);
    QCOMPARE(translator.TranslateAll(), 1);

    QCOMPARE(empty->count(), 0);
    QStringList expected;
    for (const QString& item : items) expected << "T:" + item;
    QCOMPARE(Items(*combo), expected);
    QCOMPARE(combo->currentIndex(), 5);
    QCOMPARE(combo->itemData(5).toInt(), 42);
  }

  void internalsOfAControlAreNeverVisited() {
    QDialog dialog;
    auto* editable = new QComboBox(&dialog);
    editable->setEditable(true);
    editable->lineEdit()->setText("原始");
    auto* table = new QTableWidget(2, 2, &dialog);
    table->setCellWidget(0, 0, new QLabel("表格内"));
    table->setItem(1, 1, new QTableWidgetItem("单元"));
    auto* tabs = new QTabWidget(&dialog);
    tabs->addTab(new QLabel("页内"), "页");

    MarkingLookup lookup;
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(lookup, messages);
    translator.Attach(&dialog);
    QCOMPARE(translator.TranslateAll(), 1);

    QCOMPARE(editable->lineEdit()->text(), QString("原始"));
    QCOMPARE(qobject_cast<QLabel*>(table->cellWidget(0, 0))->text(), QString("表格内"));
    QCOMPARE(table->item(1, 1)->text(), QString("单元"));
    QCOMPARE(tabs->tabText(0), QString("页"));
    QCOMPARE(qobject_cast<QLabel*>(tabs->widget(0))->text(), QString("页内"));
    QVERIFY(lookup.keys.empty());
  }

  void classCodesFollowTheWidgetType_data() {
    QTest::addColumn<QWidget*>("widget");
    QTest::addColumn<uint>("kind");
    QTest::newRow("label") << static_cast<QWidget*>(new QLabel) << 1u;
    QTest::newRow("combo box") << static_cast<QWidget*>(new QComboBox) << 2u;
    QTest::newRow("line edit") << static_cast<QWidget*>(new QLineEdit) << 3u;
    QTest::newRow("plain text edit") << static_cast<QWidget*>(new QPlainTextEdit) << 3u;
    QTest::newRow("push button") << static_cast<QWidget*>(new QPushButton) << 4u;
    QTest::newRow("check box") << static_cast<QWidget*>(new QCheckBox) << 4u;
    QTest::newRow("group box") << static_cast<QWidget*>(new QGroupBox) << 4u;
    QTest::newRow("tab widget") << static_cast<QWidget*>(new QTabWidget) << 5u;
    QTest::newRow("table") << static_cast<QWidget*>(new QTableWidget) << 6u;
    QTest::newRow("progress bar") << static_cast<QWidget*>(new QProgressBar) << 0u;
    QTest::newRow("plain widget") << new QWidget << 0u;
  }

  void classCodesFollowTheWidgetType() {
    QFETCH(QWidget*, widget);
    QFETCH(uint, kind);
    std::unique_ptr<QWidget> owned(widget);
    MarkingLookup lookup;
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(lookup, messages);
    std::uint32_t classified = 99;
    QCOMPARE(translator.Classify(widget, classified), 1);
    QCOMPARE(classified, std::uint32_t{kind});
    QCOMPARE(translator.kind(), std::uint32_t{kind});
  }

  void translateControlResultsAndErrors() {
    MarkingLookup lookup;
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(lookup, messages);
    QProgressBar bar;
    QLabel label("力矩");
    QTableWidget table;

    QCOMPARE(translator.TranslateControl(&bar, 0), 0);
    QCOMPARE(translator.TranslateControl(&label, 8), 0);
    QCOMPARE(translator.TranslateControl(&table, 6), 1);
    QCOMPARE(translator.TranslateControl(&table, 7), 1);
    QCOMPARE(label.text(), QString("力矩"));
    QVERIFY(messages.shown.empty());

    // A control that is not of the kind it is handled as.
    QCOMPARE(translator.TranslateControl(&bar, 1), 0);
    QCOMPARE(translator.TranslateControl(&label, 2), 0);
    QCOMPARE(translator.TranslateControl(nullptr, 4), 0);
    const rolta::MessageRequest expected{"[ReCtlLangueStr][TransferLanguage()...Err]", "ROLTA",
                                         rolta::MessageIcon::None, rolta::MessageButtons::Ok};
    QCOMPARE(messages.shown.size(), std::size_t{3});
    for (const auto& shown : messages.shown) QVERIFY(shown == expected);
    QCOMPARE(translator.TranslateControl(&label, 1), 1);
    QCOMPARE(label.text(), QString("T:力矩"));
  }

  void walkWithoutADialogReportsAndStops() {
    MarkingLookup lookup;
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(lookup, messages);
    QVERIFY(translator.owner() == nullptr);
    QCOMPARE(translator.kind(), std::uint32_t{0});
    QCOMPARE(translator.TranslateAll(), 0);
    QCOMPARE(messages.shown.size(), std::size_t{1});
    QCOMPARE(messages.shown[0].text, std::string("[ReCtlLangueStr][ReCtlLangueName()...Err]"));
    QCOMPARE(messages.shown[0].caption, std::string("ROLTA"));

    // A dialog that has gone away is no dialog either.
    auto* dialog = new QDialog;
    translator.Attach(dialog);
    delete dialog;
    QCOMPARE(translator.TranslateAll(), 0);
    QCOMPARE(messages.shown.size(), std::size_t{2});
  }

  void longTextsAreLookedUpWhole() {
    QDialog dialog;
    QString long_text;
    for (int i = 0; i < 120; ++i) long_text += QString::fromUtf8("长");  // 360 bytes of UTF-8
    auto* label = new QLabel(long_text, &dialog);
    auto* empty = new QLabel(&dialog);
    empty->setPixmap(QPixmap(4, 4));

    MarkingLookup lookup;
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(lookup, messages);
    translator.Attach(&dialog);
    translator.TranslateAll();
    QCOMPARE(label->text(), "T:" + long_text);
    QVERIFY(!empty->pixmap().isNull());  // a picture label has no text to translate
  }

  void aContextGivesItsOwnTranslationAndFallsBackToTheTexts() {
    QDialog dialog;
    auto* write = new QPushButton(QStringLiteral("设置"), &dialog);
    auto* exit = new QPushButton(QStringLiteral("退出"), &dialog);
    const TableLookup english({{"设置", "Connect"}, {"参数表|设置", "Write"}, {"退出", "Exit"}});
    RecordingMessages messages;
    rolta::ReCtlLangueStr translator(english, messages);
    translator.SetContext("参数表");
    translator.Attach(&dialog);
    translator.TranslateAll();
    QCOMPARE(write->text(), QStringLiteral("Write"));
    QCOMPARE(exit->text(), QStringLiteral("Exit"));
  }

  void qtsOwnTextsAreChineseInTheChineseConsole() {
    const rolta::IdentityLookup chinese;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("qtbase_zh_CN.*/no/such/folder")));
    QVERIFY(rolta::InstallQtTranslations(chinese, QStringLiteral("/no/such/folder")) == nullptr);
    QVERIFY(rolta::InstallQtTranslations(TableLookup({})) == nullptr);  // English needs none
    QDialogButtonBox english(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(english.button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));

    QTranslator* translator = rolta::InstallQtTranslations(chinese);
    QVERIFY2(translator != nullptr, "qtbase_zh_CN.qm (qt6-translations-l10n) is missing");
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    QStringList labels;
    for (const QLabel* label : files.findChildren<QLabel*>()) labels << label->text();
    QVERIFY2(labels.contains(QStringLiteral("查找范围：")), qPrintable(labels.join(QLatin1Char('|'))));
    QVERIFY2(!labels.filter(QStringLiteral("文件名称")).isEmpty(), qPrintable(labels.join(QLatin1Char('|'))));
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
};

QTEST_MAIN(ReCtlLangueStrTest)
#include "re_ctl_langue_str_test.moc"
