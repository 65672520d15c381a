#include "skin/FreeMenu.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

#include <algorithm>

QSize FreeMenuLayout::CellSize(const QList<QSize>& textSizes)
{
    int w = 0;
    int h = 0;
    for (const QSize& size : textSizes) {
        w = std::max(w, size.width());
        h = std::max(h, size.height());
    }
    return {w + w / 2, h + h / 2};
}

QSize FreeMenuLayout::WindowSize(int count, const QSize& cell, Qt::Orientation orientation)
{
    if (orientation == Qt::Horizontal)
        return {count * cell.width() + 2, cell.height() + 2};
    return {cell.width() + 2, count * cell.height() + 2};
}

QRect FreeMenuLayout::CellRect(int index, const QSize& cell, Qt::Orientation orientation)
{
    const QPoint origin = orientation == Qt::Horizontal ? QPoint(index * cell.width(), 0)
                                                        : QPoint(0, index * cell.height());
    return QRect(origin + QPoint(1, 1), cell);
}

int FreeMenuLayout::HitTest(const QPoint& point, int count, const QSize& cell,
                            Qt::Orientation orientation)
{
    for (int i = 0; i < count; ++i) {
        if (CellRect(i, cell, orientation).contains(point))
            return i;
    }
    return -1;
}

namespace {
QString plainText(const QAction* action)
{
    QString text = action->text();
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

QChar mnemonic(const QAction* action)
{
    const QString text = action->text();
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&')) {
            if (text.at(i + 1) == QLatin1Char('&')) {
                ++i;
                continue;
            }
            return text.at(i + 1).toLower();
        }
    }
    return {};
}

bool chosen(const QAction* action)
{
    return action && action->isEnabled() && action->isVisible();
}
} // namespace

CMenuItemWnd::CMenuItemWnd(CFreeMenu* menu, QWidget* owner) : QWidget(owner), m_menu(menu)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void CMenuItemWnd::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    m_menu->Paint(painter);
}

void CMenuItemWnd::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_menu->OnMouseDown(event->position().toPoint());
    event->accept();
}

void CMenuItemWnd::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

void CMenuItemWnd::mouseMoveEvent(QMouseEvent* event)
{
    m_menu->OnMouseMove(event->position().toPoint());
    event->accept();
}

void CMenuItemWnd::leaveEvent(QEvent* event)
{
    // Nothing stays marked under a mouse that has gone; an open list stays.
    m_menu->OnMouseMove(QPoint(-1, -1));
    QWidget::leaveEvent(event);
}

CFreeMenu::CFreeMenu(QWidget* owner, QMenu* menu, const QFont& font, int x, int y)
    : QObject(owner), m_position(x, y), m_menu(menu), m_owner(owner), m_font(font)
{
    build();
    addShortcuts();
    Draw();
}

CFreeMenu::CFreeMenu(CFreeMenu* parent, QMenu* menu, int x, int y)
    : QObject(parent), m_parent(parent), m_position(x, y), m_menu(menu), m_owner(parent->m_owner),
      m_font(parent->m_font)
{
    build();
}

CFreeMenu::~CFreeMenu()
{
    watch(false);
    qDeleteAll(m_children);
    m_children.clear();
    delete m_window;
}

void CFreeMenu::build()
{
    for (QAction* action : m_menu->actions()) {
        if (action->isSeparator())
            continue;
        m_items.append(action);
    }
    const QSize cell = CellSize();
    for (int i = 0; i < m_items.size(); ++i) {
        QMenu* sub = m_items.at(i)->menu();
        if (!sub) {
            m_children.append(nullptr);
            continue;
        }
        const QRect item = FreeMenuLayout::CellRect(i, cell, orientation());
        // Lists open below the bar's entries and to the right of a list's.
        const QPoint at = m_parent == nullptr && orientation() == Qt::Horizontal
                              ? m_position + QPoint(item.left(), item.bottom() + 2)
                              : m_position + QPoint(item.right() + 2, item.top());
        m_children.append(new CFreeMenu(this, sub, at.x(), at.y()));
    }
}

void CFreeMenu::addShortcuts()
{
    for (int i = 0; i < m_items.size(); ++i) {
        const QChar key = mnemonic(m_items.at(i));
        if (key.isNull())
            continue;
        auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Alt+") + key), m_owner);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, i] { OpenFromKeyboard(i); });
    }
}

Qt::Orientation CFreeMenu::orientation() const
{
    return m_parent ? Qt::Vertical : Qt::Horizontal;
}

