// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliLink.h"

#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"

#include <QCryptographicHash>
#include <QVector>
#include <algorithm>
#include <cJSON.h>
#include <cstring>
#include <functional>

namespace {

QByteArray printJson(cJSON *obj)
{
    char *text = cJSON_PrintUnformatted(obj);
    QByteArray line(text ? text : "{}");
    cJSON_free(text);
    cJSON_Delete(obj);
    return line;
}

void addText(cJSON *obj, const char *key, const QString &value)
{
    cJSON_AddStringToObject(obj, key, value.toUtf8().constData());
}

QString linkMac(const FenwaDevice *d)
{
    return QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", d->mac[0], d->mac[1], d->mac[2], d->mac[3], d->mac[4],
                             d->mac[5]);
}

QString linkAddress(const FenwaDevice *d)
{
    return QString::asprintf("%d.%d.%d.%d", d->address[0], d->address[1], d->address[2], d->address[3]);
}

QString csvField(const QString &value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char('\n'))
        && !value.contains(QLatin1Char('\r')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// Every field of a record, in output order: what the terminal reported, then
// the link addresses commands go to. Both output forms read this one table.
struct RecordField {
    const char *key;
    QString (*value)(const FenwaDevice *);
};
const RecordField kRecordFields[] = {
    {"mac", [](const FenwaDevice *d) { return d->macText; }},
    {"name", [](const FenwaDevice *d) { return d->name; }},
    {"type", [](const FenwaDevice *d) { return d->type; }},
    {"ipMode", [](const FenwaDevice *d) { return d->ipMode; }},
    {"version", [](const FenwaDevice *d) { return d->version; }},
    {"ip", [](const FenwaDevice *d) { return d->ip; }},
    {"gateway", [](const FenwaDevice *d) { return d->gateway; }},
    {"netmask", [](const FenwaDevice *d) { return d->netmask; }},
    {"dns1", [](const FenwaDevice *d) { return d->dns1; }},
    {"dns2", [](const FenwaDevice *d) { return d->dns2; }},
    {"sn", [](const FenwaDevice *d) { return d->sn; }},
    {"uid", [](const FenwaDevice *d) { return d->uid; }},
    {"linkMac", linkMac},
    {"linkAddress", linkAddress},
};

// CSV keeps a fixed set of columns: the record's fields with the reply items
// installers look at most placed before the link addresses.
const char *const kCsvColumns[] = {"mac",     "name",    "type", "ipMode", "version",   "ip",        "gateway",
                                   "netmask", "dns1",    "dns2", "sn",     "uid",       "account",   "micVolume",
                                   "outVolume", "autoMute", "linkMac", "linkAddress"};

QString deviceField(const FenwaDevice *d, const char *key)
{
    for (const RecordField &f : kRecordFields)
        if (std::strcmp(f.key, key) == 0)
            return f.value(d);
    return d->extra(QLatin1String(key));
}

cJSON *sipJson(const SipSettings &s)
{
    cJSON *o = cJSON_CreateObject();
    addText(o, "serverHost", s.serverHost);
    addText(o, "serverPort", s.serverPort);
    addText(o, "account", s.account);
    addText(o, "password", s.password);
    addText(o, "displayName", s.displayName);
    return o;
}

cJSON *rtpJson(const RtpSettings &r)
{
    cJSON *o = cJSON_CreateObject();
    cJSON_AddNumberToObject(o, "enable", r.enable);
    addText(o, "rtpIP", r.rtpIP);
    cJSON_AddNumberToObject(o, "rtpPort", r.rtpPort);
    return o;
}

// Runs the command on one device; fills reading commands' data into result.
using Runner = std::function<int(FenwaDevice *, int index, cJSON *result)>;

Runner runnerFor(FenwaSDK *sdk, const CliRequest &r)
{
    const QString &c = r.command;
    const QStringList a = r.args;
    if (c == QLatin1String("set-name"))
        return [=](FenwaDevice *d, int, cJSON *) {
            const int rc = sdk->setName(d, a[0]);
            if (rc == 0)
                d->name = a[0];
            return rc;
        };
    if (c == QLatin1String("set-mac"))
        return [=](FenwaDevice *d, int index, cJSON *res) {
            QString mac = normalizeMac(a[0]);
            for (int i = 0; i < index; ++i)
                mac = nextMac(mac);
            addText(res, "newMac", mac);
            return sdk->setMac(d, mac);
        };
    if (c == QLatin1String("set-ip-dhcp"))
        return [=](FenwaDevice *d, int, cJSON *) { return sdk->setIpDhcp(d); };
    if (c == QLatin1String("set-ip-static"))
        return [=](FenwaDevice *d, int index, cJSON *res) {
            QString ip = a[0];
            for (int i = 0; i < index; ++i)
                ip = nextIpv4(ip);
            addText(res, "newIp", ip);
            return sdk->setIpStatic(d, ip, a[1], a[2], a[3], a[4]);
        };
    if (c == QLatin1String("set-account"))
        return [=](FenwaDevice *d, int, cJSON *) {
            // Terminals keep and compare the password's MD5 digest, as the
            // workbench sends it.
            const QString digest = QString::fromLatin1(
                QCryptographicHash::hash(a[1].toUtf8(), QCryptographicHash::Md5).toHex());
            return sdk->setAccountPassword(d, a[0], digest);
        };
    if (c == QLatin1String("reset-default"))
        return [=](FenwaDevice *d, int, cJSON *) { return sdk->resetDefault(d); };
    if (c == QLatin1String("reboot"))
        return [=](FenwaDevice *d, int, cJSON *) { return sdk->reboot(d); };
    if (c == QLatin1String("play-volume"))
        return [=](FenwaDevice *d, int, cJSON *) { return sdk->playVolume(d); };
    if (c == QLatin1String("set-volume"))
        return [=](FenwaDevice *d, int, cJSON *) {
            return sdk->setDeviceVolume(d, a[0].toInt(), a[1].toInt(), a[2].toInt());
        };
    if (c == QLatin1String("get-sip"))
        return [=](FenwaDevice *d, int, cJSON *res) {
            SipSettings sip0, sip1;
            const int rc = sdk->getSipSettings(d, &sip0, &sip1);
            cJSON_AddItemToObject(res, "sip0", sipJson(sip0));
            cJSON_AddItemToObject(res, "sip1", sipJson(sip1));
            return rc;
        };
    if (c == QLatin1String("set-sip")) {
        SipSettings sip0, sip1;
        QString error;
        parseSipArgument(a[0], &sip0, &sip1, &error); // validated before the search
        return [=](FenwaDevice *d, int, cJSON *) { return sdk->setSipSettings(d, sip0, sip1); };
    }
    if (c == QLatin1String("get-rtp"))
        return [=](FenwaDevice *d, int, cJSON *res) {
            RtpSettings channels[FENWA_RTP_CHANNELS];
            const int rc = sdk->getRtpSettings(d, channels, FENWA_RTP_CHANNELS);
            for (int i = 0; i < FENWA_RTP_CHANNELS; ++i)
                cJSON_AddItemToObject(res, QStringLiteral("rtp%1").arg(i).toLatin1().constData(), rtpJson(channels[i]));
            return rc;
        };
    if (c == QLatin1String("set-rtp")) {
        QList<RtpSettings> channels;
        QString error;
        parseRtpArgument(a[0], &channels, &error); // validated before the search
        const QVector<RtpSettings> list = channels.toVector();
        return [=](FenwaDevice *d, int, cJSON *) { return sdk->setRtpSettings(d, list.constData(), list.size()); };
    }
    if (c == QLatin1String("set-sn"))
        return [=](FenwaDevice *d, int, cJSON *) { return sdk->setSn(d, a[0]); };
    if (c == QLatin1String("set-server"))
        return [=](FenwaDevice *d, int, cJSON *) { return sdk->setServer(d, a[0], a[1].toInt()); };
    if (c == QLatin1String("set-device-info"))
        return [=](FenwaDevice *d, int, cJSON *) {
            return sdk->setDeviceInfo(d, a[0], a[1], a[2], a[3].toInt(), a[4], a[5], a[6], a[7]);
        };
    return Runner();
}

} // namespace

