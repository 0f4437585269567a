// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaDeviceModelDelegate.h"

#include "FenwaDeviceModel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace {
QStyle *styleOf(const QStyleOptionViewItem &option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}
} // namespace

QRect FenwaDeviceModelDelegate::indicatorRect(const QStyleOptionViewItem &option)
{
    QStyleOptionButton button;
    const QRect box = styleOf(option)->subElementRect(QStyle::SE_CheckBoxIndicator, &button, option.widget);
    const QRect &cell = option.rect;
    return QRect(cell.left() + cell.width() / 2 - box.width() / 2, cell.top() + cell.height() / 2 - box.height() / 2,
                 box.width(), box.height());
}

void FenwaDeviceModelDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                     const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() != FenwaDeviceModel::CheckColumn)
        return;
    const bool checked = index.data(FenwaDeviceModel::CheckRole).toBool();
    QStyleOptionButton button;
    button.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
    button.rect = indicatorRect(option);
    styleOf(option)->drawControl(QStyle::CE_CheckBox, &button, painter, option.widget);
}

bool FenwaDeviceModelDelegate::editorEvent(QEvent *event, QAbstractItemModel *model,
                                           const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (index.column() != FenwaDeviceModel::CheckColumn)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !indicatorRect(option).contains(mouse->pos()))
            return false;
        if (event->type() == QEvent::MouseButtonDblClick)
            return true;
        break;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Space && key != Qt::Key_Select)
            return false;
        break;
    }
    default:
        return false;
    }
    const bool checked = index.data(FenwaDeviceModel::CheckRole).toBool();
    return model->setData(index, !checked, FenwaDeviceModel::CheckRole);
}
