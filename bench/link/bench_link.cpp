// SPDX-License-Identifier: GPL-3.0-or-later
// Link benchmark. On a veth pair between two namespaces made for the run:
//  (a) one search (2000 ms collection) against 1000 simulated terminals:
//      terminals found out of 1000;
//  (b) 1000 sequential SetName commands to one terminal: median and p99 per
//      command, beside the raw frame round trip of the same segment (the same
//      transport sending a command frame that the simulator, in echo mode,
//      sends straight back), and their ratio. Both loops start a round trip
//      at most QPCAP_SEND_RATE times a second, so the link's send budget
//      never holds a frame back. The simulator's state file is on tmpfs.
// Usage: bench_link [--terminals N] [--commands N] [--rounds N]
#include "FenwaBatch.h"
#include "FenwaSDK.h"
#include "QPcap.h"
#include "QPcapAdapterList.h"
#include "QPcapHelperProtocol.h"
#include "e2e_segment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSysInfo>
#include <QWaitCondition>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Figures {
    double median = 0, p99 = 0, mean = 0;
};

Figures summarise(std::vector<double> us)
{
    Figures f;
    if (us.empty())
        return f;
    std::sort(us.begin(), us.end());
    f.median = us[us.size() / 2];
    f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    double sum = 0;
    for (double v : us)
        sum += v;
    f.mean = sum / double(us.size());
    return f;
}

QByteArray cpuModel()
{
    QFile f("/proc/cpuinfo");
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("model name"))
                return line.mid(line.indexOf(':') + 1).trimmed();
    return "unknown";
}

// Starts each round trip no sooner than the link's send budget refills one
// frame: a loop faster than that would measure the budget, not the link.
struct Pace {
    QElapsedTimer clock;
    qint64 lastNs = -1;
    void next()
    {
        if (!clock.isValid())
            clock.start();
        const qint64 gap = 1000000000LL / QPCAP_SEND_RATE;
        while (lastNs >= 0 && clock.nsecsElapsed() < lastNs + gap)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        lastNs = clock.nsecsElapsed();
    }
};

QByteArray loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray("unknown");
}

bool toolAdapter(const E2eSegment &segment, QPcapAdapter *out)
{
    QPcapAdapterList *list = QPcapAdapterList::adapters();
    const QPcapAdapter *a = findAdapter(list, segment.toolIf.constData());
    const bool ok = a && std::strcmp(a->name, segment.toolIf.constData()) == 0;
    if (ok)
        *out = *a;
    delete list;
    return ok;
}

