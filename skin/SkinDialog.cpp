#include "skin/SkinDialog.h"

#include "skin/SkinPicture.h"
#include "skin/SkinRegion.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

CSkinDialog::CSkinDialog(QWidget* parent) : QDialog(parent)
{
    // The picture covers every pixel: nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CSkinDialog::SetSkin(const QString& picture)
{
    m_picture = picture;
    m_skinned = true;
    reloadForScreen();
    applyShape();
    update();
    return !m_background.isNull();
}

void CSkinDialog::reloadForScreen()
{
    if (m_picture.isEmpty())
        return;
    m_loadedRatio = devicePixelRatioF();
    m_background = SkinPicture::Load(m_picture, m_loadedRatio);
}

void CSkinDialog::applyShape()
{
    if (!m_skinned)
        return;
    // A window with a frame keeps its square client area: the frame's own
    // corners would otherwise show notches.
    if (windowFlags() & Qt::FramelessWindowHint)
        setMask(SkinRegion::RoundedRect(size(), QSize(kCornerEllipse, kCornerEllipse)));
    else
        clearMask();
}

void CSkinDialog::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    // Moved to a screen of another scale: take the picture drawn for it.
    if (!m_picture.isEmpty() && m_loadedRatio != devicePixelRatioF())
        reloadForScreen();
    QPainter painter(this);
    if (m_background.isNull()) {
        painter.fillRect(rect(), palette().button());
        return;
    }
    // At its own size from the top-left corner, like the window it replaces;
    // anything beyond the picture gets the face colour.
    const QSizeF logical = m_background.deviceIndependentSize();
    painter.fillRect(rect(), palette().button());
    painter.drawImage(QRectF(QPointF(0, 0), logical), m_background);
}

void CSkinDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    applyShape();
}

void CSkinDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange || event->type() == QEvent::ParentChange)
        applyShape();
}

void CSkinDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    // The window manager moves the window as if its caption were dragged;
    // where it cannot (offscreen, some bare servers) the window follows the
    // mouse itself.
    if (QWindow* window = windowHandle(); window && window->startSystemMove()) {
        event->accept();
        return;
    }
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
}

void CSkinDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CSkinDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}
