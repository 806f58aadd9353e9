#include "readouts/ui/readout_captions.h"

#include <QBoxLayout>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>

namespace rolta {
namespace {

const QColor kHighlight(255, 214, 102);

}  // namespace

CReadoutCaptions::CReadoutCaptions(const std::array<QGroupBox*, kReadoutCount>& frames, const TextLookup& lookup,
                                   QObject* parent)
    : QObject(parent), unitTable_(lookup), frames_(frames) {
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    QGroupBox* frame = frames_[i];
    auto* unit = new QLabel(frame);
    unit->setObjectName(QStringLiteral("readoutUnit%1").arg(i));
    unit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    unit->setStyleSheet(QStringLiteral("font-weight: bold; color: #1d3557;"));
    if (auto* layout = qobject_cast<QBoxLayout*>(frame->layout())) layout->insertWidget(0, unit);
    units_[i] = unit;
    timers_[i] = new QTimer(this);
    timers_[i]->setSingleShot(true);
    connect(timers_[i], &QTimer::timeout, this, [this, i] { SetHighlight(i, false); });
  }
}

void CReadoutCaptions::SetCaption(std::size_t readout, const QString& caption) {
  if (readout >= kReadoutCount) return;
  QGroupBox* frame = frames_[readout];
  // Every frame sets its captions again; most of the time nothing changes.
  if (!caption.isEmpty() && frame->title() == caption) return;
  const bool changed = !frame->title().isEmpty() && frame->title() != caption;
  frame->setTitle(caption);
  units_[readout]->setText(QString::fromStdString(unitTable_.UnitOf(caption.toStdString())));
  if (changed) {
    SetHighlight(readout, true);
    timers_[readout]->start(kHighlightMilliseconds);
  }
}

void CReadoutCaptions::SetHighlight(std::size_t readout, bool on) {
  highlighted_[readout] = on;
  QGroupBox* frame = frames_[readout];
  frame->setAutoFillBackground(on);
  if (on) {
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, kHighlight);
    frame->setPalette(palette);
  } else {
    frame->setPalette(QPalette());
  }
}

}  // namespace rolta
