#include "app/AboutDlg.h"

#include "skin/Pictures.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(tr("About Tervala Pro"));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(QIcon(Pictures::Path(QStringLiteral("icons/trayicon.ico"))).pixmap(32, 32));
    icon->setAccessibleName(tr("Tervala Pro icon"));
    auto* product = new QLabel(tr("Tervala Pro 1.0.0.0"), this);
    product->setObjectName(QStringLiteral("aboutProduct"));
    auto* notice = new QLabel(tr("Copyright (C) Quornix. All rights reserved."), this);
    notice->setObjectName(QStringLiteral("aboutNotice"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(product, 0, 1);
    layout->addWidget(notice, 1, 1);
    layout->addWidget(buttons, 0, 2, 2, 1, Qt::AlignTop);
    // 178 x 62 dialog units.
    setFixedSize(qMax(178 * 6 / 4, sizeHint().width()), qMax(62 * 13 / 8, sizeHint().height()));
}
