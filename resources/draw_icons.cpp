// SPDX-License-Identifier: GPL-3.0-or-later
// Paints the workbench's images and its application icon. Run at build
// time, so the images are this project's own work under its licence and
// need no binary in the tree.
//   fenwa-draw-icons OUTPUT_DIR
// writes OUTPUT_DIR/<image>.png and the icon theme's
// OUTPUT_DIR/hicolor/<n>x<n>/apps/fenwa-workbench.png.
#include <QDir>
#include <QFileInfo>
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
// The application icon, drawn on a 256-unit grid and scaled: a terminal's
// loudspeaker sounding out from a rounded tile, with the link's frame below.
QImage applicationIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    prepare(&p);
    p.scale(size / 256.0, size / 256.0);
    QLinearGradient tile(0, 0, 0, 256);
    tile.setColorAt(0, QColor(0x1f, 0x6f, 0xb8));
    tile.setColorAt(1, QColor(0x14, 0x4a, 0x7d));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
    QPainterPath speaker;
    speaker.moveTo(46, 96);
    speaker.lineTo(82, 96);
    speaker.lineTo(130, 54);
    speaker.lineTo(130, 186);
    speaker.lineTo(82, 144);
    speaker.lineTo(46, 144);
    speaker.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(speaker);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 16, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(118, 80, 50, 80), -55 * 16, 110 * 16);
    p.drawArc(QRectF(118, 50, 96, 140), -55 * 16, 110 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7f, 0xd3, 0x8f));
    for (int i = 0; i < 4; ++i)
        p.drawRoundedRect(QRectF(50 + 44 * i, 206, 30, 18), 5, 5);
    return image;
}

bool save(const QImage &image, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
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
        if (!save(image.draw(), QStringLiteral("%1/%2.png").arg(dir, QLatin1String(image.name))))
            return 1;
    }
    if (!save(applicationIcon(256), dir + QStringLiteral("/fenwa-workbench.png")))
        return 1;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        if (!save(applicationIcon(size), QStringLiteral("%1/hicolor/%2x%2/apps/fenwa-workbench.png").arg(dir).arg(size)))
            return 1;
    }
    return 0;
}
