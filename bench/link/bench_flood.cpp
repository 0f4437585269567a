// SPDX-License-Identifier: GPL-3.0-or-later
// Memory under a flood of command frames: 400,000 frames (a search reply's
// size) handed to the protocol object's capture callback, as the capture
// thread hands them on, and the growth of the resident set measured.
//   before  every frame taken into the reply queue, as the link once did
//           (a reference added, pushed, no bound)
//   idle    the link now, with nothing waiting for a reply
//   waiting the link now, with a search waiting through the whole flood
//           and every frame a made-up answer to it (its id, a MAC of its
//           own): the worst a neighbour can do, since the search's id is on
//           the wire for all to see
//   site    a search waiting through --replies made-up answers (229,600 by
//           default, as a neighbour once sent in 2.5 s), each from a MAC of
//           its own, all at one address, with a 980-byte name and twenty
//           made-up items; then what the workbench does with the list
//           (supported types, one per terminal, conflicts). The process's
//           peak resident set against the 300 MB target, and how many
//           records the search cut.
// Each run is a child process of its own, so no run inherits another's heap.
// Usage: bench_flood [--frames N] [--replies N] [--rounds N]
#include "FenwaSDK.h"
#include "FenwaTerminal.h"
#include "QPcapDevice.h"
#include "QPcapFrame.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
enum Mode { Before, Idle, Waiting, Site };

// Resident set, or its peak, in kB.
long statusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// A link that opens at once, sends into nothing and captures nothing: the
// flood is handed to the protocol object directly.
class NullDevice : public QPcapDevice
{
public:
    int open(const QPcapAdapter &) override { return 0; }
    int send(const uint8_t *, int) override { return 0; }
    int capture(Deliver, void *) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        stopped.wait(lock, [this] { return stop; });
        return 0;
    }
    void stopCapture() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
        stopped.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable stopped;
    bool stop = false;
};

