#include "history/ui/service_history_window.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <fstream>

#include "history/history_records.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

constexpr const char* kTitle = "服务记录";

}  // namespace

ServiceHistoryWindow::ServiceHistoryWindow(ServiceHistory& history, const ServiceDocuments& documents,
                                           const TextLookup& texts, MessageBoxService& boxes, QWidget* parent)
    : QDialog(parent), history_(history), documents_(documents), texts_(texts), boxes_(boxes) {
  setWindowTitle(Q(texts_.Lookup(kTitle)));
  chooseFile_ = [this](const std::string& caption, const std::string& suggested,
                       const std::string& filter) -> std::optional<std::filesystem::path> {
    const QString path = QFileDialog::getSaveFileName(this, Q(caption), Q(suggested), Q(filter));
    if (path.isEmpty()) return std::nullopt;
    return std::filesystem::path(path.toStdString());
  };
  const auto say = [this](const char* text) { return Q(texts_.Lookup(text)); };

  auto* top = new QVBoxLayout(this);
  auto* filters = new QHBoxLayout;
  kind_ = new QComboBox(this);
  kind_->setObjectName(QStringLiteral("kind"));
  kind_->addItem(say("全部类型"));
  for (const HistoryKind kind : HistoryKinds()) kind_->addItem(Q(HistoryKindName(kind)));
  bench_ = new QComboBox(this);
  bench_->setObjectName(QStringLiteral("bench"));
  from_ = new QLineEdit(this);
  from_->setObjectName(QStringLiteral("from"));
  to_ = new QLineEdit(this);
  to_->setObjectName(QStringLiteral("to"));
  from_->setPlaceholderText(QStringLiteral("YYYY-MM-DD"));
  to_->setPlaceholderText(QStringLiteral("YYYY-MM-DD"));
  filters->addWidget(new QLabel(say("类型"), this));
  filters->addWidget(kind_);
  filters->addWidget(new QLabel(say("试验台"), this));
  filters->addWidget(bench_);
  filters->addWidget(new QLabel(say("从 (UTC)"), this));
  filters->addWidget(from_);
  filters->addWidget(new QLabel(say("到 (UTC)"), this));
  filters->addWidget(to_);
  auto* apply = new QPushButton(say("筛选"), this);
  filters->addWidget(apply);
  top->addLayout(filters);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  table_ = new QTableWidget(0, 6, splitter);
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("#"), say("时间 (UTC)"), say("类型"), say("试验台"), say("工程师"), say("摘要")});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  details_ = new QPlainTextEdit(splitter);
  details_->setReadOnly(true);
  top->addWidget(splitter, 1);

  auto* buttons = new QHBoxLayout;
  const auto button = [&](const char* text, void (ServiceHistoryWindow::*handler)()) {
    auto* created = new QPushButton(say(text), this);
    created->setObjectName(QString::fromUtf8(text));
    created->setAutoDefault(false);
    connect(created, &QPushButton::clicked, this, handler);
    buttons->addWidget(created);
  };
  button("比较", &ServiceHistoryWindow::OnCompare);
  button("导出CSV", &ServiceHistoryWindow::OnExport);
  button("标定证书", &ServiceHistoryWindow::OnCertificate);
  button("服务报告", &ServiceHistoryWindow::OnReport);
  buttons->addStretch(1);
  top->addLayout(buttons);

  connect(apply, &QPushButton::clicked, this, &ServiceHistoryWindow::Refresh);
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
    const std::vector<int> rows = SelectedRows();
    if (rows.size() == 1) ShowEntry(rows[0]);
  });
  resize(960, 600);
  Refresh();
  KeepOnScreen(this);
}

std::optional<HistoryFilter> ServiceHistoryWindow::CurrentFilter() {
  HistoryFilter filter;
  if (kind_->currentIndex() > 0) filter.kind = HistoryKinds().at(static_cast<std::size_t>(kind_->currentIndex() - 1));
  if (bench_->currentIndex() > 0) filter.bench = bench_->currentText().toStdString();
  const auto time = [this](QLineEdit* edit, std::optional<std::int64_t>& into, bool endOfDay) {
    const std::string text = edit->text().trimmed().toStdString();
    if (text.empty()) return true;
    into = UtcTimeFromText(text);
    if (!into) {
      Fail(texts_.Lookup("时间格式应为 YYYY-MM-DD[ HH:MM[:SS]]") + ": " + text);
      return false;
    }
    if (endOfDay && text.size() == 10) *into += 24 * 3600 - 1;
    return true;
  };
  if (!time(from_, filter.fromUtc, false) || !time(to_, filter.toUtc, true)) return std::nullopt;
  return filter;
}

