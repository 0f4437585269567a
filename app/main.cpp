// SPDX-License-Identifier: GPL-3.0-or-later
// fenwa-workbench: finds and configures the audio terminals on one network
// segment. Reads no options and no environment of its own.
#include "FenwaStartup.h"
#include "MainWindow.h"
#include "OrbUtils/OrbLog.h"
#include "resources/FenwaResources.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Fixed, so that the configuration and log directories do not depend on
    // what the executable was renamed to.
    QCoreApplication::setApplicationName(QStringLiteral("fenwa-workbench"));
    QFont font(QApplication::font().family());
    font.setPointSize(9);
    QApplication::setFont(font);
    initFenwaResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/fenwa-workbench.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("fenwa-workbench"));
    closeWindowsOnStopSignals();

    const QString appDir = QCoreApplication::applicationDirPath();
    openRunLog();
    loadInterfaceLanguage(appDir);
    offerCapturePermission();

    auto *window = new MainWindow;
    window->show();
    const int code = app.exec();
    // The log stays open while the window goes, so that the link's teardown
    // is in it too.
    delete window;
    closeLogFile();
    return code;
}
