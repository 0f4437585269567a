// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QWidget>

// A widget that paints itself as a rounded rectangle with an optional
// border. Invisible until given a colour: the base of notices and of the
// settings pages.
class OrbWidget : public QWidget
{
    Q_OBJECT
public:
    explicit OrbWidget(QWidget *parent = nullptr);

    void setBackgroundColor(const QColor &color);
    void setBackgroundColor(unsigned rgb, int alpha);
    void setBorder(int width, int radius, unsigned rgb, int alpha);

    QColor backgroundColor() const { return background; }
    QColor borderColor() const { return border; }
    int borderWidth() const { return borderPixels; }
    int cornerRadius() const { return radius; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor background{255, 255, 255, 0};
    QColor border{255, 255, 255, 0};
    int borderPixels = 0;
    int radius = 0;
};
