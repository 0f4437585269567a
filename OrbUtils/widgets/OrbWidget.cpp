// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbWidget.h"

#include <QPainter>

namespace {
QColor fromRgb(unsigned rgb, int alpha)
{
    return QColor((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff, alpha);
}
} // namespace

OrbWidget::OrbWidget(QWidget *parent) : QWidget(parent) {}

void OrbWidget::setBackgroundColor(const QColor &color)
{
    background = color;
    update();
}

void OrbWidget::setBackgroundColor(unsigned rgb, int alpha)
{
    setBackgroundColor(fromRgb(rgb, alpha));
}

void OrbWidget::setBorder(int width, int radius, unsigned rgb, int alpha)
{
    borderPixels = width;
    this->radius = radius;
    border = fromRgb(rgb, alpha);
    update();
}

void OrbWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0, 0, width(), height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(area, radius, radius);
    if (borderPixels > 0) {
        painter.setPen(QPen(border, borderPixels));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(area, radius, radius);
    }
}
