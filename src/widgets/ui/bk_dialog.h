#pragma once

#include <QDialog>
#include <QPixmap>

namespace rolta {

// A dialog without a caption bar, with a painted (or pictured) background,
// moved by dragging its background with the left mouse button.
class CBkDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CBkDialog(QWidget* parent = nullptr);

  // Stretches this picture over the background instead of the gradient.
  void SetBackgroundPicture(const QPixmap& picture);
  // Centres over the parent (or the screen), hides and shows again so the
  // window comes to the front.
  void BringUp();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap background_;
  QPoint dragOffset_;
  bool dragging_ = false;
};

}  // namespace rolta
