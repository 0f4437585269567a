// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbDialog.h"

OrbDialog::OrbDialog(QWidget *parent) : QDialog(parent)
{
    // Title and close button only: a dialog minimised on its own would leave
    // the window it blocks unusable and, under a plain window manager,
    // nothing on screen to bring it back. Dialogs that are windows of their
    // own add the buttons back.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
}

void OrbDialog::moveToCenter(QWidget *widget)
{
    if (widget == nullptr)
        return;
    // A page is a child widget: its own geometry is relative to its parent,
    // so take its rectangle on screen. For a window this is its geometry.
    const QPoint topLeft = widget->mapToGlobal(QPoint(0, 0));
    QPoint target(topLeft.x() + (widget->width() - width()) / 2, topLeft.y() + (widget->height() - height()) / 2);
    // A dialog with a parent is itself a window (moved in screen
    // coordinates); a parentless one too. Either way move() takes screen
    // coordinates here.
    move(target);
}
