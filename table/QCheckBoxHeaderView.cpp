// SPDX-License-Identifier: GPL-3.0-or-later
#include "QCheckBoxHeaderView.h"

#include <QCheckBox>
#include <QtDebug>

QCheckBoxHeaderView::QCheckBoxHeaderView(QWidget *parent)
    : QHeaderView(Qt::Horizontal, parent), box(new QCheckBox(viewport()))
{
    // On the viewport, which the header scrolls with the table: a child of
    // the header itself would stay put over whatever column scrolls under it.
    setSectionsClickable(true);
    // The check and play columns are 30 pixels wide; the style's minimum
    // would widen them.
    setMinimumSectionSize(20);
    box->adjustSize();
}

void QCheckBoxHeaderView::onSectionResized(int logicalIndex, int oldSize, int newSize)
{
    qDebug() << "onSectionResized " << logicalIndex << ", " << oldSize << ", " << newSize;
    if (logicalIndex == 0)
        updateGeometries();
}

void QCheckBoxHeaderView::updateGeometries()
{
    QHeaderView::updateGeometries();
    box->move(sectionViewportPosition(0) + (sectionSize(0) - box->width()) / 2, 5);
}
