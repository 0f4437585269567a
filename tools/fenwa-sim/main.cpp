// SPDX-License-Identifier: GPL-3.0-or-later
// fenwa-sim: terminals for tests, demos and benchmarks. Run it only on an
// interface of a network namespace made for the purpose (a veth end): it
// answers every command frame it sees there.
#include "SimOptions.h"
#include "SimSegment.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    SimOptions options;
    const int rc = parseSimOptions(argc, argv, &options);
    if (rc != 0)
        return rc == 1 ? 0 : 2;

    // Signals are taken synchronously by the main thread; the receive and
    // reply threads inherit the blocked mask, so none of them is interrupted.
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGUSR1);
    sigaddset(&handled, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);

    QCoreApplication app(argc, argv);
    std::setvbuf(stderr, nullptr, _IOLBF, 0);

    SimSegment segment(options);
    if (segment.start() != 0) {
        segment.stop();
        return 1;
    }
    for (;;) {
        int which = 0;
        if (sigwait(&handled, &which) != 0)
            continue;
        if (which == SIGUSR1) {
            segment.writeState();
            continue;
        }
        break;
    }
    segment.stop();
    std::fprintf(stderr, "fenwa-sim: stopped\n");
    return 0;
}
