#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>

// A dialog drawn as one picture: the background is the skin, the window is cut
// to a rounded rectangle, and any point of the background drags the window.
//
// The shape is a window mask (an X shape region), not a translucent window: it
// gives the same outline on a bare X server and under a compositor, where a
// translucent window without a compositor would show black corners. Its edge is
// not antialiased; the background picture draws a thin outline that hides that.
class CSkinDialog : public QDialog
{
    Q_OBJECT
public:
    // Diameter of the corner ellipses of the window's shape.
    static constexpr int kCornerEllipse = 18;

    explicit CSkinDialog(QWidget* parent = nullptr);

    // Loads the background ("images/...", relative to the data folder) and cuts
    // the window's corners. False when the picture could not be read: the
    // window is then drawn in the button-face colour, still shaped.
    bool SetSkin(const QString& picture);
    const QImage& Background() const { return m_background; }
    bool IsDragging() const { return m_dragging; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void applyShape();
    void reloadForScreen();

    QString m_picture;
    QImage m_background;
    qreal m_loadedRatio = 0;
    bool m_skinned = false;
    // Moving the window ourselves, where the window system cannot.
    bool m_dragging = false;
    QPoint m_dragOffset;
};
