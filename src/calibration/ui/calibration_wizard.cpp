#include "calibration/ui/calibration_wizard.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <charconv>
#include <utility>
#include <cmath>

#include "calibration/calibration_math.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

using Clock = CalibrationAssistant::Clock;

// The kinds of reference, as CalibrationReference names them.
struct ReferenceKindRow {
  const char* caption;
  const char* kind;
};
constexpr ReferenceKindRow kReferenceKinds[] = {
    {"砝码", "weights"},
    {"参考仪表", "instrument"},
    {"输入力值", "typed"},
};

constexpr const char* kPointColumns[] = {"参考值", "电压(V)", "波动(V)", "示值", "误差(%FS)", "U(k=2)", "结论"};

QString Q(const std::string& text) { return QString::fromStdString(text); }

// "0, 500; 1000 1500": numbers between commas, semicolons or blanks; "."
// is the decimal point whatever the desktop's locale.
std::optional<std::vector<double>> ParseNumbers(const std::string& text) {
  std::vector<double> numbers;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ',' || text[i] == ';' || std::isspace(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (error != std::errc{} || !std::isfinite(value)) return std::nullopt;
    const std::size_t next = static_cast<std::size_t>(end - text.data());
    if (next < text.size() && text[next] != ',' && text[next] != ';' &&
        !std::isspace(static_cast<unsigned char>(text[next]))) {
      return std::nullopt;
    }
    numbers.push_back(value);
    i = next;
  }
  return numbers;
}

}  // namespace

CCalibrationWizard::CCalibrationWizard(ControllerSession& session, const TextLookup& texts, MessageBoxService& boxes,
                                       QWidget* parent)
    : QDialog(parent),
      session_(session),
      texts_(texts),
      boxes_(boxes),
      settings_(LoadCalibrationSettings(CalibrationSettingsPath()).settings),
      assistant_(session, texts) {
  KeepOnScreen(this);
  setWindowTitle(T("标定向导"));
  setObjectName(QStringLiteral("calibrationWizard"));
  auto* top = new QVBoxLayout(this);

  auto* identity = new QGroupBox(T("标识"), this);
  auto* grid = new QGridLayout(identity);
  auto field = [&](const char* label, int row, int column, QWidget* widget) {
    grid->addWidget(new QLabel(T(label), identity), row, column * 2);
    grid->addWidget(widget, row, column * 2 + 1);
    widget->setObjectName(QString::fromUtf8(label));
  };
  const ServiceIdentity service = LoadServiceIdentity(ServiceIdentityPath());
  traceability_ = service.traceability;
  bench_ = new QLineEdit(Q(service.bench), identity);
  engineer_ = new QLineEdit(Q(service.engineer), identity);
  channel_ = new QComboBox(identity);
  for (const CalibrationChannelRow& row : CalibrationChannels()) {
    channel_->addItem(T(CalibChannelInfo(row.channel).fetchCaption.data()) + " (" + Q(std::string(row.name)) + ")");
  }
  serial_ = new QLineEdit(identity);
  referenceKind_ = new QComboBox(identity);
  for (const ReferenceKindRow& row : kReferenceKinds) referenceKind_->addItem(T(row.caption));
  referenceKind_->setCurrentIndex(2);
  referenceDescription_ = new QLineEdit(identity);
  certificate_ = new QLineEdit(identity);
  uncertainty_ = new QLineEdit(QStringLiteral("0"), identity);
  loads_ = new QLineEdit(QStringLiteral("0, 500, 1000, 1500, 2000"), identity);
  tolerance_ = new QLineEdit(Q(FixedText(settings_.tolerancePercentFullScale, 3)), identity);
  field("台架", 0, 0, bench_);
  field("工程师", 0, 1, engineer_);
  field("通道", 1, 0, channel_);
  field("传感器编号", 1, 1, serial_);
  field("参考类型", 2, 0, referenceKind_);
  field("参考说明", 2, 1, referenceDescription_);
  field("证书编号", 3, 0, certificate_);
  field("参考不确定度(k=2)", 3, 1, uncertainty_);
  field("参考载荷(砝码为kg)", 4, 0, loads_);
  field("允差(%FS)", 4, 1, tolerance_);
  top->addWidget(identity);

  auto* buttons = new QHBoxLayout;
  start_ = new QPushButton(T("开始"), this);
  continue_ = new QPushButton(T("继续"), this);
  abort_ = new QPushButton(T("中止"), this);
  for (QPushButton* button : {start_, continue_, abort_}) {
    button->setAutoDefault(false);
    buttons->addWidget(button);
  }
  buttons->addStretch(1);
  top->addLayout(buttons);
  connect(start_, &QPushButton::clicked, this, &CCalibrationWizard::OnStart);
  connect(continue_, &QPushButton::clicked, this, &CCalibrationWizard::OnContinue);
  connect(abort_, &QPushButton::clicked, this, &CCalibrationWizard::OnAbort);

  instruction_ = new QLabel(this);
  instruction_->setObjectName(QStringLiteral("instruction"));
  instruction_->setWordWrap(true);
  live_ = new QLabel(this);
  live_->setObjectName(QStringLiteral("liveReading"));
  top->addWidget(instruction_);
  top->addWidget(live_);

  auto makeTable = [this, top](QLabel*& title, const char* name) {
    title = new QLabel(T(name), this);
    auto* table = new QTableWidget(0, static_cast<int>(std::size(kPointColumns)), this);
    QStringList headers;
    for (const char* column : kPointColumns) headers << T(column);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    top->addWidget(title);
    top->addWidget(table, 1);
    return table;
  };
  asFound_ = makeTable(asFoundTitle_, "校前");
  asLeft_ = makeTable(asLeftTitle_, "校后");
  result_ = new QLabel(this);
  result_->setObjectName(QStringLiteral("result"));
  result_->setWordWrap(true);
  top->addWidget(result_);

  assistant_.SetRunObserver([this](const CalibrationRun& run) {
    if (runObserver_) runObserver_(run);
  });
  // Frames may come hundreds a second: the window is redrawn at the timer's pace.
  assistant_.SetChangeObserver([this] { changed_ = true; });
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &CCalibrationWizard::Tick);
  timer_->start(50);
  resize(760, 640);
  Refresh();
}

