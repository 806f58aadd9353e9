#pragma once

#include <QAbstractButton>
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

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  static constexpr int kFrames = 12;
  QTimer timer_;
  int frame_ = 0;
};

}  // namespace rolta
