// SPDX-License-Identifier: GPL-3.0-or-later
// The freedesktop.org file-manager interface (Nautilus, Dolphin, Nemo, Caja,
// Thunar and others implement it).
#include "OrbFileBrowser.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

void showInFileManager(const QString &path)
{
    const QUrl file = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("ShowItems"));
    call << QStringList{file.toString()} << QString();
    // Asynchronous: a file manager that is slow to start must not freeze the
    // dialog; the folder opens instead only when the call fails.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder](QDBusPendingCallWatcher *done) {
        if (QDBusPendingReply<>(*done).isError())
            QDesktopServices::openUrl(folder);
        done->deleteLater();
    });
}