CCalibrationWizard::~CCalibrationWizard() {
  assistant_.SetChangeObserver({});
  assistant_.Abort(Clock::now());
}

QString CCalibrationWizard::T(const char* text) const { return QString::fromStdString(texts_.Lookup(text)); }

void CCalibrationWizard::Refuse(const std::string& text) {
  boxes_.Show({text, "标定向导", MessageIcon::Warning, MessageButtons::Ok});
}

std::optional<std::vector<double>> CCalibrationWizard::References(CalibChannel channel) {
  std::optional<std::vector<double>> numbers = ParseNumbers(loads_->text().toStdString());
  if (!numbers) {
    Refuse("参考载荷应为以逗号分隔的数字。");
    return std::nullopt;
  }
  const bool weights = std::string_view(kReferenceKinds[std::max(0, referenceKind_->currentIndex())].kind) == "weights";
  if (!weights) return numbers;
  if (CalibrationChannelOf(channel)->referenceHint != "weights") {
    Refuse("砝码只用于力通道。");
    return std::nullopt;
  }
  for (double& mass : *numbers) {
    const std::optional<double> force = ForceFromMassDaN(mass, settings_);
    if (!force) {
      Refuse(texts_.Lookup("标定臂长度与滚筒半径未设置：") + " " + CalibrationSettingsPath().string());
      return std::nullopt;
    }
    mass = *force;
  }
  return numbers;
}

void CCalibrationWizard::OnStart() {
  const int index = channel_->currentIndex();
  if (index < 0) return;
  const CalibrationChannelRow& channel = CalibrationChannels()[static_cast<std::size_t>(index)];
  const std::optional<std::vector<double>> references = References(channel.channel);
  if (!references) return;
  const std::optional<std::vector<double>> uncertainty = ParseNumbers(uncertainty_->text().toStdString());
  const std::optional<std::vector<double>> tolerance = ParseNumbers(tolerance_->text().toStdString());
  if (!uncertainty || uncertainty->size() != 1 || !tolerance || tolerance->size() != 1) {
    Refuse("参考不确定度与允差应各为一个数字。");
    return;
  }
  CalibrationSetup setup;
  setup.channel = channel.channel;
  setup.references = *references;
  setup.tolerancePercentFullScale = tolerance->front();
  setup.resolutionVolts = settings_.resolutionVolts;
  setup.settle = settings_.settle;
  setup.confirmStore = true;
  CalibrationRun& id = setup.identity;
  id.bench = bench_->text().toStdString();
  id.engineer = engineer_->text().toStdString();
  id.traceability = traceability_;
  id.sensorSerial = serial_->text().toStdString();
  id.reference = {kReferenceKinds[std::max(0, referenceKind_->currentIndex())].kind,
                  referenceDescription_->text().toStdString(), certificate_->text().toStdString(),
                  uncertainty->front()};
  if (std::optional<std::string> refused = assistant_.Start(setup, Clock::now())) {
    Refuse(*refused);
    return;
  }
  Refresh();
}

