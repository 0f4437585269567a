// SPDX-License-Identifier: GPL-3.0-or-later
// Workbench start and close, as a new user meets them. On a veth pair between
// two namespaces made for the run, with simulated terminals on the far side,
// the real fenwa-workbench is started again and again (under an Xvfb of its
// own, or offscreen) and its run log read for when each step was reached:
//   first log line  the process, Qt, the log and the language are up
//   adapters listed the capture check, the window's parts and the adapter list
//   link open       the capture (in process, or through the helper) is open
//   search sent     the first search frame left
//   table filled    the search's 2 s are over and the rows are in the table
// Then SIGTERM, which closes the window as its close button does, and the
// time until the process has ended; once after the table has filled, once
// half a second into the first search. A --baseline build of the workbench runs
// in turn with the same segment; figures are medians over the rounds.
// Usage: bench_workbench [--rounds N] [--terminals N] [--baseline PATH]
//                        [--user UID] [--offscreen]
// --user runs the workbench as that user, through the build's capture
// helper (which then needs cap_net_raw=p); as root it captures itself.
#include "e2e_segment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const char *const kSteps[] = {"first log line", "adapters listed", "link open", "search sent",
                              "table filled",   "close",           "close in search"};
constexpr int kStepCount = 7;
// The two closes: after the table has filled, and half a second into the
// first search (the search dialog is up).
enum { CloseStep = 5, CloseInSearchStep = 6 };
constexpr qint64 kMissing = -1;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

pid_t spawn(const QList<QByteArray> &args, const QList<QByteArray> &env, const char *outPath)
{
    std::vector<char *> argv, envp;
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    for (const QByteArray &e : env)
        envp.push_back(const_cast<char *>(e.constData()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// An Xvfb of this run's own, on the display number it picks itself.
struct Display {
    pid_t pid = -1;
    QByteArray name;

    bool start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        const QByteArray fd = QByteArray::number(fds[1]);
        std::vector<char *> argv{const_cast<char *>("Xvfb"), const_cast<char *>("-displayfd"),
                                 const_cast<char *>(fd.constData()), const_cast<char *>("-screen"),
                                 const_cast<char *>("0"), const_cast<char *>("1280x800x24"),
                                 const_cast<char *>("-nolisten"), const_cast<char *>("tcp"), nullptr};
        if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, argv.data(), environ) != 0)
            pid = -1;
        ::close(fds[1]);
        char buf[16] = {0};
        const ssize_t n = pid > 0 ? ::read(fds[0], buf, sizeof buf - 1) : -1;
        ::close(fds[0]);
        if (n <= 0)
            return false;
        name = ":" + QByteArray(buf, int(n)).trimmed();
        return true;
    }
    ~Display()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// When each step's line appeared in the run's log, in ms since the start.
QVector<qint64> readSteps(const QString &logDir, qint64 start)
{
    QVector<qint64> at(kStepCount, kMissing);
    const QStringList logs = QDir(logDir).entryList({QStringLiteral("*.log")});
    if (logs.isEmpty())
        return at;
    QFile file(logDir + QLatin1Char('/') + logs.first());
    if (!file.open(QIODevice::ReadOnly))
        return at;
    static const QRegularExpression line(QStringLiteral("^\\[([0-9: .-]{23})\\]  \\S+ (.*)$"));
    const struct {
        int step;
        const char *text;
    } marks[] = {{0, "interface language"}, {1, "adapters listed"}, {2, " open\n"},
                 {3, "\"method\":\"search\""}, {4, "search found"}, {CloseStep, "closing every window"}};
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const auto m = line.match(QString::fromUtf8(raw));
        if (!m.hasMatch())
            continue;
        const qint64 t = QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                             .toMSecsSinceEpoch() - start;
        const QString text = m.captured(2) + QLatin1Char('\n');
        for (const auto &mark : marks)
            if (at[mark.step] == kMissing && text.contains(QLatin1String(mark.text))
                && (mark.step != 3 || text.startsWith(QLatin1String("send "))))
                at[mark.step] = t;
    }
    return at;
}

struct Options {
    int rounds = 7;
    int terminals = 8;
    QByteArray baseline;
    int user = -1;
    bool offscreen = false;
};

