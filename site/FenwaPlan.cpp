// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaPlan.h"

#include "FenwaCsv.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaJson.h"
#include "link/FenwaTerminal.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QVector>
#include <algorithm>
#include <cJSON.h>

namespace FenwaPlan {

namespace {
using namespace FenwaTerminal;

const char *const kColumns[FieldCount] = {
    "name",          "ip_mode",          "ip",
    "netmask",       "gateway",          "dns1",
    "dns2",          "web_account",      "web_password_md5",
    "sip1_account",  "sip1_password",    "sip1_display_name",
    "sip1_server_host", "sip1_server_port", "sip2_account",
    "sip2_password", "sip2_display_name", "sip2_server_host",
    "sip2_server_port", "rtp1",          "rtp2",
    "rtp3",          "rtp4",             "rtp5",
    "rtp6",          "rtp7",             "rtp8",
    "rtp9",          "rtp10",            "mic_volume",
    "speaker_volume", "auto_mute",       "new_mac",
};
// Sheet columns that are not fields: the key, the clear web password (kept
// only as its digest), and the outcome a saved result carries.
const char kMac[] = "mac", kWebPassword[] = "web_password", kOutcome[] = "outcome";
// A site file's own keys beside the fields.
const char kFound[] = "found";

bool isSipField(int f) { return f >= Sip1Account && f <= Sip2ServerPort; }
bool isRtpField(int f) { return f >= Rtp1 && f <= Rtp10; }

QString rtpText(const RtpSettings &c)
{
    const QString text = rtpChannelText(c);
    return c.enable ? text : text.isEmpty() ? QStringLiteral("off") : text + QStringLiteral(" off");
}

// A channel's canonical text, or false with *why.
bool rtpFromText(const QString &typed, RtpSettings *out, QString *why)
{
    QString text = typed.trimmed();
    bool off = false;
    if (text == QLatin1String("off") || text.endsWith(QLatin1String(" off"))) {
        off = true;
        text.chop(3);
    }
    if (!rtpChannelFromText(text, out, why))
        return false;
    out->enable = off ? 0 : 1;
    return true;
}

// Checks one value by the rule of the page that sets it and brings it into
// its canonical form. Fields whose rule needs the others of their command
// (the static address, the account) are checked again, merged, by the
// preview.
bool checkValue(int f, const QString &given, QString *value, QString *why)
{
    QString v = f == Name || isSipField(f) ? given : given.trimmed();
    switch (f) {
    case Name:
        nameValues(v, 1, why);
        break;
    case IpMode:
        v = v.toLower();
        if (v != QLatin1String("dhcp") && v != QLatin1String("static"))
            *why = translate("ip_mode is dhcp or static, not \"%1\"").arg(given);
        break;
    case Ip:
    case Netmask:
    case Gateway:
    case Dns1:
    case Dns2:
        if (!(f == Dns2 && v.isEmpty()) && !isIpv4Text(v))
            *why = translate("%1 is not an IPv4 address").arg(given);
        break;
    case WebPasswordMd5:
        v = v.toLower();
        if (!QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(v).hasMatch())
            *why = translate("web_password_md5 must be 32 hexadecimal digits");
        break;
    case MicVolume:
    case SpeakerVolume:
    case AutoMute: {
        bool ok = false;
        Volume vol;
        const int n = v.toInt(&ok, 10);
        (f == MicVolume ? vol.mic : f == SpeakerVolume ? vol.out : vol.autoMute) = n;
        if (!ok || !volumeValue(vol, why))
            *why = translate("Volumes go from 0 to 100 and auto mute is 0 or 1");
        v = QString::number(n);
        break;
    }
    case NewMac:
        *why = macRefusal(v);
        v = normalizeMac(v);
        break;
    default:
        if (isRtpField(f)) {
            RtpSettings c;
            if (rtpFromText(v, &c, why))
                v = rtpText(c);
        }
        break;
    }
    if (!why->isEmpty())
        *why = QStringLiteral("%1: %2").arg(columnName(f), *why);
    *value = v;
    return why->isEmpty();
}

// What a column of a sheet (or a key of a site file) holds.
struct Column {
    enum Kind { Field, Mac, WebPassword, Ignored, Unknown };
    Kind kind = Unknown;
    int field = -1;
    QString name; // as written
};

Column columnOf(const QString &written)
{
    Column c;
    c.name = written;
    const QString key = written.trimmed().toLower();
    c.field = fieldOf(key);
    c.kind = c.field >= 0                           ? Column::Field
             : key == QLatin1String(kMac)           ? Column::Mac
             : key == QLatin1String(kWebPassword)   ? Column::WebPassword
             : key == QLatin1String(kOutcome)       ? Column::Ignored
             : key == QLatin1String(kFound)         ? Column::Ignored
                                                    : Column::Unknown;
    if (c.kind == Column::WebPassword)
        c.field = WebPasswordMd5;
    return c;
}

// Where the text holds a control character (NUL, CR, LF, tab...), or -1: a
// terminal would take it, or cut the value there, and show it garbled.
int controlAt(const QString &text)
{
    for (int i = 0; i < text.size(); ++i)
        if (text[i].category() == QChar::Other_Control)
            return i;
    return -1;
}

// The fields of one row, by column; shared by both file forms. where names
// the row for a refusal ("line 4", "terminal 2").
bool rowFrom(const QVector<Column> &columns, const QStringList &texts, const QString &where, bool emptyIsValue,
             Row *row, QString *error)
{
    bool haveMac = false;
    for (int i = 0; i < columns.size() && i < texts.size(); ++i) {
        const Column &column = columns[i];
        const QString &text = texts[i];
        if (column.kind == Column::Ignored)
            continue;
        if (column.kind == Column::Unknown) {
            *error = translate("%1: unknown column \"%2\"").arg(where, column.name);
            return false;
        }
        if (column.kind == Column::Mac) {
            const QString why = macRefusal(text.trimmed());
            if (!why.isEmpty()) {
                *error = translate("%1: mac \"%2\": %3").arg(where, text, why);
                return false;
            }
            row->mac = normalizeMac(text.trimmed());
            haveMac = true;
            continue;
        }
        const int f = column.field;
        // An empty cell leaves the field as it is. A site file's empty
        // values are kept where empty is something a terminal holds.
        const bool emptyHeld = f == Dns2 || isSipField(f) || isRtpField(f);
        if (text.isEmpty() && !(emptyIsValue && emptyHeld))
            continue;
        const int control = controlAt(text);
        if (control >= 0) {
            row->problems << translate("%1, column %2: a control character (U+%3) cannot be sent")
                                 .arg(where, column.name)
                                 .arg(text[control].unicode(), 4, 16, QLatin1Char('0'));
            continue;
        }
        const QString given = column.kind == Column::WebPassword ? passwordDigest(text) : text;
        QString value, why;
        if (!checkValue(f, given, &value, &why))
            row->problems << why;
        row->values.insert(f, value);
    }
    if (!haveMac) {
        *error = translate("%1: no mac").arg(where);
        return false;
    }
    return true;
}

bool readSheet(const QByteArray &bytes, Plan *plan, QString *error)
{
    QList<FenwaCsv::Record> records;
    if (!FenwaSheet::read(bytes, &records, &plan->form, error))
        return false;
    if (records.isEmpty()) {
        *error = translate("the plan is empty: it needs a header line and a row per terminal");
        return false;
    }
    const FenwaCsv::Record head = records.takeFirst();
    plan->header = head.fields;
    QVector<Column> columns;
    for (const QString &name : plan->header) {
        columns << columnOf(name);
        if (columns.last().kind == Column::Unknown) {
            *error = translate("line %1: unknown column \"%2\"").arg(head.line).arg(name);
            return false;
        }
    }
    if (std::none_of(columns.cbegin(), columns.cend(), [](const Column &c) { return c.kind == Column::Mac; })) {
        *error = translate("line %1: no column \"mac\"").arg(head.line);
        return false;
    }
    plan->rows.reserve(records.size());
    const QString lineWord = translate("line %1");
    for (FenwaCsv::Record &r : records) {
        for (int i = plan->header.size(); i < r.fields.size(); ++i)
            if (!r.fields[i].isEmpty()) {
                *error = translate("line %1: more fields than the header has columns").arg(r.line);
                return false;
            }
        while (r.fields.size() > plan->header.size())
            r.fields.removeLast();
        while (r.fields.size() < plan->header.size())
            r.fields << QString();
        Row row;
        row.line = r.line;
        const QString where = lineWord.arg(r.line);
        if (!rowFrom(columns, r.fields, where, false, &row, error))
            return false;
        for (auto it = r.notes.constBegin(); it != r.notes.constEnd(); ++it)
            if (it.key() < columns.size())
                row.doubts << translate("%1, column %2: %3").arg(where, columns[it.key()].name, it.value());
        row.cells = std::move(r.fields);
        plan->rows << row;
    }
    return true;
}

// cJSON ends its texts at a NUL, so "a\u0000b" would read as "a": the line of
// the first such escape in a text, or 0.
int nulEscapeLine(const QByteArray &text)
{
    int line = 1;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == '\n')
            ++line;
        else if (text[i] == '\\' && i + 1 < text.size()) {
            if (text.mid(i + 1, 5).toLower() == "u0000")
                return line;
            ++i; // the escaped character, a backslash among them
        }
    }
    return 0;
}

