// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// CSV as spreadsheets write and read it, through libcsv: RFC 4180 quoting,
// separators, quotes and line breaks inside quoted fields.
namespace FenwaCsv {

// One record of a file and the line it starts on (1 for the first line).
// notes: per field index, why its text is not simply what was typed (a
// workbook's formula read as its last value).
struct Record {
    int line = 0;
    QStringList fields;
    QHash<int, QString> notes;
};

// Reads a whole file: UTF-8 with or without a byte order mark (*bom says
// which, when asked), comma or semicolon as separator (whichever the first
// line uses more, outside quotes: spreadsheets in many locales write
// semicolons). Blank lines are skipped; a field's guard (see field) is
// taken off. False with *error ("line 4: ...") on text that is not UTF-8,
// broken quoting or a file over MAX_BYTES; nothing is read then.
bool read(const QByteArray &bytes, QList<Record> *records, char *separator, QString *error, bool *bom = nullptr);
enum { MAX_BYTES = 8 * 1024 * 1024 };

// The byte order mark every file written starts with: spreadsheets that
// guess the encoding take UTF-8 for it (standard output goes without).
extern const char BOM[];

// One field as written. A value a spreadsheet would take for a formula
// (starting with = + - @, tab or CR; any name a terminal reports may) gets
// a leading ' so that it stays text, and read() takes it off again; a value
// that already starts with ' before such a character gets one more, so
// every text reads back as it was. Quoted (quotes doubled) only when a
// reader would otherwise split or misread it, so plain values stay as they
// are.
QString field(const QString &value, char separator = ',');
// A record without its line end.
QString line(const QStringList &values, char separator = ',');
// The guard alone, both ways.
QString guarded(const QString &value);
QString unguarded(const QString &cell);

} // namespace FenwaCsv