void CCalibrationWizard::OnContinue() {
  assistant_.Continue(Clock::now());
  Refresh();
}

void CCalibrationWizard::OnAbort() {
  assistant_.Abort(Clock::now());
  Refresh();
}

void CCalibrationWizard::closeEvent(QCloseEvent* event) {
  // A run stops with its window; a stored table goes back first.
  assistant_.Abort(Clock::now());
  QDialog::closeEvent(event);
}

void CCalibrationWizard::Tick() {
  assistant_.Tick(Clock::now());
  if (std::exchange(changed_, false)) Refresh();
  if (assistant_.Step() != CalibrationStep::ConfirmingStore || askingToStore_) return;
  // The box waits in its own event loop: the timer must not ask again meanwhile.
  askingToStore_ = true;
  const MessageAnswer answer =
      boxes_.Show({"新标定表已生成，是否存储？", "标定向导", MessageIcon::Question, MessageButtons::OkCancel});
  askingToStore_ = false;
  assistant_.ConfirmStore(answer == MessageAnswer::Ok, Clock::now());
  if (std::exchange(changed_, false)) Refresh();
}

void CCalibrationWizard::FillPoints(QTableWidget* table, const std::vector<CalibrationPoint>& points, bool assessed) {
  table->setRowCount(static_cast<int>(points.size()));
  for (std::size_t i = 0; i < points.size(); ++i) {
    const CalibrationPoint& p = points[i];
    const std::string cells[] = {
        FixedText(p.reference, 3),
        FixedText(p.voltageMean, 5),
        FixedText(p.voltageSpread, 5),
        assessed ? FixedText(p.indicated, 3) : std::string(),
        assessed ? FixedText(p.errorPercentFullScale, 3) : std::string(),
        assessed ? FixedText(p.expandedUncertainty, 3) : std::string(),
        assessed ? texts_.Lookup(p.pass ? "合格" : "不合格") : std::string(),
    };
    for (std::size_t c = 0; c < std::size(cells); ++c) {
      table->setItem(static_cast<int>(i), static_cast<int>(c), new QTableWidgetItem(Q(cells[c])));
    }
  }
}

void CCalibrationWizard::Refresh() {
  const CalibrationStep step = assistant_.Step();
  const bool running = assistant_.Running();
  start_->setEnabled(!running);
  continue_->setEnabled(step == CalibrationStep::AwaitingLoad || step == CalibrationStep::AwaitingUnloaded);
  abort_->setEnabled(running);
  for (QWidget* input :
       std::initializer_list<QWidget*>{bench_, engineer_, channel_, serial_, referenceKind_, referenceDescription_,
                                       certificate_, uncertainty_, loads_, tolerance_}) {
    input->setEnabled(!running);
  }
  instruction_->setText(Q(assistant_.Instruction()));
  const SettleWindow& reading = assistant_.Reading();
  if (std::optional<double> volts = assistant_.LiveVolts()) {
    QString text = T("读数") + ": " + Q(FixedText(*volts, 5)) + " V";
    if (step == CalibrationStep::Settling) {
      text += "  " + T("波动") + ": " + Q(FixedText(reading.Spread(), 5)) + " V (" + QString::number(reading.Count()) +
              "/" + QString::number(reading.Rule().samples) + ")";
    }
    live_->setText(text);
  } else {
    live_->clear();
  }
  const CalibrationRun& run = assistant_.Run();
  // A point's error is known once its phase is complete.
  const bool foundDone = run.asFound.size() == assistant_.PointCount() && assistant_.PointCount() > 0;
  FillPoints(asFound_, run.asFound, foundDone);
  FillPoints(asLeft_, run.asLeft, step == CalibrationStep::Finished && run.outcome == CalibrationOutcome::Completed);
  asFoundTitle_->setText(T("校前") + (foundDone ? " — " + T(run.asFoundPass ? "合格" : "不合格") : QString()));
  const bool leftDone = step == CalibrationStep::Finished && run.outcome == CalibrationOutcome::Completed;
  asLeftTitle_->setText(T("校后") + (leftDone ? " — " + T(run.asLeftPass ? "合格" : "不合格") : QString()));
  QString result;
  if (run.tableAfter.PointCount() > 0) {
    result = T("线性度") + ": " + Q(FixedText(run.linearityPercentFullScale, 3)) + " %FS";
  }
  if (run.tableStored) result += "  " + T("新标定表已存储并回读一致。");
  result_->setText(result);
  if (step != shownStep_) {
    shownStep_ = step;
    // The table and record replies bring the workbench and the summary to
    // the front; the steps stay in view.
    if (isVisible()) raise();
  }
}

}  // namespace rolta
