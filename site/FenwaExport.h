// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

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

// The CSV form: a header, then one line per terminal (UTF-8, no line end).
QString searchCsvHeader();
QString searchCsvLine(const FenwaDevice *device);

} // namespace FenwaExport
