#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>

class QAction;
class QMenu;
class CFreeMenu;

// Where the cells of one menu level go; shared by measuring, drawing and hit
// testing. Pure arithmetic, no display needed.
namespace FreeMenuLayout {
// Every cell of a level is as wide and as tall as its widest and tallest text,
// plus half of that again.
QSize CellSize(const QList<QSize>& textSizes);
// The level's window: the cells side by side (horizontal) or stacked, inside a
// one-pixel frame.
QSize WindowSize(int count, const QSize& cell, Qt::Orientation orientation);
// The drawn cell of item index, inside the frame.
QRect CellRect(int index, const QSize& cell, Qt::Orientation orientation);
// The item whose drawn cell holds point, or -1.
int HitTest(const QPoint& point, int count, const QSize& cell, Qt::Orientation orientation);
} // namespace FreeMenuLayout

// The window one menu level draws into: a child of the owner window. Every
// mouse event goes to its CFreeMenu.
class CMenuItemWnd : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kControlId = 0x760;
    CMenuItemWnd(CFreeMenu* menu, QWidget* owner);
    CFreeMenu* Menu() const { return m_menu; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    CFreeMenu* m_menu;
};

// One level of a menu drawn by the program: the bar (horizontal) or one
// drop-down list (vertical). The bar shows the sub-menus of a QMenu whose
// actions are only data here: choosing an entry triggers its QAction, posted
// after the menus have closed, exactly as a system menu would.
class CFreeMenu : public QObject
{
    Q_OBJECT
public:
    // The bar at (x, y) of owner's client area, showing menu's entries.
    CFreeMenu(QWidget* owner, QMenu* menu, const QFont& font, int x, int y);
    ~CFreeMenu() override;

    // Creates the window when needed and redraws this level and the open child.
    void Draw();
    // Destroys this level's window (and its children's).
    void Close();
    // Closes every level up to the bar and clears the bar's open entry.
    void CloseAll();

    // Mouse handling in this level's window coordinates; true when handled.
    bool OnMouseDown(const QPoint& point);
    bool OnMouseMove(const QPoint& point);
    // Opens entry index of the bar from the keyboard (Alt+letter): its list
    // shows with its first available entry marked.
    void OpenFromKeyboard(int index);
    // Keys while a list is open; true when the key was used.
    bool OnKey(int key, const QString& text);

    int HoverIndex() const { return m_hover; }
    int OpenIndex() const { return m_open; }
    bool IsCreated() const { return m_created; }
    CMenuItemWnd* Window() const { return m_window; }
    CFreeMenu* Child(int index) const { return m_children.value(index); }
    CFreeMenu* ParentLevel() const { return m_parent; }
    QPoint Position() const { return m_position; }
    QSize CellSize() const;
    QSize WindowSize() const;
    QList<QAction*> Items() const { return m_items; }
    // Whether any level of this tree shows a list.
    bool AnyOpen() const;

    // Colours: background, raised edge, sunken edge, text.
    static QColor BackgroundColour() { return QColor(105, 207, 8); }
    static QColor EdgeColour() { return QColor(255, 255, 255); }
    static QColor TextColour() { return QColor(255, 255, 255); }

    void Paint(QPainter& painter);

signals:
    // An entry was chosen; its action is triggered right after.
    void commandPosted(int id);
    // The bar's open list changed: its entry's text, empty when none is open.
    void openChanged(const QString& title);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CFreeMenu(CFreeMenu* parent, QMenu* menu, int x, int y);
    void build();
    Qt::Orientation orientation() const;
    void choose(int index);
    void setOpen(int index);
    void watch(bool on);
    CFreeMenu* deepestOpen();
    CFreeMenu* bar();
    void markFirst(int from, int step);
    void addShortcuts();

    CFreeMenu* m_parent = nullptr;
    bool m_created = false;
    QPointer<CMenuItemWnd> m_window;
    int m_hover = -1;
    int m_open = -1;
    QPoint m_position;
    QMenu* m_menu = nullptr;
    QWidget* m_owner = nullptr;
    QFont m_font;
    QList<QAction*> m_items;
    QList<CFreeMenu*> m_children;
    bool m_watching = false;
    // Opened from the keyboard: the entries' letters are underlined.
    bool m_keyboard = false;
};