QPcapPacket *replyFrame(int i, int id, bool oversized = false)
{
    const uint8_t tool[6] = {0x02, 0, 0, 0, 0, 0x02}, toolIp[4] = {192, 168, 1, 2};
    const uint8_t term[6] = {0x02, 0xfe, 0, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
    const uint8_t termIp[4] = {192, 168, 1, 100};
    QByteArray text = QString::asprintf(
        "{\"id\":%d,\"method\":\"search\",\"result\":\"success\",\"name\":\"Terminal-%03d\",\"type\":\"VQ40\","
        "\"mac\":\"02:fe:00:00:%02x:%02x\",\"ip\":\"192.168.1.100\",\"gateway\":\"192.168.1.1\","
        "\"netmask\":\"255.255.255.0\",\"dns1\":\"192.168.1.1\",\"dns2\":\"8.8.8.8\",\"version\":\"2.4.1\","
        "\"sn\":\"SN2024000%05d\",\"uid\":\"FW5A%06d\",\"account\":\"admin\"}",
        id, i % 1000, (i >> 8) & 0xff, i & 0xff, i, i).toUtf8();
    if (oversized) {
        // A name as long as a frame allows beside the rest, and made-up items.
        text.replace(QByteArray("\"name\":\"Terminal-"), "\"name\":\"" + QByteArray(970, 'N') + "-");
        text.chop(1);
        for (int k = 0; k < 20; ++k)
            text += QString::asprintf(",\"x%02d\":%d", k, k).toUtf8();
        text += '}';
    }
    uint8_t header[QPCAP_HEADER_SIZE];
    buildCommandHeader(header, text.size());
    auto *packet = new QPcapPacket;
    buildFrame(packet, term, termIp, tool, toolIp, header, QPCAP_HEADER_SIZE,
               reinterpret_cast<const uint8_t *>(text.constData()), text.size());
    return packet;
}

// Runs one flood in this process; returns the growth of the resident set
// (its peak, for Waiting) in kB. For Site, *peak gets the peak resident set
// and *cut the records the search cut.
long flood(Mode mode, int frames, long *peak = nullptr, int *cut = nullptr, int *listed = nullptr)
{
    FenwaSDK sdk;
    QPcapPacketQueue unbounded;
    std::thread waiter;
    const int searchId = sdk.peekNextId();
    QList<FenwaDevice *> found;
    FenwaSearchReport report;
    if (mode == Waiting || mode == Site) {
        QPcapAdapter adapter;
        std::memset(&adapter, 0, sizeof adapter);
        adapter.hardwareAddress[0] = 0x02;
        std::snprintf(adapter.name, sizeof adapter.name, "null0"); // a link without a name never opens
        sdk.transport()->setDeviceFactory([] { return std::make_unique<NullDevice>(); });
        sdk.open(&adapter);
        sdk.setSearchFrames(1);
        waiter = std::thread([&] { sdk.search(&found, -1, &report); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long start = statusKb("VmRSS:");
    for (int i = 0; i < frames; ++i) {
        QPcapPacket *packet = replyFrame(i, mode == Waiting || mode == Site ? searchId : i, mode == Site);
        if (mode == Before) {
            packet->addRef();
            unbounded.push(packet);
        } else {
            sdk.onPcapPacket(packet);
        }
        packet->release();
    }
    if (mode == Site) {
        // Let the search take what is queued before it ends, as it would.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        sdk.cancel();
        waiter.join();
        QList<FenwaDevice *> kept;
        FenwaTerminal::keepSupported(&found, &kept);
        const QHash<const FenwaDevice *, FenwaTerminal::Conflicts> conflicts = FenwaTerminal::conflictsOf(kept);
        *cut = report.cut;
        *listed = int(kept.size());
        *peak = statusKb("VmHWM:");
        const long end = statusKb("VmHWM:");
        for (FenwaDevice *d : kept)
            d->release();
        return end - start;
    }
    const long end = statusKb(mode == Waiting ? "VmHWM:" : "VmRSS:");
    if (mode == Waiting) {
        sdk.cancel();
        waiter.join();
        for (FenwaDevice *d : found)
            d->release();
    }
    return end - start;
}

long median(std::vector<long> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The figures of one run: growth, and for a site flood the peak and the cut.
struct Run {
    long kb = -1, peakKb = -1;
    int cut = 0, listed = 0;
};

Run runChild(Mode mode, int frames)
{
    int fds[2];
    if (pipe(fds) != 0)
        return Run();
    const pid_t child = fork();
    if (child == 0) {
        Run r;
        r.kb = flood(mode, frames, &r.peakKb, &r.cut, &r.listed);
        if (write(fds[1], &r, sizeof r) != sizeof r)
            _exit(1);
        _exit(0);
    }
    Run kb;
    if (read(fds[0], &kb, sizeof kb) != sizeof kb)
        kb = Run();
    waitpid(child, nullptr, 0);
    close(fds[0]);
    close(fds[1]);
    return kb;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The link writes every reply to the debug channel: not what is measured.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    int frames = 400000, replies = 229600, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--replies") == 0)
            replies = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    const char *names[] = {"before: every frame queued", "idle: nothing waits", "waiting: a search waits (peak)"};
    long figures[3];
    std::printf("flood of %d command frames, growth of the resident set, median of %d runs\n", frames, rounds);
    for (Mode mode : {Before, Idle, Waiting}) {
        std::vector<long> runs;
        for (int r = 0; r < rounds; ++r)
            runs.push_back(runChild(mode, frames).kb);
        figures[mode] = median(runs);
        std::printf("  %-34s %9.1f MB\n", names[mode], double(figures[mode]) / 1024.0);
    }
    std::printf("  ratio idle / before: %.4f, waiting / before: %.4f\n", double(figures[Idle]) / double(figures[Before]),
                double(figures[Waiting]) / double(figures[Before]));

    std::vector<long> peaks, growths;
    Run last;
    for (int r = 0; r < rounds; ++r) {
        last = runChild(Site, replies);
        peaks.push_back(last.peakKb);
        growths.push_back(last.kb);
    }
    std::printf("site flood: %d made-up answers to one search, one address, 980-byte names and 20 made-up items\n",
                replies);
    std::printf("  peak resident set %.1f MB (growth %.1f MB), median of %d runs; target: under 300 MB\n",
                double(median(peaks)) / 1024.0, double(median(growths)) / 1024.0, rounds);
    std::printf("  listed %d terminals (the most a search lists: %d), %d of them cut to what a terminal can hold\n",
                last.listed, int(FenwaSDK::SEARCH_MAX), last.cut);
    return 0;
}
