#include "skin/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QPoint CenteredCorner(const QSize& window, const QRect& desktop)
{
    const QPoint centre(desktop.x() + desktop.width() / 2, desktop.y() + desktop.height() / 2);
    return QPoint(centre.x() - window.width() / 2, centre.y() - window.height() / 2);
}

void CenterOnDesktop(QWidget* window)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!window || !screen)
        return;
    window->move(CenteredCorner(window->size(), screen->geometry()));
}
