// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Escapes text for use inside a JSON string: quote, backslash and control
// characters; everything else (UTF-8 included) passes unchanged.
QByteArray jsonEscape(const QByteArray &utf8);
inline QByteArray jsonEscape(const QString &text) { return jsonEscape(text.toUtf8()); }

// snprintf into buf that reports a text that does not fit instead of cutting
// it: returns the length, or -1 (buf then holds an empty text).
int formatBounded(char *buf, int size, const char *format, ...) __attribute__((format(printf, 3, 4)));

// A JSON number as text: whole numbers in full (a terminal's counters may
// pass 2^31), others in the shortest form that reads back the same.
QString jsonNumberText(double value);
