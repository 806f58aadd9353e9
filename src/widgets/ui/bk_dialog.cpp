#include "widgets/ui/bk_dialog.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "widgets/ui/screen_fit.h"

namespace rolta {

CBkDialog::CBkDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) { KeepOnScreen(this); }

void CBkDialog::SetBackgroundPicture(const QPixmap& picture) {
  background_ = picture;
  update();
}

void CBkDialog::BringUp() {
  // The whole wish, not adjustSize's two thirds of the screen: the screen
  // keeper cuts it to what the screen has.
  resize(sizeHint());
  const QRect area = parentWidget() && parentWidget()->isVisible()
                         ? parentWidget()->frameGeometry()
                         : (screen() ? screen()->availableGeometry() : QRect());
  if (area.isValid()) move(area.center() - rect().center());
  hide();
  show();
  raise();
  activateWindow();
}

void CBkDialog::mousePressEvent(QMouseEvent* event) {
  // Presses that no control took land here: they grab the window.
  dragging_ = event->button() == Qt::LeftButton;
  if (dragging_) dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  QDialog::mousePressEvent(event);
}

void CBkDialog::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - dragOffset_);
  }
  QDialog::mouseMoveEvent(event);
}

void CBkDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!background_.isNull()) {
    painter.drawPixmap(rect(), background_);
  } else {
    QLinearGradient gradient(rect().topLeft(), rect().bottomLeft());
    gradient.setColorAt(0, QColor(226, 233, 244));
    gradient.setColorAt(1, QColor(178, 194, 219));
    painter.fillRect(rect(), gradient);
  }
  painter.setPen(QColor(80, 100, 130));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace rolta
