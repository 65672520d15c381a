#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Where a window opening in the middle of the desktop goes: its top-left
// corner at the desktop's centre minus half its own size (integer halves,
// truncated toward zero). On a desktop smaller than the window the corner is
// negative and is used as it is.
QPoint CenteredCorner(const QSize& window, const QRect& desktop);

// Moves the window there on the primary screen, keeping its size.
void CenterOnDesktop(QWidget* window);
