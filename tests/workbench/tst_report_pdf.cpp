// SPDX-License-Identifier: GPL-3.0-or-later
// The handover report's PDF, read back with poppler's pdftotext: every page
// carries its header and number, no terminal's row is split across two
// pages, a page that continues the table repeats its header, and Chinese
// text comes out as it went in.
#include "link/FenwaDevice.h"
#include "site/FenwaReport.h"
#include "site/pdf/FenwaReportPdf.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// pdftotext's text of one page.
QString pageText(const QString &pdf, int page)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                                          QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
    return p.waitForFinished(30000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}
} // namespace

class ReportPdfTest : public QObject
{
    Q_OBJECT
private slots:
    void rowsStayWholeAndEveryPageIsHeadedAndNumbered();
};

void ReportPdfTest::rowsStayWholeAndEveryPageIsHeadedAndNumbered()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext is missing (scripts/setup.sh installs poppler-utils)");
    // Ninety terminals, every row three lines high, some with more.
    QList<FenwaDevice *> devices;
    QList<FenwaReport::Source> sources;
    QVector<RtpSettings> rtp(90 * FENWA_RTP_CHANNELS); // each terminal's channels its own
    for (int i = 0; i < rtp.size(); ++i)
        rtp[i].enable = 1, rtp[i].rtpIP = QStringLiteral("239.1.%1.%2").arg(i / 10).arg(i % 10 + 1), rtp[i].rtpPort = 6000;
    SipSettings sip[2];
    for (int i = 0; i < 90; ++i) {
        auto *d = new FenwaDevice;
        d->name = QStringLiteral("Room-%1").arg(i + 1, 3, 10, QLatin1Char('0'));
        d->macText = QString::asprintf("02:fe:00:00:01:%02x", i);
        d->setMacFromText(d->macText);
        d->ip = QStringLiteral("10.1.%1.%2").arg(i / 200).arg(i % 200 + 10);
        d->netmask = QStringLiteral("255.255.0.0");
        d->gateway = QStringLiteral("10.1.0.%1").arg(i + 1);
        d->type = i % 3 ? QStringLiteral("VQ40") : QStringLiteral("VQT40");
        d->version = QStringLiteral("2.4.1");
        devices << d;
        // Every seventh terminal has all ten channels: a row of ten lines.
        sources << FenwaReport::Source{d, sip, rtp.constData() + i * FENWA_RTP_CHANNELS, false, QString(), QString()};
        if (i % 7)
            sources.last().rtp = nullptr, sources.last().sip = nullptr;
    }
    FenwaReport::Data data;
    data.siteName = QStringLiteral("港湾酒店 Harbour");
    data.made = QDateTime(QDate(2026, 5, 4), QTime(10, 42, 13));
    data.terminals = FenwaReport::terminalsOf(sources);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QString error;
    QVERIFY2(FenwaReportPdf::write(FenwaReport::pdfJob(data), pdf, &error), qPrintable(error));
    for (FenwaDevice *d : devices)
        d->release();

    static const QRegularExpression number(QStringLiteral("Page (\\d+) of (\\d+)"));
    const QRegularExpressionMatch first = number.match(pageText(pdf, 1));
    QVERIFY(first.hasMatch());
    const int pages = first.captured(2).toInt();
    QVERIFY2(pages >= 4, qPrintable(QString::number(pages)));
    int rows = 0;
    for (int page = 1; page <= pages; ++page) {
        const QString text = pageText(pdf, page);
        QVERIFY2(text.contains(QStringLiteral("港湾酒店 Harbour")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Page %1 of %2").arg(page).arg(pages)), qPrintable(text));
        QVERIFY2(page > 1 || text.contains(QStringLiteral("0 offline")), qPrintable(text)); // no ligature in the text
        for (const FenwaReport::Terminal &t : data.terminals) {
            if (!text.contains(t.name))
                continue;
            ++rows;
            // The whole row is on this page: its address lines, and all ten
            // channels where it has them.
            for (const QString &line : {t.ip, t.netmask, t.gateway})
                QVERIFY2(text.contains(line), qPrintable(t.name + QStringLiteral(" on page ") + QString::number(page) + QLatin1Char('\n') + text));
            for (const QString &channel : t.rtp)
                QVERIFY2(text.contains(channel), qPrintable(t.name + QLatin1Char(' ') + channel));
        }
        if (page > 1) // the table goes on: its header again
            QVERIFY2(text.contains(QStringLiteral("IP address /")), qPrintable(text));
    }
    QCOMPARE(rows, 90); // each once
}

QTEST_MAIN(ReportPdfTest)
#include "tst_report_pdf.moc"