void ServiceHistoryWindow::Refresh() {
  // The bench list follows the history; the choice stays when it still exists.
  const QString bench = bench_->currentText();
  bench_->blockSignals(true);
  bench_->clear();
  bench_->addItem(Q(texts_.Lookup("全部试验台")));
  for (const std::string& name : history_.Benches()) bench_->addItem(Q(name));
  bench_->setCurrentIndex(std::max(0, bench_->findText(bench)));
  bench_->blockSignals(false);

  const std::optional<HistoryFilter> filter = CurrentFilter();
  if (!filter) return;
  listed_ = history_.List(*filter);
  table_->setRowCount(static_cast<int>(listed_.size()));
  for (int row = 0; row < static_cast<int>(listed_.size()); ++row) {
    const HistoryEntry& entry = listed_[static_cast<std::size_t>(row)];
    const QStringList cells = {QString::number(entry.id),
                               Q(UtcTimeText(entry.timeUtc)),
                               Q(HistoryKindName(entry.kind)),
                               Q(entry.bench),
                               Q(entry.engineer),
                               Q(entry.summary)};
    for (int column = 0; column < cells.size(); ++column) {
      table_->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
  }
  table_->resizeColumnsToContents();
  details_->clear();
}

std::vector<int> ServiceHistoryWindow::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void ServiceHistoryWindow::ShowEntry(int row) {
  if (row < 0 || row >= static_cast<int>(listed_.size())) return;
  const std::optional<HistoryEntry> entry = history_.Get(listed_[static_cast<std::size_t>(row)].id);
  if (!entry) return;
  QString text = QString::number(entry->id) + "  " + Q(UtcTimeText(entry->timeUtc)) + " UTC  " + Q(entry->summary);
  for (const HistoryField& field : ReadableFields(*entry)) text += "\n  " + Q(field.key) + ": " + Q(field.value);
  details_->setPlainText(text);
}

void ServiceHistoryWindow::ShowDifference(int firstRow, int secondRow) {
  const int count = static_cast<int>(listed_.size());
  if (firstRow < 0 || secondRow < 0 || firstRow >= count || secondRow >= count) return;
  const std::optional<HistoryEntry> before = history_.Get(listed_[static_cast<std::size_t>(firstRow)].id);
  const std::optional<HistoryEntry> after = history_.Get(listed_[static_cast<std::size_t>(secondRow)].id);
  if (!before || !after) return;
  QString text = QString::number(before->id) + " → " + QString::number(after->id);
  for (const FieldChange& change : DiffEntries(*before, *after)) {
    text += "\n  " + Q(change.key) + ": " + Q(change.before) + " → " + Q(change.after);
  }
  details_->setPlainText(text);
}

QString ServiceHistoryWindow::DetailsText() const { return details_->toPlainText(); }

void ServiceHistoryWindow::Fail(const std::string& text) {
  boxes_.Show({text, texts_.Lookup(kTitle), MessageIcon::Warning, MessageButtons::Ok});
}

bool ServiceHistoryWindow::ExportCsv(const std::filesystem::path& path) {
  std::vector<HistoryEntry> entries;
  for (const HistoryEntry& listed : listed_) {
    if (std::optional<HistoryEntry> entry = history_.Get(listed.id)) entries.push_back(std::move(*entry));
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  WriteHistoryCsv(file, entries);
  file.close();
  if (!file) Fail(texts_.Lookup("无法写入文件") + ": " + path.string());
  return static_cast<bool>(file);
}

bool ServiceHistoryWindow::WriteCertificate(int row, const std::filesystem::path& path) {
  const std::optional<HistoryEntry> entry = row >= 0 && row < static_cast<int>(listed_.size())
                                                ? history_.Get(listed_[static_cast<std::size_t>(row)].id)
                                                : std::nullopt;
  const std::optional<CalibrationRun> run = entry ? CalibrationRunOf(*entry) : std::nullopt;
  if (!run) {
    Fail(texts_.Lookup("请选择一条标定向导记录"));
    return false;
  }
  const std::string failure = documents_.WriteCertificate(*run, texts_, path);
  if (!failure.empty()) Fail(failure);
  return failure.empty();
}

bool ServiceHistoryWindow::WriteReport(const std::filesystem::path& path) {
  const std::optional<HistoryFilter> filter = CurrentFilter();
  if (!filter) return false;
  std::vector<HistoryEntry> entries;
  for (const HistoryEntry& listed : listed_) {
    if (std::optional<HistoryEntry> entry = history_.Get(listed.id)) entries.push_back(std::move(*entry));
  }
  ServiceIdentity identity = history_.Identity();
  if (filter->bench) identity.bench = *filter->bench;
  const std::int64_t from = filter->fromUtc.value_or(entries.empty() ? 0 : entries.front().timeUtc);
  const std::int64_t to = filter->toUtc.value_or(entries.empty() ? NowUtc() : entries.back().timeUtc);
  const std::string failure = documents_.WriteServiceReport(entries, from, to, identity, texts_, path);
  if (!failure.empty()) Fail(failure);
  return failure.empty();
}

void ServiceHistoryWindow::OnCompare() {
  const std::vector<int> rows = SelectedRows();
  if (rows.size() != 2) {
    Fail(texts_.Lookup("请选择两条记录进行比较"));
    return;
  }
  ShowDifference(rows[0], rows[1]);
}

void ServiceHistoryWindow::OnExport() {
  if (auto path = chooseFile_(texts_.Lookup("导出CSV"), "history.csv", "CSV (*.csv)")) ExportCsv(*path);
}

void ServiceHistoryWindow::OnCertificate() {
  const std::vector<int> rows = SelectedRows();
  if (rows.size() != 1) {
    Fail(texts_.Lookup("请选择一条标定向导记录"));
    return;
  }
  if (auto path = chooseFile_(texts_.Lookup("标定证书"), "certificate.pdf", "PDF (*.pdf)")) {
    WriteCertificate(rows[0], *path);
  }
}

void ServiceHistoryWindow::OnReport() {
  if (auto path = chooseFile_(texts_.Lookup("服务报告"), "service-report.pdf", "PDF (*.pdf)")) WriteReport(*path);
}

}  // namespace rolta
