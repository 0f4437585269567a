// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbConfigure.h"

#include "OrbFileUtils.h"
#include "OrbLog.h"

#include <QFileInfo>
#include <QIODevice>
#include <QSettings>
#include <atomic>

namespace {
// The misspelt key is what existing configuration files carry.
const char kLanguage[] = "langage";
const char kNetwork[] = "network";
const char kRtpServer[] = "rtp server";
const char kDeviceId[] = "device id";
const char kRtpFileList[] = "rtp file list";
const char kRtpSourceIndex[] = "rtp source index";
const char kRtpInterface[] = "rtp interface";
const char kWindowGeometry[] = "window geometry";
const char kKeepSearching[] = "keep searching";
const char kSiteName[] = "site name";
const char kReportAuthor[] = "report author";

// configure.ini is read and written in the INI dialect QSettings writes, so
// that files of earlier versions read the same, but every value is text.
// QSettings' own reader decodes "@Variant(...)" values with QDataStream from
// whatever the file holds, and a damaged or planted file then makes it
// allocate gigabytes and abort at start. This program never writes a typed
// value: one found ("@Rect(...)", "@Variant(...)", ...) reads as absent.
// "@@" stands for a text's leading "@" and "@String(...)" for a text holding
// a NUL, as QSettings writes them.

const char kHexDigits[] = "0123456789ABCDEF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isEnd(char c) { return c == '\n' || c == '\r'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The next logical line from pos: [start, end) and its first '=' outside
// quotes (-1 if none). Quotes and a backslash carry a line over its end; a
// ';' outside quotes comments out the rest of the line.
struct IniLine {
    int start = 0, end = 0, equals = -1;
};

bool nextIniLine(const QByteArray &d, int &pos, IniLine &line)
{
    const int n = d.size();
    for (;;) {
        while (pos < n && (isBlank(d[pos]) || isEnd(d[pos])))
            ++pos;
        if (pos == n)
            return false;
        if (d[pos] != ';')
            break;
        while (pos < n && !isEnd(d[pos]))
            ++pos;
    }
    line = IniLine{pos, pos, -1};
    bool quoted = false;
    while (pos < n) {
        const char c = d[pos];
        if (c == '\\') {
            pos = qMin(n, pos + 2);
            if (pos < n && isEnd(d[pos - 1]) && isEnd(d[pos]) && d[pos] != d[pos - 1])
                ++pos;
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        else if (c == '=' && !quoted && line.equals < 0)
            line.equals = pos;
        else if (!quoted && (isEnd(c) || c == ';'))
            break;
        ++pos;
    }
    line.end = pos;
    while (pos < n && !isEnd(d[pos])) // the comment after a value
        ++pos;
    return true;
}

// "%XX" and "%UXXXX" are characters, a backslash a '/'.
QString unescapedKey(const QByteArray &d, int from, int to)
{
    QString key;
    for (int i = from; i < to;) {
        const char c = d[i];
        if (c == '\\') {
            key += QLatin1Char('/');
            ++i;
            continue;
        }
        const int digits = (c == '%' && i + 1 < to && d[i + 1] == 'U') ? 4 : 2;
        const int first = i + 1 + (digits == 4);
        int value = 0;
        bool ok = c == '%' && first + digits <= to;
        for (int k = 0; ok && k < digits; ++k) {
            const int h = hexValue(d[first + k]);
            ok = h >= 0;
            value = value * 16 + h;
        }
        if (!ok) {
            key += QLatin1Char(c);
            ++i;
            continue;
        }
        key += QChar(ushort(value));
        i = first + digits;
    }
    return key;
}

void chopBlanks(QString &s, int limit)
{
    while (s.size() > limit && (s.back() == QLatin1Char(' ') || s.back() == QLatin1Char('\t')))
        s.chop(1);
}

// A value: C escapes, quotes keeping blanks and commas, and commas outside
// quotes separating the items of a list. Bytes outside escapes are UTF-8
// when the file starts with a BOM and Latin-1 otherwise.
QVariant unescapedValue(const QByteArray &d, int i, int to, bool utf8)
{
    static const char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'},
                                       {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    QStringList items;
    QString text;
    bool list = false, inQuotes = false, quoted = false;
    int chopLimit = 0;
    auto skipBlanks = [&] {
        while (i < to && isBlank(d[i]))
            ++i;
        chopLimit = text.size();
    };
    skipBlanks();
    while (i < to) {
        const char c = d[i];
        if (c == '\\') {
            if (++i == to)
                break;
            const char e = d[i++];
            bool known = false;
            for (const auto &pair : kEscapes) {
                if (e == pair[0]) {
                    text += QLatin1Char(pair[1]);
                    known = true;
                }
            }
            if (!known && (e == 'x' || (e >= '0' && e <= '7'))) {
                const int base = e == 'x' ? 16 : 8;
                uint value = e == 'x' ? 0 : uint(e - '0');
                bool any = e != 'x';
                for (int h; i < to && (h = hexValue(d[i])) >= 0 && h < base; ++i, any = true)
                    value = (value * base + uint(h)) & 0xFFFF;
                if (any)
                    text += QChar(ushort(value));
            } else if (!known && isEnd(e) && i < to && isEnd(d[i]) && d[i] != e) {
                ++i; // a continued line's "\r\n" or "\n\r"
            }
            chopLimit = text.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (c == ',' && !inQuotes) {
            if (!quoted)
                chopBlanks(text, chopLimit);
            list = true;
            items.append(text);
            text.clear();
            quoted = false;
            ++i;
            skipBlanks();
        } else {
            int j = i + 1;
            while (j < to && d[j] != '\\' && d[j] != '"' && d[j] != ',')
                ++j;
            text += utf8 ? QString::fromUtf8(d.constData() + i, j - i) : QString::fromLatin1(d.constData() + i, j - i);
            i = j;
        }
    }
    if (!quoted)
        chopBlanks(text, chopLimit);
    if (!list)
        return text;
    items.append(text);
    return items;
}

// Undoes the "@@" and "@String(...)" QSettings writes texts as; false for
// a typed value.
bool plainText(QString &s)
{
    if (!s.startsWith(QLatin1Char('@')))
        return true;
    if (s.startsWith(QLatin1String("@@"))) {
        s.remove(0, 1);
        return true;
    }
    if (!s.startsWith(QLatin1String("@String(")) || !s.endsWith(QLatin1Char(')')))
        return false;
    s = s.mid(8, s.size() - 9);
    return true;
}

bool readPlainIni(QIODevice &device, QSettings::SettingsMap &map)
{
    const QByteArray d = device.read(OrbConfigure::kFileMax + 1);
    if (d.size() > OrbConfigure::kFileMax)
        return false;
    const bool utf8 = d.startsWith("\xEF\xBB\xBF");
    int pos = utf8 ? 3 : 0;
    QString section;
    IniLine line;
    while (nextIniLine(d, pos, line)) {
        if (d[line.start] == '[') {
            int close = d.indexOf(']', line.start);
            if (close < 0 || close >= line.end)
                close = line.end;
            const QByteArray name = d.mid(line.start + 1, close - line.start - 1).trimmed();
            if (qstricmp(name.constData(), "general") == 0)
                section.clear();
            else if (qstricmp(name.constData(), "%general") == 0)
                section = QString::fromLatin1(name.mid(1)) + QLatin1Char('/');
            else
                section = unescapedKey(name, 0, name.size()) + QLatin1Char('/');
            continue;
        }
        if (line.equals < 0)
            continue;
        int keyEnd = line.equals;
        while (keyEnd > line.start && isBlank(d[keyEnd - 1]))
            --keyEnd;
        QVariant value = unescapedValue(d, line.equals + 1, line.end, utf8);
        bool plain = true;
        if (value.type() == QVariant::String) {
            QString text = value.toString();
            plain = plainText(text);
            value = text;
        } else {
            QStringList items = value.toStringList();
            for (QString &item : items)
                plain = plain && plainText(item);
            value = items;
        }
        if (plain)
            map.insert(section + unescapedKey(d, line.start, keyEnd), value);
    }
    return true;
}

void appendEscapedKey(QByteArray &out, const QString &key)
{
    for (const QChar qc : key) {
        const ushort c = qc.unicode();
        if (c == '/') {
            out += '\\';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
                   || c == '.') {
            out += char(c);
        } else {
            out += c <= 0xFF ? "%" : "%U";
            for (int shift = c <= 0xFF ? 4 : 12; shift >= 0; shift -= 4)
                out += kHexDigits[(c >> shift) & 0xF];
        }
    }
}

// ASCII out: C escapes, "\x" for the rest, quotes where blanks at either end
// or a separator would otherwise be lost.
void appendEscapedText(QByteArray &out, const QString &text)
{
    const int start = out.size();
    bool needsQuotes = false, hexBefore = false;
    for (const QChar qc : text) {
        const ushort c = qc.unicode();
        needsQuotes = needsQuotes || c == ';' || c == ',' || c == '=';
        if (hexBefore && c < 0x80 && hexValue(char(c)) >= 0) { // would extend the escape before
            out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        hexBefore = false;
        switch (c) {
        case '\0': out += "\\0"; hexBefore = true; break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"':
        case '\\': out += '\\'; out += char(c); break;
        default:
            if (c <= 0x1F || c >= 0x7F) {
                out += "\\x" + QByteArray::number(c, 16);
                hexBefore = true;
            } else {
                out += char(c);
            }
        }
    }
    if (needsQuotes || (out.size() > start && (out[start] == ' ' || out.back() == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

void appendValue(QByteArray &out, const QVariant &value)
{
    auto text = [](QString s) {
        if (s.contains(QChar(0)))
            return QLatin1String("@String(") + s + QLatin1Char(')');
        return s.startsWith(QLatin1Char('@')) ? s.prepend(QLatin1Char('@')) : s;
    };
    if (value.type() != QVariant::StringList) {
        appendEscapedText(out, text(value.toString()));
        return;
    }
    const QStringList items = value.toStringList();
    if (items.isEmpty())
        out += "@Invalid()";
    for (int i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += ", ";
        appendEscapedText(out, text(items[i]));
    }
}

// Keys without a '/' under [General], the others under their first part.
bool writePlainIni(QIODevice &device, const QSettings::SettingsMap &map)
{
    QMap<QString, QByteArray> sections;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const int slash = it.key().indexOf(QLatin1Char('/'));
        QByteArray &block = sections[slash < 0 ? QString() : it.key().left(slash)];
        appendEscapedKey(block, it.key().mid(slash + 1));
        block += '=';
        appendValue(block, it.value());
        block += '\n';
    }
    QByteArray out;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        QByteArray name;
        appendEscapedKey(name, it.key());
        if (!out.isEmpty())
            out += '\n';
        out += name.isEmpty() ? QByteArray("[General]")
                              : qstricmp(name.constData(), "general") == 0 ? QByteArray("[%General]") : '[' + name + ']';
        out += '\n' + it.value();
    }
    return device.write(out) == out.size();
}

QSettings::Format plainIniFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readPlainIni, writePlainIni, Qt::CaseSensitive);
    return format;
}
} // namespace

OrbConfigure::OrbConfigure(QObject *parent) : QObject(parent)
{
    // Nothing asks for more than a few kilobytes: a file far larger, or one
    // that is not a file at all, is not read (it could cost any amount of
    // memory) nor written over. Defaults stand in for its keys.
    const QString path = filePath();
    const QFileInfo info(path);
    if (!info.exists() || (info.isFile() && info.size() <= kFileMax)) {
        settings = new QSettings(path, plainIniFormat(), this);
        return;
    }
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
        ORB_LOG("%s is %s; not read, and left as it is\n", qPrintable(path),
                info.isFile() ? qPrintable(QStringLiteral("%1 bytes, more than %2").arg(info.size()).arg(kFileMax))
                              : "not a regular file");
    }
}

OrbConfigure::~OrbConfigure() = default;

QString OrbConfigure::filePath()
{
    return QStringLiteral("%1/configure.ini").arg(OrbFileUtils::configureDirectory());
}

QString OrbConfigure::text(const char *key) const
{
    return settings ? settings->value(QLatin1String(key)).toString() : QString();
}

QString OrbConfigure::language() const { return text(kLanguage); }
void OrbConfigure::setLanguage(const QString &value) { put(QLatin1String(kLanguage), value); }

void OrbConfigure::ensureLanguage()
{
    if (settings && !settings->contains(QLatin1String(kLanguage)))
        setLanguage(QStringLiteral("en"));
}

QString OrbConfigure::network() const { return text(kNetwork); }
void OrbConfigure::setNetwork(const QString &value) { put(QLatin1String(kNetwork), value); }

bool OrbConfigure::keepSearching() const { return text(kKeepSearching) == QLatin1String("1"); }
void OrbConfigure::setKeepSearching(bool on) { put(QLatin1String(kKeepSearching), on ? QStringLiteral("1") : QStringLiteral("0")); }

QString OrbConfigure::siteName() const { return text(kSiteName); }
void OrbConfigure::setSiteName(const QString &value) { put(QLatin1String(kSiteName), value); }
QString OrbConfigure::reportAuthor() const { return text(kReportAuthor); }
void OrbConfigure::setReportAuthor(const QString &value) { put(QLatin1String(kReportAuthor), value); }

QString OrbConfigure::rtpServer() const { return text(kRtpServer); }
void OrbConfigure::setRtpServer(const QString &value) { put(QLatin1String(kRtpServer), value); }

QString OrbConfigure::deviceId() const { return text(kDeviceId); }
void OrbConfigure::setDeviceId(const QString &value) { put(QLatin1String(kDeviceId), value); }

QString OrbConfigure::rtpInterface() const { return text(kRtpInterface); }
void OrbConfigure::setRtpInterface(const QString &value) { put(QLatin1String(kRtpInterface), value); }

QByteArray OrbConfigure::windowGeometry() const
{
    return QByteArray::fromBase64(text(kWindowGeometry).toLatin1());
}

void OrbConfigure::setWindowGeometry(const QByteArray &value)
{
    put(QLatin1String(kWindowGeometry), QString::fromLatin1(value.toBase64()));
}

QStringList OrbConfigure::rtpFileList() const
{
    QStringList files;
    const QStringList parts = text(kRtpFileList).split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        if (!part.isEmpty() && !part.contains(QChar(0)) && QFileInfo(part).isFile())
            files.append(part);
    }
    return files;
}

void OrbConfigure::setRtpFileList(const QStringList &files)
{
    QString joined;
    for (const QString &file : files)
        joined += file + QLatin1Char('\n');
    put(QLatin1String(kRtpFileList), joined);
}

int OrbConfigure::rtpSourceIndex() const
{
    bool ok = false;
    const int value = text(kRtpSourceIndex).toInt(&ok);
    return ok ? value : 0;
}

void OrbConfigure::setRtpSourceIndex(int index)
{
    put(QLatin1String(kRtpSourceIndex), index);
}

void OrbConfigure::put(const QString &key, const QVariant &value)
{
    // A file that could not be read (it grew past the limit since it was
    // looked at) is not written over either.
    if (settings && settings->status() != QSettings::FormatError)
        settings->setValue(key, value);
}

void OrbConfigure::sync()
{
    if (settings)
        settings->sync();
}
