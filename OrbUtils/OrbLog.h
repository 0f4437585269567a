// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdarg>

// Process-wide log writer. One line per call, prefixed with the local time to
// the millisecond, the source file name, the line and the function. Callers end
// their messages with a line feed. Safe to call from any thread.
void writeLog(const char *file, const char *function, int line, int level, const char *format, ...)
    __attribute__((format(printf, 5, 6)));

// Opens (create or truncate) the log file; closes one that was open. Returns
// 0, or -1 when the file cannot be opened (lines then go to the debug channel
// only).
//
// Bounded, since anyone on the segment can make the link log: once the file
// holds the file limit, the run goes on in DIR/NAME.1.log, NAME.2.log, ...,
// and whenever a file is begun the oldest log files of its directory (this
// run's earlier ones included) are removed until the directory's log files,
// the new one counted at the file limit, stay within the total limit. Log
// files are this run's and those named as runs name them (14 digits,
// optionally .N, then .log); nothing else in the directory is touched.
int openLogFile(const QByteArray &path);
void closeLogFile();
// The limits above (at least a line each): 8 MiB per file and 64 MiB in all
// unless set. Takes effect from the next file begun.
void setLogLimits(qint64 fileBytes, qint64 totalBytes);

// Formats the prefix and message exactly as writeLog would into buf (size
// bytes including the terminating zero) and returns the length written.
// Exposed for tests and for tools that print log-style lines themselves.
int formatLogLine(char *buf, int size, const char *file, const char *function, int line,
                  const char *format, va_list args);

// The level every call site uses; lines below the threshold are dropped.
enum { ORB_LOG_LEVEL = 5, ORB_LOG_THRESHOLD = 2, ORB_LOG_LINE_MAX = 4096 };

#define ORB_LOG(...) writeLog(__FILE__, __func__, __LINE__, ORB_LOG_LEVEL, __VA_ARGS__)
