// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliReport.h"

#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbFileUtils.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/CapturePermission.h"
#include "link/FenwaBatch.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"
#include "site/FenwaPlanRun.h"
#include "site/FenwaReport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QVector>

namespace {

QString adapterText(const QPcapAdapter *adapter)
{
    if (adapter == nullptr)
        return QString();
    return QStringLiteral("%1 %2.%3.%4.%5")
        .arg(QString::fromLocal8Bit(adapter->name))
        .arg(adapter->address[0])
        .arg(adapter->address[1])
        .arg(adapter->address[2])
        .arg(adapter->address[3]);
}

QString helperPath()
{
    return runsFromBuildTree() ? QStringLiteral(FENWA_BUILD_BIN_DIR "/fenwa-report")
                               : QStringLiteral(FENWA_HELPER_INSTALL_DIR "/fenwa-report");
}

// The PDF through the helper, within a deadline: a job of a few megabytes
// is laid out in seconds.
bool writePdf(const FenwaReport::PdfJob &job, const QString &path, QString *error)
{
    QProcess helper;
    helper.setProcessChannelMode(QProcess::SeparateChannels);
    helper.start(helperPath(), {path});
    if (!helper.waitForStarted(5000)) {
        *error = QStringLiteral("cannot start %1: %2").arg(helperPath(), helper.errorString());
        return false;
    }
    helper.write(FenwaReport::toJson(job));
    helper.closeWriteChannel();
    if (!helper.waitForFinished(120000)) {
        helper.kill();
        helper.waitForFinished(1000);
        *error = QStringLiteral("%1 did not finish within 120 s").arg(helperPath());
        return false;
    }
    if (helper.exitStatus() != QProcess::NormalExit || helper.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(helper.readAllStandardError().right(2000)).trimmed();
        *error = said.isEmpty() ? QStringLiteral("%1 failed").arg(helperPath()) : said;
        return false;
    }
    return true;
}

} // namespace

int runCliReport(FenwaSDK *sdk, const CliRequest &r, QTextStream &, QTextStream &err)
{
    const QString path = r.args.value(0);
    const bool pdf = path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    OrbConfigure store;
    if (!r.siteName.isEmpty())
        store.setSiteName(r.siteName);
    if (!r.author.isEmpty())
        store.setReportAuthor(r.author);
    FenwaReport::Data data;
    data.siteName = store.siteName();
    data.author = store.reportAuthor().isEmpty() ? FenwaReport::defaultAuthor() : store.reportAuthor();
    if (data.siteName.isEmpty()) {
        err << "fenwa-cli: report: name the site once with --site NAME (remembered for later reports)\n";
        return 2;
    }
    if (pdf && !QFileInfo(helperPath()).isExecutable()) {
        err << "fenwa-cli: report: a PDF needs " << helperPath()
            << ", which this build does not have: write FILE.html instead\n";
        return 1;
    }
    const QString language = r.language.isEmpty() ? store.language() : r.language;
    if (language.compare(QLatin1String("cn"), Qt::CaseInsensitive) == 0) {
        setLanguageDirectory(OrbFileUtils::languageDirectory(QCoreApplication::applicationDirPath(),
                                                             QStringLiteral(FENWA_LANGUAGE_INSTALL_DIR)));
        if (loadLanguage(QStringLiteral("cn.txt")) == 0)
            err << "fenwa-cli: report: no Chinese language file in " << languageDirectory() << ": written in English\n";
    }

    QList<FenwaDevice *> replies, devices;
    sdk->search(&replies, r.searchMs);
    FenwaTerminal::keepSupported(&replies, &devices);
    // Every terminal's SIP accounts and RTP channels, in one batch.
    FenwaPlan::Reading both;
    both.wantSip = both.wantRtp = true;
    QVector<FenwaPlan::Reading> readings(devices.size(), both);
    FenwaBatch batch(sdk);
    QVector<QList<FenwaRequest>> requests;
    for (const FenwaPlan::Reading &reading : qAsConst(readings))
        requests << reading.requests();
    const QVector<QVector<int>> entries = batch.addEach(devices, requests);
    batch.run();
    QList<FenwaReport::Source> sources;
    for (int i = 0; i < devices.size(); ++i) {
        for (int s = 0; s < entries[i].size(); ++s)
            readings[i].take(s, batch.result(entries[i][s]));
        const bool read = readings[i].sipRead && readings[i].rtpRead;
        data.settingsUnread += read ? 0 : 1;
        FenwaReport::Source source;
        source.device = devices[i];
        source.sip = read ? readings[i].sip : nullptr;
        source.rtp = read ? readings[i].rtp : nullptr;
        sources << source;
    }
    data.terminals = FenwaReport::terminalsOf(sources);
    data.adapter = adapterText(sdk->currentAdapter());
    data.made = QDateTime::currentDateTime();
    for (FenwaDevice *d : devices)
        d->release();

    QString error;
    bool written = false;
    if (pdf) {
        written = writePdf(FenwaReport::pdfJob(data), path, &error);
    } else {
        QSaveFile file(path);
        const QByteArray bytes = FenwaReport::html(data, FenwaReport::Form::Browser).toUtf8();
        written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
        error = file.errorString();
    }
    if (!written) {
        err << "fenwa-cli: report: cannot write " << path << ": " << error << "\n";
        return 1;
    }
    err << "fenwa-cli: report of " << data.terminals.size() << " terminals written to " << path << "\n";
    if (data.settingsUnread > 0)
        err << "fenwa-cli: report: the SIP accounts and RTP channels of " << data.settingsUnread
            << " terminals could not be read\n";
    return 0;
}
