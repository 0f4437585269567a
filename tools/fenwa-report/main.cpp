// SPDX-License-Identifier: GPL-3.0-or-later
// fenwa-report: the handover report's PDF, for fenwa-cli (which loads no Qt
// Gui). Reads a report job (FenwaReport::toJson) on standard input and writes
// the PDF to the path it is given. Exit 0 when written, 1 when not (the
// reason on stderr), 2 for a usage error.
#include "site/FenwaReport.h"
#include "site/pdf/FenwaReportPdf.h"

#include <QFile>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fenwa-report FILE.pdf < job.json (fenwa-cli report runs it)\n");
        return 2;
    }
    // It draws into a file, never on a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) {
        std::fprintf(stderr, "fenwa-report: cannot read standard input\n");
        return 1;
    }
    const QByteArray text = in.read(FenwaReport::PDF_JOB_MAX + 1);
    FenwaReport::PdfJob job;
    QString error;
    if (!FenwaReport::fromJson(text, &job, &error) || !FenwaReportPdf::write(job, QFile::decodeName(argv[1]), &error)) {
        std::fprintf(stderr, "fenwa-report: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
