// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaReportPdf.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextTable>
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
    // Letter spacing other than none turns ligatures off: "offline" stays
    // seven letters for whoever searches or copies the text (the document
    // takes it from its default font).
    font.setLetterSpacing(QFont::PercentageSpacing, 100.1);
    return font;
}

// The charts are drawn at this many pixels per point of their place in the
// document: sharp when printed.
const int kChartScale = 4;

// Where a page may end: anywhere but inside a block of text outside the
// tables, or inside a table row. rows: the rows of the tables, as [top,
// bottom) of the document; the header rows of each table go to *headers.
struct Breaks {
    QVector<QPair<qreal, qreal>> whole; // nothing is cut inside these
    // A table's header row and the rows it heads, to repeat it over a page
    // that starts inside them.
    struct Header {
        qreal top, bottom, end;
    };
    QVector<Header> headers;
};

Breaks breaksOf(QTextDocument *doc)
{
    Breaks out;
    QAbstractTextDocumentLayout *layout = doc->documentLayout();
    for (QTextFrame::iterator it = doc->rootFrame()->begin(); !it.atEnd(); ++it) {
        if (QTextFrame *frame = it.currentFrame()) {
            auto *table = qobject_cast<QTextTable *>(frame);
            const QRectF box = layout->frameBoundingRect(frame);
            if (table == nullptr || table->rows() == 0) {
                out.whole.append({box.top(), box.bottom()});
                continue;
            }
            // Row r runs from the top of its cells' frame to the next row's.
            QVector<qreal> tops;
            for (int r = 0; r < table->rows(); ++r) {
                qreal top = box.bottom();
                for (int c = 0; c < table->columns(); ++c)
                    top = std::min(top, layout->blockBoundingRect(table->cellAt(r, c).firstCursorPosition().block()).top());
                tops.append(top - table->format().cellPadding() - 2 * table->format().border() - 2);
            }
            tops.append(box.bottom());
            for (int r = 0; r < table->rows(); ++r)
                out.whole.append({tops[r], tops[r + 1]});
            if (table->format().headerRowCount() > 0 && table->rows() > 1)
                out.headers.append({tops[0], tops[table->format().headerRowCount()], box.bottom()});
        } else {
            const QRectF rect = layout->blockBoundingRect(it.currentBlock());
            out.whole.append({rect.top(), rect.bottom()});
        }
    }
    return out;
}

// The document cut into pages of at most height each: [top, bottom) and
// the header drawn above it (top == bottom: none).
struct Slice {
    qreal top, bottom;
    qreal headerTop = 0, headerBottom = 0;
};

QVector<Slice> slicesOf(const Breaks &breaks, qreal documentHeight, qreal height)
{
    QVector<Slice> pages;
    for (qreal y = 0; y < documentHeight - 0.5 && pages.size() < 100000;) {
        Slice s{y, y};
        // A page that starts below a table's header, inside its rows,
        // repeats the header.
        for (const Breaks::Header &h : breaks.headers)
            if (y >= h.bottom - 0.5 && y < h.end - 0.5) {
                s.headerTop = h.top;
                s.headerBottom = h.bottom;
            }
        const qreal room = height - (s.headerBottom - s.headerTop);
        qreal cut = std::min(y + room, documentHeight);
        for (const auto &w : breaks.whole)
            if (w.first > y + 0.5 && w.first < cut && w.second > cut)
                cut = w.first; // the piece starts the next page
        s.bottom = cut > y + 0.5 ? cut : std::min(y + room, documentHeight); // taller than a page: cut anyway
        pages.append(s);
        y = s.bottom;
    }
    return pages;
}
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
    font.setPixelSize(std::max(8, width * 9 / 240)); // 9 points where the chart is 240 wide
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
        // One long page, cut where no row or paragraph is split; a page that
        // continues a table repeats its header.
        doc.setTextWidth(area.width());
        const qreal height = area.height() - headerHeight - footerHeight;
        const QVector<Slice> pages = slicesOf(breaksOf(&doc), doc.size().height(), height);

        QPainter painter;
        if (!painter.begin(&writer)) {
            *error = QStringLiteral("cannot write a PDF");
            return false;
        }
        for (int n = 0; n < pages.size(); ++n) {
            const Slice &s = pages[n];
            if (n > 0)
                writer.newPage();
            painter.setFont(reportFont(7.5));
            painter.setPen(QColor(90, 90, 90));
            painter.drawText(QRect(0, 0, area.width(), headerHeight - int(2 * mm)), Qt::AlignLeft | Qt::AlignBottom,
                             job.header);
            painter.drawLine(0, headerHeight - int(mm), area.width(), headerHeight - int(mm));
            painter.drawText(QRect(0, area.height() - footerHeight, area.width(), footerHeight),
                             Qt::AlignHCenter | Qt::AlignBottom, job.footer.arg(n + 1).arg(pages.size()));
            qreal at = headerHeight;
            for (const QPair<qreal, qreal> &part :
                 {qMakePair(s.headerTop, s.headerBottom), qMakePair(s.top, s.bottom)}) {
                if (part.second <= part.first)
                    continue;
                painter.save();
                painter.translate(0, at - part.first);
                doc.drawContents(&painter, QRectF(0, part.first, area.width(), part.second - part.first));
                painter.restore();
                at += part.second - part.first;
            }
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
