#include "console/ui/rolta_dlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "commands/catalogue.h"
#include "console/console_environment.h"
#include "readouts/console_texts.h"
#include "readouts/readouts.h"
#include "calib/ui/calib_tab.h"
#include "config/ui/hard_ch.h"
#include "config/ui/hard_info_list.h"
#include "config/ui/set_hard.h"
#include "console/ui/about_dlg.h"
#include "console/ui/anim_button.h"
#include "console/ui/console_tools.h"
#include "testline/ui/testline_ui.h"
#include "monitor/ui/line_monitor_dlg.h"
#include "console/ui/port_list.h"
#include "upgrade/ui/qt_upgrade_host.h"
#include "recording/ui/record_control.h"
#include "commands/ui/safety_dlg.h"
#include "env/ui/log_categories.h"
#include "env/shown_text.h"
#include "session/ui/status_line.h"
#include "widgets/ui/digistring.h"

namespace rolta {
namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The console's buttons: text (translated at start), tooltip (as it stands),
// handler and where the window keeps it.
struct ButtonRow {
  const char* text;
  const char* tooltip;
  void (CRoltaDlg::*handler)();
  QPushButton* ConsoleButtons::*member;
};
constexpr ButtonRow kConnectButton{"设置", "启动通讯", &CRoltaDlg::OnConnect, &ConsoleButtons::connect};
constexpr ButtonRow kCloseButton{"关闭", "关闭通讯", &CRoltaDlg::OnCloseChannel, &ConsoleButtons::close};
constexpr ButtonRow kExecuteButton{"执行", "执行当前指令", &CRoltaDlg::OnExecute, &ConsoleButtons::execute};
constexpr ButtonRow kToolsButtons[] = {
    {"工具", "其它工具", &CRoltaDlg::OnToolsPage, &ConsoleButtons::toolsPage},
    {"帮助", "操作提示", &CRoltaDlg::OnHelp, &ConsoleButtons::help},
};
constexpr ButtonRow kBottomButtons[] = {
    {"版本", "版本说明", &CRoltaDlg::OnVersionQuery, &ConsoleButtons::version},
    {"升级", "控制器升级", &CRoltaDlg::OnUpgrade, &ConsoleButtons::upgrade},
    {"急停", "紧急停止", &CRoltaDlg::OnEmergencyStop, &ConsoleButtons::emergencyStop},
    {"标定", "控制器标定", &CRoltaDlg::OnCalibration, &ConsoleButtons::calibration},
    {"标定向导", "标定向导", &CRoltaDlg::OnCalibrationAssistant, &ConsoleButtons::calibrationAssistant},
    {"退出", "退出ROLTA", &CRoltaDlg::OnExit, &ConsoleButtons::exit},
};

struct InputRow {
  CommandInput input;
  const char* label;
};
constexpr InputRow kControlInputs[] = {
    {CommandInput::ParamA, "恒速/恒功速度/a"},
    {CommandInput::ParamB, "恒力/加载/b"},
    {CommandInput::ParamM, "设定负荷/m"},
    {CommandInput::ParamC, "速度间隔L/c"},
};
constexpr InputRow kCoastInputs[] = {
    {CommandInput::StartSpeed, "起始速度"},
    {CommandInput::EndSpeed, "结束速度/间隔H"},
    {CommandInput::StartLoad, "起始负荷"},
    {CommandInput::EndLoad, "结束负荷"},
};

// Where each input field's text goes in the command's inputs.
struct TextInputField {
  CommandInput input;
  std::string CommandInputs::*text;
};
constexpr TextInputField kTextInputFields[] = {
    {CommandInput::ParamA, &CommandInputs::ParamA},         {CommandInput::ParamB, &CommandInputs::ParamB},
    {CommandInput::ParamM, &CommandInputs::ParamM},         {CommandInput::ParamC, &CommandInputs::ParamC},
    {CommandInput::StartSpeed, &CommandInputs::StartSpeed}, {CommandInput::EndSpeed, &CommandInputs::EndSpeed},
    {CommandInput::StartLoad, &CommandInputs::StartLoad},   {CommandInput::EndLoad, &CommandInputs::EndLoad},
};
constexpr CommandInput kFlywheelInputs[] = {CommandInput::Flywheel1, CommandInput::Flywheel2, CommandInput::Flywheel3,
                                            CommandInput::Flywheel4};

QString Translated(const TextLookup& texts, const char* text) { return QString::fromStdString(texts.Lookup(text)); }
QString Shown(const TextLookup& texts, std::string_view text) { return QString::fromStdString(ShownText(texts, text)); }

// Makes the button of `row` in `owner`, wired to its handler and kept in `buttons`.
QPushButton* MakeButton(const ButtonRow& row, CRoltaDlg& console, const TextLookup& texts, ConsoleButtons& buttons,
                        QWidget* owner) {
  auto* button = new QPushButton(Translated(texts, row.text), owner);
  button->setObjectName(QString::fromUtf8(row.text));
  button->setToolTip(Shown(texts, row.tooltip));
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, &console, row.handler);
  buttons.*row.member = button;
  return button;
}

