// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a workbook: read or refused with a reason, never a crash,
// never more than the caps; what reads writes back as a workbook that reads
// to the same records.
#include "site/FenwaXlsx.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QList<FenwaCsv::Record> records;
    QString error;
    if (!FenwaXlsx::read(QByteArray(reinterpret_cast<const char *>(data), int(size)), &records, &error)) {
        if (error.isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    QList<QStringList> rows;
    for (const FenwaCsv::Record &r : records) {
        if (r.line < 1 || r.fields.size() > FenwaXlsx::MAX_COLUMNS)
            std::abort();
        rows << r.fields;
    }
    QByteArray again;
    QList<FenwaCsv::Record> back;
    if (!FenwaXlsx::write(rows, &again, &error))
        return 0;
    if (!FenwaXlsx::read(again, &back, &error))
        std::abort();
    int k = 0;
    for (const QStringList &row : rows) {
        bool blank = true;
        for (const QString &f : row)
            blank = blank && f.isEmpty();
        if (blank)
            continue;
        if (k >= back.size())
            std::abort();
        for (int c = 0; c < row.size(); ++c)
            if (back[k].fields.value(c) != row[c])
                std::abort();
        ++k;
    }
    return 0;
}
