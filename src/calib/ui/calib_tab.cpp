#include "calib/ui/calib_tab.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>

#include "env/text_lookup.h"
#include "env/ui/re_ctl_langue_str.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

const QColor kCellBackground(255, 255, 224);

// The controls' column on the left keeps its width; the grid takes whatever
// else the window has and never shrinks below its first size.
constexpr QSize kPictureSize(200, 110);
constexpr QSize kGridMinimum(590, 580);
constexpr int kMargin = 10;

// The built-in picture: a calibration curve through its points.
QPixmap BuiltInPicture(QSize size) {
  QPixmap picture(size);
  picture.fill(QColor(29, 53, 87));
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF area = QRectF(picture.rect()).adjusted(14, 12, -12, -14);
  painter.setPen(QPen(QColor(168, 218, 220), 1.5));
  painter.drawLine(area.bottomLeft(), area.topLeft());
  painter.drawLine(area.bottomLeft(), area.bottomRight());
  QPainterPath curve;
  painter.setBrush(QColor(230, 57, 70));
  for (int i = 0; i <= 5; ++i) {
    const double x = area.left() + area.width() * i / 5.0;
    const double y = area.bottom() - area.height() * (0.1 + 0.8 * (i / 5.0) * (i / 5.0));
    if (i == 0)
      curve.moveTo(x, y);
    else
      curve.lineTo(x, y);
    painter.drawEllipse(QPointF(x, y), 3, 3);
  }
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(curve);
  return picture;
}

}  // namespace

CCalibTab::CCalibTab(CalibExchange& exchange, const TextLookup& lookup, MessageBoxService& boxes,
                     const std::string& picturePath, QWidget* parent)
    : QDialog(parent), exchange_(exchange), lookup_(lookup) {
  setModal(false);
  setWindowTitle(QStringLiteral("        "));
  KeepOnScreen(this);

  picture_ = new QLabel(this);
  picture_->setFixedSize(kPictureSize);
  picture_->setObjectName(QStringLiteral("calibPicture"));

  fetchGroup_ = new QGroupBox(QStringLiteral("获取标定数据"), this);
  storeGroup_ = new QGroupBox(QStringLiteral("存储标定数据"), this);
  auto* fetchLayout = new QGridLayout(fetchGroup_);
  auto* storeLayout = new QGridLayout(storeGroup_);
  const auto channels = CalibChannels();
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const CalibChannel channel = channels[i].channel;
    const int row = static_cast<int>(i / 2);
    const int column = static_cast<int>(i % 2);
    fetch_[i] = new QPushButton(fetchGroup_);
    fetch_[i]->setObjectName(QStringLiteral("calibFetch%1").arg(i));
    fetchLayout->addWidget(fetch_[i], row, column);
    connect(fetch_[i], &QPushButton::clicked, this, [this, channel] { exchange_.RequestTable(channel); });
    store_[i] = new QPushButton(storeGroup_);
    store_[i]->setObjectName(QStringLiteral("calibStore%1").arg(i));
    storeLayout->addWidget(store_[i], row, column);
    connect(store_[i], &QPushButton::clicked, this, [this, channel] { exchange_.StoreTable(channel, GridRows()); });
  }

  adjust_ = new QPushButton(this);
  connect(adjust_, &QPushButton::clicked, this, &CCalibTab::AdjustTable);
  exit_ = new QPushButton(this);
  connect(exit_, &QPushButton::clicked, this, &QWidget::hide);

  grid_ = new QTableWidget(this);
  grid_->setObjectName(QStringLiteral("calibGrid"));
  grid_->setMinimumSize(kGridMinimum);
  grid_->verticalHeader()->hide();

  // Laid out rather than placed, so longer captions (other languages) widen
  // the column instead of being cut.
  auto* column = new QVBoxLayout;
  column->setSpacing(5);
  column->addWidget(picture_);
  column->addWidget(fetchGroup_);
  column->addWidget(storeGroup_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(adjust_);
  buttons->addWidget(exit_);
  column->addLayout(buttons);
  column->addStretch(1);
  auto* columnHolder = new QWidget(this);
  columnHolder->setLayout(column);
  column->setContentsMargins(0, 0, 0, 0);
  // As wide as the picture, or as its captions need.
  columnHolder->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kMargin);
  layout->addWidget(columnHolder);
  layout->addWidget(grid_, 1);
  resize(layout->minimumSize());

  LayOutGrid(kStartupDataRows);
  stretch_ = 1;
  grid_->resizeColumnsToContents();
  grid_->resizeRowsToContents();
  ExpandToFit(true);
  grid_->viewport()->update();

  SetCaptions();
  LoadPicture(picturePath);

  ReCtlLangueStr translator(lookup_, boxes);
  translator.Attach(this);
  translator.TranslateAll();

  exchange_.SetView(this);
}

CCalibTab::~CCalibTab() { exchange_.SetView(nullptr); }

QString CCalibTab::Text(std::string_view key) const { return QString::fromStdString(lookup_.Lookup(key)); }

void CCalibTab::SetCaptions() {
  const auto channels = CalibChannels();
  for (std::size_t i = 0; i < channels.size(); ++i) {
    fetch_[i]->setText(Text(channels[i].fetchCaption));
    store_[i]->setText(Text(channels[i].storeCaption));
  }
  adjust_->setText(Text("表格调整"));
  adjust_->setToolTip(Text("调整表格"));
  exit_->setText(Text("退出"));
  exit_->setToolTip(Text("退出"));
}