// A group of labelled input fields, one line each, kept in `inputs`.
template <std::size_t N>
QGroupBox* MakeInputGroup(const char* title, const InputRow (&fields)[N], const TextLookup& texts,
                          std::array<QWidget*, kCommandInputCount>& inputs, QWidget* parent) {
  auto* group = new QGroupBox(Translated(texts, title), parent);
  auto* grid = new QGridLayout(group);
  int line = 0;
  for (const InputRow& field : fields) {
    auto* edit = new QLineEdit(group);
    edit->setObjectName(QString::fromUtf8(field.label));
    grid->addWidget(new QLabel(Shown(texts, field.label), group), line, 0);
    grid->addWidget(edit, line, 1);
    inputs[static_cast<std::size_t>(field.input)] = edit;
    ++line;
  }
  return group;
}

}  // namespace

CRoltaDlg::CRoltaDlg(ConsoleEnvironment& environment, HostServices services, QWidget* parent)
    : CBkDialog(parent),
      environment_(environment),
      texts_(environment.Texts()),
      boxes_(texts_, services.boxes),
      services_{boxes_, services.pump, services.keys},
      session_(texts_, *this, services_),
      paramsForm_(session_.Params(), texts_, boxes_, clock_),
      settingsPath_(SettingsFilePath()) {
  setWindowTitle(QString::fromStdString(ShownText(texts_, kConsoleTitle)));
  // Notifications come from the monitor thread; the receive handler runs here.
  session_.Port().SetNotifyCallback([this](std::uint32_t events) {
    QMetaObject::invokeMethod(
        this, [this, events] { OnCommNotify(events); }, Qt::QueuedConnection);
  });
  sincePresent_.start();
  presentTimer_.setSingleShot(true);
  connect(&presentTimer_, &QTimer::timeout, this, [this] { Present(); });
  // The bench's units, before any readout shows one.
  const BenchSettingsResult bench = LoadBenchSettings(BenchSettingsPath());
  UseBenchUnits(bench.units);

  BuildLayout();
  ApplyReadouts(InitialReadouts(texts_));
  ApplyInputsEnabled(InputSet{});

  portNames_ = environment_.SerialPortNames();
  for (const std::string& name : portNames_) portList_->addItem(QString::fromStdString(name));

  portList_->setCurrentIndex(portList_->count() > 0 ? 0 : -1);
  speedList_->setCurrentIndex(4);
  commandList_->setCurrentIndex(26);
  about_ = new CAboutDlg(environment_, this);
  about_->hide();
  CreateChildWindows();

  RestoreSelections();
  OnCommandSelChange();
  connect(commandList_, &QComboBox::currentIndexChanged, this, [this] { OnCommandSelChange(); });
  ShowLogo();
  buttons_.execute->setFocus();

  // The line's safety: our own settings file, the indicator's clock, the
  // port list asked again whenever it opens.
  session_.SetSafety(LoadSafetySettings(SafetySettingsPath()));
  if (!bench.problem.empty()) {
    boxes_.Show(
        {texts_.Lookup("台架设置有误，该项用默认单位") + "\n" + BenchSettingsPath().string() + ": " + bench.problem,
         texts_.Lookup("台架设置"), MessageIcon::Warning, MessageButtons::Ok});
  }
  autoReconnect_->setChecked(session_.Safety().autoReconnect);
  connect(autoReconnect_, &QCheckBox::toggled, this, [this](bool on) { SetAutoReconnect(on); });
  static_cast<CPortList*>(portList_)->SetBeforePopup([this] { RescanPorts(); });
  auto* linkTimer = new QTimer(this);
  connect(linkTimer, &QTimer::timeout, this, [this] { session_.Tick(); });
  linkTimer->start(200);
  ShowLinkState(session_.Indicator());
}

