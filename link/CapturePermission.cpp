// SPDX-License-Identifier: GPL-3.0-or-later
#include "CapturePermission.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <endian.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {
const char kHelperName[] = "fenwa-capture";

// Where this program lives, from the kernel rather than from argv[0].
QString executablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

// Whether the file's capabilities put CAP_NET_RAW in its permitted set.
bool fileGrantsNetRaw(const QByteArray &path)
{
    struct vfs_ns_cap_data caps;
    std::memset(&caps, 0, sizeof caps);
    const ssize_t n = getxattr(path.constData(), "security.capability", &caps, sizeof caps);
    if (n < ssize_t(sizeof(uint32_t) * 3))
        return false;
    return le32toh(caps.data[0].permitted) & CAP_TO_MASK(CAP_NET_RAW);
}

QString userName()
{
    const struct passwd *entry = getpwuid(getuid());
    return entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("$USER");
}

// Quoted for a shell when it holds anything but the plainest characters.
QString shellWord(const QString &word)
{
    for (const QChar c : word)
        if (!(c.isLetterOrNumber() || QStringLiteral("/._-+").contains(c)))
            return QLatin1Char('\'') + QString(word).replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
    return word;
}
} // namespace

bool isCapturePermitted()
{
    // capget rather than /proc/self/status: that file reports size 0, and a
    // reader that trusts the size never sees a line.
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    std::memset(data, 0, sizeof data);
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    return data[0].effective & CAP_TO_MASK(CAP_NET_RAW);
}

const char *captureGroup()
{
    return "fenwa";
}

bool runsFromBuildTree()
{
    const QString buildDir = QFileInfo(QStringLiteral(FENWA_BUILD_DIR)).canonicalFilePath();
    return !buildDir.isEmpty() && executablePath().startsWith(buildDir + QLatin1Char('/'));
}

QString captureHelperPath()
{
    if (runsFromBuildTree())
        return QStringLiteral(FENWA_BUILD_BIN_DIR "/") + QLatin1String(kHelperName);
    return QStringLiteral(FENWA_HELPER_INSTALL_DIR "/") + QLatin1String(kHelperName);
}

CaptureAccess captureAccess()
{
    if (isCapturePermitted())
        return CaptureAccess::InProcess;
    const QByteArray helper = QFile::encodeName(captureHelperPath());
    if (access(helper.constData(), F_OK) != 0)
        return CaptureAccess::HelperMissing;
    if (access(helper.constData(), X_OK) != 0)
        return CaptureAccess::NotAllowed;
    return fileGrantsNetRaw(helper) ? CaptureAccess::Helper : CaptureAccess::HelperUnprivileged;
}

QString capturePermissionHint(CaptureAccess access)
{
    const QString helper = captureHelperPath();
    switch (access) {
    case CaptureAccess::InProcess:
    case CaptureAccess::Helper:
        return QString();
    case CaptureAccess::HelperMissing:
        return QStringLiteral("packet capture is not possible: the capture helper %1 is missing; "
                              "reinstall fenwa-workbench").arg(helper);
    case CaptureAccess::NotAllowed:
        return QStringLiteral("packet capture is not permitted: ask an administrator to add you to the group "
                              "\"%1\" (%2), then log out and in again")
            .arg(QLatin1String(captureGroup()), joinGroupCommand());
    case CaptureAccess::HelperUnprivileged:
        break;
    }
    if (runsFromBuildTree())
        return QStringLiteral("packet capture is not permitted: grant the capture helper its capability once "
                              "with \"%1\", or run as root").arg(grantCommand(helper));
    return QStringLiteral("packet capture is not permitted: the capture helper %1 has lost its capability; "
                          "reinstall fenwa-workbench").arg(helper);
}

QString grantCommand(const QString &helperPath)
{
    return QStringLiteral("sudo setcap cap_net_raw=p %1").arg(shellWord(helperPath));
}

QString joinGroupCommand()
{
    return QStringLiteral("sudo adduser %1 %2").arg(shellWord(userName()), QLatin1String(captureGroup()));
}