bool isSupportedType(const QString &type)
{
    return type == QLatin1String("VQ40") || type == QLatin1String("VQT40");
}

QByteArray deviceJsonLine(const FenwaDevice *d)
{
    cJSON *o = cJSON_CreateObject();
    for (const RecordField &f : kRecordFields)
        addText(o, f.key, f.value(d));
    cJSON *extras = cJSON_CreateObject();
    for (auto it = d->extras.constBegin(); it != d->extras.constEnd(); ++it)
        addText(extras, it.key().toUtf8().constData(), it.value());
    cJSON_AddItemToObject(o, "extras", extras);
    return printJson(o);
}

QString csvHeader()
{
    QStringList cols;
    for (const char *c : kCsvColumns)
        cols << QLatin1String(c);
    return cols.join(QLatin1Char(','));
}

QString deviceCsvLine(const FenwaDevice *d)
{
    QStringList cols;
    for (const char *c : kCsvColumns)
        cols << csvField(deviceField(d, c));
    return cols.join(QLatin1Char(','));
}

QList<FenwaDevice *> uniqueSortedDevices(const QList<FenwaDevice *> &found)
{
    QList<FenwaDevice *> unique;
    for (FenwaDevice *d : found) {
        const bool seen = std::any_of(unique.cbegin(), unique.cend(),
                                      [d](const FenwaDevice *u) { return std::equal(u->mac, u->mac + 6, d->mac); });
        if (seen)
            d->release();
        else
            unique.append(d);
    }
    std::stable_sort(unique.begin(), unique.end(), [](const FenwaDevice *x, const FenwaDevice *y) {
        return x->macText.toLower() < y->macText.toLower();
    });
    return unique;
}

