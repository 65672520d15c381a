#include "skin/Prompter.h"

#include "foundation/DebugDump.h"
#include "resources/StringTable.h"

#include <QMessageBox>
#include <QQueue>

namespace {
constexpr quint32 IDS_APP_TITLE = 57344;

QQueue<QMessageBox::StandardButton>& answers()
{
    static QQueue<QMessageBox::StandardButton> queue;
    return queue;
}

QList<Prompter::Record>& records()
{
    static QList<Prompter::Record> list;
    return list;
}

QMessageBox::Icon boxIcon(Prompter::Icon icon)
{
    switch (icon) {
    case Prompter::Icon::Error:
        return QMessageBox::Critical;
    case Prompter::Icon::Warning:
        return QMessageBox::Warning;
    case Prompter::Icon::Question:
        return QMessageBox::Question;
    case Prompter::Icon::Information:
        break;
    }
    return QMessageBox::Information;
}
} // namespace

QString Prompter::title()
{
    return LoadString(IDS_APP_TITLE);
}

void Prompter::error(QWidget* parent, const QString& text)
{
    show(parent, Icon::Error, text);
}

void Prompter::information(QWidget* parent, const QString& text)
{
    show(parent, Icon::Information, text);
}

QMessageBox::StandardButton Prompter::question(QWidget* parent, const QString& text,
                                               QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton)
{
    return show(parent, Icon::Question, text, buttons, defaultButton);
}

QMessageBox::StandardButton Prompter::show(QWidget* parent, Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton)
{
    records().append({icon, title(), text, buttons});
    if (!answers().isEmpty())
        return answers().dequeue();

    QMessageBox box(boxIcon(icon), title(), text, buttons, parent);
    // Boxes may come up while the main window is hidden in the tray; keeping
    // them on top stops them from disappearing behind other programs.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    box.setAccessibleName(title());
    box.setAccessibleDescription(text);
    // What the box says, for end-to-end checks from outside the program.
    DebugDump::Write(QStringLiteral("message.txt"), text);
    const int result = box.exec();
    DebugDump::Write(QStringLiteral("message.txt"), QString());
    return static_cast<QMessageBox::StandardButton>(result);
}

void Prompter::setNextAnswer(QMessageBox::StandardButton answer)
{
    answers().enqueue(answer);
}

void Prompter::clearAnswers()
{
    answers().clear();
}

int Prompter::pendingAnswers()
{
    return static_cast<int>(answers().size());
}

QList<Prompter::Record> Prompter::history()
{
    return records();
}

void Prompter::clearHistory()
{
    records().clear();
}
