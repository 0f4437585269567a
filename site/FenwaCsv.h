// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// CSV as spreadsheets write and read it, through libcsv: RFC 4180 quoting,
// separators, quotes and line breaks inside quoted fields.
namespace FenwaCsv {

// One record of a file and the line it starts on (1 for the first line).
struct Record {
    int line = 0;
    QStringList fields;
};

// Reads a whole file: UTF-8 with or without a byte order mark, comma or
// semicolon as separator (whichever the first line uses more, outside
// quotes: spreadsheets in many locales write semicolons). Blank lines are
// skipped. False with *error ("line 4: ...") on text that is not UTF-8,
// broken quoting or a file over MAX_BYTES; nothing is read then.
bool read(const QByteArray &bytes, QList<Record> *records, char *separator, QString *error);
enum { MAX_BYTES = 8 * 1024 * 1024 };

// One field as written: quoted (quotes doubled) only when a reader would
// otherwise split or misread it, so plain values stay as they are.
QString field(const QString &value, char separator = ',');
// A record without its line end.
QString line(const QStringList &values, char separator = ',');

} // namespace FenwaCsv
