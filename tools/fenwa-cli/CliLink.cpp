// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliLink.h"

#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"

#include <QCryptographicHash>
#include <QVector>
#include <algorithm>
#include <cJSON.h>
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

const char *const kCsvColumns[] = {"mac",     "name",    "type", "ipMode", "version",   "ip",        "gateway",
                                   "netmask", "dns1",    "dns2", "sn",     "uid",       "account",   "micVolume",
                                   "outVolume", "autoMute", "linkMac", "linkAddress"};

QString deviceField(const FenwaDevice *d, const QString &key)
{
    if (key == QLatin1String("mac")) return d->macText;
    if (key == QLatin1String("name")) return d->name;
    if (key == QLatin1String("type")) return d->type;
    if (key == QLatin1String("ipMode")) return d->ipMode;
    if (key == QLatin1String("version")) return d->version;
    if (key == QLatin1String("ip")) return d->ip;
    if (key == QLatin1String("gateway")) return d->gateway;
    if (key == QLatin1String("netmask")) return d->netmask;
    if (key == QLatin1String("dns1")) return d->dns1;
    if (key == QLatin1String("dns2")) return d->dns2;
    if (key == QLatin1String("sn")) return d->sn;
    if (key == QLatin1String("uid")) return d->uid;
    if (key == QLatin1String("linkMac")) return linkMac(d);
    if (key == QLatin1String("linkAddress")) return linkAddress(d);
    return d->extra(key);
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
    if (c == QLatin1String("set-sip"))
        return [=](FenwaDevice *d, int, cJSON *) {
            SipSettings sip0, sip1;
            QString error;
            parseSipArgument(a[0], &sip0, &sip1, &error); // validated before the search
            return sdk->setSipSettings(d, sip0, sip1);
        };
    if (c == QLatin1String("get-rtp"))
        return [=](FenwaDevice *d, int, cJSON *res) {
            RtpSettings channels[FENWA_RTP_CHANNELS];
            const int rc = sdk->getRtpSettings(d, channels, FENWA_RTP_CHANNELS);
            for (int i = 0; i < FENWA_RTP_CHANNELS; ++i)
                cJSON_AddItemToObject(res, QStringLiteral("rtp%1").arg(i).toLatin1().constData(), rtpJson(channels[i]));
            return rc;
        };
    if (c == QLatin1String("set-rtp"))
        return [=](FenwaDevice *d, int, cJSON *) {
            QList<RtpSettings> channels;
            QString error;
            parseRtpArgument(a[0], &channels, &error);
            const QVector<RtpSettings> list = channels.toVector();
            return sdk->setRtpSettings(d, list.constData(), list.size());
        };
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
    addText(o, "mac", d->macText);
    addText(o, "name", d->name);
    addText(o, "type", d->type);
    addText(o, "ipMode", d->ipMode);
    addText(o, "version", d->version);
    addText(o, "ip", d->ip);
    addText(o, "gateway", d->gateway);
    addText(o, "netmask", d->netmask);
    addText(o, "dns1", d->dns1);
    addText(o, "dns2", d->dns2);
    addText(o, "sn", d->sn);
    addText(o, "uid", d->uid);
    addText(o, "linkMac", linkMac(d));
    addText(o, "linkAddress", linkAddress(d));
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
        cols << csvField(deviceField(d, QLatin1String(c)));
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
