#pragma once

#include <QColor>
#include <QImage>
#include <QPushButton>
#include <QRegion>

// A push button, check box or radio button drawn from pictures: normal,
// pressed, hover and disabled pictures, and a mask picture whose non-white
// pixels give the button its outline, both for drawing and for where a click
// counts. Text is drawn over the picture.
class CxSkinButton : public QPushButton
{
    Q_OBJECT
public:
    enum Kind
    {
        PushButton = 0,
        CheckBox = 2,
        RadioButton = 4,
    };
    enum DrawMode
    {
        DrawCopy = 0,    // at the picture's own size from the top-left corner
        DrawStretch = 1, // stretched to the button
        DrawTile = 2,    // repeated from the top-left corner, cut at the edges
    };
    enum class Picture
    {
        None, // the button-face colour
        Normal,
        Pressed,
        Hover,
        Disabled,
        Focus,
    };
    enum class Edge
    {
        Raised,
        Sunken,
    };
    // What one paint shows, from the button's state and the pictures it has.
    struct Look
    {
        Picture picture;
        Edge edge;
        bool textShifted; // one pixel right and down
        bool embossed;    // disabled text
        friend bool operator==(const Look&, const Look&) = default;
    };
    struct State
    {
        bool enabled = true;
        bool down = false; // shows pushed
        bool checked = false;
        bool hover = false;
        bool focus = false;
    };
    struct Pictures
    {
        bool normal = false;
        bool pressed = false;
        bool hover = false;
        bool disabled = false;
        bool focus = false;
    };
    static Look LookFor(const State& state, const Pictures& pictures);
    // The kind a classic button style word stands for: auto check box (low two
    // bits 3) or auto radio button (bits 0 and 3), else a push button.
    static Kind KindFromStyle(quint32 style);

    explicit CxSkinButton(QWidget* parent = nullptr);
    explicit CxSkinButton(const QString& text, QWidget* parent = nullptr);

    void SetKind(Kind kind);
    Kind ButtonKind() const { return m_kind; }

    // Pictures by their path relative to the data folder; an empty path is
    // none. Replaces every picture and the outline held before. The disabled
    // picture is the normal one; there is no focus picture; pictures are
    // stretched, edges are drawn and the focus margin is 0. Returns whether
    // every given picture could be read (the missing ones are drawn plainly).
    bool SetSkin(const QString& normal, const QString& pressed, const QString& hover,
                 const QString& mask);
    void SetDrawMode(DrawMode mode);
    void SetBorder(bool border);
    void SetFocusMargin(int margin);
    void SetTextColor(const QColor& colour);
    // Where the text goes inside the button; empty: the whole button less the
    // focus margin and 2 pixels at each side.
    void SetTextRect(const QRect& rect);

    bool IsHover() const { return m_hover; }
    bool IsPressedFlag() const { return m_pressed; }
    // The outline from the mask, in the button's coordinates; empty without one
    // (check HasRegion).
    QRegion Region() const { return m_region; }
    bool HasRegion() const { return m_hasRegion; }
    Look CurrentLook() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    void init();
    void updateRegion();
    QImage& image(Picture picture);
    void drawPicture(QPainter& painter, const QImage& picture, const QRect& target) const;

    Kind m_kind = PushButton;
    bool m_hover = false;
    bool m_pressed = false;
    QImage m_normal;
    QImage m_pressedPicture;
    QImage m_disabled;
    QImage m_mask;
    QImage m_hoverPicture;
    QImage m_focus;
    int m_focusMargin = 0;
    QColor m_textColor;
    QRegion m_maskRegion; // in the mask's pixels
    QSize m_maskSize;
    QRegion m_region; // in the button's coordinates
    bool m_hasRegion = false;
    bool m_border = false;
    DrawMode m_drawMode = DrawStretch;
    QRect m_textRect;
};
