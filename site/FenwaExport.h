// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class FenwaDevice;

// How a search record is written out: fenwa-cli's search (JSON lines and
// CSV) and the workbench's "Export..." read the same fields in the same
// order, so a sheet made from either has the same columns.
namespace FenwaExport {

// Every field of a record, in output order: what the terminal reported, then
// the link addresses commands go to.
struct RecordField {
    const char *key;
    QString (*value)(const FenwaDevice *);
};
const RecordField *recordFields(int *count);

// A field of the record by its key, else the reply item of that name.
QString recordValue(const FenwaDevice *device, const char *key);

// The sheet's columns, and one terminal's row of them.
QStringList searchColumns();
QStringList searchRow(const FenwaDevice *device);
// The CSV form: a header, then one line per terminal (UTF-8, no line end).
// A value that a spreadsheet would run as a formula (a name "=1+1") is
// written as text (FenwaCsv::field).
QString searchCsvHeader();
QString searchCsvLine(const FenwaDevice *device);
// The whole sheet: the header and a row per terminal.
QList<QStringList> searchSheet(const QList<FenwaDevice *> &devices);

} // namespace FenwaExport
