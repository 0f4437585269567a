// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaXlsx.h"

#include "OrbUtils/OrbTranslate.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <cstring>
#include <unzip.h>
#include <xlsxwriter.h>

namespace FenwaXlsx {

namespace {
// Far more than a workbook of one sheet holds: an archive of thousands of
// parts is not a planner's.
const int kMostParts = 4096;
// Cells kept in all: as many as the largest CSV file read can hold.
const qint64 kMostCells = FenwaCsv::MAX_BYTES;
// The characters a cell holds at most, in every spreadsheet.
const int kMostCellText = 32767;

// minizip reads the archive from memory through these.
struct Memory {
    const QByteArray *bytes;
    qint64 at = 0;
};

voidpf ZCALLBACK memOpen(voidpf opaque, const void *, int) { return opaque; }

uLong ZCALLBACK memRead(voidpf, voidpf stream, void *buffer, uLong size)
{
    auto *m = static_cast<Memory *>(stream);
    const qint64 n = qMin<qint64>(qint64(size), m->bytes->size() - m->at);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, m->bytes->constData() + m->at, size_t(n));
    m->at += n;
    return uLong(n);
}

uLong ZCALLBACK memWrite(voidpf, voidpf, const void *, uLong) { return 0; }

ZPOS64_T ZCALLBACK memTell(voidpf, voidpf stream) { return ZPOS64_T(static_cast<Memory *>(stream)->at); }

long ZCALLBACK memSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto *m = static_cast<Memory *>(stream);
    const qint64 size = m->bytes->size();
    if (offset > ZPOS64_T(size))
        return -1;
    qint64 to = qint64(offset);
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        to += m->at;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        to = size - qint64(offset);
    if (to < 0 || to > size)
        return -1;
    m->at = to;
    return 0;
}

int ZCALLBACK memClose(voidpf, voidpf) { return 0; }
int ZCALLBACK memError(voidpf, voidpf) { return 0; }

class Archive
{
public:
    explicit Archive(const QByteArray &bytes) : memory{&bytes}
    {
        zlib_filefunc64_def io{memOpen, memRead, memWrite, memTell, memSeek, memClose, memError, &memory};
        zip = unzOpen2_64("workbook", &io);
    }
    ~Archive()
    {
        if (zip)
            unzClose(zip);
    }
    bool isOpen() const { return zip != nullptr; }
    int parts() const
    {
        unz_global_info64 info;
        return unzGetGlobalInfo64(zip, &info) == UNZ_OK ? int(qMin<ZPOS64_T>(info.number_entry, INT_MAX)) : -1;
    }
    // The part's bytes; an empty array with no error when there is no such
    // part. Never more than MAX_PART bytes nor more than the part's header
    // declared, whatever the compressed stream would inflate to.
    bool part(const QString &name, QByteArray *out, QString *error)
    {
        out->clear();
        if (unzLocateFile(zip, name.toUtf8().constData(), 2) != UNZ_OK)
            return true;
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            *error = translate("the workbook's part %1 cannot be read").arg(name);
            return false;
        }
        if (info.flag & 1) {
            *error = translate("the workbook is encrypted: save it without a password");
            return false;
        }
        if (info.uncompressed_size > ZPOS64_T(MAX_PART)) {
            *error = translate("the workbook's part %1 would unpack to more than %2 MiB").arg(name).arg(MAX_PART >> 20);
            return false;
        }
        if (unzOpenCurrentFile(zip) != UNZ_OK) {
            *error = translate("the workbook's part %1 cannot be read").arg(name);
            return false;
        }
        // Grown as the stream delivers, not as the header claims.
        const qint64 declared = qint64(info.uncompressed_size);
        QByteArray chunk(1 << 16, Qt::Uninitialized);
        char spill[1];
        bool ok = true;
        while (ok && out->size() < declared) {
            const int n = unzReadCurrentFile(zip, chunk.data(), unsigned(qMin<qint64>(declared - out->size(), chunk.size())));
            ok = n > 0;
            if (ok)
                out->append(chunk.constData(), n);
        }
        // A stream that goes on past what its header declared is refused,
        // not followed.
        ok = ok && unzReadCurrentFile(zip, spill, 1) == 0;
        ok = unzCloseCurrentFile(zip) == UNZ_OK && ok;
        if (!ok) {
            *error = translate("the workbook's part %1 is damaged (or unpacks to other than its stated size)").arg(name);
            out->clear();
        }
        return ok;
    }

private:
    Memory memory;
    unzFile zip = nullptr;
};

