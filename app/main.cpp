// SPDX-License-Identifier: GPL-3.0-or-later
// fenwa-workbench: finds and configures the audio terminals on one network
// segment. Reads one option (--verbose) and no environment of its own.
#include "FenwaStartup.h"
#include "MainWindow.h"
#include "OrbUtils/OrbLog.h"
#include "resources/FenwaResources.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>

int main(int argc, char **argv)
{
    scaleWithTheDesktop();
    QApplication app(argc, argv);
    bool verbose = false;
    for (const QString &argument : app.arguments().mid(1)) {
        if (argument == QLatin1String("--verbose") || argument == QLatin1String("-v")) {
            verbose = true;
        } else {
            const bool help = argument == QLatin1String("--help") || argument == QLatin1String("-h");
            std::fprintf(help ? stdout : stderr, "usage: fenwa-workbench [--verbose]\n"
                                                  "  -v, --verbose   also print every log line, command and reply on standard error\n");
            return help ? 0 : 2;
        }
    }
    echoDebugLines(verbose);
    // Fixed, so that the configuration and log directories do not depend on
    // what the executable was renamed to.
    QCoreApplication::setApplicationName(QStringLiteral("fenwa-workbench"));
    useInterfaceFont();
    initFenwaResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/fenwa-workbench.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("fenwa-workbench"));
    closeWindowsOnStopSignals();

    const QString appDir = QCoreApplication::applicationDirPath();
    openRunLog();
    loadInterfaceLanguage(appDir);
    offerCapturePermission();
    if (stopSignalled()) { // during the permission notice
        closeLogFile();
        return 0;
    }

    auto *window = new MainWindow;
    window->show();
    const int code = app.exec();
    // The log stays open while the window goes, so that the link's teardown
    // is in it too.
    delete window;
    closeLogFile();
    return code;
}
