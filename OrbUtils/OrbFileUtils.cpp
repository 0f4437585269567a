// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbFileUtils.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
// Creates one level when missing; the result is the path whatever happened.
QString ensureDir(const QString &path)
{
    QDir dir(path);
    if (!dir.exists())
        dir.mkdir(path);
    return path;
}

QString dataDirectory()
{
    // mkpath rather than one level: on a fresh account ~/.local/share itself
    // may not exist yet.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir);
    return dir;
}
} // namespace

QString OrbFileUtils::configureDirectory()
{
    return ensureDir(QStringLiteral("%1/configure").arg(dataDirectory()));
}

QString OrbFileUtils::logDirectory()
{
    const QString dir = ensureDir(QStringLiteral("%1/log").arg(dataDirectory()));
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return dir;
}

QString OrbFileUtils::logFileName(const QString &dir, const QDateTime &start)
{
    return QStringLiteral("%1/%2.log").arg(dir, start.toString(QStringLiteral("yyyyMMddHHmmss")));
}

QString OrbFileUtils::languageDirectory(const QString &appDir, const QString &installedDir)
{
    const QString local = QStringLiteral("%1/language").arg(appDir);
    if (QFileInfo::exists(local + QStringLiteral("/en.txt")) || installedDir.isEmpty())
        return local;
    return installedDir;
}
