// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaJson.h"

#include <QLocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>

QByteArray jsonEscape(const QByteArray &utf8)
{
    QByteArray out;
    out.reserve(utf8.size() + 8);
    for (char c : utf8) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", u);
                out += esc;
            } else {
                out += c;
            }
        }
    }
    return out;
}

int formatBounded(char *buf, int size, const char *format, ...)
{
    if (buf == nullptr || size <= 0)
        return -1;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, static_cast<size_t>(size), format, args);
    va_end(args);
    if (n < 0 || n >= size) {
        buf[0] = 0;
        return -1;
    }
    return n;
}

QString jsonNumberText(double value)
{
    // Beyond 2^53 a double no longer holds every whole number; those keep
    // their exponent form rather than pretend to digits they lack.
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) <= 9007199254740992.0)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}