CRoltaDlg::~CRoltaDlg() {
  // The child windows refer to the exchanges, which go before Qt would
  // delete its children.
  delete setHard_;
  delete hardInfo_;
  delete calibTab_;
  delete calibrationWizard_;  // it observes the session
  delete hardCh_;
  delete lineMonitor_;  // it detaches from the session
  delete record_;       // it observes the session
  delete testLine_;     // it observes the session too
  session_.Params().SetListener(nullptr);
  session_.Upgrade().SetHost(nullptr);
  session_.RemoveServiceEvents(serviceHistory_->Recorder());
  // The monitor thread must be gone before the window it posts to.
  session_.Close();
}

void CRoltaDlg::CreateChildWindows() {
  setHard_ = new CSetHard(paramsForm_, texts_, boxes_, this);
  setHard_->hide();
  hardInfo_ = new CHardInfoList(session_.Params(), texts_, boxes_, environment_.PicturePath(), this);
  hardInfo_->hide();
  session_.Params().SetListener(this);
  calibTab_ = new CCalibTab(session_.Calib(), texts_, boxes_, environment_.PicturePath(), this);
  calibTab_->hide();
  calibrationWizard_ = new CCalibrationWizard(session_, texts_, boxes_, this);
  calibrationWizard_->hide();
  hardCh_ = new CHardCH(session_.ChannelMap(), texts_, boxes_, this);
  hardCh_->hide();
  tools_ = new CConsoleTools(session_.Port(), texts_, boxes_, this);
  QWidget* toolsGroup = buttons_.toolsPage->parentWidget();
  static_cast<QBoxLayout*>(toolsGroup->layout())->insertWidget(0, tools_->AnimatedButton());
  lineMonitor_ = new CLineMonitorDlg(session_, texts_, boxes_, this);
  lineMonitor_->hide();
  InstallLineMonitorOpeners(*this, toolsGroup, *lineMonitor_, texts_);
  // The history hears of a change before the test line does.
  serviceHistory_ = std::make_unique<ConsoleServiceHistory>(texts_, boxes_, this);
  session_.AddServiceEvents(serviceHistory_->Recorder());
  testLine_ = new CTestLine(session_, texts_, boxes_, toolsGroup, this);
  testLine_->WatchRecording([this] { return std::pair(record_->Recording(), record_->LastFile().string()); });
  upgradeHost_ = std::make_unique<QtUpgradeHost>(
      QtUpgradeHost::Wiring{progress_,
                            {buttons_.upgrade, buttons_.execute},
                            [this](const std::string& text) { ShowStatusLine(ShownText(texts_, text)); },
                            [this](std::uint8_t code) { session_.Executor().SendShort(code); },
                            this},
      services_);
  session_.Upgrade().SetHost(upgradeHost_.get());
  record_->SetCoastAnalysedObserver([this](const CoastAnalysis& analysis, double massKg) {
    if (HistoryRecorder* recorder = serviceHistory_->Recorder()) recorder->RecordCoastDown(analysis, massKg);
    if (TestLinePublisher* publisher = testLine_->Publisher()) {
      publisher->PublishEvent("coast-down", CoastDownEventJson(analysis, massKg));
    }
  });
  // Every assistant run, passed or not, is kept: the history window makes its certificate.
  calibrationWizard_->SetRunObserver([this](const CalibrationRun& run) {
    if (HistoryRecorder* recorder = serviceHistory_->Recorder()) recorder->RecordCalibrationRun(run);
  });
}

void CRoltaDlg::BuildLayout() {
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(14, 12, 14, 10);
  BuildTitle(*top);
  BuildReadouts(*top);
  BuildCommandRow(*top);
  BuildLowerRow(*top);
  BuildStatusRow(*top);
  BuildBottomRow(*top);
  // The window has no frame to drag its size from; the grip stands in.
  setSizeGripEnabled(true);
}

void CRoltaDlg::BuildTitle(QBoxLayout& top) {
  auto* titleBar = new QLabel(Shown(texts_, kConsoleTitle), this);
  titleBar->setStyleSheet(QStringLiteral("font-size: 15pt; font-weight: bold; color: #1d3557;"));
  top.addWidget(titleBar);
}