bool waitOpen(QPcap *pcap)
{
    for (int i = 0; i < 300 && !pcap->isDeviceOpen(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pcap->isDeviceOpen();
}

// Catches the echo of one frame at a time.
class EchoCatcher : public QPcapObserver
{
public:
    explicit EchoCatcher(const uint8_t from[6]) { std::memcpy(peer, from, 6); }
    void onPcapPacket(QPcapPacket *packet) override
    {
        if (packet->length() < 12 || std::memcmp(packet->frame() + 6, peer, 6) != 0)
            return;
        QMutexLocker lock(&mutex);
        ++echoes;
        cond.wakeAll();
    }
    bool waitEcho(int count, int ms)
    {
        QMutexLocker lock(&mutex);
        QElapsedTimer t;
        t.start();
        while (echoes < count && t.elapsed() < ms)
            cond.wait(&mutex, 10);
        return echoes >= count;
    }
    QMutex mutex;
    QWaitCondition cond;
    int echoes = 0;
    uint8_t peer[6];
};

int searchRound(const E2eSegment &segment, const QPcapAdapter &adapter, int terminals, int spreadUs)
{
    SimProcess sim;
    const QByteArray error = sim.start(segment, {"--count", QString::number(terminals), "--spread-us",
                                                 QString::number(spreadUs)});
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_link: %s\n", error.constData());
        return -1;
    }
    FenwaSDK sdk;
    sdk.open(&adapter);
    if (!waitOpen(sdk.transport()))
        return -1;
    QList<FenwaDevice *> found;
    sdk.search(&found, 2000);
    QSet<QString> macs;
    for (FenwaDevice *d : found) {
        macs.insert(d->macText);
        d->release();
    }
    return macs.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int terminals = 1000, commands = 1000, rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--terminals"))
            terminals = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--commands"))
            commands = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_link: needs root to make its network namespaces\n");
        return 2;
    }
    // The link writes every text to the debug channel, which the front ends
    // drop unless asked: so does the benchmark.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // The simulator writes its state file before each answer: on tmpfs, so
    // that the figure is the link's and not the disk's.
    const bool tmpfs = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
    if (tmpfs)
        qputenv("TMPDIR", "/dev/shm");
    E2eSegment segment;
    const QByteArray error = segment.create();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_link: cannot make the segment: %s\n", error.constData());
        return 1;
    }
    QPcapAdapter adapter;
    if (!toolAdapter(segment, &adapter)) {
        std::fprintf(stderr, "bench_link: the tool-side veth is not listed\n");
        return 1;
    }
    std::printf("machine: %s, %d CPU(s), %s %s\n", cpuModel().constData(), int(std::thread::hardware_concurrency()),
                qPrintable(QSysInfo::kernelType()), qPrintable(QSysInfo::kernelVersion()));
    std::printf("segment: veth %s <-> %s between namespaces %s and %s; simulator's state file in %s (%s)\n",
                segment.toolIf.constData(), segment.simIf.constData(), segment.toolNs.constData(),
                segment.simNs.constData(), segment.dir.constData(), tmpfs ? "tmpfs" : "not tmpfs");
    std::printf("load average at start: %s\n", loadAverage().constData());

    // (a) search
    for (int r = 1; r <= rounds; ++r)
        std::printf("(a) search 2000 ms, %d terminals, default spread: found %d of %d (round %d)\n", terminals,
                    searchRound(segment, adapter, terminals, 100), terminals, r);
    std::printf("(a) for comparison, all replies back to back (--spread-us 0): found %d of %d\n",
                searchRound(segment, adapter, terminals, 0), terminals);

    // (b1) raw round trip: the same transport, the simulator echoing frames.
    std::vector<double> rawUs;
    {
        SimProcess echo;
        const QByteArray e = echo.start(segment, {"--count", "1", "--echo"});
        if (!e.isEmpty()) {
            std::fprintf(stderr, "bench_link: %s\n", e.constData());
            return 1;
        }
        const uint8_t termMac[6] = {0x02, 0xfe, 0x00, 0x00, 0x00, 0x01};
        const uint8_t termIp[4] = {192, 168, 1, 100};
        EchoCatcher catcher(termMac);
        QPcap pcap;
        pcap.setObserver(&catcher);
        pcap.open(&adapter);
        if (!waitOpen(&pcap))
            return 1;
        const QByteArray text = "{\"id\":0,\"method\":\"SetName\",\"name\":\"bench-name-0000\"}";
        uint8_t header[QPCAP_HEADER_SIZE];
        buildCommandHeader(header, text.size());
        Pace pace;
        for (int i = 0; i < commands; ++i) {
            pace.next();
            QPcapPacket *packet = new QPcapPacket;
            buildFrame(packet, adapter.hardwareAddress, adapter.address, termMac, termIp, header, QPCAP_HEADER_SIZE,
                       reinterpret_cast<const uint8_t *>(text.constData()), text.size());
            QElapsedTimer t;
            t.start();
            pcap.send(packet);
            if (!catcher.waitEcho(i + 1, 3000)) {
                std::fprintf(stderr, "bench_link: echo %d lost\n", i);
                continue;
            }
            rawUs.push_back(double(t.nsecsElapsed()) / 1000.0);
        }
        pcap.close();
    }

    // (b2) SetName through the SDK against one simulated terminal.
    std::vector<double> commandUs;
    int failures = 0;
    {
        SimProcess sim;
        const QByteArray e = sim.start(segment, {"--count", "1"});
        if (!e.isEmpty()) {
            std::fprintf(stderr, "bench_link: %s\n", e.constData());
            return 1;
        }
        FenwaSDK sdk;
        sdk.open(&adapter);
        if (!waitOpen(sdk.transport()))
            return 1;
        const uint8_t termMac[6] = {0x02, 0xfe, 0x00, 0x00, 0x00, 0x01};
        const uint8_t termIp[4] = {192, 168, 1, 100};
        FenwaDevice *device = FenwaDevice::fromSearchReply(termMac, termIp, nullptr);
        Pace pace;
        for (int i = 0; i < commands; ++i) {
            pace.next();
            const QString name = QString::asprintf("bench-name-%04d", i);
            QElapsedTimer t;
            t.start();
            const int rc = FenwaBatch::runOne(&sdk, device, FenwaRequest::setName(name)).accepted() ? 0 : -1;
            const double us = double(t.nsecsElapsed()) / 1000.0;
            if (rc == 0)
                commandUs.push_back(us);
            else
                ++failures;
        }
        device->release();
    }

    const Figures raw = summarise(rawUs);
    const Figures cmd = summarise(commandUs);
    std::printf("(b) raw frame round trip, %zu frames: median %.0f us, p99 %.0f us, mean %.0f us\n", rawUs.size(),
                raw.median, raw.p99, raw.mean);
    std::printf("(b) SetName, %zu of %d succeeded: median %.0f us, p99 %.0f us, mean %.0f us\n", commandUs.size(),
                commands, cmd.median, cmd.p99, cmd.mean);
    if (failures)
        std::printf("(b) %d SetName failed\n", failures);
    std::printf("(b) ratio of medians SetName / raw round trip: %.2f (target: at most 3); load average at the end: %s\n",
                raw.median > 0 ? cmd.median / raw.median : 0.0, loadAverage().constData());
    segment.destroy();
    return 0;
}