QString xmlError(const QString &part, const QXmlStreamReader &xml)
{
    return translate("the workbook's part %1 is not well-formed XML (line %2: %3)")
        .arg(part)
        .arg(xml.lineNumber())
        .arg(xml.errorString());
}

// A DTD could declare entities that expand without end: no workbook has one.
bool refuseDtd(QXmlStreamReader &xml)
{
    if (xml.tokenType() != QXmlStreamReader::DTD)
        return false;
    xml.raiseError(QStringLiteral("a document type declaration"));
    return true;
}

// Text of a string item (<si>, <is>): its <t> elements, rich text runs
// joined, the phonetic hints (<rPh>) left out. Ends on the item's end.
QString itemText(QXmlStreamReader &xml)
{
    const QStringRef end = xml.name();
    const QString endName = end.toString();
    QString text;
    int phonetic = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (refuseDtd(xml))
            break;
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("rPh"))
                ++phonetic;
            else if (xml.name() == QLatin1String("t") && phonetic == 0)
                text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (xml.isEndElement()) {
            if (xml.name() == QLatin1String("rPh"))
                --phonetic;
            else if (xml.name() == endName)
                break;
        }
    }
    return text;
}

// The _xHHHH_ escapes of the file format: characters XML cannot hold.
QString unescaped(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    int from = 0;
    for (auto it = escape.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += text.midRef(from, m.capturedStart() - from);
        out += QChar(ushort(m.captured(1).toUInt(nullptr, 16)));
        from = m.capturedEnd();
    }
    return out + text.midRef(from);
}

