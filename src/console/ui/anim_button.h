#pragma once

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTimer>

namespace rolta {

// The picture button of the "工具" group: a lift platform drawn rising and
// falling in a loop. No caption.
class CAnimButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit CAnimButton(QWidget* parent = nullptr);

  QSize sizeHint() const override { return {48, 40}; }
  void StopAnimation() { timer_.stop(); }
  bool Animating() const { return timer_.isActive(); }
  int Frame() const { return frame_; }
  // Moves the picture on if its time has come. The window calls it when it
  // repaints anyway, so the picture's step joins that repaint; the button's
  // own timer steps it only when nothing else repaints.
  void StepIfDue();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  static constexpr int kFrames = 12;
  static constexpr int kStepMs = 150;
  void Step();

  QTimer timer_;
  QElapsedTimer sinceStep_;
  int frame_ = 0;
};

}  // namespace rolta
