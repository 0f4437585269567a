// SPDX-License-Identifier: GPL-3.0-or-later
// fenwa-cli: finds and commands terminals from scripts.
#include "CliLink.h"
#include "CliOptions.h"
#include "CliPlan.h"
#include "CliReport.h"
#include "CliStream.h"
#include "CliWatch.h"

#include "OrbUtils/OrbConfigure.h"
#include "link/CapturePermission.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {
bool verboseOutput = false;

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Debug lines are worth seeing with --verbose, noise in a script's
    // output otherwise.
    if (type == QtDebugMsg && !verboseOutput)
        return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// --verbose: every text sent and every reply taken, SIP passwords masked.
class VerboseTexts : public FenwaCommandObserver
{
public:
    void onSendCommand(FenwaSDK *, const char *text) override { print("send", text); }
    void onRecvCommand(FenwaSDK *, const char *text) override { print("recv", text); }

private:
    static void print(const char *what, const char *text)
    {
        std::fprintf(stderr, "%s %s\n", what, FenwaTerminal::maskedText(text).constData());
    }
};

int usageError(QTextStream &err, const QString &message)
{
    err << "fenwa-cli: " << message << "\n(fenwa-cli --help lists the commands)\n";
    err.flush();
    return 2;
}

// The interface to search on: the one asked for, else the workbench's
// choice (or the first 192.168.x.y). nullptr, with the exit status in
// *status and the reason on err, when there is none. The record stays
// owned by adapters.
const QPcapAdapter *pickAdapter(const QPcapAdapterList &adapters, const QString &asked, QTextStream &err,
                                int *status)
{
    if (asked.isEmpty()) {
        const QByteArray remembered = OrbConfigure().network().toLocal8Bit();
        const QPcapAdapter *adapter = findAdapter(&adapters, remembered.constData());
        if (!adapter) {
            err << "fenwa-cli: no Ethernet interface to search on\n";
            *status = 1;
        }
        return adapter;
    }
    QStringList names;
    for (int i = 0; i < adapters.count(); ++i) {
        if (asked == QLatin1String(adapters.at(i)->name))
            return adapters.at(i);
        names << QString::fromLocal8Bit(adapters.at(i)->name);
    }
    *status = usageError(err, QStringLiteral("no Ethernet interface \"%1\" (found: %2)")
                                  .arg(asked, names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "))));
    return nullptr;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The workbench's name, so that both read the same per-user configuration
    // and the CLI defaults to the adapter the installer chose there.
    QCoreApplication::setApplicationName(QStringLiteral("fenwa-workbench"));
    qInstallMessageHandler(messageHandler);
    QTextStream out(stdout);
    QTextStream err(stderr);

    const QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty()) {
        err << cliSynopsis() << "(fenwa-cli --help lists the options and commands)\n";
        return 2;
    }
    if (arguments.first() == QLatin1String("stream") || arguments.first() == QLatin1String("sources")) {
        return arguments.first() == QLatin1String("stream") ? cliStream(arguments.mid(1))
                                                            : cliSources(arguments.mid(1));
    }

    CliRequest request;
    QString error;
    if (!parseCli(arguments, &request, &error))
        return usageError(err, error);
    if (request.help) {
        out << cliUsage();
        return 0;
    }
    for (const QString &warning : request.warnings)
        err << "fenwa-cli: warning: " << warning << "\n";
    err.flush();
    verboseOutput = request.verbose;
    const bool site = request.command == QLatin1String("plan") || request.command == QLatin1String("backup");
    // A site file holds the terminals' SIP passwords as they hand them out:
    // into a file, not onto a screen someone may be looking at.
    if (request.command == QLatin1String("backup") && request.outputFile.isEmpty() && !request.noPasswords
        && isatty(STDOUT_FILENO))
        return usageError(err, QStringLiteral("backup writes a site file with the SIP passwords in it: give it a "
                                              "file (fenwa-cli backup --all --output site.json)"));
    FenwaPlan::Plan plan;
    if (request.command == QLatin1String("plan") && !loadCliPlan(request, &plan, &error))
        return usageError(err, error);

    // Capture goes through the helper unless this process may capture
    // itself; say at once when neither can work.
    const CaptureAccess access = captureAccess();
    if (access != CaptureAccess::InProcess && access != CaptureAccess::Helper) {
        err << "fenwa-cli: " << capturePermissionHint(access) << "\n";
        return 1;
    }

    const std::unique_ptr<QPcapAdapterList> adapters(FenwaSDK::adapters());
    int status = 0;
    const QPcapAdapter *adapter = pickAdapter(*adapters, request.interface, err, &status);
    if (!adapter)
        return status;

    FenwaSDK sdk;
    VerboseTexts verboseTexts;
    if (request.verbose)
        sdk.setCommandObserver(&verboseTexts);
    sdk.open(adapter);
    // The capture opens on its own thread; wait for it so that a wrong or
    // unusable interface is reported instead of showing up as silence.
    if (!sdk.transport()->waitOpen(FenwaSDK::LINK_SETTLE_MS)) {
        if (sdk.transport()->linkState() == QPcap::NoPermission)
            err << "fenwa-cli: packet capture is not permitted on " << adapter->name << ": "
                << sdk.transport()->lastError() << "\n";
        else
            err << "fenwa-cli: cannot open " << adapter->name << ": " << sdk.transport()->lastError() << "\n";
        return 1;
    }
    if (request.command == QLatin1String("watch"))
        return runCliWatch(&sdk, request, out, err);
    if (request.command == QLatin1String("report"))
        return runCliReport(&sdk, request, out, err);
    return site ? runCliSite(&sdk, request, plan, out, err) : runCliRequest(&sdk, request, out, err);
}