QSize CFreeMenu::CellSize() const
{
    const QFontMetrics metrics(m_font);
    QList<QSize> sizes;
    for (const QAction* action : m_items)
        sizes.append(metrics.size(Qt::TextSingleLine, plainText(action)));
    return FreeMenuLayout::CellSize(sizes);
}

QSize CFreeMenu::WindowSize() const
{
    return FreeMenuLayout::WindowSize(int(m_items.size()), CellSize(), orientation());
}

bool CFreeMenu::AnyOpen() const
{
    return m_open >= 0;
}

CFreeMenu* CFreeMenu::bar()
{
    CFreeMenu* level = this;
    while (level->m_parent)
        level = level->m_parent;
    return level;
}

CFreeMenu* CFreeMenu::deepestOpen()
{
    CFreeMenu* level = this;
    while (level->m_open >= 0 && level->m_children.value(level->m_open))
        level = level->m_children.at(level->m_open);
    return level;
}

void CFreeMenu::Draw()
{
    if (!m_window) {
        m_window = new CMenuItemWnd(this, m_owner);
        m_window->setObjectName(m_parent ? QStringLiteral("menuList") : QStringLiteral("menuBar"));
        m_window->setAccessibleName(m_parent ? plainText(m_menu->menuAction())
                                             : QStringLiteral("Menu bar"));
        m_window->setGeometry(QRect(m_position, WindowSize()));
        // One invisible child per entry: screen readers and tests find every
        // entry by its name, as in a system menu.
        const QSize cell = CellSize();
        for (int i = 0; i < m_items.size(); ++i) {
            auto* entry = new QWidget(m_window);
            entry->setObjectName(QStringLiteral("menuItem%1").arg(m_items.at(i)->data().toInt()));
            entry->setAccessibleName(plainText(m_items.at(i)));
            entry->setAttribute(Qt::WA_TransparentForMouseEvents);
            entry->setEnabled(m_items.at(i)->isEnabled());
            entry->setGeometry(FreeMenuLayout::CellRect(i, cell, orientation()));
        }
        m_window->show();
        m_window->raise();
        m_created = true;
    }
    m_window->update();
    if (CFreeMenu* child = m_children.value(m_open))
        child->Draw();
}

void CFreeMenu::Paint(QPainter& painter)
{
    const QRect all(QPoint(0, 0), WindowSize());
    painter.setFont(m_font);
    painter.fillRect(all, BackgroundColour());
    // Raised frame: edge colour top-left, then bottom-right.
    painter.setPen(EdgeColour());
    painter.drawLine(all.topLeft(), all.topRight());
    painter.drawLine(all.topLeft(), all.bottomLeft());
    painter.drawLine(all.bottomLeft(), all.bottomRight());
    painter.drawLine(all.topRight(), all.bottomRight());

    const QSize cell = CellSize();
    for (int i = 0; i < m_items.size(); ++i) {
        const QRect item = FreeMenuLayout::CellRect(i, cell, orientation());
        const bool marked = i == m_hover || i == m_open;
        // A marked entry is a shade darker: the white edges alone are hard to
        // see on the green.
        painter.fillRect(item, marked ? BackgroundColour().darker(118) : BackgroundColour());
        if (marked) {
            painter.setPen(EdgeColour());
            painter.drawRect(item.adjusted(0, 0, -1, -1));
        }
        QColor text = TextColour();
        if (!m_items.at(i)->isEnabled())
            text.setAlpha(120);
        painter.setPen(text);
        const int mnemonics = bar()->m_keyboard ? Qt::TextShowMnemonic : Qt::TextHideMnemonic;
        painter.drawText(item, Qt::AlignCenter | Qt::TextSingleLine | mnemonics,
                         m_items.at(i)->text());
    }
}

void CFreeMenu::Close()
{
    for (CFreeMenu* child : std::as_const(m_children)) {
        if (child)
            child->Close();
    }
    m_open = -1;
    m_hover = -1;
    if (m_window) {
        // Usually closed from inside one of the menus' own mouse handlers:
        // the window goes away once that handler has returned.
        m_window->hide();
        m_window->deleteLater();
        m_window = nullptr;
        m_created = false;
    }
}

void CFreeMenu::CloseAll()
{
    CFreeMenu* top = bar();
    for (CFreeMenu* child : std::as_const(top->m_children)) {
        if (child)
            child->Close();
    }
    const bool wasOpen = top->m_open >= 0;
    top->m_open = -1;
    top->m_hover = -1;
    top->m_keyboard = false;
    top->watch(false);
    if (top->m_window)
        top->m_window->update();
    if (wasOpen)
        emit top->openChanged(QString());
}

