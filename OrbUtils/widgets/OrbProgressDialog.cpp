// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbProgressDialog.h"

#include <QLabel>
#include <QProgressBar>

OrbProgressDialog::OrbProgressDialog(QWidget *parent)
    : OrbWaitDialog(parent), messageLabel(new QLabel(this)), bar(new QProgressBar(this))
{
    // A range of 0..0 keeps the bar a busy indicator whatever the value.
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    connect(this, &OrbProgressDialog::_setMessage, this, &OrbProgressDialog::setMessage, Qt::AutoConnection);
    connect(this, &OrbProgressDialog::_setProgress, this, &OrbProgressDialog::setProgress, Qt::AutoConnection);
    resize(300, 60);
}

QString OrbProgressDialog::message() const
{
    return messageLabel->text();
}

void OrbProgressDialog::setBusy(bool busy)
{
    bar->setRange(0, busy ? 0 : 100);
}

void OrbProgressDialog::setMessage(const QString &message)
{
    messageLabel->setText(message);
}

void OrbProgressDialog::setProgress(float progress)
{
    bar->setValue(static_cast<int>(progress * 100));
}

void OrbProgressDialog::resizeEvent(QResizeEvent *event)
{
    OrbWaitDialog::resizeEvent(event);
    // The message takes what the bar leaves: a dialog made taller shows
    // several lines.
    messageLabel->setGeometry(5, 5, width() - 10, height() - 25);
    bar->setGeometry(5, height() - 15, width() - 10, 10);
}
