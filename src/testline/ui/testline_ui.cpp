#include "testline/ui/testline_ui.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <charconv>

#include "testline/line_table.h"
#include "testline/testline_messages.h"

namespace rolta {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

template <typename Number>
std::optional<Number> NumberIn(const std::string& text, Number low, Number high) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
  return value;
}

constexpr auto kPollPeriodMs = 100;
constexpr auto kRefreshPeriodMs = 500;

}  // namespace

CTestLineSettingsDlg::CTestLineSettingsDlg(const TextLookup& texts, MessageBoxService& boxes, QWidget* parent)
    : QDialog(parent), texts_(texts), boxes_(boxes) {
  setWindowTitle(Q(texts_.Lookup("测试线设置")));
  auto* form = new QFormLayout(this);
  enabled_ = new QCheckBox(Q(texts_.Lookup("发布本台架")), this);
  form->addRow(enabled_);
  const auto field = [&](const char* label, QLineEdit*& edit) {
    edit = new QLineEdit(this);
    edit->setObjectName(QString::fromUtf8(label));
    form->addRow(Q(texts_.Lookup(label)), edit);
  };
  field("服务器", host_);
  field("端口", port_);
  field("CA 证书文件", caFile_);
  field("客户端证书", certFile_);
  field("客户端密钥", keyFile_);
  field("用户名", username_);
  field("密码", password_);
  password_->setEchoMode(QLineEdit::Password);
  field("主题前缀", prefix_);
  field("台架名称", bench_);
  field("实时数据 (次/秒)", liveRate_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(Q(texts_.Lookup("确定")), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q(texts_.Lookup("取消")), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

void CTestLineSettingsDlg::Show(const TestLineSettings& s) {
  enabled_->setChecked(s.enabled);
  host_->setText(Q(s.host));
  port_->setText(QString::number(s.port));
  caFile_->setText(Q(s.caFile));
  certFile_->setText(Q(s.certFile));
  keyFile_->setText(Q(s.keyFile));
  username_->setText(Q(s.username));
  password_->setText(Q(s.password));
  prefix_->setText(Q(s.topicPrefix));
  bench_->setText(Q(s.benchName));
  liveRate_->setText(Q(FormatFixed(s.liveRate, 1)));
  show();
  raise();
}

std::optional<TestLineSettings> CTestLineSettingsDlg::Entered() {
  TestLineSettings s;
  s.enabled = enabled_->isChecked();
  s.host = S(host_);
  s.caFile = S(caFile_);
  s.certFile = S(certFile_);
  s.keyFile = S(keyFile_);
  s.username = S(username_);
  s.password = password_->text().toStdString();
  s.topicPrefix = S(prefix_);
  s.benchName = S(bench_);
  const std::optional<int> port = NumberIn(S(port_), 1, 65535);
  const std::optional<double> rate = NumberIn(S(liveRate_), kMinLiveRate, kMaxLiveRate);
  QLineEdit* bad = !port                                                       ? port_
                   : !rate                                                     ? liveRate_
                   : s.topicPrefix.empty() || !IsValidBenchName(s.topicPrefix) ? prefix_
                   : !IsValidBenchName(s.benchName)                            ? bench_
                   : s.host.empty()                                            ? host_
                                                                               : nullptr;
  if (bad != nullptr) {
    boxes_.Show({texts_.Lookup("该项无效") + ": " + texts_.Lookup(bad->objectName().toStdString()),
                 texts_.Lookup("测试线设置"), MessageIcon::Warning, MessageButtons::Ok});
    bad->setFocus();
    return std::nullopt;
  }
  s.port = *port;
  s.liveRate = *rate;
  return s;
}

void CTestLineSettingsDlg::accept() {
  const std::optional<TestLineSettings> entered = Entered();
  if (!entered) return;
  const bool saved = SaveTestLineSettings(TestLineSettingsPath(), *entered) && PasswordStore().Save(entered->password);
  if (!saved) {
    boxes_.Show({texts_.Lookup("保存失败") + ": " + TestLineSettingsPath().string(), texts_.Lookup("测试线设置"),
                 MessageIcon::Warning, MessageButtons::Ok});
    return;
  }
  QDialog::accept();
}

CTestLineWindow::CTestLineWindow(const TextLookup& texts, QWidget* parent) : QDialog(parent), texts_(texts) {
  setWindowTitle(Q(texts_.Lookup(kTestLineTitle)));
  auto* layout = new QVBoxLayout(this);
  const std::vector<std::string_view> captions = LineTableCaptions();
  table_ = new QTableWidget(0, static_cast<int>(captions.size()), this);
  QStringList headers;
  for (std::string_view caption : captions) headers << Q(texts_.Lookup(caption));
  table_->setHorizontalHeaderLabels(headers);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_);
  auto* lower = new QHBoxLayout;
  connection_ = new QLabel(this);
  lower->addWidget(connection_, 1);
  auto* settings = new QPushButton(Q(texts_.Lookup("测试线设置")), this);
  settings->setAutoDefault(false);
  connect(settings, &QPushButton::clicked, this, &CTestLineWindow::SettingsWanted);
  lower->addWidget(settings);
  layout->addLayout(lower);
  resize(760, 300);
  connect(&refresh_, &QTimer::timeout, this, &CTestLineWindow::Refresh);
}

void CTestLineWindow::BringUp() {
  // A new subscription each time, with the settings as they are now.
  subscriber_ = std::make_unique<LineSubscriber>(LoadTestLineSettingsWithPassword());
  std::string error;
  const bool started = subscriber_->Start(&error);
  connection_->setText(started ? QString() : Q(texts_.Lookup("测试线不可用") + ": " + error));
  if (!started) subscriber_.reset();
  refresh_.start(kRefreshPeriodMs);
  show();
  raise();
  activateWindow();
  Refresh();
}

void CTestLineWindow::Refresh() {
  if (!subscriber_) return;
  if (!connection_->text().isEmpty() || !subscriber_->Connected()) {
    connection_->setText(subscriber_->Connected() ? QString() : Q(texts_.Lookup("未连接到服务器")));
  }
  const std::vector<BenchRow> rows = subscriber_->Rows();
  const std::int64_t now = WallClockMs();
  table_->setRowCount(static_cast<int>(rows.size()));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::vector<std::string> cells = LineTableCells(rows[r], now, texts_);
    for (std::size_t c = 0; c < cells.size(); ++c) {
      QTableWidgetItem* item = table_->item(static_cast<int>(r), static_cast<int>(c));
      if (item == nullptr) {
        item = new QTableWidgetItem;
        table_->setItem(static_cast<int>(r), static_cast<int>(c), item);
      }
      item->setText(Q(cells[c]));
    }
  }
}

void CTestLineWindow::hideEvent(QHideEvent* event) {
  refresh_.stop();
  subscriber_.reset();
  QDialog::hideEvent(event);
}

CTestLine::CTestLine(ControllerSession& session, const TextLookup& texts, MessageBoxService& boxes, QWidget* toolsGroup,
                     QWidget* parent)
    : QObject(parent), session_(session), texts_(texts), boxes_(boxes) {
  window_ = new CTestLineWindow(texts_, parent);
  window_->hide();
  settingsDlg_ = new CTestLineSettingsDlg(texts_, boxes_, parent);
  settingsDlg_->hide();
  connect(window_, &CTestLineWindow::SettingsWanted, this,
          [this] { settingsDlg_->Show(LoadTestLineSettingsWithPassword()); });
  connect(settingsDlg_, &QDialog::accepted, this, [this] {
    ApplySettings();
    if (window_->isVisible()) window_->BringUp();
  });
  if (toolsGroup != nullptr && toolsGroup->layout() != nullptr) {
    auto* button = new QPushButton(Q(texts_.Lookup(kTestLineTitle)), toolsGroup);
    button->setObjectName(QString::fromUtf8(kTestLineTitle));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, window_, &CTestLineWindow::BringUp);
    toolsGroup->layout()->addWidget(button);
  }
  connect(&poll_, &QTimer::timeout, this, &CTestLine::Poll);
  ApplySettings();
}

