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

// The fields of one row, given by column name; shared by both file forms.
// where names the row for a refusal ("line 4", "terminal 2").
bool rowFrom(const QList<QPair<QString, QString>> &cells, const QString &where, bool emptyIsValue, Row *row,
             QString *error)
{
    bool haveMac = false;
    for (const auto &cell : cells) {
        const QString key = cell.first.trimmed().toLower();
        const QString &text = cell.second;
        if (key == QLatin1String(kOutcome) || key == QLatin1String(kFound))
            continue;
        if (key == QLatin1String(kMac)) {
            const QString why = macRefusal(text.trimmed());
            if (!why.isEmpty()) {
                *error = translate("%1: mac \"%2\": %3").arg(where, text, why);
                return false;
            }
            row->mac = normalizeMac(text.trimmed());
            haveMac = true;
            continue;
        }
        int f = fieldOf(key);
        QString given = text;
        if (key == QLatin1String(kWebPassword)) {
            f = WebPasswordMd5;
            given = text.isEmpty() ? QString() : passwordDigest(text);
        }
        if (f < 0) {
            *error = translate("%1: unknown column \"%2\"").arg(where, cell.first);
            return false;
        }
        // An empty cell leaves the field as it is. A site file's empty
        // values are kept where empty is something a terminal holds.
        const bool emptyHeld = f == Dns2 || isSipField(f) || isRtpField(f);
        if (text.isEmpty() && !(emptyIsValue && emptyHeld))
            continue;
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
    char separator = ',';
    if (!FenwaCsv::read(bytes, &records, &separator, error))
        return false;
    if (records.isEmpty()) {
        *error = translate("the plan is empty: it needs a header line and a row per terminal");
        return false;
    }
    const QStringList header = records.takeFirst().fields;
    for (const QString &name : header) {
        const QString key = name.trimmed().toLower();
        if (fieldOf(key) < 0 && key != QLatin1String(kMac) && key != QLatin1String(kWebPassword)
            && key != QLatin1String(kOutcome)) {
            *error = translate("line %1: unknown column \"%2\"").arg(1).arg(name);
            return false;
        }
    }
    if (!header.contains(QLatin1String(kMac), Qt::CaseInsensitive)) {
        *error = translate("line 1: no column \"mac\"");
        return false;
    }
    for (const FenwaCsv::Record &r : records) {
        QList<QPair<QString, QString>> cells;
        for (int i = 0; i < r.fields.size(); ++i) {
            if (i >= header.size()) {
                if (!r.fields[i].isEmpty()) {
                    *error = translate("line %1: more fields than the header has columns").arg(r.line);
                    return false;
                }
                continue;
            }
            cells << qMakePair(header[i], r.fields[i]);
        }
        Row row;
        row.line = r.line;
        if (!rowFrom(cells, translate("line %1").arg(r.line), false, &row, error))
            return false;
        plan->rows << row;
    }
    return true;
}

bool readSiteFile(const QByteArray &bytes, Plan *plan, QString *error)
{
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
        QList<QPair<QString, QString>> cells;
        for (const cJSON *item = t->child; item && ok; item = item->next) {
            const QString key = QString::fromUtf8(item->string ? item->string : "");
            if (cJSON_IsString(item))
                cells << qMakePair(key, QString::fromUtf8(item->valuestring));
            else if (cJSON_IsNumber(item))
                cells << qMakePair(key, jsonNumberText(item->valuedouble));
            else if (key != QLatin1String(kFound)) {
                *error = translate("%1: \"%2\" must be a text or a number").arg(where, key);
                ok = false;
            }
        }
        Row row;
        row.line = index;
        ok = ok && rowFrom(cells, where, true, &row, error);
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
    for (int f = 0; f < FieldCount; ++f)
        if (name == QLatin1String(kColumns[f]))
            return f;
    return -1;
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
    QHash<QString, int> seen;
    for (const Row &row : out.rows) {
        if (seen.contains(row.mac)) {
            *error = translate("%1 %2: mac %3 is planned twice (also %1 %4)")
                         .arg(out.siteFile ? translate("terminal") : translate("line"))
                         .arg(row.line)
                         .arg(row.mac)
                         .arg(seen.value(row.mac));
            return false;
        }
        seen.insert(row.mac, row.line);
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
    return true;
}

bool restoreOnto(Plan *plan, const QString &from, const QString &onto, bool takeMac, QString *error)
{
    const QString source = normalizeMac(from), target = normalizeMac(onto);
    if (source.isEmpty() || target.isEmpty()) {
        *error = translate("not a MAC: %1").arg(source.isEmpty() ? from : onto);
        return false;
    }
    for (const Row &row : plan->rows) {
        if (row.mac != source)
            continue;
        Row moved = row;
        moved.mac = target;
        moved.values.remove(NewMac);
        if (takeMac && source != target)
            moved.values.insert(NewMac, source);
        plan->rows = {moved};
        return true;
    }
    *error = translate("the file holds no terminal %1").arg(source);
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

QByteArray siteFile(const QList<SiteTerminal> &terminals, const QString &createdAt)
{
    cJSON *root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "format", "fenwa-site");
    cJSON_AddNumberToObject(root, "version", SITE_FILE_VERSION);
    cJSON_AddStringToObject(root, "created", createdAt.toUtf8().constData());
    cJSON *list = cJSON_AddArrayToObject(root, "terminals");
    for (const SiteTerminal &t : terminals) {
        cJSON *o = cJSON_CreateObject();
        cJSON_AddStringToObject(o, kMac, normalizeMac(t.device->macText).toUtf8().constData());
        // What identifies the terminal that was backed up: not set by a restore.
        cJSON *found = cJSON_AddObjectToObject(o, kFound);
        cJSON_AddStringToObject(found, "type", t.device->type.toUtf8().constData());
        cJSON_AddStringToObject(found, "version", t.device->version.toUtf8().constData());
        cJSON_AddStringToObject(found, "sn", t.device->sn.toUtf8().constData());
        cJSON_AddStringToObject(found, "uid", t.device->uid.toUtf8().constData());
        const Values v = currentValues(t.device, t.sip, t.rtp);
        for (auto it = v.constBegin(); it != v.constEnd(); ++it)
            cJSON_AddStringToObject(o, kColumns[it.key()], it.value().toUtf8().constData());
        cJSON_AddItemToArray(list, o);
    }
    char *text = cJSON_Print(root);
    const QByteArray out = QByteArray(text ? text : "") + '\n';
    cJSON_free(text);
    cJSON_Delete(root);
    return out;
}

QByteArray resultSheet(const Plan &plan, const QStringList &outcomes)
{
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
    QByteArray out = FenwaCsv::line(header).toUtf8() + "\r\n";
    for (int i = 0; i < plan.rows.size(); ++i) {
        const Row &row = plan.rows[i];
        QStringList cells{row.mac};
        for (int f : used)
            cells << row.values.value(f);
        cells << outcomes.value(i);
        out += FenwaCsv::line(cells).toUtf8() + "\r\n";
    }
    return out;
}

} // namespace FenwaPlan
