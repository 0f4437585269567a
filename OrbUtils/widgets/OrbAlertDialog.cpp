// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbAlertDialog.h"

#include <QLabel>

OrbAlertDialog::OrbAlertDialog(QWidget *parent) : OrbDialog(parent), label(new QLabel(this))
{
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
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
    label->setGeometry(0, 0, width(), height());
}
