// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaCsv.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Office Open XML workbooks (.xlsx) as planners' spreadsheets save them:
// the first sheet as records, the same as a CSV file gives. Written with
// libxlsxwriter, read with minizip and Qt's XML stream reader.
namespace FenwaXlsx {

// Whether the bytes are a zip archive (what every workbook is).
bool looksLikeWorkbook(const QByteArray &bytes);

// Reads the first sheet: shared and inline strings, numbers as the text
// stored (801, 1000, 801.5), booleans as TRUE or FALSE, a formula as the
// value the spreadsheet last computed, noted in the record's notes, as is an
// error value. line is the sheet's row number; rows without a value are
// skipped. Bounded: the archive at most FenwaCsv::MAX_BYTES, each part read
// at most MAX_PART bytes whatever its header claims (a zip bomb stops
// there), at most MAX_COLUMNS columns. False with *error on anything else.
bool read(const QByteArray &bytes, QList<FenwaCsv::Record> *records, QString *error);
enum { MAX_PART = 64 * 1024 * 1024, MAX_COLUMNS = 256 };

// A workbook of one sheet holding rows, every value a text cell (a
// spreadsheet keeps leading zeros, MACs and long numbers as typed), the
// columns formatted as text so that what a planner adds stays text too.
// False with *error when a value does not fit a cell (over 32767
// characters) or the workbook cannot be made.
bool write(const QList<QStringList> &rows, QByteArray *out, QString *error);

} // namespace FenwaXlsx