void CCalibTab::LoadPicture(const std::string& path) {
  QPixmap picture;
  const QString file = QString::fromStdString(path);
  if (!path.empty() && QFileInfo::exists(file)) picture.load(file);
  if (picture.isNull()) {
    picture = BuiltInPicture(kPictureSize);
  } else {
    picture = picture.scaled(kPictureSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  picture_->setPixmap(picture);
}

QPushButton* CCalibTab::FetchButton(CalibChannel channel) const { return fetch_[static_cast<std::size_t>(channel)]; }

QPushButton* CCalibTab::StoreButton(CalibChannel channel) const { return store_[static_cast<std::size_t>(channel)]; }

void CCalibTab::LayOutGrid(int dataRows) {
  grid_->setRowCount(dataRows);
  grid_->setColumnCount(kColumns);
  grid_->setSelectionBehavior(QAbstractItemView::SelectItems);
  grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  grid_->setDragEnabled(true);
  grid_->setDragDropMode(QAbstractItemView::DragDrop);
  grid_->setDefaultDropAction(Qt::MoveAction);
  grid_->setDragDropOverwriteMode(true);
  QPalette palette = grid_->palette();
  palette.setColor(QPalette::Base, kCellBackground);
  grid_->setPalette(palette);

  const QString headers[kColumns] = {Text("序号"), Text("电压值") + QLatin1Char('/') + Text("原始值"),
                                     Text("物理值") + QLatin1Char('/') + Text("真实值"), Text("备注")};
  for (int column = 0; column < kColumns; ++column) {
    grid_->setHorizontalHeaderItem(column, new QTableWidgetItem(headers[column]));
  }
  const QBrush fixedBackground = grid_->palette().brush(QPalette::Button);
  for (int row = 0; row < dataRows; ++row) {
    for (int column = 0; column < 3; ++column) grid_->setItem(row, column, new QTableWidgetItem());
    QTableWidgetItem* number = grid_->item(row, 0);
    number->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    number->setBackground(fixedBackground);
  }
}

void CCalibTab::ShowWorkingTable() {
  // The window's fixed place; the screen keeper then moves it only as far as
  // it must to lie wholly on the screen.
  const QRect frame = frameGeometry();
  move(kCentreX - frame.width() / 2, kCentreY - frame.height() / 2);
  FitOnScreen(this);
  LayOutGrid(kDataRows);
  const std::vector<CalibDisplayRow> rows = DisplayRows(exchange_.WorkingTable(), kDataRows);
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    const CalibDisplayRow& shown = rows[static_cast<std::size_t>(row)];
    grid_->item(row, 0)->setText(QString::fromStdString(shown.number));
    grid_->item(row, 1)->setText(QString::fromStdString(shown.first));
    grid_->item(row, 2)->setText(QString::fromStdString(shown.second));
  }
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->viewport()->update();
}

void CCalibTab::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) ShowWorkingTable();
}

void CCalibTab::OnWorkingTableChanged() {
  hide();
  show();
  raise();
  activateWindow();
}

std::vector<CalibGridRow> CCalibTab::GridRows() const {
  std::vector<CalibGridRow> rows;
  rows.reserve(static_cast<std::size_t>(grid_->rowCount()));
  auto text = [this](int row, int column) {
    const QTableWidgetItem* item = grid_->item(row, column);
    return item ? item->text().toStdString() : std::string();
  };
  for (int row = 0; row < grid_->rowCount(); ++row) rows.push_back({text(row, 1), text(row, 2)});
  return rows;
}

QString CCalibTab::CellText(int row, int column) const {
  if (row == 0) {
    const QTableWidgetItem* header = grid_->horizontalHeaderItem(column);
    return header ? header->text() : QString();
  }
  const QTableWidgetItem* item = grid_->item(row - 1, column);
  return item ? item->text() : QString();
}

void CCalibTab::AdjustTable() {
  if (grid_->rowCount() == 0 || grid_->columnCount() == 0) return;
  grid_->resizeColumnsToContents();
  grid_->resizeRowsToContents();
  ExpandToFit(true);
  grid_->viewport()->update();
  stretch_ = stretch_ == 1 ? 0 : 1;
  adjust_->setText(Text("表格调整"));
  adjust_->update();
}

void CCalibTab::ExpandToFit(bool rowsToo) {
  // Share out whatever room the viewport has beyond the cells equally; cells
  // already wider (taller) than the grid stay as they are. The scroll bars
  // are settled first, so the room is the viewport they leave.
  grid_->doItemsLayout();
  const auto share = [](int room, int used, int count, auto size, auto setSize) {
    if (count == 0 || used >= room) return;
    const int extra = (room - used) / count;
    int remainder = (room - used) % count;
    for (int i = 0; i < count; ++i) setSize(i, size(i) + extra + (remainder-- > 0 ? 1 : 0));
  };
  int width = 0;
  for (int c = 0; c < grid_->columnCount(); ++c) width += grid_->columnWidth(c);
  share(
      grid_->viewport()->width(), width, grid_->columnCount(), [this](int c) { return grid_->columnWidth(c); },
      [this](int c, int w) { grid_->setColumnWidth(c, w); });
  if (!rowsToo) return;
  int height = 0;
  for (int r = 0; r < grid_->rowCount(); ++r) height += grid_->rowHeight(r);
  share(
      grid_->viewport()->height(), height, grid_->rowCount(), [this](int r) { return grid_->rowHeight(r); },
      [this](int r, int h) { grid_->setRowHeight(r, h); });
}

void CCalibTab::resizeEvent(QResizeEvent* event) {
  // The layout has given the grid its new size before this runs.
  QDialog::resizeEvent(event);
  ExpandToFit(stretch_ == 1);
}

}  // namespace rolta