// One start and close of binary. Returns the step times (kMissing where the
// binary does not log the step).
QVector<qint64> runOnce(const QByteArray &binary, const Options &o, const E2eSegment &segment,
                        const Display &display, int round, bool inSearch)
{
    const QString home = QStringLiteral("%1/home-%2").arg(QString::fromLocal8Bit(segment.dir)).arg(round);
    QDir().mkpath(home + QStringLiteral("/run"));
    QFile::setPermissions(home + QStringLiteral("/run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                             | QFileDevice::ExeOwner);
    if (o.user >= 0) {
        runCommand({"chown", "-R", QStringLiteral("%1:%1").arg(o.user), home});
        runCommand({"chmod", "o+x", QString::fromLocal8Bit(segment.dir)});
    }
    QList<QByteArray> env{"HOME=" + home.toLocal8Bit(), "PATH=/usr/bin:/bin",
                          "XDG_RUNTIME_DIR=" + home.toLocal8Bit() + "/run"};
    env << (o.offscreen ? QByteArray("QT_QPA_PLATFORM=offscreen") : "DISPLAY=" + display.name);
    QList<QByteArray> args;
    if (o.user >= 0)
        args << "setpriv" << "--reuid" << QByteArray::number(o.user) << "--regid" << QByteArray::number(o.user)
             << "--clear-groups";
    args << binary;

    const qint64 start = nowMs();
    const pid_t pid = spawn(args, env, (home + QStringLiteral("/out.txt")).toLocal8Bit().constData());
    if (pid < 0)
        return QVector<qint64>(kStepCount, kMissing);
    const QString logDir = home + QStringLiteral("/.local/share/fenwa-workbench/log");
    // The table, or (a build that does not log it) the search plus its 2 s.
    QVector<qint64> at;
    for (;;) {
        at = readSteps(logDir, start);
        const qint64 sinceSearch = at[3] == kMissing ? 0 : nowMs() - start - at[3];
        if ((inSearch && sinceSearch >= 500) || (!inSearch && (at[4] != kMissing || sinceSearch > 2500))
            || nowMs() - start > 15000)
            break;
        sleepMs(2);
    }
    if (!inSearch)
        sleepMs(300); // the window settles before it is closed
    const qint64 closing = nowMs();
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    const qint64 closed = nowMs() - closing;
    // A build that does not close on SIGTERM is simply killed: no figure.
    const bool graceful = readSteps(logDir, start)[CloseStep] != kMissing;
    if (inSearch) {
        QVector<qint64> only(kStepCount, kMissing);
        only[CloseInSearchStep] = graceful ? closed : kMissing;
        return only;
    }
    at[CloseStep] = graceful ? closed : kMissing;
    return at;
}

qint64 median(QVector<qint64> v)
{
    if (v.isEmpty())
        return kMissing;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QString cell(qint64 ms)
{
    return ms == kMissing ? QStringLiteral("-") : QStringLiteral("%1 ms").arg(ms);
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--rounds" && hasValue)
            o.rounds = std::max(1, atoi(argv[++i]));
        else if (a == "--terminals" && hasValue)
            o.terminals = std::max(1, atoi(argv[++i]));
        else if (a == "--baseline" && hasValue)
            o.baseline = argv[++i];
        else if (a == "--user" && hasValue)
            o.user = atoi(argv[++i]);
        else if (a == "--offscreen")
            o.offscreen = true;
        else {
            std::fprintf(stderr, "usage: bench_workbench [--rounds N] [--terminals N] [--baseline PATH] "
                                 "[--user UID] [--offscreen]\n");
            return 2;
        }
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_workbench: needs root to make its network namespaces\n");
        return 1;
    }
    E2eSegment segment;
    const QByteArray error = segment.create();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_workbench: %s\n", error.constData());
        return 1;
    }
    SimProcess sim;
    const QByteArray simError = sim.start(segment, {"--count", QString::number(o.terminals)});
    Display display;
    if (!simError.isEmpty() || (!o.offscreen && !display.start())) {
        std::fprintf(stderr, "bench_workbench: %s\n", simError.isEmpty() ? "cannot start Xvfb" : simError.constData());
        return 1;
    }

    QMap<QByteArray, QVector<QVector<qint64>>> runs; // binary -> rounds -> steps
    const QList<QByteArray> binaries = o.baseline.isEmpty() ? QList<QByteArray>{FENWA_WORKBENCH_PATH}
                                                            : QList<QByteArray>{FENWA_WORKBENCH_PATH, o.baseline};
    for (int round = 0; round < o.rounds; ++round) {
        // Turn about, so that neither build always runs on a warmer machine.
        for (int k = 0; k < binaries.size(); ++k) {
            const QByteArray &binary = binaries.at((round + k) % binaries.size());
            QVector<qint64> steps = runOnce(binary, o, segment, display, round * 4 + k * 2, false);
            steps[CloseInSearchStep] = runOnce(binary, o, segment, display, round * 4 + k * 2 + 1, true)[CloseInSearchStep];
            runs[binary] << steps;
            std::fprintf(stderr, ".");
        }
    }
    std::fprintf(stderr, "\n");

    std::printf("fenwa-workbench start and close, %d rounds, %d simulated terminals, %s, %s\n", o.rounds,
                o.terminals, o.offscreen ? "offscreen" : "Xvfb",
                o.user >= 0 ? "as a user, through the capture helper" : "as root, capturing in process");
    std::printf("medians in ms from the start (close: from SIGTERM to the end of the process)\n\n");
    std::printf("%-16s", "step");
    for (const QByteArray &binary : binaries)
        std::printf(" | %-22s", binary == FENWA_WORKBENCH_PATH ? "this build" : "baseline");
    std::printf("%s\n", binaries.size() > 1 ? " | ratio" : "");
    for (int step = 0; step < kStepCount; ++step) {
        std::printf("%-16s", kSteps[step]);
        QVector<qint64> medians;
        for (const QByteArray &binary : binaries) {
            QVector<qint64> values;
            for (const QVector<qint64> &r : runs[binary])
                if (r[step] != kMissing)
                    values << r[step];
            medians << median(values);
            const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
            std::printf(" | %-22s", values.isEmpty() ? "-"
                                                      : qPrintable(QStringLiteral("%1 (%2-%3)")
                                                                       .arg(cell(medians.last()), cell(*lo).chopped(3),
                                                                            cell(*hi))));
        }
        if (medians.size() > 1 && medians[0] > 0 && medians[1] > 0)
            std::printf(" | %.2f", double(medians[0]) / double(medians[1]));
        std::printf("\n");
    }
    return 0;
}