void CRoltaDlg::BuildReadouts(QBoxLayout& top) {
  auto* readoutRow = new QHBoxLayout;
  std::array<QGroupBox*, kReadoutCount> frames{};
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    auto* frame = new QGroupBox(this);
    auto* display = new CDigistring(frame);
    display->setMinimumSize(200, 64);
    // The readouts take the room a larger window gives.
    display->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(display);
    readouts_[i] = {frame, display};
    frames[i] = frame;
    readoutRow->addWidget(frame);
  }
  top.addLayout(readoutRow, 1);
  captions_ = new CReadoutCaptions(frames, texts_, this);
}

// The control inputs, the link and the command list above each other, the
// coast-down inputs.
void CRoltaDlg::BuildCommandRow(QBoxLayout& top) {
  auto* middle = new QHBoxLayout;
  middle->addWidget(MakeInputGroup("控制参数", kControlInputs, texts_, inputs_, this));
  auto* commandColumn = new QVBoxLayout;
  commandColumn->addWidget(BuildLinkGroup());
  commandColumn->addWidget(BuildCommandGroup());
  middle->addLayout(commandColumn, 1);
  middle->addWidget(MakeInputGroup("滑行参数", kCoastInputs, texts_, inputs_, this));
  top.addLayout(middle);
}

QGroupBox* CRoltaDlg::BuildLinkGroup() {
  auto* linkGroup = new QGroupBox(Translated(texts_, "通讯设置"), this);
  auto* linkLayout = new QGridLayout(linkGroup);
  portList_ = new CPortList(linkGroup);
  portList_->setObjectName(QStringLiteral("portList"));
  speedList_ = new QComboBox(linkGroup);
  speedList_->setObjectName(QStringLiteral("speedList"));
  for (const SpeedChoice& speed : kSpeedList) speedList_->addItem(Q(speed.text));
  linkLayout->addWidget(portList_, 0, 0);
  linkLayout->addWidget(speedList_, 0, 1);
  linkLayout->addWidget(MakeButton(kConnectButton, *this, texts_, buttons_, linkGroup), 1, 0);
  linkLayout->addWidget(MakeButton(kCloseButton, *this, texts_, buttons_, linkGroup), 1, 1);
  autoReconnect_ = new QCheckBox(Translated(texts_, "自动重连"), linkGroup);
  autoReconnect_->setObjectName(QStringLiteral("autoReconnect"));
  linkLayout->addWidget(autoReconnect_, 2, 0, 1, 2);
  return linkGroup;
}

QGroupBox* CRoltaDlg::BuildCommandGroup() {
  auto* commandGroup = new QGroupBox(Translated(texts_, "指令区"), this);
  auto* commandRows = new QVBoxLayout(commandGroup);
  auto* commandLayout = new QHBoxLayout;
  commandList_ = new QComboBox(commandGroup);
  commandList_->setObjectName(QStringLiteral("commandList"));
  commandList_->setMaxVisibleItems(20);
  search_ = new CCommandSearch(
      commandList_, texts_, [this] { buttons_.execute->click(); }, commandGroup);
  commandRows->addWidget(search_->Field());
  commandRows->addLayout(commandLayout);
  commandLayout->addWidget(commandList_, 1);
  commandLayout->addWidget(MakeButton(kExecuteButton, *this, texts_, buttons_, commandGroup));
  return commandGroup;
}

void CRoltaDlg::BuildLowerRow(QBoxLayout& top) {
  auto* lower = new QHBoxLayout;
  lower->addWidget(BuildFlywheelGroup());
  lower->addWidget(BuildToolsGroup());
  record_ = new CRecordControl(session_, texts_, boxes_, this);
  lower->addWidget(record_);
  lower->addStretch(1);
  top.addLayout(lower);
}

QGroupBox* CRoltaDlg::BuildFlywheelGroup() {
  auto* flywheelGroup = new QGroupBox(Shown(texts_, "飞轮组"), this);
  // Two by two, so the row below the inputs stays narrower than a 1280-pixel
  // screen in every language.
  auto* flywheelLayout = new QGridLayout(flywheelGroup);
  for (std::size_t i = 0; i < std::size(kFlywheelInputs); ++i) {
    const std::string name = "飞轮" + std::to_string(i + 1);
    auto* box = new QCheckBox(Shown(texts_, name), flywheelGroup);
    box->setObjectName(QString::fromStdString(name));
    inputs_[static_cast<std::size_t>(kFlywheelInputs[i])] = box;
    flywheelLayout->addWidget(box, static_cast<int>(i / 2), static_cast<int>(i % 2));
  }
  return flywheelGroup;
}

