// SPDX-License-Identifier: GPL-3.0-or-later
#include "QCheckBoxHeaderView.h"

#include <QCheckBox>
#include <QtDebug>

QCheckBoxHeaderView::QCheckBoxHeaderView(QWidget *parent)
    : QHeaderView(Qt::Horizontal, parent), box(new QCheckBox(this))
{
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
    // Section 0's position moves with horizontal scrolling; the box stays
    // on its section.
    box->move(sectionViewportPosition(0) + (sectionSize(0) - box->width()) / 2, 5);
}
