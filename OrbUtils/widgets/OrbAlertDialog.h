// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbDialog.h"

class QLabel;
class QPushButton;

// A box with one centred message and an OK button under it.
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
    QPushButton *okButton;
};