bool readSiteFile(const QByteArray &bytes, Plan *plan, QString *error)
{
    if (const int line = nulEscapeLine(bytes)) {
        *error = translate("line %1: a text holds a NUL character (\\u0000)").arg(line);
        return false;
    }
    cJSON *root = cJSON_ParseWithLengthOpts(bytes.constData(), size_t(bytes.size()), nullptr, false);
    const cJSON *terminals = cJSON_GetObjectItemCaseSensitive(root, "terminals");
    const cJSON *version = cJSON_GetObjectItemCaseSensitive(root, "version");
    bool ok = false;
    if (!cJSON_IsObject(root) || !cJSON_IsArray(terminals))
        *error = translate("not a site file: a JSON object with \"terminals\" is expected");
    else if (!cJSON_IsNumber(version) || version->valuedouble != SITE_FILE_VERSION)
        *error = translate("a site file of version %1 is expected").arg(SITE_FILE_VERSION);
    else
        ok = true;
    int index = 0;
    for (const cJSON *t = ok ? terminals->child : nullptr; t && ok; t = t->next) {
        const QString where = translate("terminal %1").arg(++index);
        if (!cJSON_IsObject(t)) {
            *error = translate("%1: not a JSON object").arg(where);
            ok = false;
            break;
        }
        QVector<Column> columns;
        QStringList texts;
        for (const cJSON *item = t->child; item && ok; item = item->next) {
            const QString key = QString::fromUtf8(item->string ? item->string : "");
            columns << columnOf(key);
            if (cJSON_IsString(item))
                texts << QString::fromUtf8(item->valuestring);
            else if (cJSON_IsNumber(item))
                texts << jsonNumberText(item->valuedouble);
            else if (key == QLatin1String(kFound))
                texts << QString();
            else {
                *error = translate("%1: \"%2\" must be a text or a number").arg(where, key);
                ok = false;
            }
        }
        Row row;
        row.line = index;
        const cJSON *uid = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(t, kFound), "uid");
        if (cJSON_IsString(uid))
            row.uid = QString::fromUtf8(uid->valuestring);
        ok = ok && rowFrom(columns, texts, where, true, &row, error);
        if (ok)
            plan->rows << row;
    }
    cJSON_Delete(root);
    plan->siteFile = true;
    return ok;
}
} // namespace

