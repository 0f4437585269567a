// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a language file: read as far as it goes, never a crash.
#include "OrbTranslate.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    setLanguageDirectory(dir.path());
    QFile file(dir.filePath(QStringLiteral("xx.txt")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    loadLanguage(QStringLiteral("xx"));
    translate("Search");
    return 0;
}
