// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbAlertDialog.h"

#include "OrbTranslate.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>

OrbAlertDialog::OrbAlertDialog(QWidget *parent)
    : OrbDialog(parent), label(new QLabel(this)), okButton(new QPushButton(translate("OK"), this))
{
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
}

void OrbAlertDialog::setText(const QString &text)
{
    label->setText(text);
}

QString OrbAlertDialog::text() const
{
    return label->text();
}

void OrbAlertDialog::resizeEvent(QResizeEvent *event)
{
    OrbDialog::resizeEvent(event);
    const int buttonWidth = std::max(100, okButton->sizeHint().width());
    const int buttonTop = height() - 40;
    label->setGeometry(10, 0, width() - 20, buttonTop);
    okButton->setGeometry((width() - buttonWidth) / 2, buttonTop, buttonWidth, 30);
}
