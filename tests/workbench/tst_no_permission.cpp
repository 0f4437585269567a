// SPDX-License-Identifier: GPL-3.0-or-later
// The workbench as a user who may not capture: in a network namespace of the
// test's own (one veth pair, gone with the process), started as root and
// dropped to nobody before the application exists. The build's capture
// helper holds no capability, so the link cannot open; the window must say
// so, and log nothing as sent; and a stop signal during the notice that says
// so ends the program.
#include "MainWindow.h"
#include "FenwaLinkStatus.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/CapturePermission.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <sched.h>
#include <unistd.h>

namespace {
QByteArray scratch;
}

class NoPermissionTest : public QObject
{
    Q_OBJECT
private slots:
    void statusLineSaysWhyAndNothingIsLoggedAsSent();
    void aStopSignalEndsTheProgramDuringThePermissionNotice();
};

void NoPermissionTest::statusLineSaysWhyAndNothingIsLoggedAsSent()
{
    // Unprivileged helper, or one nobody may not even reach (a build tree
    // under a private home): either way no capture.
    const CaptureAccess access = captureAccess();
    QVERIFY(access == CaptureAccess::HelperUnprivileged || access == CaptureAccess::NotAllowed);
    const QString logPath = QString::fromLocal8Bit(scratch) + QStringLiteral("/run.log");
    QCOMPARE(openLogFile(QFile::encodeName(logPath)), 0);
    {
        MainWindow window;
        QSignalSpy done(&window, &MainWindow::searchFinished);
        window.show();
        QVERIFY(QTest::qWaitFor([&] { return done.count() == 1; }, 10000));
        const QString line = window.linkStatus()->text();
        QVERIFY2(line.contains(translate("Link: %1").arg(translate("no permission"))), qPrintable(line));
        QVERIFY2(line.contains(translate("found nothing: %1").arg(translate("no permission to capture packets"))),
                 qPrintable(line));
        QCOMPARE(done.first().at(0).toInt(), 0);
    }
    closeLogFile();
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY2(!text.contains(") send "), text.constData());
    QVERIFY2(text.contains("not sent (the link is not open)"), text.constData());
}

// The notice is modal and comes before the window: the signal must end the
// program there, not merely close the notice and open the window.
void NoPermissionTest::aStopSignalEndsTheProgramDuringThePermissionNotice()
{
    QDir logs(QString::fromLocal8Bit(scratch) + QStringLiteral("/fenwa-workbench/log"));
    const auto log = [&logs] {
        QFile file(logs.filePath(logs.entryList({QStringLiteral("*.log")}).value(0, QStringLiteral("none"))));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        logs.removeRecursively();
        QProcess workbench;
        workbench.start(QStringLiteral(FENWA_WORKBENCH_PATH), QStringList());
        if (!workbench.waitForStarted(5000))
            QSKIP("nobody cannot run the build's workbench (a private build tree)");
        QVERIFY(QTest::qWaitFor([&] { return log().contains("(offerCapturePermission)"); }, 10000));
        QTest::qWait(300); // the notice is up
        ::kill(pid_t(workbench.processId()), signal);
        QVERIFY2(workbench.waitForFinished(3000) && workbench.exitStatus() == QProcess::NormalExit, strsignal(signal));
        QVERIFY2(log().contains("asked to end") && !log().contains("adapters listed"), log().constData());
    }
}

int main(int argc, char **argv)
{
    if (geteuid() != 0) {
        std::puts("SKIP: needs root to make a network namespace and become another user");
        return 77;
    }
    char dir[] = "/tmp/fenwa-noperm-XXXXXX";
    // Before any thread exists, so that everything after lives in it.
    if (unshare(CLONE_NEWNET) != 0 || mkdtemp(dir) == nullptr
        || system("ip link add fwa type veth peer name fwb && ip link set fwa up && ip link set fwb up") != 0
        || chown(dir, 65534, 65534) != 0) {
        std::perror("cannot set the test up");
        return 1;
    }
    scratch = dir;
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        setenv(name, dir, 1);
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
        std::perror("cannot become nobody");
        return 1;
    }
    int rc;
    {
        QApplication app(argc, argv);
        NoPermissionTest test;
        rc = QTest::qExec(&test, argc, argv);
    }
    // Nobody may not remove root's leftovers, but everything here is nobody's.
    QDir(QString::fromLocal8Bit(scratch)).removeRecursively();
    return rc;
}

#include "tst_no_permission.moc"
