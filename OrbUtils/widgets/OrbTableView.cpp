// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbTableView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QtDebug>
#include <algorithm>

OrbTableView::OrbTableView(QWidget *parent) : QTableView(parent) {}

QString OrbTableView::selectionText() const
{
    QModelIndexList cells = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    if (cells.isEmpty())
        return QString();
    std::sort(cells.begin(), cells.end(), [](const QModelIndex &a, const QModelIndex &b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });
    int minColumn = cells.first().column(), maxColumn = minColumn;
    for (const QModelIndex &cell : cells) {
        minColumn = std::min(minColumn, cell.column());
        maxColumn = std::max(maxColumn, cell.column());
    }
    qDebug() << "col -> [" << minColumn << ", " << maxColumn << "]";

    QString text;
    int row = cells.first().row();
    int column = minColumn;
    for (const QModelIndex &cell : cells) {
        if (cell.row() != row) {
            text += QLatin1Char('\n');
            row = cell.row();
            column = minColumn;
        }
        // Tabs keep each value under its own column when the selection has
        // gaps.
        for (; column < cell.column(); ++column)
            text += QLatin1Char('\t');
        const QVariant value = cell.data(Qt::DisplayRole);
        text += value.type() == QVariant::String ? value.toString() : QStringLiteral("!");
    }
    return text;
}

void OrbTableView::keyPressEvent(QKeyEvent *event)
{
    qDebug() << "key event " << event;
    if (event->modifiers() == Qt::ControlModifier && event->key() == Qt::Key_C) {
        const QString text = selectionText();
        if (!text.isEmpty())
            QApplication::clipboard()->setText(text);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}
