#include "console/ui/tool_dlg.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>

#include "env/text_lookup.h"
#include "env/ui/re_ctl_langue_str.h"
#include "widgets/ui/screen_fit.h"

namespace rolta {
namespace {

QStyle::StandardPixmap IconOf(ToolButton button) {
  switch (button) {
    case ToolButton::Up: return QStyle::SP_ArrowUp;
    case ToolButton::Down: return QStyle::SP_ArrowDown;
    case ToolButton::Manual: return QStyle::SP_MediaPlay;
    case ToolButton::ManualStop: return QStyle::SP_MediaStop;
    case ToolButton::Ok: break;
  }
  return QStyle::SP_DialogOkButton;
}

}  // namespace

CTool::CTool(ByteChannel& channel, const TextLookup& lookup, MessageBoxService& boxes, QWidget* parent)
    : QDialog(parent), strip_(channel) {
  KeepOnScreen(this);
  setWindowTitle(QString::fromStdString(lookup.Lookup("工具")));
  setModal(false);
  auto* layout = new QHBoxLayout(this);
  for (const ToolButtonRow& row : ToolButtons()) {
    const QString text = QString::fromUtf8(row.text.data(), static_cast<qsizetype>(row.text.size()));
    auto* button = new QPushButton(style()->standardIcon(IconOf(row.button)), text, this);
    button->setObjectName(text);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, b = row.button] { OnButton(b); });
    buttons_[static_cast<std::size_t>(row.button)] = button;
    layout->addWidget(button);
  }
  ApplyStates();

  ReCtlLangueStr translator(lookup, boxes);
  translator.Attach(this);
  translator.TranslateAll();
}

void CTool::BringUp() {
  hide();
  show();
  raise();
  activateWindow();
}

void CTool::OnButton(ToolButton button) {
  const bool hides = strip_.Press(button);
  ApplyStates();
  if (hides) hide();
}

void CTool::ApplyStates() {
  Button(ToolButton::Manual)->setEnabled(strip_.ManualEnabled());
  Button(ToolButton::ManualStop)->setEnabled(strip_.ManualStopEnabled());
}

}  // namespace rolta
