#pragma once

#include <QDialog>

// The About box: icon, product line, notice and OK.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
