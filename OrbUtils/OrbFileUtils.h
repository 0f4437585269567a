// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QDateTime;

// Where the workbench keeps what outlives a run. Directories are created on
// demand; a failure to create one is not reported here, the caller's open of
// a file inside it fails instead.
class OrbFileUtils : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // "<per-user application data>/configure", created if missing.
    static QString configureDirectory();
    // The directory for the runs' log files: "<per-user application
    // data>/log", created if missing and kept to its owner. Never beside the
    // executable: an installed program must not write into /usr/bin.
    static QString logDirectory();
    // "<dir>/<yyyyMMddHHmmss>.log" for the given local start time.
    static QString logFileName(const QString &dir, const QDateTime &start);
    // appDir/language when it holds a language file, else the installed
    // location (may not exist: the interface then stays untranslated).
    static QString languageDirectory(const QString &appDir, const QString &installedDir);
};
