// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbProgressDialog.h"

#include "OrbUtils/OrbTranslate.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

OrbProgressDialog::OrbProgressDialog(QWidget *parent)
    : OrbWaitDialog(parent), messageLabel(new QLabel(this)), bar(new QProgressBar(this)),
      stop(new QPushButton(translate("Stop"), this))
{
    // A click only: Return or Space meant for the box before must not stop
    // a job that has just started. Escape stops it from the keyboard.
    stop->setAutoDefault(false);
    stop->setFocusPolicy(Qt::NoFocus);
    connect(stop, &QPushButton::clicked, this, &OrbProgressDialog::reject);
    // A range of 0..0 keeps the bar a busy indicator whatever the value.
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    connect(this, &OrbProgressDialog::_setMessage, this, &OrbProgressDialog::setMessage, Qt::AutoConnection);
    connect(this, &OrbProgressDialog::_setProgress, this, &OrbProgressDialog::setProgress, Qt::AutoConnection);
    resize(300, 60 + buttonRowHeight);
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
    // The message takes what the bar and the button row leave: a dialog
    // made taller shows several lines.
    const int barTop = height() - buttonRowHeight - 15;
    messageLabel->setGeometry(5, 5, width() - 10, barTop - 5);
    bar->setGeometry(5, barTop, width() - 10, 10);
    const int stopWidth = std::max(100, stop->sizeHint().width());
    stop->setGeometry(width() - stopWidth - 10, height() - buttonRowHeight + 5, stopWidth, 30);
}
