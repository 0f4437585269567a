// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbDialog.h"

class QLabel;

// A box with one centred message, closed with the window's close control.
class OrbAlertDialog : public OrbDialog
{
    Q_OBJECT
public:
    explicit OrbAlertDialog(QWidget *parent = nullptr);
    void setText(const QString &text);
    QString text() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *label;
};
