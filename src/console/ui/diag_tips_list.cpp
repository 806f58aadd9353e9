#include "console/ui/diag_tips_list.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "readouts/console_texts.h"
#include "env/ui/re_ctl_langue_str.h"
#include "env/shown_text.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {

CDiagTipsList::CDiagTipsList(const TextLookup& lookup, MessageBoxService& messages, QWidget* parent) : QDialog(parent) {
  KeepOnScreen(this);
  setWindowTitle(QString::fromStdString(ShownText(lookup, kTipsTitle)));
  auto* above = new QLabel(QStringLiteral("使用ROLTA测试程序，请注意和QRX5000控制器版本匹配问题"), this);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("tipsList"));
  auto* below = new QLabel(QStringLiteral("在主界面点击\"版本号\"按钮，可获取相关信息"), this);
  auto* ok = new QPushButton(QStringLiteral("知道了"), this);
  ok->setObjectName(QStringLiteral("tipsOk"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &CDiagTipsList::OnAcknowledge);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(above);
  layout->addWidget(list_);
  layout->addWidget(below);
  layout->addWidget(ok, 0, Qt::AlignHCenter);

  for (const std::string& line : VersionTipsLines(lookup)) {
    list_->addItem(QString::fromStdString(line));
  }
  list_->setMinimumWidth(list_->sizeHintForColumn(0) + 40);
  list_->setMinimumHeight(list_->sizeHintForRow(0) * (list_->count() + 1));

  ReCtlLangueStr translator(lookup, messages);
  translator.Attach(this);
  translator.TranslateAll();
}

void CDiagTipsList::OnAcknowledge() {
  acknowledged_ = true;
  close();
}

}  // namespace rolta
