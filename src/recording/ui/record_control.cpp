#include "recording/ui/record_control.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <chrono>

#include "recording/record_meta.h"
#include "recording/recording.h"
#include "env/ui/log_categories.h"
#include "recording/ui/trend_dlg.h"

namespace rolta {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The indicator is refreshed and the writer's state read this often.
constexpr int kTickMs = 200;

// The box the operator sees, and the same text in the field log for support.
void ReportRecordError(MessageBoxService& boxes, const TextLookup& texts, const RecordError& error) {
  const MessageRequest message = RecordErrorMessage(texts, error);
  qCWarning(lcRecording).noquote() << QString::fromStdString(message.text);
  boxes.Show(message);
}

}  // namespace

CRecordControl::CRecordControl(ControllerSession& session, const TextLookup& texts, MessageBoxService& boxes,
                               QWidget* parent)
    : QWidget(parent), session_(session), texts_(texts), boxes_(boxes) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  recordButton_ = new QToolButton(this);
  recordButton_->setObjectName(QStringLiteral("记录"));
  recordButton_->setText(Q(texts_.Lookup("记录")));
  recordButton_->setToolTip(Q(texts_.Lookup("记录每一个状态帧到CSV文件")));
  recordButton_->setCheckable(true);
  recordButton_->setPopupMode(QToolButton::MenuButtonPopup);
  auto* menu = new QMenu(recordButton_);
  menu->addAction(Q(texts_.Lookup("记录到文件...")), this, [this] { ChooseFileAndRecord(); });
  recordButton_->setMenu(menu);
  connect(recordButton_, &QToolButton::clicked, this, [this](bool checked) {
    if (checked) {
      StartRecording();
    } else {
      StopRecording();
    }
  });
  layout->addWidget(recordButton_);

  indicator_ = new QLabel(this);
  indicator_->setObjectName(QStringLiteral("recordIndicator"));
  indicator_->setMinimumWidth(150);
  layout->addWidget(indicator_);

  layout->addWidget(new QLabel(Q(texts_.Lookup("等效质量 (kg)")), this));
  massEdit_ = new QLineEdit(this);
  massEdit_->setObjectName(QStringLiteral("recordMass"));
  massEdit_->setMinimumWidth(70);
  massEdit_->setMaximumWidth(90);
  massEdit_->setToolTip(Q(texts_.Lookup("滑行分析用的等效质量（滚筒惯量加车辆），随记录保存")));
  mass_ = ReadRecordMeta(CoastSettingsPath()).meta.massKg;
  if (mass_) massEdit_->setText(QString::fromStdString(MassText(*mass_)));
  connect(massEdit_, &QLineEdit::editingFinished, this, [this] { ApplyMassText(); });
  layout->addWidget(massEdit_);

  trendButton_ = new QPushButton(Q(texts_.Lookup("趋势图")), this);
  trendButton_->setObjectName(QStringLiteral("趋势图"));
  trendButton_->setAutoDefault(false);
  connect(trendButton_, &QPushButton::clicked, this, [this] { OpenTrendWindow(); });
  layout->addWidget(trendButton_);

  tick_.setInterval(kTickMs);
  connect(&tick_, &QTimer::timeout, this, [this] { OnTick(); });
  tick_.start();
  UpdateIndicator();
}

CRecordControl::~CRecordControl() {
  session_.RemoveStatusObserver(observer_);
  // The trend window observes the session too; it goes before the session does.
  delete trend_;
}

std::filesystem::path CRecordControl::RecordFolder() const {
  if (!folder_.empty()) return folder_;
  return std::filesystem::path(QDir::homePath().toStdString()) / "rolta-records";
}

bool CRecordControl::StartRecording(const std::filesystem::path& file) {
  StopRecording();
  // The record button takes no focus: a mass typed just before is taken here.
  ApplyMassText();
  const auto wallStart = std::chrono::system_clock::now();
  const std::filesystem::path path = file.empty() ? RecordFolder() / DefaultRecordFileName(wallStart) : file;
  auto recorder = std::make_unique<FrameRecorder>();
  const auto startedAt = std::chrono::steady_clock::now();
  if (const std::optional<RecordError> error = recorder->Start(path, startedAt, wallStart)) {
    recordButton_->setChecked(false);
    UpdateIndicator();
    ReportRecordError(boxes_, texts_, *error);
    return false;
  }
  recorder_ = std::move(recorder);
  lastFile_ = path;
  lastFrom_ = startedAt;
  lastUntil_ = std::chrono::steady_clock::time_point::max();
  FrameRecorder* target = recorder_.get();
  observer_ = session_.AddStatusObserver(
      [target](const ControllerStatus& status, std::chrono::steady_clock::time_point at) { target->Add(status, at); });
  recordButton_->setChecked(true);
  UpdateIndicator();
  // Last: a box about the details runs a nested loop, and frames are recorded by then.
  KeepMassWithRecording(true);
  return true;
}

