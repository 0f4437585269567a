// SPDX-License-Identifier: GPL-3.0-or-later
// The handover report at site scale, without a network: a thousand
// terminals (every seventh with its SIP accounts and ten RTP channels) laid
// out as HTML and written as PDF, each timed; the HTML alone is the
// baseline. Prints figures, the PDF's pages and size.
// Usage: bench_report [--terminals 1000] [--rounds 3]
#include "link/FenwaDevice.h"
#include "site/FenwaReport.h"
#include "site/pdf/FenwaReportPdf.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int count = 1000, rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--terminals") == 0)
            count = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    QList<FenwaDevice *> devices;
    QList<FenwaReport::Source> sources;
    SipSettings sip[2];
    sip[0].account = QStringLiteral("801"), sip[0].serverHost = QStringLiteral("10.0.0.9");
    RtpSettings rtp[FENWA_RTP_CHANNELS];
    for (int c = 0; c < FENWA_RTP_CHANNELS; ++c)
        rtp[c].enable = 1, rtp[c].rtpIP = QStringLiteral("239.1.1.%1").arg(c + 1), rtp[c].rtpPort = 6000 + 2 * c;
    for (int i = 0; i < count; ++i) {
        auto *d = new FenwaDevice;
        d->name = QStringLiteral("Terminal-%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        d->macText = QString::asprintf("02:fe:00:00:%02x:%02x", i >> 8, i & 0xff);
        d->setMacFromText(d->macText);
        d->ip = QStringLiteral("10.%1.%2.1").arg(i >> 8).arg(i & 0xff);
        d->netmask = QStringLiteral("255.0.0.0"), d->gateway = QStringLiteral("10.0.0.1");
        d->type = i % 2 ? QStringLiteral("VQ40") : QStringLiteral("VQT40");
        d->version = i % 3 ? QStringLiteral("2.4.1") : QStringLiteral("2.5.0");
        devices << d;
        sources << FenwaReport::Source{d, i % 7 ? nullptr : sip, i % 7 ? nullptr : rtp, false, QString(), QString()};
    }
    FenwaReport::Data data;
    data.siteName = QStringLiteral("Bench site");
    data.made = QDateTime::currentDateTime();
    data.terminals = FenwaReport::terminalsOf(sources);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    std::vector<double> html, write;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        const QString page = FenwaReport::html(data, FenwaReport::Form::Browser);
        html.push_back(double(t.nsecsElapsed()) / 1e6);
        t.start();
        QString error;
        if (!FenwaReportPdf::write(FenwaReport::pdfJob(data), pdf, &error)) {
            std::fprintf(stderr, "bench_report: %s\n", qPrintable(error));
            return 1;
        }
        write.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("report of %d terminals, %d rounds\n", count, rounds);
    std::printf("  HTML (baseline)   median %8.1f ms\n", median(html));
    std::printf("  PDF               median %8.1f ms   (%.1fx the HTML), %lld KiB\n", median(write),
                median(write) / std::max(median(html), 0.001), QFileInfo(pdf).size() / 1024);
    for (FenwaDevice *d : devices)
        d->release();
    return 0;
}
