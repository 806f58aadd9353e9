#include "config/ui/hard_ch.h"

#include <map>

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/channel_map.h"
#include "env/text_lookup.h"
#include "env/ui/re_ctl_langue_str.h"
#include "env/ui_services.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString Looked(const TextLookup& lookup, std::string_view text) { return QString::fromStdString(lookup.Lookup(text)); }

// A push button that Enter in a field never presses, so typing a number and
// pressing Enter cannot store half-edited values.
QPushButton* Button(std::string_view caption, QWidget* parent) {
  auto* button = new QPushButton(Q(caption), parent);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

CHardCH::CHardCH(ChannelMapEditor& editor, const TextLookup& lookup, MessageBoxService& messages, QWidget* parent)
    : QDialog(parent), editor_(editor), messages_(messages) {
  KeepOnScreen(this);
  setWindowTitle(Looked(lookup, "硬件通道配置"));

  auto* digital = new QGroupBox(Q(kDigitalGroupTitle), this);
  auto* digitalLayout = new QHBoxLayout(digital);
  auto* groupsLayout = new QHBoxLayout;
  groupsLayout->addWidget(digital);
  std::map<ChannelGroup, QGridLayout*> grids;
  for (const ChannelGroupInfo& info : ChannelGroups()) {
    auto* box = new QGroupBox(Q(info.title), info.digital ? static_cast<QWidget*>(digital) : this);
    auto* grid = new QGridLayout(box);
    grid->setAlignment(Qt::AlignTop);  // rows stay at the top of a taller group
    grids[info.group] = grid;
    if (info.digital) {
      digitalLayout->addWidget(box);
    } else {
      groupsLayout->addWidget(box);
    }
  }

  const auto fields = ChannelFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    QGridLayout* grid = grids.at(fields[i].group);
    QWidget* box = grid->parentWidget();
    auto* edit = new QLineEdit(box);
    edit->setObjectName(QStringLiteral("channelField%1").arg(i));
    edit->setMaximumWidth(60);
    // The field text is what the store reads, whoever set it: the operator,
    // a reply, "缺省" or the translation of the controls.
    connect(edit, &QLineEdit::textChanged, this,
            [this, i](const QString& text) { editor_.SetText(i, text.toStdString()); });
    const int row = grid->count() / 2;
    grid->addWidget(new QLabel(Q(fields[i].label), box), row, 0);
    grid->addWidget(edit, row, 1);
    edits_.push_back(edit);
  }

  store_ = Button("存储", this);
  store_->setObjectName(QStringLiteral("channelStore"));
  defaults_ = Button("缺省", this);
  defaults_->setObjectName(QStringLiteral("channelDefaults"));
  cancel_ = Button("放弃", this);
  cancel_->setObjectName(QStringLiteral("channelCancel"));
  connect(store_, &QPushButton::clicked, this, &CHardCH::StoreChannelMap);
  connect(defaults_, &QPushButton::clicked, this, &CHardCH::SetDefaultChannels);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(store_);
  buttons->addWidget(defaults_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groupsLayout);
  layout->addLayout(buttons);

  ShowEditorTexts();
  store_->setText(Looked(lookup, "确认"));
  store_->setToolTip(Looked(lookup, "确认"));
  cancel_->setText(Looked(lookup, "取消"));
  cancel_->setToolTip(Looked(lookup, "取消"));
  defaults_->setText(Looked(lookup, "缺省"));
  defaults_->setToolTip(Looked(lookup, "缺省"));

  ReCtlLangueStr translator(lookup, messages);
  translator.Attach(this);
  translator.TranslateAll();
  editor_.SetView(this);
}

QLineEdit* CHardCH::FieldEdit(std::string_view label) const {
  const std::size_t field = ChannelMapEditor::FieldIndex(label);
  return field < edits_.size() ? edits_[field] : nullptr;
}

void CHardCH::ShowEditorTexts() {
  for (std::size_t i = 0; i < edits_.size(); ++i) edits_[i]->setText(QString::fromStdString(editor_.Text(i)));
}

CHardCH::~CHardCH() { editor_.SetView(nullptr); }

void CHardCH::OnChannelMapReceived() {
  ShowEditorTexts();
  BringUp();
}

void CHardCH::BringUp() {
  hide();
  show();
  raise();
  activateWindow();
}

void CHardCH::SetDefaultChannels() {
  editor_.SetDefaultChannels();
  ShowEditorTexts();
}

void CHardCH::StoreChannelMap() {
  if (!editor_.StoreChannelMap()) {
    messages_.Show(ChannelClosedMessage());
    return;
  }
  hide();
}

}  // namespace rolta
