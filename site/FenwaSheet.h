// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaCsv.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Sheets as files, in either form a spreadsheet saves: CSV or a workbook
// (.xlsx). Exports, plans and results all go through here.
namespace FenwaSheet {

// How a sheet is (or is to be) written.
struct Form {
    bool workbook = false;
    char separator = ','; // CSV only
    bool bom = true;      // CSV only
};

// Reads either form (a workbook by its first bytes); *form says which it
// was. The records are as FenwaCsv::read gives them, header first.
bool read(const QByteArray &bytes, QList<FenwaCsv::Record> *records, Form *form, QString *error);

// Rows, the header first, as a file of the form: CSV lines end in CRLF.
bool bytes(const QList<QStringList> &rows, const Form &form, QByteArray *out, QString *error);

// The form a file name asks for: a workbook for ".xlsx", else CSV as csv
// says (a result keeps its plan's separator and byte order mark).
Form formFor(const QString &path, const Form &csv = Form());

// Writes a file whole or not at all: a sheet cut short by a full disk reads
// as a smaller site. ownerOnly: no one else may read it, from the first
// byte on (backups and results hold passwords).
bool writeFile(const QString &path, const QByteArray &bytes, bool ownerOnly, QString *error);

} // namespace FenwaSheet
