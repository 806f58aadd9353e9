#include "config/ui/hard_info_list.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "config/param_summary.h"
#include "env/shown_text.h"
#include "env/ui/re_ctl_langue_str.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {
constexpr int kPictureWidth = 160;
constexpr int kPictureHeight = 120;
}  // namespace

CHardInfoList::CHardInfoList(const ParamsExchange& exchange, const TextLookup& lookup, MessageBoxService& messages,
                             const std::string& picturePath, QWidget* parent)
    : QDialog(parent), exchange_(exchange), lookup_(lookup) {
  KeepOnScreen(this);
  setObjectName(QStringLiteral("hardInfoList"));
  setWindowTitle(QString::fromStdString(ShownText(lookup, kSummaryTitle)));
  list_ = new QListWidget(this);
  list_->setSortingEnabled(false);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list_->setMinimumSize(360, 420);
  picture_ = new QLabel(this);
  picture_->setFixedSize(kPictureWidth, kPictureHeight);
  ok_ = new QPushButton(QStringLiteral("确定"), this);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QWidget::hide);

  auto* side = new QVBoxLayout;
  side->addWidget(picture_);
  side->addStretch();
  side->addWidget(ok_);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(side);

  const QString path = QString::fromStdString(picturePath);
  if (!path.isEmpty() && QFileInfo(path).isFile()) {
    QPixmap pixmap(path);
    if (!pixmap.isNull()) {
      picture_->setPixmap(pixmap.scaled(picture_->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
  }

  ReCtlLangueStr translator(lookup, messages);
  translator.Attach(this);
  translator.TranslateAll();
}

void CHardInfoList::Refresh() {
  hide();
  show();
  raise();
  activateWindow();
}

void CHardInfoList::BuildSummaryList() {
  list_->clear();
  for (const std::string& line : BuildSummary(DecodeParams(exchange_.SummaryRecord()), lookup_)) {
    list_->addItem(QString::fromStdString(line));
  }
}

void CHardInfoList::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) BuildSummaryList();
}

void CHardInfoList::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (!event->spontaneous()) BuildSummaryList();
}

}  // namespace rolta
