#include "skin/SkinButton.h"

#include "skin/SkinPicture.h"
#include "skin/SkinRegion.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QWindow>
#include <qdrawutil.h>

namespace {
// The picture with the mask's white made see-through: what the screen shows
// under the button stays visible around its outline.
QImage cutOut(const QImage& picture, const QImage& mask)
{
    if (picture.isNull() || mask.isNull())
        return picture;
    QImage out = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage fitted =
        mask.size() == picture.size()
            ? mask.convertToFormat(QImage::Format_RGB32)
            : mask.scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation)
                  .convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        const auto* cut = reinterpret_cast<const QRgb*>(fitted.constScanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((cut[x] & 0x00ffffff) == 0x00ffffff)
                line[x] = 0;
        }
    }
    out.setDevicePixelRatio(picture.devicePixelRatio());
    return out;
}
} // namespace

CxSkinButton::Look CxSkinButton::LookFor(const State& state, const Pictures& pictures)
{
    if (!state.enabled)
        return {pictures.disabled ? Picture::Disabled : Picture::None, Edge::Raised, false, true};
    if (!state.down && !state.checked) {
        Picture picture = Picture::None;
        if (state.hover && pictures.hover)
            picture = Picture::Hover;
        else if (state.focus && pictures.focus)
            picture = Picture::Focus;
        else if (pictures.normal)
            picture = Picture::Normal;
        return {picture, Edge::Raised, false, false};
    }
    return {pictures.pressed ? Picture::Pressed : Picture::None, Edge::Sunken, true, false};
}

CxSkinButton::Kind CxSkinButton::KindFromStyle(quint32 style)
{
    if ((style & 0x9u) == 0x9u)
        return RadioButton;
    if ((style & 0x3u) == 0x3u)
        return CheckBox;
    return PushButton;
}

CxSkinButton::CxSkinButton(QWidget* parent) : QPushButton(parent)
{
    init();
}

CxSkinButton::CxSkinButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    init();
}

void CxSkinButton::init()
{
    m_textColor = palette().color(QPalette::ButtonText);
    setMouseTracking(true);
    setAutoDefault(false);
}

void CxSkinButton::SetKind(Kind kind)
{
    m_kind = kind;
    setCheckable(kind != PushButton);
    // Radio buttons of one parent form a group: checking one clears the others.
    setAutoExclusive(kind == RadioButton);
    if (kind == PushButton)
        setChecked(false);
    update();
}

bool CxSkinButton::SetSkin(const QString& normal, const QString& pressed, const QString& hover,
                           const QString& mask)
{
    const qreal ratio = devicePixelRatioF();
    m_mask = SkinPicture::Load(mask, ratio);
    m_normal = cutOut(SkinPicture::Load(normal, ratio), m_mask);
    m_pressedPicture = cutOut(SkinPicture::Load(pressed, ratio), m_mask);
    m_hoverPicture = cutOut(SkinPicture::Load(hover, ratio), m_mask);
    m_disabled = m_normal;
    m_focus = QImage();
    m_drawMode = DrawStretch;
    m_border = true;
    m_focusMargin = 0;
    // The outline comes from the plain mask: its pixels are what the region
    // counts, whatever the screen's scale.
    const QImage plainMask = SkinPicture::Load(mask, 1.0);
    m_maskRegion = SkinRegion::FromMask(plainMask);
    m_maskSize = plainMask.size();
    m_hasRegion = !mask.isEmpty() && !m_mask.isNull();
    updateRegion();
    update();
    return (normal.isEmpty() || !m_normal.isNull()) &&
           (pressed.isEmpty() || !m_pressedPicture.isNull()) &&
           (hover.isEmpty() || !m_hoverPicture.isNull()) && (mask.isEmpty() || !m_mask.isNull());
}

void CxSkinButton::SetDrawMode(DrawMode mode)
{
    m_drawMode = mode;
    updateRegion();
    update();
}

void CxSkinButton::SetBorder(bool border)
{
    m_border = border;
    update();
}

void CxSkinButton::SetFocusMargin(int margin)
{
    m_focusMargin = margin;
    update();
}

void CxSkinButton::SetTextColor(const QColor& colour)
{
    m_textColor = colour;
    update();
}

void CxSkinButton::SetTextRect(const QRect& rect)
{
    m_textRect = rect;
    update();
}

void CxSkinButton::updateRegion()
{
    if (!m_hasRegion) {
        m_region = QRegion();
        clearMask();
        return;
    }
    // The mask is placed like the pictures: stretched to the button, or at its
    // own size.
    m_region = m_drawMode == DrawStretch ? SkinRegion::Scaled(m_maskRegion, m_maskSize, size())
                                         : m_maskRegion;
    // An empty region would make Qt drop the mask altogether: a button whose
    // mask is all white is cut to nothing instead.
    setMask(m_region.isEmpty() ? QRegion(-1, -1, 1, 1) : m_region);
}

