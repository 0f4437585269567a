// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaStartup.h"

#include "OrbUtils/widgets/OrbAlertDialog.h"
#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbFileUtils.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/CapturePermission.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTranslator>
#include <QtDebug>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

void scaleWithTheDesktop()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Not rounded: at 125% a scale of 1 would leave the font 25% larger
    // than every box, at 150% a scale of 2 the window a third too large.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

void useInterfaceFont()
{
    QFont font(QApplication::font().family());
    font.setPointSize(9);
    QApplication::setFont(font);
}

QString openRunLog()
{
    const QString path = OrbFileUtils::logFileName(OrbFileUtils::logDirectory(), QDateTime::currentDateTime());
    return openLogFile(QFile::encodeName(path)) == 0 ? path : QString();
}

QString languageFileFor(const QString &stored)
{
    return stored.compare(QLatin1String("cn"), Qt::CaseInsensitive) == 0 ? QStringLiteral("cn.txt")
                                                                          : QStringLiteral("en.txt");
}

void loadInterfaceLanguage(const QString &appDir)
{
    OrbConfigure store;
    store.ensureLanguage();
    setLanguageDirectory(OrbFileUtils::languageDirectory(appDir, QStringLiteral(FENWA_LANGUAGE_INSTALL_DIR)));
    const QString file = languageFileFor(store.language());
    loadLanguage(file);
    qDebug() << (file == QLatin1String("cn.txt") ? "install cn language" : "install en language");
    // Qt's own texts (file dialogs, standard buttons, a field's menu) in the
    // same language, from Debian's translations of Qt where installed.
    auto *qtTexts = new QTranslator(qApp);
    if (file == QLatin1String("cn.txt")
        && qtTexts->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    else
        delete qtTexts;
    // The run's first line: when start-up reached it tells where the time went.
    ORB_LOG("interface language %s\n", qPrintable(file));
}

namespace {
bool verboseOutput = false;

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verboseOutput)
        return;
    QByteArray line = message.toLocal8Bit();
    if (line.endsWith('\n'))
        line.chop(1); // log lines end with their own
    std::fprintf(stderr, "%s\n", line.constData());
}
} // namespace

void echoDebugLines(bool verbose)
{
    verboseOutput = verbose;
    qInstallMessageHandler(messageHandler);
}

namespace {
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
int stopSignalFds[2] = {-1, -1};
bool stopTaken = false;

void onStopSignal(int)
{
    // Only what is safe in a handler: a byte to the event loop, and the
    // default action back for a second signal.
    const char byte = 1;
    if (::write(stopSignalFds[1], &byte, 1) < 0) {
        // The loop has one byte to read already.
    }
    for (int signal : kStopSignals)
        std::signal(signal, SIG_DFL);
}
} // namespace

void closeWindowsOnStopSignals()
{
    if (stopSignalFds[0] >= 0
        || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, stopSignalFds) != 0)
        return;
    auto *notifier = new QSocketNotifier(stopSignalFds[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [notifier] {
        notifier->setEnabled(false);
        stopTaken = true;
        ORB_LOG("asked to end: closing every window\n");
        // First, so that no close handler waits on a question nobody answers.
        QCoreApplication::exit(0);
        QApplication::closeAllWindows();
    });
    for (int signal : kStopSignals)
        std::signal(signal, onStopSignal);
}

bool stopSignalled()
{
    return stopTaken;
}

