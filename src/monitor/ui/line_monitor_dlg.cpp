#include "monitor/ui/line_monitor_dlg.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

// New rows reach the list in batches at this pace, never one update per frame.
constexpr int kRefreshMs = 250;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

MonitorTableModel::MonitorTableModel(const LineMonitor& monitor, const TextLookup& lookup, QObject* parent)
    : QAbstractTableModel(parent), monitor_(monitor), lookup_(lookup) {}

int MonitorTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(sequences_.size());
}

int MonitorTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(kMonitorColumnCount);
}

QVariant MonitorTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const MonitorRow* row = monitor_.Row(sequences_[static_cast<std::size_t>(index.row())]);
  if (!row) return {};
  const auto column = static_cast<MonitorColumn>(index.column());
  switch (role) {
    case Qt::DisplayRole: return Q(MonitorCell(*row, column, lookup_));
    case Qt::BackgroundRole:
      if (row->direction == LineDirection::Skipped || !row->checksumGood || row->refused || row->writeFailed) {
        return QColor(255, 224, 224);
      }
      return row->direction == LineDirection::Sent ? QColor(228, 238, 255) : QVariant();
    case Qt::TextAlignmentRole:
      if (column == MonitorColumn::Time || column == MonitorColumn::Code || column == MonitorColumn::Length) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      }
      return {};
    default: return {};
  }
}

QVariant MonitorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= static_cast<int>(kMonitorColumnCount)) {
    return {};
  }
  return Q(lookup_.Lookup(MonitorColumnTitle(static_cast<MonitorColumn>(section))));
}

void MonitorTableModel::Refresh() {
  // Rows pushed out of the monitor's ring leave the top of the list.
  const std::uint64_t first = monitor_.FirstSequence();
  std::size_t gone = 0;
  while (gone < sequences_.size() && sequences_[gone] < first) ++gone;
  if (gone > 0) {
    beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
    sequences_.erase(sequences_.begin(), sequences_.begin() + static_cast<std::ptrdiff_t>(gone));
    endRemoveRows();
  }
  seen_ = std::max(seen_, first);
  std::vector<std::uint64_t> fresh;
  for (; seen_ < monitor_.NextSequence(); ++seen_) {
    if (const MonitorRow* row = monitor_.Row(seen_); row && filter_.Matches(*row)) fresh.push_back(seen_);
  }
  if (fresh.empty()) return;
  const int at = rowCount();
  beginInsertRows({}, at, at + static_cast<int>(fresh.size()) - 1);
  sequences_.insert(sequences_.end(), fresh.begin(), fresh.end());
  endInsertRows();
}

void MonitorTableModel::SetFilter(const MonitorFilter& filter) {
  filter_ = filter;
  Rebuild();
}

void MonitorTableModel::Rebuild() {
  beginResetModel();
  sequences_.clear();
  seen_ = monitor_.FirstSequence();
  for (; seen_ < monitor_.NextSequence(); ++seen_) {
    if (const MonitorRow* row = monitor_.Row(seen_); row && filter_.Matches(*row)) sequences_.push_back(seen_);
  }
  endResetModel();
}

CLineMonitorDlg::CLineMonitorDlg(ControllerSession& session, const TextLookup& lookup, MessageBoxService& boxes,
                                 QWidget* parent)
    : QDialog(parent),
      session_(session),
      lookup_(lookup),
      boxes_(boxes),
      model_(monitor_, lookup),
      sender_(session.Port(), lookup, boxes) {
  KeepOnScreen(this);
  setWindowTitle(Q(lookup_.Lookup(kLineMonitorTitle)));
  setModal(false);
  setSizeGripEnabled(true);
  resize(1100, 640);
  timer_ = new QTimer(this);
  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, &CLineMonitorDlg::RefreshNow);
  BuildLayout();
}

CLineMonitorDlg::~CLineMonitorDlg() { session_.SetLineTap(nullptr); }

