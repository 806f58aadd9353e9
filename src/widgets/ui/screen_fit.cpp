#include "widgets/ui/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace rolta {
namespace {

class ScreenKeeper final : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = qobject_cast<QWidget*>(watched);
    if (window != nullptr && window->isWindow() && event->type() == QEvent::Show) {
      FitOnScreen(window);
    }
    return false;
  }
};

// The scroll area wishes for its content's whole size (plus the scroll bars
// when the content does not fit), so a large screen shows everything at once;
// its minimum stays small, so a small screen scrolls.
class WholeContentScrollArea final : public QScrollArea {
 public:
  using QScrollArea::QScrollArea;
  QSize sizeHint() const override {
    const QWidget* content = widget();
    if (content == nullptr) return QScrollArea::sizeHint();
    const int frame = 2 * frameWidth();
    return content->sizeHint().expandedTo(content->minimumSizeHint()) + QSize(frame, frame);
  }
  QSize minimumSizeHint() const override {
    // Enough for a scroll bar each way and a strip of content.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return {8 * bar, 6 * bar};
  }
};

}  // namespace

QRect AvailableArea(const QWidget* window, QPoint point) {
  const QScreen* screen = QGuiApplication::screenAt(point);
  if (screen == nullptr) {
    // Beyond every screen: the nearest one.
    int nearest = std::numeric_limits<int>::max();
    for (const QScreen* candidate : QGuiApplication::screens()) {
      const QRect area = candidate->geometry();
      const int dx = std::max({area.left() - point.x(), 0, point.x() - area.right()});
      const int dy = std::max({area.top() - point.y(), 0, point.y() - area.bottom()});
      if (dx + dy < nearest) {
        nearest = dx + dy;
        screen = candidate;
      }
    }
  }
  if (screen == nullptr && window != nullptr) screen = window->screen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

void FitOnScreen(QWidget* window) {
  if (window == nullptr) return;
  const QRect frame = window->frameGeometry();
  const QRect area = AvailableArea(window, frame.center());
  if (!area.isValid()) return;
  // The window manager's frame around the client area; before the first show
  // nobody knows it yet (nor without a window manager), so a title bar and
  // thin borders are assumed.
  QSize decoration = frame.size() - window->size();
  if (decoration.isEmpty() && !(window->windowFlags() & Qt::FramelessWindowHint)) {
    const int border = 4;
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    decoration = QSize(2 * border, title + 2 * border);
  }
  const QSize room = area.size() - decoration;
  const QSize fitted = window->size().boundedTo(room).expandedTo(window->minimumSize());
  if (fitted != window->size()) window->resize(fitted);
  const QSize outer = fitted + decoration;
  const int x = std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width()));
  const int y = std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height()));
  if (QPoint(x, y) != frame.topLeft()) window->move(x, y);
}

void KeepOnScreen(QWidget* window) {
  if (window != nullptr) window->installEventFilter(new ScreenKeeper(window));
}

QScrollArea* ScrollingPane(QWidget* content, QWidget* parent) {
  auto* area = new WholeContentScrollArea(parent);
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  // The dialog's painted background shows through.
  area->setBackgroundRole(QPalette::NoRole);
  area->setAutoFillBackground(false);
  area->viewport()->setAutoFillBackground(false);
  content->setAutoFillBackground(false);
  area->setWidget(content);
  return area;
}

}  // namespace rolta
