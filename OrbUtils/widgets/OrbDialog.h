// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

// Base of every dialog of the workbench: a title and a close button (no
// context help, no minimise or maximise), placed over the window or page
// that opens it.
class OrbDialog : public QDialog
{
    Q_OBJECT
public:
    explicit OrbDialog(QWidget *parent = nullptr);

    // Centres this dialog, keeping its size, on widget's rectangle on
    // screen. Nothing happens for nullptr.
    void moveToCenter(QWidget *widget);
};
