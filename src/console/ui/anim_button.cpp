#include "console/ui/anim_button.h"

#include <QPainter>

namespace rolta {

CAnimButton::CAnimButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  // A little late on its own, so that a repaint for other reasons usually
  // takes the step first.
  constexpr int kOwnTimerGraceMs = 40;
  timer_.setInterval(kStepMs + kOwnTimerGraceMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
  timer_.start();
  sinceStep_.start();
}

void CAnimButton::StepIfDue() {
  // The timer runs exactly while the picture is animated.
  if (timer_.isActive() && sinceStep_.elapsed() >= kStepMs) Step();
}

void CAnimButton::Step() {
  frame_ = (frame_ + 1) % kFrames;
  sinceStep_.restart();
  timer_.start();  // counts again from this step
  update();
}

void CAnimButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
  painter.setPen(QPen(QColor(29, 53, 87), 1.5));
  painter.setBrush(isDown() ? QColor(168, 218, 220) : QColor(241, 250, 238));
  painter.drawRoundedRect(r, 5, 5);
  // Up for half the loop, down for the other half.
  const int half = kFrames / 2;
  const double travel = (frame_ < half ? frame_ : kFrames - frame_) / static_cast<double>(half);
  const double floor = r.bottom() - 6;
  const double platform = floor - 4 - travel * (r.height() - 18);
  painter.setPen(QPen(QColor(69, 123, 157), 2));
  painter.drawLine(QPointF(r.left() + 10, floor), QPointF(r.left() + 10, platform));
  painter.drawLine(QPointF(r.right() - 10, floor), QPointF(r.right() - 10, platform));
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(230, 57, 70));
  painter.drawRect(QRectF(r.left() + 6, platform - 3, r.width() - 12, 4));
  painter.setBrush(QColor(29, 53, 87));
  painter.drawRect(QRectF(r.left() + 4, floor, r.width() - 8, 3));
}

}  // namespace rolta