QGroupBox* CRoltaDlg::BuildToolsGroup() {
  auto* toolsGroup = new QGroupBox(Translated(texts_, "工具"), this);
  auto* toolsLayout = new QHBoxLayout(toolsGroup);
  for (const ButtonRow& row : kToolsButtons) {
    toolsLayout->addWidget(MakeButton(row, *this, texts_, buttons_, toolsGroup));
  }
  return toolsGroup;
}

// The status line, the link's state and the upgrade's progress (hidden until
// an upgrade runs).
void CRoltaDlg::BuildStatusRow(QBoxLayout& top) {
  auto* statusRow = new QHBoxLayout;
  statusRow->addWidget(new QLabel(Shown(texts_, "状态:"), this));
  statusText_ = new CStatusLine(this);
  statusText_->setObjectName(QStringLiteral("statusText"));
  statusText_->setText(QStringLiteral("-"));
  statusRow->addWidget(statusText_, 1);
  linkIndicator_ = new QLabel(this);
  linkIndicator_->setObjectName(QStringLiteral("linkIndicator"));
  statusRow->addWidget(linkIndicator_, 1);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("upgradeProgress"));
  statusRow->addWidget(progress_, 1);
  progress_->setRange(0, 102);
  progress_->setValue(0);
  progress_->hide();
  progress_->setEnabled(false);
  top.addLayout(statusRow);
}

void CRoltaDlg::BuildBottomRow(QBoxLayout& top) {
  auto* bottom = new QHBoxLayout;
  for (const ButtonRow& row : kBottomButtons) bottom->addWidget(MakeButton(row, *this, texts_, buttons_, this));
  bottom->addStretch(1);
  logo_ = new QLabel(this);
  logo_->setObjectName(QStringLiteral("logo"));
  bottom->addWidget(logo_);
  top.addLayout(bottom);
}

void CRoltaDlg::RestoreSelections() {
  const std::optional<ConsoleSettings> stored = LoadSettings(settingsPath_);
  settings_ = stored.value_or(kDefaultSettings);
  // An index that passed the range check but lies beyond its list selects nothing.
  auto select = [](QComboBox* list, int index) { list->setCurrentIndex(index < list->count() ? index : -1); };
  select(speedList_, settings_.speedIndex);
  select(portList_, settings_.portIndex);
  select(commandList_, settings_.commandIndex);
  session_.Executor().SetCommandIndex(settings_.commandIndex);
}

void CRoltaDlg::ShowLogo() {
  const std::string path = environment_.PicturePath();
  QPixmap picture;
  if (!path.empty() && QFileInfo::exists(QString::fromStdString(path))) {
    picture.load(QString::fromStdString(path));
  }
  if (picture.isNull()) {
    // The built-in logo.
    picture = QPixmap(150, 40);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(29, 53, 87));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(picture.rect(), 6, 6);
    painter.setPen(QColor(168, 218, 220));
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSize(16);
    painter.setFont(font);
    painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("ROLTA"));
  } else {
    picture = picture.scaled(150, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  logo_->setPixmap(picture);
}

QLineEdit* CRoltaDlg::Edit(CommandInput input) const { return qobject_cast<QLineEdit*>(Input(input)); }

QCheckBox* CRoltaDlg::Flywheel(int index) const {
  return qobject_cast<QCheckBox*>(Input(kFlywheelInputs[static_cast<std::size_t>(index)]));
}

CommandInputs CRoltaDlg::ReadInputs() const {
  CommandInputs inputs;
  for (const TextInputField& field : kTextInputFields) inputs.*field.text = Edit(field.input)->text().toStdString();
  for (std::size_t i = 0; i < inputs.Flywheels.size(); ++i) {
    inputs.Flywheels[i] = Flywheel(static_cast<int>(i))->isChecked();
  }
  return inputs;
}

void CRoltaDlg::ApplyInputsEnabled(InputSet enabled) {
  for (std::size_t i = 0; i < kCommandInputCount; ++i) {
    inputs_[i]->setEnabled(enabled.Has(static_cast<CommandInput>(i)));
  }
}

void CRoltaDlg::ApplyReadouts(const ReadoutUpdate& update) {
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    if (update[i].caption) captions_->SetCaption(i, QString::fromStdString(*update[i].caption));
    if (update[i].text) readouts_[i].display->SetText(*update[i].text);
  }
}