QString columnName(int field)
{
    return field >= 0 && field < FieldCount ? QLatin1String(kColumns[field]) : QString();
}

int fieldOf(const QString &name)
{
    static const QHash<QString, int> fields = [] {
        QHash<QString, int> h;
        for (int f = 0; f < FieldCount; ++f)
            h.insert(QLatin1String(kColumns[f]), f);
        return h;
    }();
    return fields.value(name, -1);
}

bool isSecret(int field)
{
    return field == WebPasswordMd5 || field == Sip1Password || field == Sip2Password;
}

bool read(const QByteArray &bytes, Plan *plan, QString *error)
{
    if (bytes.size() > FenwaCsv::MAX_BYTES) {
        *error = translate("the file is larger than %1 MiB").arg(FenwaCsv::MAX_BYTES / (1024 * 1024));
        return false;
    }
    Plan out;
    const QByteArray start = bytes.left(64).trimmed();
    const bool ok = start.startsWith('{') ? readSiteFile(bytes, &out, error) : readSheet(bytes, &out, error);
    if (!ok)
        return false;
    // One row per terminal: which of two rows would win is anyone's guess.
    // A site file's terminals that shared a MAC were two terminals, told
    // apart by UID: only their own rows cannot be used on the segment.
    QHash<QString, int> seen;
    seen.reserve(out.rows.size());
    for (int i = 0; i < out.rows.size(); ++i) {
        Row &row = out.rows[i];
        const auto first = seen.constFind(row.mac);
        if (first == seen.constEnd()) {
            seen.insert(row.mac, i);
            continue;
        }
        if (!out.siteFile) {
            *error = translate("%1 %2: mac %3 is planned twice (also %1 %4)")
                         .arg(translate("line"))
                         .arg(row.line)
                         .arg(row.mac)
                         .arg(out.rows[*first].line);
            return false;
        }
        Row &earlier = out.rows[*first];
        for (int other : earlier.sameMac)
            out.rows[other - 1].sameMac << row.line;
        row.sameMac = earlier.sameMac;
        row.sameMac << earlier.line;
        earlier.sameMac << row.line;
    }
    *plan = out;
    return true;
}

