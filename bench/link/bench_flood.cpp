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
// Each run is a child process of its own, so no run inherits another's heap.
// Usage: bench_flood [--frames N] [--rounds N]
#include "FenwaSDK.h"
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
enum Mode { Before, Idle, Waiting };

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

QPcapPacket *replyFrame(int i, int id)
{
    const uint8_t tool[6] = {0x02, 0, 0, 0, 0, 0x02}, toolIp[4] = {192, 168, 1, 2};
    const uint8_t term[6] = {0x02, 0xfe, 0, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
    const uint8_t termIp[4] = {192, 168, 1, 100};
    const QByteArray text = QString::asprintf(
        "{\"id\":%d,\"method\":\"search\",\"result\":\"success\",\"name\":\"Terminal-%03d\",\"type\":\"VQ40\","
        "\"mac\":\"02:fe:00:00:%02x:%02x\",\"ip\":\"192.168.1.100\",\"gateway\":\"192.168.1.1\","
        "\"netmask\":\"255.255.255.0\",\"dns1\":\"192.168.1.1\",\"dns2\":\"8.8.8.8\",\"version\":\"2.4.1\","
        "\"sn\":\"SN2024000%05d\",\"uid\":\"FW5A%06d\",\"account\":\"admin\"}",
        id, i % 1000, (i >> 8) & 0xff, i & 0xff, i, i).toUtf8();
    uint8_t header[QPCAP_HEADER_SIZE];
    buildCommandHeader(header, text.size());
    auto *packet = new QPcapPacket;
    buildFrame(packet, term, termIp, tool, toolIp, header, QPCAP_HEADER_SIZE,
               reinterpret_cast<const uint8_t *>(text.constData()), text.size());
    return packet;
}

// Runs one flood in this process; returns the growth of the resident set
// (its peak, for Waiting) in kB.
long flood(Mode mode, int frames)
{
    FenwaSDK sdk;
    QPcapPacketQueue unbounded;
    std::thread waiter;
    const int searchId = sdk.peekNextId();
    QList<FenwaDevice *> found;
    if (mode == Waiting) {
        QPcapAdapter adapter;
        std::memset(&adapter, 0, sizeof adapter);
        adapter.hardwareAddress[0] = 0x02;
        sdk.transport()->setDeviceFactory([] { return std::make_unique<NullDevice>(); });
        sdk.open(&adapter);
        sdk.setSearchFrames(1);
        waiter = std::thread([&] { sdk.search(&found, -1); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long start = statusKb("VmRSS:");
    for (int i = 0; i < frames; ++i) {
        QPcapPacket *packet = replyFrame(i, mode == Waiting ? searchId : i);
        if (mode == Before) {
            packet->addRef();
            unbounded.push(packet);
        } else {
            sdk.onPcapPacket(packet);
        }
        packet->release();
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

long runChild(Mode mode, int frames)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        const long kb = flood(mode, frames);
        if (write(fds[1], &kb, sizeof kb) != sizeof kb)
            _exit(1);
        _exit(0);
    }
    long kb = -1;
    if (read(fds[0], &kb, sizeof kb) != sizeof kb)
        kb = -1;
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
    int frames = 400000, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    const char *names[] = {"before: every frame queued", "idle: nothing waits", "waiting: a search waits (peak)"};
    long figures[3];
    std::printf("flood of %d command frames, growth of the resident set, median of %d runs\n", frames, rounds);
    for (Mode mode : {Before, Idle, Waiting}) {
        std::vector<long> runs;
        for (int r = 0; r < rounds; ++r)
            runs.push_back(runChild(mode, frames));
        figures[mode] = median(runs);
        std::printf("  %-34s %9.1f MB\n", names[mode], double(figures[mode]) / 1024.0);
    }
    std::printf("  ratio idle / before: %.4f, waiting / before: %.4f\n", double(figures[Idle]) / double(figures[Before]),
                double(figures[Waiting]) / double(figures[Before]));
    return 0;
}
