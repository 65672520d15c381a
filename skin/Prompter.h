#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

// The one way the program asks or tells the user something in a message box.
// Every box is kept on top and titled with the application title (string
// 57344), whatever the caller's window.
//
// Tests never see a real box when they queue answers first: each prompt takes
// the oldest queued answer and returns it without showing anything. Every
// prompt, shown or answered, is recorded so a test can check what the user
// would have read.
class Prompter
{
public:
    enum class Icon
    {
        Error,
        Information,
        Warning,
        Question
    };

    struct Record
    {
        Icon icon = Icon::Information;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };

    // Failure: error icon, OK button.
    static void error(QWidget* parent, const QString& text);
    // Confirmation: information icon, OK button.
    static void information(QWidget* parent, const QString& text);
    // Yes/No (or the given buttons) with the question icon; returns the button
    // chosen, or the escape button's value when the box was closed.
    static QMessageBox::StandardButton
    question(QWidget* parent, const QString& text,
             QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
             QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    // The general form the three above use.
    static QMessageBox::StandardButton
    show(QWidget* parent, Icon icon, const QString& text,
         QMessageBox::StandardButtons buttons = QMessageBox::Ok,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // The application title every box carries.
    static QString title();

    // Test hooks.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static void clearAnswers();
    static int pendingAnswers();
    static QList<Record> history();
    static void clearHistory();
};
