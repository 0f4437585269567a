// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbWaitDialog.h"

class QLabel;
class QProgressBar;
class QPushButton;

// A wait dialog with a message line over a progress bar and a "Stop" button
// under it, which stops the job as closing the dialog does (a window
// without a close box, or a window manager that shows none, still offers a
// way out; Escape does the same). Jobs update it through the underscore
// signals, which reach the slots on the interface thread. Subclasses size
// the dialog with room for the button row (buttonRowHeight).
class OrbProgressDialog : public OrbWaitDialog
{
    Q_OBJECT
public:
    explicit OrbProgressDialog(QWidget *parent = nullptr);

    static constexpr int buttonRowHeight = 40;
    QPushButton *stopButton() const { return stop; }

    QString message() const;
    // A busy bar runs without end (the default); otherwise the bar shows
    // setProgress's share from 0 to 1.
    void setBusy(bool busy);

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
    QPushButton *stop;
};
