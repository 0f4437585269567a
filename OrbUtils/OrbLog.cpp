// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbLog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QtDebug>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QMutex logMutex;
FILE *logFile = nullptr;
// Where the run's log is: the directory, the first file's name without
// ".log", the number of the file now written and what it holds.
QString logDir, logBase;
int logSegment = 0;
qint64 logWritten = 0;
qint64 fileLimit = 8 << 20, totalLimit = 64 << 20;

const char *baseName(const char *file)
{
    if (file == nullptr)
        return "";
    const char *slash = std::strrchr(file, '/');
    return slash ? slash + 1 : file;
}

// Backs a cut off to the start of a UTF-8 sequence so that a cut line is
// still valid text.
int utf8Boundary(const char *buf, int len)
{
    int i = len;
    while (i > 0 && (static_cast<unsigned char>(buf[i]) & 0xC0) == 0x80)
        --i;
    return i;
}
} // namespace

namespace {
// Creates or truncates path for the owner alone (the log holds password
// digests and SIP accounts), never through a link planted where the file is
// expected. Called with the mutex held.
FILE *createPrivate(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    FILE *f = nullptr;
    if (::fchmod(fd, 0600) != 0 || (f = ::fdopen(fd, "w+")) == nullptr)
        ::close(fd);
    return f;
}

QString segmentPath(int segment)
{
    return segment == 0 ? QStringLiteral("%1/%2.log").arg(logDir, logBase)
                        : QStringLiteral("%1/%2.%3.log").arg(logDir, logBase).arg(segment);
}

// Removes the oldest log files until the rest and a full new file fit the
// total. Called with the mutex held, before the new file is made.
void pruneLogDirectory()
{
    static const QRegularExpression runFile(QStringLiteral("^\\d{14}(\\.\\d+)?\\.log$"));
    const QRegularExpression ownFile(QStringLiteral("^%1(\\.\\d+)?\\.log$").arg(QRegularExpression::escape(logBase)));
    QFileInfoList files = QDir(logDir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Time | QDir::Reversed);
    qint64 total = 0;
    for (int i = files.size() - 1; i >= 0; --i) {
        const QString name = files[i].fileName();
        if (runFile.match(name).hasMatch() || ownFile.match(name).hasMatch())
            total += files[i].size();
        else
            files.removeAt(i);
    }
    // Oldest first; this run's files by number, as their times may tie.
    for (const QFileInfo &f : files) {
        if (total + fileLimit <= totalLimit)
            break;
        if (QFile::remove(f.absoluteFilePath()))
            total -= f.size();
    }
}

// Ends the file that is full and begins the next one. Called with the mutex
// held.
void rotate()
{
    std::fclose(logFile);
    logFile = nullptr;
    ++logSegment;
    pruneLogDirectory();
    logFile = createPrivate(segmentPath(logSegment));
    logWritten = 0;
}
} // namespace

void setLogLimits(qint64 fileBytes, qint64 totalBytes)
{
    QMutexLocker lock(&logMutex);
    fileLimit = std::max<qint64>(fileBytes, ORB_LOG_LINE_MAX);
    totalLimit = std::max(totalBytes, fileLimit);
}

int formatLogLine(char *buf, int size, const char *file, const char *function, int line,
                  const char *format, va_list args)
{
    if (buf == nullptr || size <= 0)
        return 0;
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    int n = std::snprintf(buf, size, "[%d-%02d-%02d %02d:%02d:%02d.%03d]  %s:%d(%s) ", d.year(),
                          d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec(),
                          baseName(file), line, function ? function : "");
    if (n < 0)
        n = 0;
    if (n >= size) {
        n = utf8Boundary(buf, size - 1);
        buf[n] = '\0';
        return n;
    }
    int m = std::vsnprintf(buf + n, size - n, format ? format : "", args);
    if (m < 0)
        m = 0;
    if (n + m >= size) {
        int len = utf8Boundary(buf, size - 1);
        buf[len] = '\0';
        return len;
    }
    return n + m;
}

void writeLog(const char *file, const char *function, int line, int level, const char *format, ...)
{
    if (level < ORB_LOG_THRESHOLD)
        return;
    char buf[ORB_LOG_LINE_MAX];
    va_list args;
    va_start(args, format);
    const int len = formatLogLine(buf, sizeof buf, file, function, line, format, args);
    va_end(args);
    {
        QMutexLocker lock(&logMutex);
        if (logFile != nullptr && logWritten + len > fileLimit)
            rotate();
        if (logFile != nullptr) {
            std::fwrite(buf, 1, static_cast<size_t>(len), logFile);
            std::fflush(logFile);
            logWritten += len;
        }
    }
    qDebug("%s", buf);
}

int openLogFile(const QByteArray &path)
{
    QMutexLocker lock(&logMutex);
    if (logFile != nullptr) {
        std::fclose(logFile);
        logFile = nullptr;
    }
    const QFileInfo info(QFile::decodeName(path));
    logDir = info.absolutePath();
    logBase = info.fileName();
    if (logBase.endsWith(QLatin1String(".log")))
        logBase.chop(4);
    logSegment = 0;
    logWritten = 0;
    pruneLogDirectory();
    logFile = createPrivate(info.filePath());
    return logFile != nullptr ? 0 : -1;
}

void closeLogFile()
{
    QMutexLocker lock(&logMutex);
    if (logFile != nullptr) {
        std::fclose(logFile);
        logFile = nullptr;
    }
}
