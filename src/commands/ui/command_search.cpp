#include "commands/ui/command_search.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QStandardItemModel>

#include "commands/catalogue.h"

namespace rolta {

CCommandSearch::CCommandSearch(QComboBox* list, const TextLookup& lookup, std::function<void()> execute,
                               QWidget* parent)
    : QObject(parent), list_(list), field_(new QLineEdit(parent)), filter_(lookup), execute_(std::move(execute)) {
  for (int position = 0; position < kCataloguePositions; ++position) {
    list_->addItem(QString::fromStdString(filter_.ShownCaption(position)));
  }
  field_->setObjectName(QStringLiteral("commandSearch"));
  field_->setPlaceholderText(QString::fromStdString(lookup.Lookup("搜索指令")));
  field_->setToolTip(QString::fromStdString(lookup.Lookup("输入指令名称的一部分, 回车执行")));
  field_->setClearButtonEnabled(true);
  fieldPalette_ = field_->palette();
  connect(field_, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(field_, &QLineEdit::returnPressed, this, [this] { ExecuteIfShown(); });
  field_->installEventFilter(this);
  list_->installEventFilter(this);
}

std::vector<int> CCommandSearch::VisiblePositions() const {
  return filter_.VisiblePositions(field_->text().toStdString());
}

void CCommandSearch::SetFilterText(const QString& text) { field_->setText(text); }

void CCommandSearch::ApplyFilter() {
  const std::vector<int> visible = VisiblePositions();
  auto* view = qobject_cast<QListView*>(list_->view());
  auto* model = qobject_cast<QStandardItemModel*>(list_->model());
  std::vector<bool> shown(static_cast<std::size_t>(list_->count()), false);
  for (int position : visible) {
    if (position < list_->count()) shown[static_cast<std::size_t>(position)] = true;
  }
  for (int row = 0; row < list_->count(); ++row) {
    const bool show = shown[static_cast<std::size_t>(row)];
    if (view) view->setRowHidden(row, !show);
    // Disabled rows are also passed over by the arrow keys on the closed list.
    if (model) {
      if (QStandardItem* item = model->item(row)) item->setEnabled(show);
    }
  }
  // The selection moves to the first match when the filter hides it; with no
  // match it stays, and Enter does nothing.
  const int current = list_->currentIndex();
  if (!visible.empty() && (current < 0 || !shown[static_cast<std::size_t>(current)])) {
    list_->setCurrentIndex(visible.front());
  }
  QPalette palette = fieldPalette_;
  if (visible.empty()) palette.setColor(QPalette::Text, QColor(190, 30, 45));
  field_->setPalette(palette);
}

void CCommandSearch::ExecuteIfShown() {
  // A position the filter hides is never executed from the keyboard.
  if (filter_.Matches(list_->currentIndex(), field_->text().toStdString())) execute_();
}

bool CCommandSearch::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == list_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      ExecuteIfShown();
      return true;
    }
    if (watched == field_ && key == Qt::Key_Down) {
      list_->setFocus();
      list_->showPopup();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace rolta
