// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaCsv.h"

#include "OrbUtils/OrbTranslate.h"

#include <QTextCodec>
#include <cctype>
#include <csv.h>

namespace FenwaCsv {

namespace {
// libcsv calls back per field and per record; the record's first line is
// known because the parser is fed one physical line at a time.
struct Collect {
    QList<Record> *records;
    QStringList fields;
    int line = 1;      // the physical line being fed
    int recordLine = 1; // where the record under way started
    bool started = false;
};

void onField(void *data, size_t length, void *context)
{
    auto *c = static_cast<Collect *>(context);
    if (!c->started) {
        c->recordLine = c->line;
        c->started = true;
    }
    c->fields << unguarded(QString::fromUtf8(static_cast<const char *>(data), int(length)));
}

void onRecord(int, void *context)
{
    auto *c = static_cast<Collect *>(context);
    bool blank = true;
    for (const QString &f : c->fields)
        blank = blank && f.isEmpty();
    if (!blank)
        c->records->append({c->recordLine, c->fields, {}});
    c->fields.clear();
    c->started = false;
}

char guessSeparator(const QByteArray &text)
{
    int commas = 0, semicolons = 0;
    bool quoted = false;
    for (char ch : text) {
        if (ch == '"')
            quoted = !quoted;
        else if (!quoted && (ch == '\n' || ch == '\r'))
            break;
        else if (!quoted)
            commas += ch == ',', semicolons += ch == ';';
    }
    return semicolons > commas ? ';' : ',';
}

// The line of the first byte that is not well-formed UTF-8, or 0.
int badUtf8Line(const QByteArray &text)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(text.constData(), text.size(), &state);
    if (state.invalidChars == 0)
        return 0;
    // Narrow it down line by line: only on the failure path.
    int line = 1;
    for (const QByteArray &l : text.split('\n')) {
        QTextCodec::ConverterState s;
        QTextCodec::codecForName("UTF-8")->toUnicode(l.constData(), l.size(), &s);
        if (s.invalidChars)
            return line;
        ++line;
    }
    return line;
}
} // namespace

const char BOM[] = "\xEF\xBB\xBF";

bool read(const QByteArray &bytes, QList<Record> *records, char *separator, QString *error, bool *bom)
{
    if (bytes.size() > MAX_BYTES) {
        *error = translate("the file is larger than %1 MiB").arg(MAX_BYTES / (1024 * 1024));
        return false;
    }
    QByteArray text = bytes;
    const bool marked = text.startsWith(BOM);
    if (marked)
        text.remove(0, 3);
    if (const int bad = badUtf8Line(text)) {
        *error = translate("line %1: not UTF-8 text (save the sheet as \"CSV UTF-8\")").arg(bad);
        return false;
    }
    const char sep = guessSeparator(text);
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) {
        *error = translate("out of memory");
        return false;
    }
    csv_set_delim(&parser, static_cast<unsigned char>(sep));
    QList<Record> out;
    Collect c{&out, {}, 1, 1, false};
    bool ok = true;
    int from = 0;
    while (ok && from < text.size()) {
        int end = text.indexOf('\n', from);
        end = end < 0 ? text.size() : end + 1;
        const size_t n = size_t(end - from);
        ok = csv_parse(&parser, text.constData() + from, n, onField, onRecord, &c) == n;
        if (ok)
            ++c.line;
        from = end;
    }
    if (ok)
        ok = csv_fini(&parser, onField, onRecord, &c) == 0;
    if (!ok) {
        const int line = c.started ? c.recordLine : c.line;
        *error = csv_error(&parser) == CSV_EPARSE
                     ? translate("line %1: a quote out of place or a quoted field that never ends").arg(line)
                     : QStringLiteral("line %1: %2").arg(line).arg(QString::fromLatin1(csv_strerror(csv_error(&parser))));
    }
    csv_free(&parser);
    if (!ok)
        return false;
    *records = out;
    *separator = sep;
    if (bom)
        *bom = marked;
    return true;
}

namespace {
// Whether a spreadsheet would run the text as a formula, with any number of
// guards before it.
bool runs(const QString &text)
{
    int i = 0;
    while (i < text.size() && text[i] == QLatin1Char('\''))
        ++i;
    if (i == text.size())
        return false;
    const QChar c = text[i];
    return c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('@')
           || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}
} // namespace

QString guarded(const QString &value)
{
    return runs(value) ? QLatin1Char('\'') + value : value;
}

QString unguarded(const QString &cell)
{
    return cell.startsWith(QLatin1Char('\'')) && runs(cell.mid(1)) ? cell.mid(1) : cell;
}

QString field(const QString &value, char separator)
{
    const QByteArray utf8 = guarded(value).toUtf8();
    // Readers drop blanks around an unquoted field.
    const bool edges = !utf8.isEmpty() && (std::isspace(uchar(utf8.front())) || std::isspace(uchar(utf8.back())));
    const bool plain = !utf8.contains(separator) && !utf8.contains('"') && !utf8.contains('\n') && !utf8.contains('\r')
                       && !edges;
    if (plain)
        return QString::fromUtf8(utf8);
    // csv_write quotes the field and doubles its quotes.
    QByteArray quoted(utf8.size() * 2 + 2, '\0');
    const size_t n = csv_write(quoted.data(), size_t(quoted.size()), utf8.constData(), size_t(utf8.size()));
    return QString::fromUtf8(quoted.constData(), int(n));
}

QString line(const QStringList &values, char separator)
{
    QStringList fields;
    for (const QString &v : values)
        fields << field(v, separator);
    return fields.join(QLatin1Char(separator));
}

} // namespace FenwaCsv
