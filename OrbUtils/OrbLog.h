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
int openLogFile(const QByteArray &path);
void closeLogFile();

// Formats the prefix and message exactly as writeLog would into buf (size
// bytes including the terminating zero) and returns the length written.
// Exposed for tests and for tools that print log-style lines themselves.
int formatLogLine(char *buf, int size, const char *file, const char *function, int line,
                  const char *format, va_list args);

// The level every call site uses; lines below the threshold are dropped.
enum { ORB_LOG_LEVEL = 5, ORB_LOG_THRESHOLD = 2, ORB_LOG_LINE_MAX = 4096 };

#define ORB_LOG(...) writeLog(__FILE__, __func__, __LINE__, ORB_LOG_LEVEL, __VA_ARGS__)
