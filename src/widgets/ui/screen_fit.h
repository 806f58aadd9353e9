// Windows kept wholly on the screen: a window never opens larger than the
// available area of its screen (taskbars left out) nor with any part of its
// frame outside it, so its title bar and first row can always be reached.
#pragma once

#include <QPoint>
#include <QRect>

class QScrollArea;
class QWidget;

namespace rolta {

// The available area of the screen that holds `point`, else of the screen
// nearest to it; empty without any screen.
QRect AvailableArea(const QWidget* window, QPoint point);

// Shrinks the window to the available area (never below its minimum size) and
// moves it so that its frame lies inside, as near to where it stands as it can.
void FitOnScreen(QWidget* window);

// Fits the window every time it is shown, whoever shows it and wherever it was
// moved to before; the filter is a child of the window.
void KeepOnScreen(QWidget* window);

// A scroll area over `content` that takes the content's own size as its wish
// and needs only a small minimum, for windows taller or wider than a small
// screen: the content keeps its controls and their order and scrolls.
QScrollArea* ScrollingPane(QWidget* content, QWidget* parent);

}  // namespace rolta
