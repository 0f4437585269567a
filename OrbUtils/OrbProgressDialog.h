// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbWaitDialog.h"

class QLabel;
class QProgressBar;

// A wait dialog with a message line over a busy bar. Jobs update it through
// the underscore signals, which reach the slots on the interface thread.
class OrbProgressDialog : public OrbWaitDialog
{
    Q_OBJECT
public:
    explicit OrbProgressDialog(QWidget *parent = nullptr);

    QString message() const;

public slots:
    void setMessage(const QString &message);
    void setProgress(float progress);

signals:
    void _setMessage(const QString &message);
    void _setProgress(float progress);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *messageLabel;
    QProgressBar *bar;
};
