// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStyledItemDelegate>

// Draws the row check boxes of the device table and toggles them: a left
// click on the box, or Space / Select on the focused cell. A double click on
// the box is swallowed so that it does not toggle twice.
class FenwaDeviceModelDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    // The check-box indicator centred in a cell.
    static QRect indicatorRect(const QStyleOptionViewItem &option);
};