bool readFile(const QString &path, Plan *plan, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = translate("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(FenwaCsv::MAX_BYTES + 1);
    if (!read(bytes, plan, error)) {
        *error = QStringLiteral("%1: %2").arg(path, *error);
        return false;
    }
    plan->path = path;
    return true;
}

bool restoreRow(Plan *plan, int index, const QString &onto, bool takeMac, QString *error)
{
    const QString target = normalizeMac(onto);
    if (target.isEmpty() || index < 0 || index >= plan->rows.size()) {
        *error = translate("not a MAC: %1").arg(onto);
        return false;
    }
    Row moved = plan->rows[index];
    const QString source = moved.mac;
    moved.mac = target;
    moved.values.remove(NewMac);
    moved.sameMac.clear(); // the replacement answers on a MAC of its own
    moved.cells.clear();
    if (takeMac && source != target)
        moved.values.insert(NewMac, source);
    plan->rows = {moved};
    plan->header.clear(); // the result names what the row sets
    return true;
}

bool restoreOnto(Plan *plan, const QString &from, const QString &onto, bool takeMac, QString *error)
{
    const QString source = normalizeMac(from);
    QList<int> matches;
    for (int i = 0; i < plan->rows.size(); ++i)
        if (source.isEmpty() ? plan->rows[i].uid == from.trimmed() : plan->rows[i].mac == source)
            matches << i;
    if (matches.size() == 1)
        return restoreRow(plan, matches.first(), onto, takeMac, error);
    if (matches.isEmpty()) {
        *error = translate("the file holds no terminal %1").arg(source.isEmpty() ? from : source);
        return false;
    }
    QStringList uids;
    for (int i : matches)
        uids << plan->rows[i].uid;
    *error = translate("%1 terminals of the file share mac %2: name the one to restore by its UID (%3)")
                 .arg(matches.size())
                 .arg(source, uids.join(QStringLiteral(", ")));
    return false;
}

Values currentValues(const FenwaDevice *d, const SipSettings *sip, const RtpSettings *rtp)
{
    Values v;
    v[Name] = d->name;
    v[IpMode] = d->ipMode.toLower();
    v[Ip] = d->ip;
    v[Netmask] = d->netmask;
    v[Gateway] = d->gateway;
    v[Dns1] = d->dns1;
    v[Dns2] = d->dns2;
    v[WebAccount] = d->account();
    v[WebPasswordMd5] = d->password().toLower();
    const int volumes[] = {MicVolume, SpeakerVolume, AutoMute};
    const char *const keys[] = {"micVolume", "outVolume", "autoMute"};
    for (int i = 0; i < 3; ++i)
        if (d->extras.contains(QLatin1String(keys[i])))
            v[volumes[i]] = QString::number(d->extraInt(QLatin1String(keys[i])));
    for (int a = 0; sip && a < 2; ++a) {
        const int base = a ? Sip2Account : Sip1Account;
        v[base] = sip[a].account;
        v[base + 1] = sip[a].password;
        v[base + 2] = sip[a].displayName;
        v[base + 3] = sip[a].serverHost;
        v[base + 4] = sip[a].serverPort;
    }
    for (int i = 0; rtp && i < Rtp10 - Rtp1 + 1; ++i)
        v[Rtp1 + i] = rtpText(rtp[i]);
    return v;
}

bool rowIsFor(const Row &row, const FenwaDevice *d)
{
    return row.mac == normalizeMac(d->macText) || row.mac == linkMacText(d);
}

bool needsSip(const Row &row)
{
    for (auto it = row.values.constBegin(); it != row.values.constEnd(); ++it)
        if (isSipField(it.key()))
            return true;
    return false;
}

bool needsRtp(const Row &row)
{
    for (auto it = row.values.constBegin(); it != row.values.constEnd(); ++it)
        if (isRtpField(it.key()))
            return true;
    return false;
}

QString shownValue(int field, const QString &value)
{
    if (value.isEmpty())
        return translate("(empty)");
    return isSecret(field) ? QStringLiteral("***") : value;
}

QStringList sharedMacs(const QList<SiteTerminal> &terminals)
{
    QMap<QString, QStringList> byMac;
    for (const SiteTerminal &t : terminals)
        byMac[normalizeMac(t.device->macText)] << QStringLiteral("%1 (UID %2)").arg(t.device->name, t.device->uid);
    QStringList out;
    for (auto it = byMac.constBegin(); it != byMac.constEnd(); ++it)
        if (it.value().size() > 1)
            out << QStringLiteral("%1: %2").arg(it.key(), it.value().join(QStringLiteral(", ")));
    return out;
}

QByteArray siteFile(const QList<SiteTerminal> &terminals, const QString &createdAt, bool withPasswords)
{
    QHash<QString, QStringList> uidsByMac;
    for (const SiteTerminal &t : terminals)
        uidsByMac[normalizeMac(t.device->macText)] << t.device->uid;
    cJSON *root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "format", "fenwa-site");
    cJSON_AddNumberToObject(root, "version", SITE_FILE_VERSION);
    cJSON_AddStringToObject(root, "created", createdAt.toUtf8().constData());
    cJSON *list = cJSON_AddArrayToObject(root, "terminals");
    for (const SiteTerminal &t : terminals) {
        cJSON *o = cJSON_CreateObject();
        const QString mac = normalizeMac(t.device->macText);
        cJSON_AddStringToObject(o, kMac, mac.toUtf8().constData());
        // What identifies the terminal that was backed up: not set by a restore.
        cJSON *found = cJSON_AddObjectToObject(o, kFound);
        cJSON_AddStringToObject(found, "type", t.device->type.toUtf8().constData());
        cJSON_AddStringToObject(found, "version", t.device->version.toUtf8().constData());
        cJSON_AddStringToObject(found, "sn", t.device->sn.toUtf8().constData());
        cJSON_AddStringToObject(found, "uid", t.device->uid.toUtf8().constData());
        QStringList others = uidsByMac.value(mac);
        others.removeOne(t.device->uid);
        if (!others.isEmpty()) {
            cJSON *shared = cJSON_AddArrayToObject(found, "mac_shared_with");
            for (const QString &uid : others)
                cJSON_AddItemToArray(shared, cJSON_CreateString(uid.toUtf8().constData()));
        }
        const Values v = currentValues(t.device, t.sip, t.rtp);
        for (auto it = v.constBegin(); it != v.constEnd(); ++it)
            if (withPasswords || !isSecret(it.key()))
                cJSON_AddStringToObject(o, kColumns[it.key()], it.value().toUtf8().constData());
        cJSON_AddItemToArray(list, o);
    }
    char *text = cJSON_Print(root);
    const QByteArray out = QByteArray(text ? text : "") + '\n';
    cJSON_free(text);
    cJSON_Delete(root);
    return out;
}