OrbCapturePermissionDialog::OrbCapturePermissionDialog(QWidget *parent)
    : OrbDialog(parent), label(new QLabel(this)), commandLine(new QLineEdit(this)),
      grantButton(new QPushButton(translate("Grant"), this)), okButton(new QPushButton(translate("Ok"), this))
{
    setWindowTitle(translate("Packet capture"));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setWordWrap(true);
    commandLine->setReadOnly(true);
    commandLine->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    grantButton->hide();
    connect(grantButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(okButton, &QPushButton::clicked, this, &QDialog::reject);
    resize(520, 180);
}

void OrbCapturePermissionDialog::setMessage(const QString &message)
{
    label->setText(message);
}

QString OrbCapturePermissionDialog::message() const
{
    return label->text();
}

void OrbCapturePermissionDialog::setCommand(const QString &command)
{
    commandLine->setText(command);
    commandLine->setCursorPosition(0); // the start of a command says what it is
    commandLine->setVisible(!command.isEmpty());
    // Wide enough to read the whole command where the screen allows.
    const int needed = commandLine->fontMetrics().horizontalAdvance(command) + 40;
    resize(std::max(width(), std::min(needed, 900)), height());
}

QString OrbCapturePermissionDialog::command() const
{
    return commandLine->text();
}

void OrbCapturePermissionDialog::setGrantOffered(bool offered)
{
    grantButton->setVisible(offered);
    resizeEvent(nullptr);
}

void OrbCapturePermissionDialog::resizeEvent(QResizeEvent *event)
{
    if (event)
        OrbDialog::resizeEvent(event);
    const int buttonWidth = std::max(100, std::max(okButton->sizeHint().width(), grantButton->sizeHint().width()));
    const int gap = 20;
    const int rowTop = height() - 40;
    const int commandTop = rowTop - 40;
    label->setGeometry(10, 5, width() - 20, commandTop - 10);
    commandLine->setGeometry(10, commandTop, width() - 20, 28);
    const int buttons = grantButton->isVisibleTo(this) ? 2 : 1;
    const int left = (width() - buttons * buttonWidth - (buttons - 1) * gap) / 2;
    grantButton->setGeometry(left, rowTop, buttonWidth, 30);
    okButton->setGeometry(left + (buttons - 1) * (buttonWidth + gap), rowTop, buttonWidth, 30);
}

namespace {
// pkexec may change only a file that nobody but root can change: granting a
// capability to a file the user could rewrite would grant it to anything.
bool grantMayBeOffered(const QString &helper)
{
    struct stat file, dir;
    const QByteArray path = QFile::encodeName(helper);
    const QByteArray parent = QFile::encodeName(QFileInfo(helper).absolutePath());
    return ::stat(path.constData(), &file) == 0 && ::stat(parent.constData(), &dir) == 0 && file.st_uid == 0
        && dir.st_uid == 0 && (file.st_mode & (S_IWGRP | S_IWOTH)) == 0 && (dir.st_mode & (S_IWGRP | S_IWOTH)) == 0
        && access(path.constData(), W_OK) != 0 && !QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty();
}

bool grantThroughPkexec(const QString &helper)
{
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    const QString setcap = QStandardPaths::findExecutable(QStringLiteral("setcap"), {QStringLiteral("/usr/sbin"),
                                                                                    QStringLiteral("/sbin")});
    if (setcap.isEmpty())
        return false;
    const int code = QProcess::execute(pkexec, {setcap, QStringLiteral("cap_net_raw=p"), helper});
    ORB_LOG("%s setcap cap_net_raw=p %s: %d\n", qPrintable(pkexec), qPrintable(helper), code);
    return code == 0;
}
} // namespace

bool offerCapturePermission()
{
    const CaptureAccess access = captureAccess();
    if (access == CaptureAccess::InProcess || access == CaptureAccess::Helper)
        return true;
    ORB_LOG("%s\n", qPrintable(capturePermissionHint(access)));
    const QString helper = captureHelperPath();
    OrbCapturePermissionDialog dialog;
    switch (access) {
    case CaptureAccess::NotAllowed:
        dialog.setMessage(
            translate("This account may not capture network packets yet. Ask an administrator to add it to the group %1 with the command below, then log out and in again.")
                .arg(QLatin1String(captureGroup())));
        dialog.setCommand(joinGroupCommand());
        break;
    case CaptureAccess::HelperMissing:
        dialog.setMessage(translate("The capture helper is missing, so no network packets can be captured:") +
                          QLatin1Char(' ') + helper);
        dialog.setCommand(runsFromBuildTree() ? QString()
                                              : QStringLiteral("sudo apt-get install --reinstall fenwa-workbench"));
        break;
    default:
        if (runsFromBuildTree()) {
            dialog.setMessage(
                translate("The capture helper of this build may not capture network packets yet. Grant it the capability once with the command below."));
            dialog.setCommand(grantCommand(helper));
            dialog.setGrantOffered(grantMayBeOffered(helper));
        } else {
            dialog.setMessage(translate("The capture helper has lost its capability. Set it again with the command below."));
            dialog.setCommand(QStringLiteral("sudo dpkg-reconfigure fenwa-workbench"));
        }
        break;
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const bool granted = grantThroughPkexec(helper);
    OrbAlertDialog alert;
    alert.resize(420, 120);
    alert.setWindowTitle(translate("Packet capture"));
    alert.setText(granted ? translate("The capture permission was granted.")
                          : translate("The capture permission could not be granted. Ask an administrator to run the command shown."));
    alert.exec();
    return granted;
}
