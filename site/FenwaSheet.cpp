// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSheet.h"

#include "FenwaXlsx.h"
#include "OrbUtils/OrbTranslate.h"

#include <QSaveFile>

namespace FenwaSheet {

bool read(const QByteArray &bytes, QList<FenwaCsv::Record> *records, Form *form, QString *error)
{
    Form f;
    f.workbook = FenwaXlsx::looksLikeWorkbook(bytes);
    const bool ok = f.workbook ? FenwaXlsx::read(bytes, records, error)
                               : FenwaCsv::read(bytes, records, &f.separator, error, &f.bom);
    if (ok && form)
        *form = f;
    return ok;
}

bool bytes(const QList<QStringList> &rows, const Form &form, QByteArray *out, QString *error)
{
    if (form.workbook)
        return FenwaXlsx::write(rows, out, error);
    QByteArray text = form.bom ? QByteArray(FenwaCsv::BOM) : QByteArray();
    for (const QStringList &row : rows)
        text += FenwaCsv::line(row, form.separator).toUtf8() + "\r\n";
    *out = text;
    return true;
}

Form formFor(const QString &path, const Form &csv)
{
    Form f = csv;
    f.workbook = path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive);
    return f;
}

bool writeFile(const QString &path, const QByteArray &bytes, bool ownerOnly, QString *error)
{
    QSaveFile file(path);
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    if (file.open(QIODevice::WriteOnly) && (!ownerOnly || file.setPermissions(owner))
        && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = translate("Cannot write %1: %2").arg(path, file.errorString());
    return false;
}

} // namespace FenwaSheet