void CRecordControl::StopRecording() {
  if (!recorder_) return;
  session_.RemoveStatusObserver(observer_);
  observer_ = 0;
  recorder_->Stop();
  lastUntil_ = std::chrono::steady_clock::now();
  closing_.push_back(std::move(recorder_));
  recordButton_->setChecked(false);
  UpdateIndicator();
}

bool CRecordControl::LastRecordingFinished() const {
  if (recorder_) return false;
  for (const auto& recorder : closing_) {
    if (!recorder->Progress().finished) return false;
  }
  return true;
}

void CRecordControl::ChooseFileAndRecord() {
  // The dialog opens in the record folder only if it is there.
  std::error_code ignored;
  std::filesystem::create_directories(RecordFolder(), ignored);
  const QString suggested =
      QString::fromStdString((RecordFolder() / DefaultRecordFileName(std::chrono::system_clock::now())).string());
  const QString path =
      QFileDialog::getSaveFileName(this, Q(texts_.Lookup("记录到文件...")), suggested, QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;
  StartRecording(path.toStdString());
}

void CRecordControl::OpenTrendWindow() {
  if (!trend_) {
    trend_ = new CTrendDlg(session_, texts_, boxes_, window());
    trend_->SetCoastAnalysedObserver(coastAnalysed_);
    trend_->SetRecordFolder(RecordFolder());
    // The live data's coast-down belongs to the latest recording if that one
    // ran from before its first frame to after its last.
    trend_->SetLiveRecording(
        [this](std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
          return (!lastFile_.empty() && from >= lastFrom_ && to <= lastUntil_) ? lastFile_ : std::filesystem::path();
        });
  }
  trend_->BringUp();
}

bool CRecordControl::ApplyMassText() {
  const QString text = massEdit_->text().trimmed();
  std::optional<double> mass;
  if (!text.isEmpty()) {
    mass = ParseMass(text.toStdString());
    if (!mass) {
      // Back to the last good mass first: the box takes the focus, which ends the edit again.
      massEdit_->setText(mass_ ? QString::fromStdString(MassText(*mass_)) : QString());
      boxes_.Show(
          {texts_.Lookup("等效质量必须是正数"), texts_.Lookup("记录"), MessageIcon::Warning, MessageButtons::Ok});
      return false;
    }
  }
  if (mass == mass_) return true;
  mass_ = mass;
  // Not worth a box: the next start offers an empty field at worst.
  (void)StoreMass(CoastSettingsPath(), mass_);
  if (recorder_) KeepMassWithRecording(false);
  return true;
}

void CRecordControl::KeepMassWithRecording(bool started) {
  if (!recorder_) return;
  const std::filesystem::path metaFile = RecordMetaPath(recorder_->Path());
  std::error_code ec;
  if (!started) {
    ec = StoreMass(metaFile, mass_);
  } else if (mass_) {
    ec = WriteRecordMeta(metaFile, RecordMeta{mass_, {}});
  } else {
    // The recording replaced a file of the same name: no mass of that run stays with it.
    std::filesystem::remove(metaFile, ec);
  }
  if (ec) {
    boxes_.Show({texts_.Lookup("等效质量无法随记录保存") + "\n" + metaFile.string() + "\n" + ec.message(),
                 texts_.Lookup("记录"), MessageIcon::Warning, MessageButtons::Ok});
  }
}

void CRecordControl::OnTick() {
  // A recording whose writer failed: stop feeding it, then tell the operator.
  if (recorder_) {
    const RecorderProgress progress = recorder_->Progress();
    if (progress.error) {
      StopRecording();
    }
  }
  std::vector<RecordError> errors;
  std::erase_if(closing_, [&](const std::unique_ptr<FrameRecorder>& recorder) {
    const RecorderProgress progress = recorder->Progress();
    if (!progress.finished) return false;
    if (progress.error) errors.push_back(*progress.error);
    return true;
  });
  UpdateIndicator();
  // The box comes last: it runs a nested loop, and the state above is settled.
  for (const RecordError& error : errors) ReportRecordError(boxes_, texts_, error);
}

void CRecordControl::UpdateIndicator() {
  // A new style sheet polishes the label again, even an equal one; the
  // text changes with every tick, the style only with the recording.
  const QString style = recorder_ ? QStringLiteral("color: #c1121f; font-weight: bold;") : QString();
  if (indicator_->styleSheet() != style) indicator_->setStyleSheet(style);
  if (!recorder_) {
    indicator_->setText(Q(texts_.Lookup("未记录")));
    return;
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - recorder_->StartTime())
          .count();
  const RecorderProgress progress = recorder_->Progress();
  indicator_->setText(QStringLiteral("● %1 %2:%3:%4  %5")
                          .arg(Q(texts_.Lookup("记录中")))
                          .arg(elapsed / 3600, 2, 10, QLatin1Char('0'))
                          .arg(elapsed / 60 % 60, 2, 10, QLatin1Char('0'))
                          .arg(elapsed % 60, 2, 10, QLatin1Char('0'))
                          .arg(progress.rowsWritten + progress.rowsQueued));
  indicator_->setToolTip(QString::fromStdString(recorder_->Path().string()));
}

}  // namespace rolta