QList<QStringList> resultRows(const Plan &plan, const QStringList &outcomes)
{
    QList<QStringList> out;
    if (!plan.header.isEmpty()) {
        // The sheet as it came, every column in its place.
        QStringList header = plan.header;
        int at = -1;
        for (int i = 0; i < header.size() && at < 0; ++i)
            if (header[i].trimmed().toLower() == QLatin1String(kOutcome))
                at = i;
        if (at < 0) {
            at = header.size();
            header << QLatin1String(kOutcome);
        }
        out << header;
        for (int i = 0; i < plan.rows.size(); ++i) {
            QStringList cells = plan.rows[i].cells;
            while (cells.size() < header.size())
                cells << QString();
            cells[at] = outcomes.value(i);
            out << cells;
        }
        return out;
    }
    QList<int> used;
    for (int f = 0; f < FieldCount; ++f)
        for (const Row &row : plan.rows)
            if (row.values.contains(f)) {
                used << f;
                break;
            }
    QStringList header{QLatin1String(kMac)};
    for (int f : used)
        header << columnName(f);
    header << QLatin1String(kOutcome);
    out << header;
    for (int i = 0; i < plan.rows.size(); ++i) {
        const Row &row = plan.rows[i];
        QStringList cells{row.mac};
        for (int f : used)
            cells << row.values.value(f);
        cells << outcomes.value(i);
        out << cells;
    }
    return out;
}

bool resultSheet(const Plan &plan, const QStringList &outcomes, const FenwaSheet::Form &form, QByteArray *out,
                 QString *error)
{
    return FenwaSheet::bytes(resultRows(plan, outcomes), form, out, error);
}

QByteArray resultSheet(const Plan &plan, const QStringList &outcomes)
{
    QByteArray out;
    QString error;
    resultSheet(plan, outcomes, plan.siteFile ? FenwaSheet::Form() : plan.form, &out, &error);
    return out;
}

} // namespace FenwaPlan
