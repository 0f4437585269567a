// SPDX-License-Identifier: GPL-3.0-or-later
// Site-scale batches, against fenwa-sim on a veth pair between two
// namespaces made for the run (needs root; nothing leaves them).
//  link      --terminals N (in simulators of 100) at each --losses L: L% of
//            the command frames lost on the way in and L% of the replies
//            dropped (fenwa-sim --drop-commands L --drop L). Per loss:
//            terminals found by the search as it is (repeated frames) and
//            by a single frame (as it was); a set-volume batch over every
//            terminal found, through the windowed batch: wall time,
//            accepted, reported failures, false successes (reported
//            accepted, not what the terminal holds) read from the state
//            files; and the same batch the old way (one at a time, no
//            resend, 3000 ms each) over the first --baseline of them, with
//            its time projected to all.
//  firmware  --firmware N terminals whose web side reads an upload at
//            about 80 KiB/s (--web-fault slow), a 160 KiB file (about 2 s
//            each): --parallel at once against one at a time.
// Usage: bench_batch [--terminals 1000] [--losses 0,10,30] [--baseline 100]
//                    [--firmware 50] [--parallel 4] [--skip-link] [--skip-firmware]
#include "FenwaBatch.h"
#include "FenwaFirmware.h"
#include "FenwaSDK.h"
#include "QPcapAdapterList.h"
#include "e2e_segment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QHash>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPerSim = 100;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// One fenwa-sim in the segment's simulator namespace, with files of its own.
class Sim
{
public:
    ~Sim() { stop(); }
    bool start(const E2eSegment &segment, const QString &name, const QStringList &args)
    {
        stateFile = segment.dir + "/" + name.toLocal8Bit() + ".json";
        QFile::remove(QString::fromLocal8Bit(stateFile));
        const QByteArray out = segment.dir + "/" + name.toLocal8Bit() + ".out";
        QList<QByteArray> argv{"ip", "netns", "exec", segment.simNs, FENWA_SIM_PATH, "--interface", segment.simIf,
                               "--state-file", stateFile};
        for (const QString &a : args)
            argv << a.toLocal8Bit();
        std::vector<char *> raw;
        for (QByteArray &a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int fd = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            execvp(raw[0], raw.data());
            _exit(127);
        }
        for (int i = 0; pid > 0 && i < 500; ++i, sleepMs(20))
            if (QFile::exists(QString::fromLocal8Bit(stateFile)))
                return true;
        return false;
    }
    void stop()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    QJsonArray terminals() const
    {
        QFile f(QString::fromLocal8Bit(stateFile));
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object().value("terminals").toArray()
                                           : QJsonArray();
    }

private:
    pid_t pid = -1;
    QByteArray stateFile;
};

bool openOn(FenwaSDK *sdk, const E2eSegment &segment)
{
    std::unique_ptr<QPcapAdapterList> list(FenwaSDK::adapters());
    const QPcapAdapter *a = findAdapter(list.get(), segment.toolIf.constData());
    if (!a || std::strcmp(a->name, segment.toolIf.constData()) != 0)
        return false;
    sdk->open(a);
    for (int i = 0; i < 300 && !sdk->transport()->isDeviceOpen(); ++i)
        sleepMs(10);
    return sdk->transport()->isDeviceOpen();
}

QList<FenwaDevice *> search(FenwaSDK *sdk, int frames, FenwaSearchReport *report)
{
    QList<FenwaDevice *> found;
    sdk->setSearchFrames(frames);
    sdk->search(&found, 2000, report);
    sdk->setSearchFrames(FenwaSDK::SEARCH_FRAMES);
    return found;
}

struct BatchFigures {
    double seconds = 0;
    int accepted = 0, failures = 0, falseSuccesses = 0, changedUnreported = 0, sends = 0;
};

