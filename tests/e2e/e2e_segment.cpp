// SPDX-License-Identifier: GPL-3.0-or-later
#include "e2e_segment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kPrefix[] = "fwe2e-";

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::vector<char *> toArgv(const QList<QByteArray> &args)
{
    std::vector<char *> argv;
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    return argv;
}

QList<QByteArray> toBytes(const QStringList &list)
{
    QList<QByteArray> out;
    for (const QString &s : list)
        out.append(s.toLocal8Bit());
    return out;
}

} // namespace

int runCommand(const QStringList &argvList, QByteArray *err)
{
    const QList<QByteArray> args = toBytes(argvList);
    std::vector<char *> argv = toArgv(args);
    int pipeFd[2];
    if (pipe2(pipeFd, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = fork();
    if (child < 0) {
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
        return -1;
    }
    if (child == 0) {
        dup2(pipeFd[1], 1);
        dup2(pipeFd[1], 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    ::close(pipeFd[1]);
    QByteArray text;
    char buf[512];
    ssize_t n;
    while ((n = ::read(pipeFd[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buf, static_cast<int>(n));
    ::close(pipeFd[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (err)
        *err = text.trimmed();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- segment ----------------------------------------------------------------

E2eSegment::E2eSegment()
{
    const QByteArray pid = QByteArray::number(getpid());
    toolNs = kPrefix + QByteArray("t-") + pid;
    simNs = kPrefix + QByteArray("s-") + pid;
    toolIf = "fwt" + pid;
    simIf = "fws" + pid;
}

E2eSegment::~E2eSegment()
{
    destroy();
}

void E2eSegment::removeStale()
{
    DIR *d = opendir("/run/netns");
    if (!d)
        return;
    QList<QByteArray> stale;
    while (struct dirent *e = readdir(d)) {
        const QByteArray name(e->d_name);
        if (!name.startsWith(kPrefix) || name.size() < 9)
            continue;
        bool ok = false;
        const pid_t owner = name.mid(static_cast<int>(sizeof kPrefix - 1) + 2).toInt(&ok);
        if (ok && owner > 0 && owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH)
            stale.append(name);
    }
    closedir(d);
    for (const QByteArray &ns : stale) {
        // Simulators of a dead run die with their parent (PDEATHSIG); only the
        // namespace mounts are left to remove.
        runCommand({"ip", "netns", "delete", QString::fromLocal8Bit(ns)});
    }
}

// The shell helpers the CLI's end-to-end script uses make the segment here
// too: one way of building it, one place to get its waits right.
static int netnsLib(const QString &commands, QByteArray *output)
{
    static const QString lib = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../../scripts/netns-lib.sh";
    return runCommand({"bash", "-c", QStringLiteral(". '%1' && %2").arg(lib, commands)}, output);
}

QByteArray E2eSegment::create()
{
    removeStale();
    QByteArray err;
    created = true; // whatever part was made goes again on failure
    if (netnsLib(QStringLiteral("netns_segment_up %1 %2 %3 %4 %5")
                     .arg(QString(toolNs), QString(toolIf), QString(simNs), QString(simIf), toolAddress()),
                 &err)
        != 0) {
        destroy();
        return "netns_segment_up: " + err;
    }
    // Not a name anyone could guess and plant beforehand.
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/fenwa-e2e-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        destroy();
        return "mkdtemp: " + QByteArray(std::strerror(errno));
    }
    dir = pattern;

    originalNs = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int fd = ::open(("/run/netns/" + toolNs).constData(), O_RDONLY | O_CLOEXEC);
    if (originalNs < 0 || fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
        const QByteArray why = QByteArray("cannot enter ") + toolNs + ": " + QByteArray(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        destroy();
        return why;
    }
    ::close(fd);
    return QByteArray();
}

void E2eSegment::destroy()
{
    if (originalNs >= 0) {
        setns(originalNs, CLONE_NEWNET);
        ::close(originalNs);
        originalNs = -1;
    }
    if (!created)
        return;
    created = false;
    runCommand({"ip", "netns", "delete", QString::fromLocal8Bit(toolNs)});
    runCommand({"ip", "netns", "delete", QString::fromLocal8Bit(simNs)});
    if (!dir.isEmpty())
        QDir(QString::fromLocal8Bit(dir)).removeRecursively();
    dir.clear();
}

bool E2eSegment::setToolInterfaceUp(bool up)
{
    return netnsLib(QStringLiteral("ip -n %1 link set %2 %3").arg(QString(toolNs), QString(toolIf), up ? "up" : "down")
                        + (up ? QStringLiteral(" && netns_wait_carrier %1 %2").arg(QString(toolNs), QString(toolIf))
                              : QString()),
                    nullptr)
        == 0;
}

bool E2eSegment::setMtu(int mtu)
{
    return netnsLib(QStringLiteral("ip -n %1 link set %2 mtu %5 && ip -n %3 link set %4 mtu %5")
                        .arg(QString(toolNs), QString(toolIf), QString(simNs), QString(simIf), QString::number(mtu)),
                    nullptr)
        == 0;
}

// ---- simulator --------------------------------------------------------------

QByteArray SimProcess::start(const E2eSegment &segment, const QStringList &extraArgs)
{
    stop();
    stateFile = segment.dir + "/state.json";
    commandLog = segment.dir + "/commands.log";
    outFile = segment.dir + "/sim.out";
    QFile::remove(QString::fromLocal8Bit(stateFile));
    QFile::remove(QString::fromLocal8Bit(commandLog));

    QStringList argv{"ip",
                     "netns",
                     "exec",
                     QString::fromLocal8Bit(segment.simNs),
                     FENWA_SIM_PATH,
                     "--interface",
                     QString::fromLocal8Bit(segment.simIf),
                     "--state-file",
                     QString::fromLocal8Bit(stateFile),
                     "--command-log",
                     QString::fromLocal8Bit(commandLog)};
    argv += extraArgs;
    const QList<QByteArray> args = toBytes(argv);
    std::vector<char *> cargv = toArgv(args);
    const pid_t child = fork();
    if (child < 0)
        return "fork failed";
    if (child == 0) {
        // A test process that dies must not leave terminals answering.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int out = ::open(outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    pid = child;
    for (int i = 0; i < 200; ++i) {
        if (QFile::exists(QString::fromLocal8Bit(stateFile)))
            return QByteArray();
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return "fenwa-sim exited: " + output();
        }
        sleepMs(20);
    }
    stop();
    return "fenwa-sim not ready after 4 s: " + output();
}

void SimProcess::stop()
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 250; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        sleepMs(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
}

QJsonObject SimProcess::state() const
{
    QFile f(QString::fromLocal8Bit(stateFile));
    if (!f.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(f.readAll()).object();
}

QJsonObject SimProcess::stats() const
{
    struct stat before;
    const bool had = ::stat(stateFile.constData(), &before) == 0;
    if (pid > 0 && kill(pid, SIGUSR1) == 0) {
        // The dump is renamed into place: a new inode means a new dump.
        for (int i = 0; i < 200; ++i) {
            struct stat now;
            if (::stat(stateFile.constData(), &now) == 0 && (!had || now.st_ino != before.st_ino))
                break;
            sleepMs(5);
        }
    }
    return state().value("stats").toObject();
}

QList<QByteArray> SimProcess::commands() const
{
    QFile f(QString::fromLocal8Bit(commandLog));
    QList<QByteArray> lines;
    if (!f.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (!line.isEmpty())
            lines.append(line);
    return lines;
}

QByteArray SimProcess::output() const
{
    QFile f(QString::fromLocal8Bit(outFile));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}