CxSkinButton::Look CxSkinButton::CurrentLook() const
{
    State state;
    state.enabled = isEnabled();
    state.down = isDown();
    state.checked = isChecked();
    state.hover = m_hover;
    state.focus = hasFocus();
    Pictures pictures;
    pictures.normal = !m_normal.isNull();
    pictures.pressed = !m_pressedPicture.isNull();
    pictures.hover = !m_hoverPicture.isNull();
    pictures.disabled = !m_disabled.isNull();
    pictures.focus = !m_focus.isNull();
    return LookFor(state, pictures);
}

QImage& CxSkinButton::image(Picture picture)
{
    switch (picture) {
    case Picture::Normal:
        return m_normal;
    case Picture::Pressed:
        return m_pressedPicture;
    case Picture::Hover:
        return m_hoverPicture;
    case Picture::Disabled:
        return m_disabled;
    case Picture::Focus:
        return m_focus;
    case Picture::None:
        break;
    }
    static QImage none;
    return none;
}

void CxSkinButton::drawPicture(QPainter& painter, const QImage& picture, const QRect& target) const
{
    switch (m_drawMode) {
    case DrawStretch:
        painter.drawImage(target, picture);
        break;
    case DrawTile: {
        // Cut at the edges: the last row and column show only what fits.
        painter.save();
        painter.setClipRect(target, Qt::IntersectClip);
        painter.drawTiledPixmap(target, QPixmap::fromImage(picture));
        painter.restore();
        break;
    }
    case DrawCopy:
        painter.drawImage(target.topLeft(), picture);
        break;
    }
}

void CxSkinButton::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect item = rect();
    const Look look = CurrentLook();
    QRect textRect = m_textRect.isNull()
                         ? item.adjusted(m_focusMargin + 2, 0, -(m_focusMargin + 2), 0)
                         : m_textRect;

    const QImage& picture = const_cast<CxSkinButton*>(this)->image(look.picture);
    if (picture.isNull()) {
        painter.fillRect(item, palette().button());
    } else if (look.embossed) {
        // The disabled picture is the normal one: faded, so the button reads
        // as unavailable.
        painter.setOpacity(0.45);
        drawPicture(painter, picture, item);
        painter.setOpacity(1.0);
    } else {
        drawPicture(painter, picture, item);
    }
    if (m_border)
        qDrawWinPanel(&painter, item, palette(), look.edge == Edge::Sunken);

    const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    if (look.embossed) {
        const QRect lit = isChecked() ? textRect.translated(1, 1) : textRect;
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(lit, flags, text());
        painter.setPen(palette().color(QPalette::Disabled, QPalette::WindowText));
        painter.drawText(lit.translated(-1, -1), flags, text());
        return;
    }
    if (look.textShifted)
        textRect.translate(1, 1);
    if (hasFocus() && m_focusMargin > 0) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = item.adjusted(m_focusMargin, m_focusMargin, -m_focusMargin, -m_focusMargin);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
    painter.setPen(m_textColor);
    painter.drawText(textRect, flags, text());
}

bool CxSkinButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Leave:
        m_hover = false;
        update();
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // Space toggles a check box and checks a radio button through the
        // default handling; a pushed-down look never sticks.
        break;
    default:
        break;
    }
    return QPushButton::event(event);
}

void CxSkinButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        if (m_hover) {
            m_hover = false;
            update();
        }
        m_pressed = true;
    }
    QPushButton::mousePressEvent(event);
}

void CxSkinButton::mouseMoveEvent(QMouseEvent* event)
{
    // While pressed, the default handling pushes and un-pushes the button as
    // the cursor enters and leaves its outline (hitButton).
    if (!m_pressed && !m_hover && hitButton(event->position().toPoint())) {
        m_hover = true;
        update();
    }
    QPushButton::mouseMoveEvent(event);
}

void CxSkinButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    QPushButton::mouseReleaseEvent(event);
    // Still over the button: it shows its hover picture again.
    if (event->button() == Qt::LeftButton && hitButton(event->position().toPoint()) &&
        underMouse()) {
        m_hover = true;
        update();
    }
}

void CxSkinButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A second press, as the first.
    mousePressEvent(event);
}

void CxSkinButton::focusOutEvent(QFocusEvent* event)
{
    m_pressed = false;
    QPushButton::focusOutEvent(event);
}

void CxSkinButton::resizeEvent(QResizeEvent* event)
{
    QPushButton::resizeEvent(event);
    updateRegion();
}

bool CxSkinButton::hitButton(const QPoint& pos) const
{
    if (m_hasRegion)
        return m_region.contains(pos);
    return rect().contains(pos);
}