void CFreeMenu::setOpen(int index)
{
    if (CFreeMenu* open = m_children.value(m_open))
        open->Close();
    m_hover = -1;
    m_open = index;
    bar()->watch(bar()->AnyOpen());
    Draw();
    if (!m_parent)
        emit openChanged(index >= 0 ? plainText(m_items.at(index)) : QString());
}

void CFreeMenu::choose(int index)
{
    QAction* action = m_items.value(index);
    if (!chosen(action))
        return;
    const int id = action->data().toInt();
    CloseAll();
    emit bar()->commandPosted(id);
    // Posted: the command runs after the menus are gone, even when it opens
    // a window of its own.
    QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
}

bool CFreeMenu::OnMouseDown(const QPoint& point)
{
    bar()->m_keyboard = false;
    const int index =
        FreeMenuLayout::HitTest(point, int(m_items.size()), CellSize(), orientation());
    if (index < 0)
        return false;
    if (index != m_open) {
        if (!m_children.value(index)) {
            choose(index);
            return true;
        }
        setOpen(index);
        return true;
    }
    // The open entry again closes its list.
    if (CFreeMenu* open = m_children.value(m_open))
        open->Close();
    m_open = -1;
    bar()->watch(bar()->AnyOpen());
    Draw();
    if (!m_parent)
        emit openChanged(QString());
    return true;
}

bool CFreeMenu::OnMouseMove(const QPoint& point)
{
    const int index =
        FreeMenuLayout::HitTest(point, int(m_items.size()), CellSize(), orientation());
    if (index >= 0) {
        if (m_open < 0) {
            if (index != m_hover) {
                m_hover = index;
                Draw();
            }
            return true;
        }
        if (index != m_open && m_children.value(index)) {
            setOpen(index);
            return true;
        }
        return false;
    }
    if (m_hover >= 0 && m_open < 0) {
        m_hover = -1;
        Draw();
        return true;
    }
    return false;
}

void CFreeMenu::markFirst(int from, int step)
{
    const int count = int(m_items.size());
    for (int n = 0; n < count; ++n) {
        const int i = ((from + step * n) % count + count) % count;
        if (chosen(m_items.at(i))) {
            m_hover = i;
            Draw();
            return;
        }
    }
}

void CFreeMenu::OpenFromKeyboard(int index)
{
    if (!m_children.value(index))
        return;
    bar()->m_keyboard = true;
    setOpen(index);
    m_children.at(index)->markFirst(0, 1);
}

bool CFreeMenu::OnKey(int key, const QString& text)
{
    CFreeMenu* top = bar();
    if (top->m_open < 0)
        return false;
    CFreeMenu* list = top->deepestOpen();
    const int count = int(top->m_items.size());
    switch (key) {
    case Qt::Key_Escape:
        top->CloseAll();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const int step = key == Qt::Key_Right ? 1 : -1;
        for (int n = 1; n <= count; ++n) {
            const int i = ((top->m_open + step * n) % count + count) % count;
            if (top->m_children.value(i)) {
                top->OpenFromKeyboard(i);
                break;
            }
        }
        return true;
    }
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (list != top) {
            const int step = key == Qt::Key_Down ? 1 : -1;
            list->markFirst(list->m_hover < 0 ? (step > 0 ? 0 : -1) : list->m_hover + step, step);
        }
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (list != top && list->m_hover >= 0) {
            if (list->m_children.value(list->m_hover))
                list->OpenFromKeyboard(list->m_hover);
            else
                list->choose(list->m_hover);
        }
        return true;
    default:
        break;
    }
    if (list != top && !text.isEmpty()) {
        const QChar letter = text.at(0).toLower();
        for (int i = 0; i < list->m_items.size(); ++i) {
            if (mnemonic(list->m_items.at(i)) == letter && chosen(list->m_items.at(i))) {
                list->choose(i);
                return true;
            }
        }
    }
    // Any other key is swallowed while a list is open, like a system menu.
    return true;
}

void CFreeMenu::watch(bool on)
{
    if (on == m_watching || !qApp)
        return;
    m_watching = on;
    if (on)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

bool CFreeMenu::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->window() != m_owner->window())
            break;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            break;
        return OnKey(key->key(), key->text());
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        // A press on one of the menus' own windows is theirs to handle.
        for (auto* w = qobject_cast<QWidget*>(watched); w; w = w->parentWidget()) {
            if (auto* item = qobject_cast<CMenuItemWnd*>(w); item && item->Menu()->bar() == this)
                return false;
        }
        if (!watched->isWidgetType())
            break;
        CloseAll();
        break;
    }
    case QEvent::WindowDeactivate:
        if (watched == m_owner->window())
            CloseAll();
        break;
    default:
        break;
    }
    return false;
}
