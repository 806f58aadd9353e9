#pragma once

#include <QEvent>
#include <QObject>
#include <QPaintEvent>
#include <QRegion>
#include <QWidget>

namespace rolta::test {

// Gathers the regions of the paint events a widget gets, so a test can see
// how much of it a change repainted.
class PaintRegions : public QObject {
 public:
  explicit PaintRegions(QWidget* widget) { widget->installEventFilter(this); }

  QRegion all;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) all |= static_cast<QPaintEvent*>(event)->region();
    return false;
  }
};

}  // namespace rolta::test
