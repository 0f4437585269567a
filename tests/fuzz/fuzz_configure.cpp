// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the configuration file: every key reads as a value or its
// default, and a store written over it reads back what was written.
#include "OrbConfigure.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The store lives under the data home: one of the run's own.
    static QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    QCoreApplication::setApplicationName(QStringLiteral("fuzz-configure"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile file(OrbConfigure::filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    {
        OrbConfigure store;
        store.language(), store.network(), store.rtpServer(), store.deviceId(), store.rtpInterface();
        store.rtpFileList(), store.rtpSourceIndex();
        store.setNetwork(QStringLiteral("veth0"));
    }
    if (OrbConfigure().network() != QStringLiteral("veth0"))
        std::abort();
    return 0;
}