CTestLine::~CTestLine() { publishing_.reset(); }

void CTestLine::ApplySettings() {
  publishing_.reset();
  poll_.stop();
  const TestLineSettings settings = LoadTestLineSettingsWithPassword();
  if (!settings.enabled) return;
  recording_ = false;  // said again to the new publisher at the next poll
  nameFollowsPort_ = settings.benchName.empty();
  namedForPort_ = session_.PortName();
  poll_.start(kPollPeriodMs);
  if (nameFollowsPort_ && namedForPort_.empty()) return;  // named once a port is opened
  publishing_ = std::make_unique<BenchPublishing>(session_, settings, std::string());
  if (std::string error; !publishing_->Start(&error)) {
    publishing_.reset();
    poll_.stop();
    boxes_.Show({texts_.Lookup("测试线不可用") + ": " + error, texts_.Lookup(kTestLineTitle), MessageIcon::Warning,
                 MessageButtons::Ok});
  }
}

void CTestLine::Poll() {
  if (nameFollowsPort_ && !session_.PortName().empty() && (!publishing_ || session_.PortName() != namedForPort_)) {
    ApplySettings();
  }
  if (!publishing_) return;
  if (recordingProbe_) {
    const auto [recording, file] = recordingProbe_();
    if (recording != recording_) {
      recording_ = recording;
      publishing_->SetRecording(recording, recording ? std::string() : file);
    }
  }
  publishing_->Poll();
}

}  // namespace rolta
