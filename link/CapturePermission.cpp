// SPDX-License-Identifier: GPL-3.0-or-later
// Linux: capture needs CAP_NET_RAW (and CAP_NET_ADMIN for promiscuous mode on
// some kernels). Read the effective set from /proc rather than linking libcap.
#include "CapturePermission.h"

#include <QFile>
#include <unistd.h>

namespace {
constexpr int kCapNetRaw = 13;
}

bool isCapturePermitted()
{
    if (geteuid() == 0)
        return true;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    while (!status.atEnd()) {
        const QByteArray line = status.readLine();
        if (line.startsWith("CapEff:")) {
            bool ok = false;
            const qulonglong caps = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (caps & (1ULL << kCapNetRaw));
        }
    }
    return false;
}

QString capturePermissionHint(const QString &executable)
{
    return QStringLiteral("packet capture is not permitted: run as root, or grant the capability once with "
                          "\"sudo setcap cap_net_raw,cap_net_admin=eip %1\"")
        .arg(executable);
}
