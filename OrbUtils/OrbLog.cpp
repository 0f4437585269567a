// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbLog.h"

#include <QDateTime>
#include <QMutex>
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
        if (logFile != nullptr) {
            std::fwrite(buf, 1, static_cast<size_t>(len), logFile);
            std::fflush(logFile);
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
    // Owner only: the log holds password digests and SIP accounts. Never
    // through a link planted where the file is expected.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::fchmod(fd, 0600) != 0 || (logFile = ::fdopen(fd, "w+")) == nullptr) {
        ::close(fd);
        return -1;
    }
    return 0;
}

void closeLogFile()
{
    QMutexLocker lock(&logMutex);
    if (logFile != nullptr) {
        std::fclose(logFile);
        logFile = nullptr;
    }
}
