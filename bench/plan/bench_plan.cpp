// SPDX-License-Identifier: GPL-3.0-or-later
// bench_plan [COUNT]: a plan giving COUNT simulated terminals (default 200)
// five changed fields each (name, static address, two SIP accounts,
// volumes), applied as fenwa-cli applies it, first one command after the
// other (the baseline), then to fresh terminals through the windowed batch,
// then once more (nothing to send); prints the wall time, the commands per
// second and the ratio to the baseline.
#include "CliPlan.h"
#include "e2e_segment.h"
#include "link/FenwaSDK.h"
#include "link/QPcapAdapterList.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {
int countCommands(const SimProcess &sim, const char *prefix)
{
    int n = 0;
    for (const QByteArray &c : sim.commands())
        n += c.contains(QByteArray("\"method\":\"") + prefix) ? 1 : 0;
    return n;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The link writes every text it sends and receives to the debug channel.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    });
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    if (geteuid() != 0 || count < 1 || count > 250) {
        std::fprintf(stderr, "usage (as root): bench_plan [COUNT 1-250]\n");
        return 2;
    }
    E2eSegment segment;
    const QByteArray error = segment.create();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "segment: %s\n", error.constData());
        return 1;
    }
    QByteArray sheet = "mac,name,ip,netmask,gateway,dns1,sip1_account,sip1_password,sip1_server_host,"
                       "sip2_account,sip2_password,sip2_server_host,mic_volume,speaker_volume\n";
    for (int i = 0; i < count; ++i)
        sheet += QStringLiteral("02:fe:00:00:%1:%2,Room %3,10.2.%4.%5,255.255.0.0,10.2.0.1,10.2.0.1,%6,pw%6,10.0.0.5,"
                                "%7,pw%7,10.0.0.6,%8,%9\n")
                     .arg((i + 1) >> 8, 2, 16, QLatin1Char('0'))
                     .arg((i + 1) & 0xff, 2, 16, QLatin1Char('0'))
                     .arg(i + 1)
                     .arg((i + 10) / 250)
                     .arg((i + 10) % 250 + 2)
                     .arg(2000 + i)
                     .arg(3000 + i)
                     .arg(10 + i % 80)
                     .arg(90 - i % 80)
                     .toUtf8();
    FenwaPlan::Plan plan;
    QString why;
    if (!FenwaPlan::read(sheet, &plan, &why)) {
        std::fprintf(stderr, "plan: %s\n", why.toLocal8Bit().constData());
        return 1;
    }
    CliRequest request;
    request.command = QStringLiteral("plan");
    request.args = QStringList{"apply", "-"};
    request.searchMs = 1000;
    request.timeoutMs = FenwaSDK::REPLY_TIMEOUT_MS;
    std::unique_ptr<QPcapAdapterList> adapters(FenwaSDK::adapters());
    double baseline = 0;
    const struct {
        const char *what;
        int window;
        bool freshTerminals;
    } runs[] = {{"one after the other", 1, true}, {"windowed batch", 0, true}, {"again, nothing to send", 0, false}};
    SimProcess sim;
    for (const auto &run : runs) {
        if (run.freshTerminals) {
            sim.stop();
            const QByteArray simError = sim.start(segment, {"--count", QString::number(count), "--base-ip", "10.1.0.10"});
            if (!simError.isEmpty()) {
                std::fprintf(stderr, "fenwa-sim: %s\n", simError.constData());
                return 1;
            }
        }
        // A new link each run: the round-trip estimate starts afresh.
        FenwaSDK sdk;
        sdk.open(findAdapter(adapters.get(), segment.toolIf.constData()));
        if (!sdk.transport()->waitOpen(FenwaSDK::LINK_SETTLE_MS)) {
            std::fprintf(stderr, "cannot open %s\n", segment.toolIf.constData());
            return 1;
        }
        request.window = run.window;
        const int setsBefore = countCommands(sim, "Set"), getsBefore = countCommands(sim, "Get");
        QByteArray lines;
        QTextStream out(&lines), err(stderr);
        QElapsedTimer timer;
        timer.start();
        const int status = runCliSite(&sdk, request, plan, out, err);
        const double seconds = timer.nsecsElapsed() / 1e9;
        const int sets = countCommands(sim, "Set") - setsBefore, gets = countCommands(sim, "Get") - getsBefore;
        const double work = seconds - request.searchMs / 1000.0;
        if (run.window == 1)
            baseline = seconds;
        std::printf("%-24s %d terminals, exit %d, wall %.2f s (search %d ms), %d set and %d read commands, "
                    "%.0f commands/s after the search, %.2f of the baseline's time\n",
                    run.what, count, status, seconds, request.searchMs, sets, gets, (sets + gets) / work,
                    baseline > 0 ? seconds / baseline : 0.0);
        sdk.close();
    }
    sim.stop();
    return 0;
}
