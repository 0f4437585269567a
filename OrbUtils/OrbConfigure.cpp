// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbConfigure.h"

#include "OrbFileUtils.h"
#include "OrbLog.h"

#include <QFileInfo>
#include <QSettings>
#include <atomic>

namespace {
// The misspelt key is what existing configuration files carry.
const char kLanguage[] = "langage";
const char kNetwork[] = "network";
const char kRtpServer[] = "rtp server";
const char kDeviceId[] = "device id";
const char kRtpFileList[] = "rtp file list";
const char kRtpSourceIndex[] = "rtp source index";
const char kRtpInterface[] = "rtp interface";
const char kWindowGeometry[] = "window geometry";
} // namespace

OrbConfigure::OrbConfigure(QObject *parent) : QObject(parent)
{
    // Nothing asks for more than a few kilobytes: a file far larger, or one
    // that is not a file at all, is not read (it could cost any amount of
    // memory) nor written over. Defaults stand in for its keys.
    const QString path = filePath();
    const QFileInfo info(path);
    if (!info.exists() || (info.isFile() && info.size() <= kFileMax)) {
        settings = new QSettings(path, QSettings::IniFormat, this);
        return;
    }
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
        ORB_LOG("%s is %s; not read, and left as it is\n", qPrintable(path),
                info.isFile() ? qPrintable(QStringLiteral("%1 bytes, more than %2").arg(info.size()).arg(kFileMax))
                              : "not a regular file");
    }
}

OrbConfigure::~OrbConfigure() = default;

QString OrbConfigure::filePath()
{
    return QStringLiteral("%1/configure.ini").arg(OrbFileUtils::configureDirectory());
}

QString OrbConfigure::text(const char *key) const
{
    return settings ? settings->value(QLatin1String(key)).toString() : QString();
}

QString OrbConfigure::language() const { return text(kLanguage); }
void OrbConfigure::setLanguage(const QString &value) { put(QLatin1String(kLanguage), value); }

void OrbConfigure::ensureLanguage()
{
    if (settings && !settings->contains(QLatin1String(kLanguage)))
        setLanguage(QStringLiteral("en"));
}

QString OrbConfigure::network() const { return text(kNetwork); }
void OrbConfigure::setNetwork(const QString &value) { put(QLatin1String(kNetwork), value); }

QString OrbConfigure::rtpServer() const { return text(kRtpServer); }
void OrbConfigure::setRtpServer(const QString &value) { put(QLatin1String(kRtpServer), value); }

QString OrbConfigure::deviceId() const { return text(kDeviceId); }
void OrbConfigure::setDeviceId(const QString &value) { put(QLatin1String(kDeviceId), value); }

QString OrbConfigure::rtpInterface() const { return text(kRtpInterface); }
void OrbConfigure::setRtpInterface(const QString &value) { put(QLatin1String(kRtpInterface), value); }

QByteArray OrbConfigure::windowGeometry() const
{
    return QByteArray::fromBase64(text(kWindowGeometry).toLatin1());
}

void OrbConfigure::setWindowGeometry(const QByteArray &value)
{
    settings->setValue(QLatin1String(kWindowGeometry), QString::fromLatin1(value.toBase64()));
}

QStringList OrbConfigure::rtpFileList() const
{
    QStringList files;
    const QStringList parts = text(kRtpFileList).split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        if (!part.isEmpty() && QFileInfo(part).isFile())
            files.append(part);
    }
    return files;
}

void OrbConfigure::setRtpFileList(const QStringList &files)
{
    QString joined;
    for (const QString &file : files)
        joined += file + QLatin1Char('\n');
    put(QLatin1String(kRtpFileList), joined);
}

int OrbConfigure::rtpSourceIndex() const
{
    bool ok = false;
    const int value = text(kRtpSourceIndex).toInt(&ok);
    return ok ? value : 0;
}

void OrbConfigure::setRtpSourceIndex(int index)
{
    put(QLatin1String(kRtpSourceIndex), index);
}

void OrbConfigure::put(const QString &key, const QVariant &value)
{
    if (settings)
        settings->setValue(key, value);
}

void OrbConfigure::sync()
{
    if (settings)
        settings->sync();
}