// A set-volume batch over devices; what the terminals hold afterwards is
// compared with what the batch reported.
BatchFigures setVolumes(FenwaSDK *sdk, const QList<FenwaDevice *> &devices, int mic, bool oldWay,
                        const std::vector<std::unique_ptr<Sim>> &sims)
{
    FenwaBatch batch(sdk);
    for (FenwaDevice *d : devices)
        batch.add(d, FenwaRequest::setDeviceVolume(mic, 100 - mic, 1));
    if (oldWay) {
        batch.setWindow(1);
        batch.setResends(false);
    }
    QElapsedTimer timer;
    timer.start();
    batch.run();
    BatchFigures f;
    f.seconds = double(timer.nsecsElapsed()) / 1e9;
    QHash<QString, int> held; // MAC -> microphone volume now
    for (const auto &sim : sims)
        for (const QJsonValue &v : sim->terminals())
            held.insert(v.toObject().value("mac").toString(), v.toObject().value("micVolume").toInt());
    for (int i = 0; i < devices.size(); ++i) {
        f.sends += batch.result(i).sends;
        const bool changed = held.value(devices.at(i)->macText, -1) == mic;
        if (batch.result(i).accepted()) {
            ++f.accepted;
            f.falseSuccesses += changed ? 0 : 1;
        } else {
            ++f.failures;
            f.changedUnreported += changed ? 1 : 0;
        }
    }
    return f;
}

void releaseAll(QList<FenwaDevice *> *devices)
{
    for (FenwaDevice *d : *devices)
        d->release();
    devices->clear();
}

void linkRuns(const E2eSegment &segment, int terminals, const QList<int> &losses, int baseline)
{
    std::printf("\nlink: %d terminals in simulators of %d, loss each way, set-volume batches\n", terminals, kPerSim);
    std::printf("%5s %7s %7s %8s | %9s %6s %6s %6s %7s %6s | %9s %6s %6s %6s %11s\n", "loss", "found", "1 frame",
                "repeat", "batch s", "acc", "fail", "false", "chg/unr", "sends", "old s", "n", "fail", "false",
                "old s, all");
    for (int loss : losses) {
        std::vector<std::unique_ptr<Sim>> sims;
        bool ready = true;
        for (int k = 0; k * kPerSim < terminals && ready; ++k) {
            const int count = std::min(kPerSim, terminals - k * kPerSim);
            sims.push_back(std::make_unique<Sim>());
            ready = sims.back()->start(
                segment, QStringLiteral("sim-%1-%2").arg(loss).arg(k),
                {"--count", QString::number(count), "--base-mac", QString::asprintf("02:fe:00:%02x:00:01", k),
                 "--base-ip", QString::asprintf("10.%d.0.1", k + 1), "--drop", QString::number(loss),
                 "--drop-commands", QString::number(loss), "--seed", QString::number(loss * 100 + k + 1)});
        }
        FenwaSDK sdk;
        if (!ready || !openOn(&sdk, segment)) {
            std::printf("%4d%%  the simulators or the link did not start\n", loss);
            continue;
        }
        FenwaSearchReport report, single;
        QList<FenwaDevice *> old = search(&sdk, 1, &single);
        const int foundOneFrame = old.size();
        releaseAll(&old);
        QList<FenwaDevice *> found = search(&sdk, FenwaSDK::SEARCH_FRAMES, &report);
        const BatchFigures now = setVolumes(&sdk, found, 11 + loss, false, sims);
        const QList<FenwaDevice *> some = found.mid(0, baseline);
        const BatchFigures before = setVolumes(&sdk, some, 33 + loss, true, sims);
        const double projected = some.isEmpty() ? 0 : before.seconds * double(found.size()) / double(some.size());
        std::printf("%4d%% %7d %7d %8d | %9.2f %6d %6d %6d %7d %6d | %9.1f %6d %6d %6d %11.0f\n", loss,
                    int(found.size()), foundOneFrame, report.repeatOnly, now.seconds, now.accepted, now.failures,
                    now.falseSuccesses, now.changedUnreported, now.sends, before.seconds, int(some.size()),
                    before.failures, before.falseSuccesses, projected);
        std::fflush(stdout);
        releaseAll(&found);
    }
    std::printf("found: the search as it is; 1 frame: a single search frame, as it was; repeat: terminals heard\n"
                "only after the frame went out again; acc/fail: reported accepted / not; false: reported accepted\n"
                "but the terminal does not hold the value (must be 0); chg/unr: changed, though reported as not\n"
                "(its answers were lost; honest, not false); sends: frames the batch sent, copies included; old:\n"
                "one at a time, no resend, over the first n found, and its time projected to every terminal found.\n");
}

