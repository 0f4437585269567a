// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaReportPdf.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>

namespace FenwaReportPdf {

namespace {
QFont reportFont(qreal points)
{
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(points);
    // Any letter spacing turns ligatures off: "offline" stays six letters
    // for whoever searches or copies the text.
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.01);
    return font;
}

// The charts are drawn at this many pixels per point of their place in the
// document: sharp when printed.
const int kChartScale = 4;
} // namespace

QImage chart(const QList<FenwaReport::Count> &counts, int width, int height)
{
    QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32);
    image.fill(Qt::white);
    if (counts.isEmpty())
        return image;
    int most = 1;
    for (const FenwaReport::Count &c : counts)
        most = std::max(most, c.count);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = reportFont(8);
    font.setPixelSize(std::max(8, height / int(counts.size()) * 9 / 16));
    p.setFont(font);
    const int row = height / int(counts.size()), label = width * 38 / 100, room = width - label - width / 8;
    for (int i = 0; i < counts.size(); ++i) {
        const int y = i * row, bar = std::max(2, room * counts[i].count / most);
        p.setPen(QColor(26, 26, 26));
        p.drawText(QRect(0, y, label - row / 3, row), Qt::AlignRight | Qt::AlignVCenter,
                   p.fontMetrics().elidedText(counts[i].label, Qt::ElideMiddle, label - row / 3));
        p.fillRect(QRect(label, y + row / 6, bar, row * 2 / 3), QColor(79, 127, 176));
        p.drawText(QRect(label + bar + row / 4, y, width, row), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(counts[i].count));
    }
    return image;
}

bool write(const FenwaReport::PdfJob &job, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        // Landscape: a row per terminal holds ten columns without breaking
        // a MAC or an address.
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(15, 12, 15, 12),
                                         QPageLayout::Millimeter));
        writer.setResolution(300);
        writer.setTitle(job.title);
        writer.setCreator(QStringLiteral("Fenwa Workbench"));
        const QRect area = writer.pageLayout().paintRectPixels(writer.resolution());
        const qreal mm = writer.resolution() / 25.4;
        const int headerHeight = int(9 * mm), footerHeight = int(8 * mm);

        QTextDocument doc;
        doc.documentLayout()->setPaintDevice(&writer);
        doc.setDefaultFont(reportFont(9.5));
        doc.setDocumentMargin(0);
        // The two charts the HTML places, at its sizes (points), drawn finer.
        const struct {
            const char *url;
            const QList<FenwaReport::Count> &counts;
        } charts[] = {{"chart:types", job.types}, {"chart:versions", job.versions}};
        for (const auto &c : charts)
            doc.addResource(QTextDocument::ImageResource, QUrl(QLatin1String(c.url)),
                            chart(c.counts, 240 * kChartScale, (16 * int(c.counts.size()) + 8) * kChartScale));
        doc.setHtml(job.html);
        const QSizeF page(area.width(), area.height() - headerHeight - footerHeight);
        doc.setPageSize(page);
        const int pages = doc.pageCount();

        QPainter painter;
        if (!painter.begin(&writer)) {
            *error = QStringLiteral("cannot write a PDF");
            return false;
        }
        for (int n = 0; n < pages; ++n) {
            if (n > 0)
                writer.newPage();
            painter.setFont(reportFont(7.5));
            painter.setPen(QColor(90, 90, 90));
            painter.drawText(QRect(0, 0, area.width(), headerHeight - int(2 * mm)), Qt::AlignLeft | Qt::AlignBottom,
                             job.header);
            painter.drawLine(0, headerHeight - int(mm), area.width(), headerHeight - int(mm));
            painter.drawText(QRect(0, area.height() - footerHeight, area.width(), footerHeight),
                             Qt::AlignHCenter | Qt::AlignBottom, job.footer.arg(n + 1).arg(pages));
            painter.save();
            painter.translate(0, headerHeight - n * page.height());
            doc.drawContents(&painter, QRectF(0, n * page.height(), page.width(), page.height()));
            painter.restore();
        }
        painter.end();
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace FenwaReportPdf
