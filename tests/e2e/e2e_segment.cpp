// SPDX-License-Identifier: GPL-3.0-or-later
#include "e2e_segment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
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

// Forks and execs argv with stdout and stderr on fd; the child's pid, or -1.
pid_t spawn(const QStringList &list, int fd, bool dieWithParent)
{
    QList<QByteArray> args;
    std::vector<char *> argv;
    for (const QString &s : list)
        args.append(s.toLocal8Bit());
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        // A test process that dies must not leave terminals answering.
        if (dieWithParent)
            prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// The shell helpers the CLI's end-to-end script uses make the segment here
// too: one way of building it, one place to get its waits right.
int netnsLib(const QString &commands, QByteArray *output = nullptr)
{
    return runCommand({"bash", "-c", QStringLiteral(". '%1' && %2").arg(FENWA_NETNS_LIB, commands)}, output);
}

// Claims the segment tag as netns_claim does: the lock file under
// /run/fenwa-netns, held while this process lives and naming the
// namespaces, so that no other run's stale removal can take them. Returns
// the descriptor, or -1 when a live run holds the tag.
int claim(const QByteArray &tag, const QByteArrayList &namespaces)
{
    const QByteArray dir = "/run/fenwa-netns", lock = dir + "/" + tag + ".lock";
    ::mkdir(dir.constData(), 0755);
    const int fd = ::open(lock.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    struct stat held, named;
    // A stale removal may have deleted the file between the open and the lock.
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &held) != 0 || ::stat(lock.constData(), &named) != 0
        || held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    const QByteArray names = namespaces.join('\n') + '\n';
    if (ftruncate(fd, 0) != 0 || ::write(fd, names.constData(), size_t(names.size())) != names.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int runCommand(const QStringList &argv, QByteArray *output)
{
    int pipeFd[2];
    if (pipe2(pipeFd, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = spawn(argv, pipeFd[1], false);
    ::close(pipeFd[1]);
    QByteArray text;
    char buf[512];
    while (child > 0) {
        const ssize_t n = ::read(pipeFd[0], buf, sizeof buf);
        if (n > 0)
            text.append(buf, int(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(pipeFd[0]);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (output)
        *output = text.trimmed();
    return child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}


E2eSegment::E2eSegment()
{
    // The interfaces live only inside the namespaces: their names cannot meet another run's.
    const QByteArray pid = QByteArray::number(getpid());
    toolIf = "fwt" + pid;
    simIf = "fws" + pid;
}

QByteArray E2eSegment::create()
{
    QByteArray err;
    created = true; // whatever part was made goes again on failure
    // Another run may have this pid in another pid namespace: the claim decides.
    for (int i = 0; i < 3 && lockFd < 0; ++i) {
        const QByteArray tag = kPrefix + QByteArray::number(getpid()) + "-"
                               + QByteArray::number(QRandomGenerator::global()->bounded(1 << 16), 16);
        toolNs = tag + "-t";
        simNs = tag + "-s";
        lockFd = claim(tag, {toolNs, simNs});
        lockFile = "/run/fenwa-netns/" + tag + ".lock";
    }
    if (lockFd < 0)
        err = "cannot claim a segment in /run/fenwa-netns: " + QByteArray(std::strerror(errno));
    // The set-up is judged by its exit status and by what it made, not by
    // what it printed.
    const QString names = QStringLiteral("%1 %2 %3 %4 %5").arg(QString(toolNs), QString(toolIf), QString(simNs),
                                                               QString(simIf), toolAddress());
    QByteArray said;
    if (err.isEmpty()
        && netnsLib(QStringLiteral("netns_remove_stale; netns_segment_up %1 && netns_segment_made %1").arg(names),
                    &said)
               != 0)
        err = "the segment was not made: " + said;
    // Not a name anyone could guess and plant beforehand.
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/fenwa-e2e-XXXXXX";
    if (err.isEmpty() && mkdtemp(pattern.data()) == nullptr)
        err = "mkdtemp: " + QByteArray(std::strerror(errno));
    dir = err.isEmpty() ? pattern : QByteArray();
    const int fd = err.isEmpty() ? ::open(("/run/netns/" + toolNs).constData(), O_RDONLY | O_CLOEXEC) : -1;
    originalNs = fd >= 0 ? ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC) : -1;
    if (err.isEmpty() && (fd < 0 || originalNs < 0 || setns(fd, CLONE_NEWNET) != 0))
        err = "cannot enter " + toolNs + ": " + QByteArray(std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
    if (!err.isEmpty())
        destroy();
    return err;
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
    if (lockFd < 0) // the names are a live run's, not ours
        return;
    const bool toolGone = runCommand({"ip", "netns", "delete", QString::fromLocal8Bit(toolNs)}) == 0;
    const bool simGone = runCommand({"ip", "netns", "delete", QString::fromLocal8Bit(simNs)}) == 0;
    // Namespaces that would not go stay claimed until this process ends; the
    // next run's stale removal takes them then.
    if (toolGone && simGone)
        ::unlink(lockFile.constData());
    ::close(lockFd);
    lockFd = -1;
    if (!dir.isEmpty())
        QDir(QString::fromLocal8Bit(dir)).removeRecursively();
    dir.clear();
}

bool E2eSegment::setToolInterfaceUp(bool up)
{
    const QString ns = QString(toolNs), dev = QString(toolIf);
    return netnsLib(up ? QStringLiteral("ip -n %1 link set %2 up && netns_wait_carrier %1 %2").arg(ns, dev)
                       : QStringLiteral("ip -n %1 link set %2 down").arg(ns, dev))
        == 0;
}

bool E2eSegment::setMtu(int mtu)
{
    return netnsLib(QStringLiteral("ip -n %1 link set %2 mtu %5 && ip -n %3 link set %4 mtu %5")
                        .arg(QString(toolNs), QString(toolIf), QString(simNs), QString(simIf), QString::number(mtu)))
        == 0;
}


QByteArray SimProcess::start(const E2eSegment &segment, const QStringList &extraArgs, const QByteArray &tag)
{
    stop();
    stateFile = segment.dir + "/state" + tag + ".json";
    commandLog = segment.dir + "/commands" + tag + ".log";
    outFile = segment.dir + "/sim" + tag + ".out";
    QFile::remove(QString::fromLocal8Bit(stateFile));
    QFile::remove(QString::fromLocal8Bit(commandLog));
    const int out = ::open(outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    pid = spawn(QStringList{"ip", "netns", "exec", segment.simNs, FENWA_SIM_PATH, "--interface", segment.simIf,
                            "--state-file", stateFile, "--command-log", commandLog}
                    + extraArgs,
                out, true);
    if (out >= 0)
        ::close(out);
    for (int i = 0; pid > 0 && i < 200; ++i, sleepMs(20)) {
        if (QFile::exists(QString::fromLocal8Bit(stateFile)))
            return QByteArray();
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return "fenwa-sim exited: " + output();
        }
    }
    stop();
    return "fenwa-sim not ready after 4 s: " + output();
}

void SimProcess::stop()
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 250; ++i, sleepMs(20))
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

QJsonObject SimProcess::state() const
{
    QFile f(QString::fromLocal8Bit(stateFile));
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}

QJsonObject SimProcess::terminal(const QString &mac) const
{
    for (const QJsonValue &v : terminals())
        if (v.toObject().value("mac").toString() == mac)
            return v.toObject();
    return QJsonObject();
}

QJsonObject SimProcess::stats() const
{
    struct stat before, now;
    const bool had = ::stat(stateFile.constData(), &before) == 0;
    // The dump is renamed into place: a new inode means a new dump.
    if (pid > 0 && kill(pid, SIGUSR1) == 0)
        for (int i = 0; i < 200; ++i, sleepMs(5))
            if (::stat(stateFile.constData(), &now) == 0 && (!had || now.st_ino != before.st_ino))
                break;
    return state().value("stats").toObject();
}

QList<QByteArray> SimProcess::commands() const
{
    QFile f(QString::fromLocal8Bit(commandLog));
    QList<QByteArray> lines = f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>();
    lines.removeAll(QByteArray());
    return lines;
}

QByteArray SimProcess::output() const
{
    QFile f(QString::fromLocal8Bit(outFile));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}