void CLineMonitorDlg::BuildLayout() {
  auto text = [this](const char* key) { return Q(lookup_.Lookup(key)); };
  auto* top = new QVBoxLayout(this);

  auto* counters = new QGridLayout;
  const std::vector<MonitorCounterText> initial = MonitorCounterTexts({}, {}, 0, LineClock::now(), lookup_);
  for (std::size_t i = 0; i < kMonitorCounterCount; ++i) {
    // Six a row; refused frames right after the checksum errors.
    std::size_t place = i <= kChecksumErrorsCounter ? i : i + 1;
    if (i == kRefusedFramesCounter) place = kChecksumErrorsCounter + 1;
    const int row = static_cast<int>(place / 6);
    const int column = static_cast<int>(place % 6) * 2;
    counterCaptions_[i] = new QLabel(Q(initial[i].caption + ":"), this);
    counterValues_[i] = new QLabel(Q(initial[i].value), this);
    counterValues_[i]->setMinimumWidth(70);
    counterValues_[i]->setStyleSheet(QStringLiteral("font-weight: bold;"));
    counters->addWidget(counterCaptions_[i], row, column);
    counters->addWidget(counterValues_[i], row, column + 1);
  }
  top->addLayout(counters);

  auto* tools = new QHBoxLayout;
  pause_ = new QPushButton(text("暂停"), this);
  pause_->setCheckable(true);
  connect(pause_, &QPushButton::toggled, this, &CLineMonitorDlg::SetPaused);
  auto* clear = new QPushButton(text("清除"), this);
  connect(clear, &QPushButton::clicked, this, &CLineMonitorDlg::ClearRows);
  direction_ = new QComboBox(this);
  for (const char* key : {"全部", "发送", "接收", "跳过"}) direction_->addItem(text(key));
  connect(direction_, &QComboBox::currentIndexChanged, this, &CLineMonitorDlg::ApplyFilterInputs);
  type_ = new QLineEdit(this);
  type_->setPlaceholderText(text("类型"));
  type_->setMaximumWidth(70);
  connect(type_, &QLineEdit::editingFinished, this, &CLineMonitorDlg::ApplyFilterInputs);
  find_ = new QLineEdit(this);
  find_->setPlaceholderText(text("查找"));
  auto* findButton = new QPushButton(text("查找下一个"), this);
  auto findNext = [this] { FindNext(find_->text()); };
  connect(findButton, &QPushButton::clicked, this, findNext);
  connect(find_, &QLineEdit::returnPressed, this, findNext);
  findResult_ = new QLabel(this);
  auto* saveText = new QPushButton(text("保存文本"), this);
  connect(saveText, &QPushButton::clicked, this, [this] { AskSave(false); });
  auto* saveCsv = new QPushButton(text("保存CSV"), this);
  connect(saveCsv, &QPushButton::clicked, this, [this] { AskSave(true); });
  for (QPushButton* button : {pause_, clear, findButton, saveText, saveCsv}) button->setAutoDefault(false);
  tools->addWidget(pause_);
  tools->addWidget(clear);
  tools->addSpacing(12);
  tools->addWidget(new QLabel(text("方向") + ":", this));
  tools->addWidget(direction_);
  tools->addWidget(new QLabel(text("类型") + ":", this));
  tools->addWidget(type_);
  tools->addSpacing(12);
  tools->addWidget(find_, 1);
  tools->addWidget(findButton);
  tools->addWidget(findResult_);
  tools->addSpacing(12);
  tools->addWidget(saveText);
  tools->addWidget(saveCsv);
  top->addLayout(tools);

  view_ = new QTableView(this);
  view_->setModel(&model_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setWordWrap(false);
  view_->verticalHeader()->hide();
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  view_->horizontalHeader()->setStretchLastSection(true);
  const int widths[] = {90, 50, 50, 50, 50, 360};
  for (int c = 0; c < static_cast<int>(std::size(widths)); ++c) view_->setColumnWidth(c, widths[c]);
  QFont mono(QStringLiteral("monospace"));
  mono.setStyleHint(QFont::Monospace);
  view_->setFont(mono);
  top->addWidget(view_, 1);

  auto* send = new QHBoxLayout;
  send->addWidget(new QLabel(text("手动发送") + ":", this));
  sendEdit_ = new QLineEdit(this);
  sendEdit_->setPlaceholderText(text("指令码 数据(十六进制), 例如 10 00 00 00 48 42"));
  auto* sendButton = new QPushButton(text("发送此帧"), this);
  sendButton->setAutoDefault(false);
  auto sendTyped = [this] { SendLine(sendEdit_->text()); };
  connect(sendButton, &QPushButton::clicked, this, sendTyped);
  connect(sendEdit_, &QLineEdit::returnPressed, this, sendTyped);
  send->addWidget(sendEdit_, 1);
  send->addWidget(sendButton);
  top->addLayout(send);
}

void CLineMonitorDlg::BringUp() {
  show();
  raise();
  activateWindow();
}

void CLineMonitorDlg::showEvent(QShowEvent* event) {
  session_.SetLineTap(&monitor_);
  timer_->start();
  QDialog::showEvent(event);
}

void CLineMonitorDlg::hideEvent(QHideEvent* event) {
  // Minimised with the console: still watching.
  if (event->spontaneous()) return QDialog::hideEvent(event);
  // Closed, nobody watches: the line goes back to its one pointer test.
  session_.SetLineTap(nullptr);
  timer_->stop();
  QDialog::hideEvent(event);
}

void CLineMonitorDlg::RefreshNow() {
  QScrollBar* bar = view_->verticalScrollBar();
  const bool atBottom = bar->value() >= bar->maximum();
  model_.Refresh();
  if (atBottom) view_->scrollToBottom();
  const LineClock::time_point now = LineClock::now();
  const std::vector<MonitorCounterText> texts =
      MonitorCounterTexts(monitor_.Counters(), monitor_.Rates(now), session_.Counters().ringHighWater, now, lookup_);
  for (std::size_t i = 0; i < kMonitorCounterCount; ++i) {
    const QString value = Q(texts[i].value);
    if (counterValues_[i]->text() != value) counterValues_[i]->setText(value);
  }
}

void CLineMonitorDlg::SetPaused(bool paused) {
  monitor_.SetPaused(paused);
  if (pause_->isChecked() != paused) pause_->setChecked(paused);
}

void CLineMonitorDlg::ClearRows() {
  monitor_.Clear();
  model_.Rebuild();
  findResult_->clear();
  RefreshNow();
}

bool CLineMonitorDlg::SetFilter(int direction, const QString& type) {
  const MonitorTypeFilter typed = ReadMonitorTypeFilter(type.toStdString(), lookup_);
  const bool ok = typed.problem.empty();
  type_->setStyleSheet(ok ? QString() : QStringLiteral("background: #ffd0d0;"));
  if (!ok) {
    // The list would go on showing rows the operator meant to filter away.
    boxes_.Show({typed.problem, lookup_.Lookup(kLineMonitorTitle), MessageIcon::Warning, MessageButtons::Ok});
    return false;
  }
  MonitorFilter filter;
  filter.sent = direction == 0 || direction == 1;
  filter.received = direction == 0 || direction == 2;
  filter.skipped = direction == 0 || direction == 3;
  filter.code = typed.code;
  model_.SetFilter(filter);
  return true;
}

void CLineMonitorDlg::ApplyFilterInputs() { SetFilter(direction_->currentIndex(), type_->text()); }

bool CLineMonitorDlg::FindNext(const QString& text) {
  const QModelIndex current = view_->currentIndex();
  const std::size_t from = current.isValid() ? static_cast<std::size_t>(current.row()) + 1 : 0;
  const std::optional<std::size_t> found =
      FindMonitorRow(monitor_, model_.Sequences(), from, text.toStdString(), lookup_);
  if (!found) {
    findResult_->setText(Q(lookup_.Lookup("未找到")));
    return false;
  }
  findResult_->clear();
  const QModelIndex index = model_.index(static_cast<int>(*found), 0);
  view_->setCurrentIndex(index);
  view_->scrollTo(index, QAbstractItemView::PositionAtCenter);
  return true;
}

bool CLineMonitorDlg::SaveRows(const QString& path, bool csv) {
  model_.Refresh();
  const std::string content = csv ? MonitorRowsAsCsv(monitor_, model_.Sequences(), lookup_)
                                  : MonitorRowsAsText(monitor_, model_.Sequences(), lookup_);
  QFile file(path);
  const bool written =
      file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
      file.write(content.data(), static_cast<qint64>(content.size())) == static_cast<qint64>(content.size()) &&
      file.flush();
  if (!written) {
    boxes_.Show({lookup_.Lookup("保存失败") + ": " + path.toStdString() + "\n" + file.errorString().toStdString(),
                 lookup_.Lookup(kLineMonitorTitle), MessageIcon::Warning, MessageButtons::Ok});
  }
  return written;
}

void CLineMonitorDlg::AskSave(bool csv) {
  const QString path =
      QFileDialog::getSaveFileName(this, Q(lookup_.Lookup(csv ? "保存CSV" : "保存文本")),
                                   csv ? QStringLiteral("rolta-line.csv") : QStringLiteral("rolta-line.txt"),
                                   csv ? QStringLiteral("CSV (*.csv)") : QStringLiteral("Text (*.txt)"));
  if (!path.isEmpty()) SaveRows(path, csv);
}

bool CLineMonitorDlg::SendLine(const QString& text) { return sender_.Send(text.toStdString()); }

void InstallLineMonitorOpeners(QWidget& console, QWidget* toolsGroup, CLineMonitorDlg& monitor,
                               const TextLookup& lookup) {
  auto open = [&monitor] { monitor.BringUp(); };
  if (toolsGroup && toolsGroup->layout()) {
    auto* button = new QPushButton(Q(lookup.Lookup(kLineMonitorTitle)), toolsGroup);
    button->setObjectName(QString::fromUtf8(kLineMonitorTitle));
    button->setToolTip(Q(lookup.Lookup(kLineMonitorTitle)) + QStringLiteral(" (") +
                       QString::fromLatin1(kLineMonitorShortcut) + QStringLiteral(")"));
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, &monitor, open);
    toolsGroup->layout()->addWidget(button);
  }
  auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(kLineMonitorShortcut)), &console);
  QObject::connect(shortcut, &QShortcut::activated, &monitor, open);
}

}  // namespace rolta