int runCliRequest(FenwaSDK *sdk, const CliRequest &r, QTextStream &out, QTextStream &err)
{
    sdk->setReplyTimeout(r.timeoutMs);
    QList<FenwaDevice *> found;
    sdk->search(&found, r.searchMs);
    const QList<FenwaDevice *> devices = uniqueSortedDevices(found);
    int status = 0;

    if (r.command == QLatin1String("search")) {
        if (r.csv)
            out << csvHeader() << '\n';
        for (FenwaDevice *d : devices) {
            if (r.csv)
                out << deviceCsvLine(d) << '\n';
            else
                out << QString::fromUtf8(deviceJsonLine(d)) << '\n';
        }
        out.flush();
    } else {
        // Targets in MAC order, whatever order --mac named them in.
        QList<FenwaDevice *> targets;
        QStringList missing = r.macs;
        for (FenwaDevice *d : devices) {
            const QString reported = normalizeMac(d->macText);
            const QString link = linkMac(d);
            const bool named = r.macs.contains(link) || (!reported.isEmpty() && r.macs.contains(reported));
            if ((r.all && isSupportedType(d->type)) || (!r.all && named)) {
                targets.append(d);
                missing.removeAll(link);
                missing.removeAll(reported);
            }
        }
        for (const QString &mac : missing) {
            cJSON *o = cJSON_CreateObject();
            addText(o, "mac", mac);
            cJSON_AddNumberToObject(o, "result", -1);
            addText(o, "error", QStringLiteral("not found by the search"));
            out << QString::fromUtf8(printJson(o)) << '\n';
            status = 1;
        }
        if (r.all && targets.isEmpty())
            err << "fenwa-cli: no terminal of a supported type answered the search\n";
        const Runner run = runnerFor(sdk, r);
        for (int i = 0; i < targets.size(); ++i) {
            FenwaDevice *d = targets.at(i);
            cJSON *o = cJSON_CreateObject();
            addText(o, "mac", d->macText);
            cJSON *data = cJSON_CreateObject();
            const int rc = run ? run(d, i, data) : -1;
            cJSON_AddNumberToObject(o, "result", rc);
            // Fold what the command read or derived into the line.
            while (cJSON *item = data->child) {
                cJSON_DetachItemViaPointer(data, item);
                cJSON_AddItemToObject(o, item->string, item);
            }
            cJSON_Delete(data);
            out << QString::fromUtf8(printJson(o)) << '\n';
            out.flush();
            if (rc != 0)
                status = 1;
        }
        err.flush();
    }
    for (FenwaDevice *d : devices)
        d->release();
    return status;
}