void CRoltaDlg::OnConnect() {
  const int port = portList_->currentIndex();
  const std::uint32_t baud = BaudFromSpeedIndex(speedList_->currentIndex());
  // Without a port there is nothing to open; the channel stays closed.
  if (port >= 0 && static_cast<std::size_t>(port) < portNames_.size()) {
    const std::string& name = portNames_[static_cast<std::size_t>(port)];
    if (!session_.Open(name, baud)) {
      boxes_.Show(OpenFailureMessage(texts_, name, session_.OpenError()));
    }
  }
  buttons_.connect->setEnabled(false);
}

void CRoltaDlg::OnCloseChannel() {
  session_.Close();
  buttons_.connect->setEnabled(true);
}

void CRoltaDlg::OnExit() {
  if (about_) about_->deleteLater();
  tools_->AnimatedButton()->StopAnimation();
  session_.Close();
  settings_.speedIndex = speedList_->currentIndex();
  settings_.portIndex = portList_->currentIndex();
  settings_.commandIndex = commandList_->currentIndex();
  SaveSettings(settingsPath_, settings_);
  done(QDialog::Accepted);
}

void CRoltaDlg::OnAbout() {
  CAboutDlg box(environment_, this);
  box.exec();
}

void CRoltaDlg::OnExecute() {
  // A refused field gets the focus so the operator can correct it at once.
  if (const std::optional<CommandInput> field = session_.ExecuteChecked(commandList_->currentIndex(), ReadInputs())) {
    if (QWidget* input = Input(*field)) input->setFocus();
  }
}

void CRoltaDlg::OnCommandSelChange() { ApplyInputsEnabled(InputsEnabledFor(commandList_->currentIndex())); }

void CRoltaDlg::OnEmergencyStop() { session_.EmergencyStop(); }

void CRoltaDlg::OnVersionQuery() { session_.QueryVersion(); }

void CRoltaDlg::OnUpgrade() { session_.Upgrade().OnUpgrade(); }

void CRoltaDlg::OnCalibration() { calibTab_->OnWorkingTableChanged(); }

void CRoltaDlg::OnCalibrationAssistant() {
  calibrationWizard_->hide();
  calibrationWizard_->show();
}

void CRoltaDlg::OnToolsPage() { tools_->OnToolsPage(); }

void CRoltaDlg::OnHelp() { tools_->OnHelp(); }

void CRoltaDlg::OnLineMonitor() { lineMonitor_->BringUp(); }

void CRoltaDlg::OnCommNotify(std::uint32_t events) {
  session_.OnCommNotify(events);
  // While frames stream, a due present rides on a notification instead of
  // waking the window thread for a timer of its own.
  if (presentTimer_.isActive() && sincePresent_.elapsed() >= kPresentIntervalMs) Present();
}

void CRoltaDlg::reject() {}

void CRoltaDlg::closeEvent(QCloseEvent* event) { event->ignore(); }

void CRoltaDlg::contextMenuEvent(QContextMenuEvent* event) {
  // Stands in for the system menu the caption bar would carry.
  QMenu menu(this);
  menu.addAction(QString::fromStdString(ShownText(texts_, "关于 ROLTA(&A)...")), this, &CRoltaDlg::OnAbout);
  menu.addAction(QString::fromStdString(texts_.Lookup("安全设置")) + QStringLiteral("..."), this,
                 &CRoltaDlg::OnSafetySettings);
  menu.addAction(QString::fromStdString(texts_.Lookup(kLineMonitorTitle)), QKeySequence(kLineMonitorShortcut), this,
                 &CRoltaDlg::OnLineMonitor);
  menu.addAction(QString::fromStdString(texts_.Lookup("服务记录")) + QStringLiteral("..."), this,
                 &CRoltaDlg::OnServiceHistory);
  menu.exec(event->globalPos());
}

