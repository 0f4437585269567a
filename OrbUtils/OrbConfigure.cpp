// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbConfigure.h"

#include "OrbFileUtils.h"

#include <QFileInfo>
#include <QSettings>

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

OrbConfigure::OrbConfigure(QObject *parent)
    : QObject(parent), settings(new QSettings(filePath(), QSettings::IniFormat, this))
{
}

OrbConfigure::~OrbConfigure() = default;

QString OrbConfigure::filePath()
{
    return QStringLiteral("%1/configure.ini").arg(OrbFileUtils::configureDirectory());
}

QString OrbConfigure::text(const char *key) const
{
    return settings->value(QLatin1String(key)).toString();
}

QString OrbConfigure::language() const { return text(kLanguage); }
void OrbConfigure::setLanguage(const QString &value) { settings->setValue(QLatin1String(kLanguage), value); }

void OrbConfigure::ensureLanguage()
{
    if (!settings->contains(QLatin1String(kLanguage)))
        setLanguage(QStringLiteral("en"));
}

QString OrbConfigure::network() const { return text(kNetwork); }
void OrbConfigure::setNetwork(const QString &value) { settings->setValue(QLatin1String(kNetwork), value); }

QString OrbConfigure::rtpServer() const { return text(kRtpServer); }
void OrbConfigure::setRtpServer(const QString &value) { settings->setValue(QLatin1String(kRtpServer), value); }

QString OrbConfigure::deviceId() const { return text(kDeviceId); }
void OrbConfigure::setDeviceId(const QString &value) { settings->setValue(QLatin1String(kDeviceId), value); }

QString OrbConfigure::rtpInterface() const { return text(kRtpInterface); }
void OrbConfigure::setRtpInterface(const QString &value) { settings->setValue(QLatin1String(kRtpInterface), value); }

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
    settings->setValue(QLatin1String(kRtpFileList), joined);
}

int OrbConfigure::rtpSourceIndex() const
{
    bool ok = false;
    const int value = settings->value(QLatin1String(kRtpSourceIndex)).toInt(&ok);
    return ok ? value : 0;
}

void OrbConfigure::setRtpSourceIndex(int index)
{
    settings->setValue(QLatin1String(kRtpSourceIndex), index);
}

void OrbConfigure::sync()
{
    settings->sync();
}
