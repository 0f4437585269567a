// SPDX-License-Identifier: GPL-3.0-or-later
// Paints the workbench's five images. Run at build time, so the images are
// this project's own work under its licence and need no binary in the tree.
//   fenwa-draw-icons OUTPUT_DIR
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {
const int kSize = 48;

QImage blank()
{
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter *p)
{
    p->setRenderHint(QPainter::Antialiasing);
}

QImage play()
{
    QImage image = blank();
    QPainter p(&image);
    prepare(&p);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x9d, 0x4f));
    p.drawEllipse(QRectF(3, 3, 42, 42));
    QPainterPath triangle;
    triangle.moveTo(19, 14);
    triangle.lineTo(35, 24);
    triangle.lineTo(19, 34);
    triangle.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(triangle);
    return image;
}

QImage audio()
{
    QImage image = blank();
    QPainter p(&image);
    prepare(&p);
    const QColor blue(0x25, 0x63, 0xb0);
    QPainterPath speaker;
    speaker.moveTo(6, 18);
    speaker.lineTo(14, 18);
    speaker.lineTo(24, 9);
    speaker.lineTo(24, 39);
    speaker.lineTo(14, 30);
    speaker.lineTo(6, 30);
    speaker.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawPath(speaker);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(blue, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(22, 15, 12, 18), -50 * 16, 100 * 16);
    p.drawArc(QRectF(20, 8, 22, 32), -50 * 16, 100 * 16);
    return image;
}

QImage microphone()
{
    QImage image = blank();
    QPainter p(&image);
    prepare(&p);
    const QColor dark(0x44, 0x4b, 0x55);
    p.setPen(Qt::NoPen);
    p.setBrush(dark);
    p.drawRoundedRect(QRectF(17, 4, 14, 24), 7, 7);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(dark, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(11, 12, 26, 24), 180 * 16, 180 * 16);
    p.drawLine(QPointF(24, 36), QPointF(24, 42));
    p.drawLine(QPointF(16, 43), QPointF(32, 43));
    return image;
}

QImage unavailable()
{
    QImage image = blank();
    QPainter p(&image);
    prepare(&p);
    const QColor red(0xc6, 0x28, 0x28);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(red, 5));
    p.drawEllipse(QRectF(6, 6, 36, 36));
    p.drawLine(QPointF(12.5, 35.5), QPointF(35.5, 12.5));
    return image;
}

QImage add()
{
    QImage image = blank();
    QPainter p(&image);
    prepare(&p);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x9d, 0x4f));
    p.drawEllipse(QRectF(3, 3, 42, 42));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(21, 12, 6, 24));
    p.drawRect(QRectF(12, 21, 24, 6));
    return image;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    const struct {
        const char *name;
        QImage (*draw)();
    } images[] = {{"play", play}, {"audio", audio}, {"microphone", microphone}, {"unavailable", unavailable},
                  {"add", add}};
    for (const auto &image : images) {
        const QString path = QStringLiteral("%1/%2.png").arg(dir, QLatin1String(image.name));
        if (!image.draw().save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