void CRoltaDlg::OnServiceHistory() { serviceHistory_->ShowWindow(); }

void CRoltaDlg::ShowStatusLine(const std::string& text) { statusText_->setText(QString::fromStdString(text)); }

void CRoltaDlg::ShowReadouts(const ReadoutUpdate& update) { ApplyReadouts(update); }

void CRoltaDlg::ShowControllerVersion(const ControllerVersionTexts& texts) {
  about_->SetControllerVersion(texts);
  about_->BringUp();
}

void CRoltaDlg::RequestPresent() {
  // At most about 30 repaints a second, as smooth as a readout can be read
  // and half the painting of one per screen refresh; a burst of frames shows
  // its latest values once. The timer is the fallback for a line that went
  // quiet: while frames stream, the next notification presents first.
  constexpr qint64 kQuietLineGraceMs = 10;
  const qint64 wait = kPresentIntervalMs - sincePresent_.elapsed();
  presentTimer_.start(static_cast<int>(wait > 0 ? wait + kQuietLineGraceMs : 0));
}

void CRoltaDlg::Present() {
  presentTimer_.stop();
  sincePresent_.restart();
  session_.Present();
  tools_->AnimatedButton()->StepIfDue();
}

void CRoltaDlg::OnChannelClosed() { buttons_.connect->setEnabled(true); }

void CRoltaDlg::StartExternalProgram(const std::string& path) {
  // The operator is not told (the external programs are optional); support finds it in the log.
  if (!QProcess::startDetached(QString::fromStdString(path), {})) {
    qCWarning(lcUi).noquote() << "the external program" << QString::fromStdString(path) << "could not be started";
  }
}

std::string CRoltaDlg::CurrentDirectory() const { return QDir::currentPath().toStdString(); }

void CRoltaDlg::ShowChannelMapWindow() {
  if (hardCh_) hardCh_->BringUp();
}

void CRoltaDlg::ShowLinkState(const LinkIndicator& indicator) {
  static constexpr const char* kStyles[] = {
      "color: #1d3557;",                                                        // normal
      "color: #8a5a00; font-weight: bold;",                                     // warning
      "color: white; background: #b00020; font-weight: bold; padding: 0 4px;",  // alarm
  };
  linkIndicator_->setText(QString::fromStdString(indicator.text));
  // The rate in the text changes a few times a second; a new style sheet
  // polishes the label again, so it is set only when the severity changes.
  const QString style = QString::fromUtf8(kStyles[static_cast<std::size_t>(indicator.severity)]);
  if (linkIndicator_->styleSheet() != style) linkIndicator_->setStyleSheet(style);
  for (const Readout& readout : readouts_) readout.display->SetStale(indicator.readoutsStale);
}

void CRoltaDlg::OnChannelReopened() { buttons_.connect->setEnabled(false); }

void CRoltaDlg::SetAutoReconnect(bool on) {
  SafetySettings settings = session_.Safety();
  if (settings.autoReconnect == on) return;
  settings.autoReconnect = on;
  session_.SetSafety(settings);
  SaveSafetySettings(SafetySettingsPath(), settings);
}

void CRoltaDlg::OnSafetySettings() {
  CSafetyDlg dialog(session_.Safety(), texts_, boxes_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  session_.SetSafety(dialog.Settings());
  autoReconnect_->setChecked(dialog.Settings().autoReconnect);
  if (!SaveSafetySettings(SafetySettingsPath(), dialog.Settings())) {
    boxes_.Show({texts_.Lookup("无法保存安全设置") + ": " + SafetySettingsPath().string(), texts_.Lookup("安全设置"),
                 MessageIcon::Warning, MessageButtons::Ok});
  }
}

void CRoltaDlg::RescanPorts() {
  const QString current = portList_->currentText();
  portNames_ = environment_.SerialPortNames();
  const QSignalBlocker quiet(portList_);
  portList_->clear();
  for (const std::string& name : portNames_) portList_->addItem(QString::fromStdString(name));
  // The chosen port stays chosen while it is there.
  const int again = portList_->findText(current);
  portList_->setCurrentIndex(again >= 0 ? again : (portList_->count() > 0 ? 0 : -1));
}

void CRoltaDlg::ShowParamsSummary() { hardInfo_->Refresh(); }

void CRoltaDlg::ShowParamsForm() { setHard_->Refresh(); }

}  // namespace rolta