// The text as a cell holds it: what XML cannot carry (control characters,
// U+FFFE, U+FFFF, a surrogate without its pair) and what would read as such
// an escape written as _xHHHH_.
QString escaped(const QString &text)
{
    static const QRegularExpression literal(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString replaced = text;
    const QString in = replaced.replace(literal, QStringLiteral("_x005F_x\\1_"));
    QString out;
    out.reserve(in.size());
    for (int i = 0; i < in.size(); ++i) {
        const QChar c = in[i];
        const bool pair = c.isHighSurrogate() && i + 1 < in.size() && in[i + 1].isLowSurrogate();
        const bool paired = pair || (c.isLowSurrogate() && i > 0 && in[i - 1].isHighSurrogate());
        const bool bad = (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
                         || c.unicode() == 0xfffe || c.unicode() == 0xffff || (c.isSurrogate() && !paired);
        if (bad)
            out += QString::asprintf("_x%04X_", c.unicode());
        else
            out += c;
    }
    return out;
}

// A part named by a relationship, from the folder of the part that names it.
QString resolved(const QString &from, const QString &target)
{
    if (target.startsWith(QLatin1Char('/')))
        return target.mid(1);
    QStringList path = from.split(QLatin1Char('/'));
    path.removeLast();
    for (const QString &step : target.split(QLatin1Char('/'))) {
        if (step == QLatin1String(".."))
            path.isEmpty() ? void() : path.removeLast();
        else if (step != QLatin1String("."))
            path << step;
    }
    return path.join(QLatin1Char('/'));
}

bool sharedStrings(const QByteArray &part, QStringList *out, QString *error)
{
    if (part.isEmpty())
        return true; // a workbook without texts has none
    QXmlStreamReader xml(part);
    while (!xml.atEnd()) {
        xml.readNext();
        if (refuseDtd(xml))
            break;
        if (xml.isStartElement() && xml.name() == QLatin1String("si"))
            *out << unescaped(itemText(xml));
    }
    if (xml.hasError()) {
        *error = xmlError(QStringLiteral("sharedStrings"), xml);
        return false;
    }
    return true;
}

// The sheet's parts: the first sheet of the workbook and the shared strings.
bool locateParts(Archive &zip, QString *sheet, QString *strings, QString *error)
{
    *sheet = QStringLiteral("xl/worksheets/sheet1.xml");
    *strings = QStringLiteral("xl/sharedStrings.xml");
    QByteArray workbook, rels;
    if (!zip.part(QStringLiteral("xl/workbook.xml"), &workbook, error)
        || !zip.part(QStringLiteral("xl/_rels/workbook.xml.rels"), &rels, error))
        return false;
    QString firstId;
    QXmlStreamReader wx(workbook);
    while (!wx.atEnd() && firstId.isEmpty()) {
        wx.readNext();
        if (refuseDtd(wx))
            break;
        if (wx.isStartElement() && wx.name() == QLatin1String("sheet"))
            for (const QXmlStreamAttribute &a : wx.attributes())
                if (a.name() == QLatin1String("id"))
                    firstId = a.value().toString();
    }
    QXmlStreamReader rx(rels);
    while (!rx.atEnd()) {
        rx.readNext();
        if (refuseDtd(rx))
            break;
        if (!rx.isStartElement() || rx.name() != QLatin1String("Relationship"))
            continue;
        const QXmlStreamAttributes a = rx.attributes();
        const QString target = resolved(QStringLiteral("xl/workbook.xml"), a.value(QLatin1String("Target")).toString());
        if (!firstId.isEmpty() && a.value(QLatin1String("Id")) == firstId)
            *sheet = target;
        else if (a.value(QLatin1String("Type")).endsWith(QLatin1String("/sharedStrings")))
            *strings = target;
    }
    if (wx.hasError() || rx.hasError()) {
        *error = xmlError(wx.hasError() ? QStringLiteral("workbook") : QStringLiteral("workbook.xml.rels"),
                          wx.hasError() ? wx : rx);
        return false;
    }
    return true;
}

// "BC12" as column 54 (from 0) and row 12; false for anything else.
bool cellRef(const QStringRef &ref, int *column, int *row)
{
    int i = 0, c = 0;
    while (i < ref.size() && ref.at(i) >= QLatin1Char('A') && ref.at(i) <= QLatin1Char('Z') && i < 3)
        c = c * 26 + (ref.at(i++).unicode() - 'A' + 1);
    bool ok = false;
    const int r = ref.mid(i).toInt(&ok);
    if (i == 0 || !ok || r < 1)
        return false;
    *column = c - 1;
    *row = r;
    return true;
}

struct Cell {
    QString type, value, inline_;
    bool formula = false;
};

QString cellValue(const Cell &c, const QStringList &shared, bool *ok)
{
    *ok = true;
    if (c.type == QLatin1String("s")) {
        bool number = false;
        const int i = c.value.toInt(&number);
        *ok = number && i >= 0 && i < shared.size();
        return *ok ? shared[i] : QString();
    }
    if (c.type == QLatin1String("inlineStr"))
        return unescaped(c.inline_);
    if (c.type == QLatin1String("str"))
        return unescaped(c.value);
    if (c.type == QLatin1String("b"))
        return c.value.isEmpty() ? QString() : c.value == QLatin1String("0") ? QStringLiteral("FALSE") : QStringLiteral("TRUE");
    return c.value; // a number or an error value, as stored
}
} // namespace

bool looksLikeWorkbook(const QByteArray &bytes)
{
    return bytes.startsWith("PK\x03\x04");
}

bool read(const QByteArray &bytes, QList<FenwaCsv::Record> *records, QString *error)
{
    if (bytes.size() > FenwaCsv::MAX_BYTES) {
        *error = translate("the file is larger than %1 MiB").arg(FenwaCsv::MAX_BYTES / (1024 * 1024));
        return false;
    }
    Archive zip(bytes);
    const int parts = zip.isOpen() ? zip.parts() : -1;
    if (parts < 0 || parts > kMostParts) {
        *error = parts < 0 ? translate("not a workbook: the zip archive cannot be read")
                           : translate("not a workbook: the archive holds %1 parts").arg(parts);
        return false;
    }
    QString sheetName, stringsName;
    QByteArray sheet, strings;
    QStringList shared;
    if (!locateParts(zip, &sheetName, &stringsName, error) || !zip.part(stringsName, &strings, error)
        || !sharedStrings(strings, &shared, error) || !zip.part(sheetName, &sheet, error))
        return false;
    if (sheet.isEmpty()) {
        *error = translate("not a workbook: it has no sheet %1").arg(sheetName);
        return false;
    }
    strings.clear();

    QList<FenwaCsv::Record> out;
    QXmlStreamReader xml(sheet);
    FenwaCsv::Record row;
    QHash<int, QString> values;
    int rowNumber = 0, column = -1, width = 0;
    qint64 cells = 0;
    Cell cell;
    QString problem;
    auto endRow = [&] {
        if (values.isEmpty())
            return;
        for (int c = 0; c < width; ++c)
            row.fields << values.value(c);
        cells += width;
        out << row;
    };
    while (!xml.atEnd() && problem.isEmpty()) {
        xml.readNext();
        if (refuseDtd(xml))
            break;
        if (xml.isStartElement()) {
            const QStringRef name = xml.name();
            if (name == QLatin1String("row")) {
                const QStringRef r = xml.attributes().value(QLatin1String("r"));
                bool ok = true;
                rowNumber = r.isEmpty() ? rowNumber + 1 : r.toInt(&ok);
                if (!ok || rowNumber < 1)
                    problem = translate("a row numbered \"%1\"").arg(r.toString());
                row = FenwaCsv::Record{rowNumber, {}, {}};
                values.clear();
                column = -1;
                width = 0;
            } else if (name == QLatin1String("c")) {
                const QXmlStreamAttributes a = xml.attributes();
                const QStringRef ref = a.value(QLatin1String("r"));
                int refRow = rowNumber;
                if (ref.isEmpty())
                    ++column;
                else if (!cellRef(ref, &column, &refRow) || refRow != rowNumber)
                    problem = translate("row %1: a cell named \"%2\"").arg(rowNumber).arg(ref.toString());
                cell = Cell{a.value(QLatin1String("t")).toString(), QString(), QString(), false};
            } else if (name == QLatin1String("v")) {
                cell.value = xml.readElementText();
            } else if (name == QLatin1String("f")) {
                cell.formula = true;
                xml.skipCurrentElement();
            } else if (name == QLatin1String("is")) {
                cell.inline_ = itemText(xml);
            }
        } else if (xml.isEndElement()) {
            const QStringRef name = xml.name();
            if (name == QLatin1String("c")) {
                bool ok = true;
                const QString value = cellValue(cell, shared, &ok);
                if (!ok)
                    problem = translate("row %1: a shared text that does not exist").arg(rowNumber);
                if (value.isEmpty() && !cell.formula)
                    continue;
                if (column >= MAX_COLUMNS) {
                    problem = translate("row %1: a value beyond column %2").arg(rowNumber).arg(MAX_COLUMNS);
                    continue;
                }
                values[column] = value.left(kMostCellText);
                width = qMax(width, column + 1);
                if (cell.formula)
                    row.notes[column] = translate("a formula (its last value is used)");
                else if (cell.type == QLatin1String("e"))
                    row.notes[column] = translate("an error value of the sheet");
            } else if (name == QLatin1String("row")) {
                endRow();
                values.clear();
                if (cells > kMostCells)
                    problem = translate("the sheet holds more than %1 cells").arg(kMostCells);
            }
        }
    }
    if (xml.hasError()) {
        *error = xmlError(sheetName, xml);
        return false;
    }
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    *records = out;
    return true;
}

bool write(const QList<QStringList> &rows, QByteArray *out, QString *error)
{
    QTemporaryDir dir; // owner-only: a result may hold passwords
    if (!dir.isValid()) {
        *error = translate("no room for a temporary file: %1").arg(dir.errorString());
        return false;
    }
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("sheet.xlsx")));
    QByteArray tmp = QFile::encodeName(dir.path());
    lxw_workbook_options options{LXW_FALSE, tmp.data(), LXW_FALSE};
    lxw_workbook *book = workbook_new_opt(path.constData(), &options);
    lxw_worksheet *sheet = book ? workbook_add_worksheet(book, nullptr) : nullptr;
    if (!sheet) {
        if (book)
            workbook_close(book);
        *error = translate("the workbook cannot be made");
        return false;
    }
    lxw_format *text = workbook_add_format(book);
    format_set_num_format(text, "@");
    lxw_format *header = workbook_add_format(book);
    format_set_num_format(header, "@");
    format_set_bold(header);
    int columns = 0;
    for (const QStringList &r : rows)
        columns = qMax(columns, r.size());
    if (columns > 0)
        worksheet_set_column(sheet, 0, lxw_col_t(columns - 1), 18, text);
    worksheet_freeze_panes(sheet, 1, 0);
    lxw_error failed = LXW_NO_ERROR;
    for (int r = 0; r < rows.size() && failed == LXW_NO_ERROR; ++r)
        for (int c = 0; c < rows[r].size() && failed == LXW_NO_ERROR; ++c) {
            if (rows[r][c].size() > kMostCellText) {
                *error = translate("row %1: a value longer than %2 characters does not fit a cell").arg(r + 1).arg(kMostCellText);
                workbook_close(book);
                return false;
            }
            failed = worksheet_write_string(sheet, lxw_row_t(r), lxw_col_t(c), escaped(rows[r][c]).toUtf8().constData(),
                                            r == 0 ? header : text);
        }
    const lxw_error closed = workbook_close(book);
    if (failed == LXW_NO_ERROR)
        failed = closed;
    QFile file(QFile::decodeName(path));
    if (failed != LXW_NO_ERROR || !file.open(QIODevice::ReadOnly)) {
        *error = translate("the workbook cannot be made: %1").arg(QString::fromUtf8(lxw_strerror(failed)));
        return false;
    }
    *out = file.readAll();
    return true;
}

} // namespace FenwaXlsx