double upgradeSeconds(const QVector<FenwaFirmware::Target> &targets, const QString &path, int parallel, int *ok)
{
    QElapsedTimer timer;
    timer.start();
    *ok = FenwaFirmware::upgradeAll(targets, path, FenwaFirmware::Limits(), parallel, {}, {}, {});
    return double(timer.nsecsElapsed()) / 1e9;
}

void firmwareRuns(const E2eSegment &segment, int terminals, int parallel)
{
    std::printf("\nfirmware: %d terminals, web side reading about 80 KiB/s, 160 KiB file\n", terminals);
    Sim sim;
    if (!sim.start(segment, QStringLiteral("web"),
                   {"--count", QString::number(terminals), "--web-fault", "slow", "--reboot-ms", "500"})) {
        std::printf("  the simulator did not start\n");
        return;
    }
    sleepMs(500); // the macvlans settle
    const QString path = QString::fromLocal8Bit(segment.dir) + "/fw-9.9.9.bin";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(160 * 1024, '\x5a')) != 160 * 1024)
        return;
    file.close();
    QVector<FenwaFirmware::Target> targets;
    for (const QJsonValue &v : sim.terminals()) {
        const QJsonObject t = v.toObject();
        targets.append({t.value("ip").toString(), 80, t.value("account").toString(), t.value("password").toString()});
    }
    int okOne = 0, okMany = 0;
    const double one = upgradeSeconds(targets, path, 1, &okOne);
    sleepMs(1500); // every terminal back from its restart
    const double many = upgradeSeconds(targets, path, parallel, &okMany);
    std::printf("  one at a time: %.1f s, %d of %d upgraded\n", one, okOne, int(targets.size()));
    std::printf("  %d at once:     %.1f s, %d of %d upgraded\n", parallel, many, okMany, int(targets.size()));
    std::printf("  ratio: %.2f\n", one > 0 ? many / one : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The link writes every text to the debug channel: not what is measured.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    int terminals = 1000, baseline = 100, firmware = 50, parallel = FenwaFirmware::DEFAULT_PARALLEL;
    QList<int> losses{0, 10, 30};
    bool link = true, web = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        const QByteArray v = i + 1 < argc ? QByteArray(argv[i + 1]) : QByteArray();
        if (a == "--skip-link") {
            link = false;
            continue;
        }
        if (a == "--skip-firmware") {
            web = false;
            continue;
        }
        ++i;
        if (a == "--terminals")
            terminals = v.toInt();
        else if (a == "--baseline")
            baseline = v.toInt();
        else if (a == "--firmware")
            firmware = v.toInt();
        else if (a == "--parallel")
            parallel = v.toInt();
        else if (a == "--losses") {
            losses.clear();
            for (const QByteArray &l : v.split(','))
                losses << l.toInt();
        } else {
            std::fprintf(stderr, "usage: bench_batch [--terminals N] [--losses 0,10,30] [--baseline N] [--firmware N]"
                                 " [--parallel N] [--skip-link] [--skip-firmware]\n");
            return 2;
        }
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_batch makes network namespaces and needs root\n");
        return 1;
    }
    E2eSegment segment;
    const QByteArray error = segment.create();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "cannot make the segment: %s\n", error.constData());
        return 1;
    }
    if (link)
        linkRuns(segment, terminals, losses, baseline);
    if (web)
        firmwareRuns(segment, firmware, parallel);
    segment.destroy();
    return 0;
}
