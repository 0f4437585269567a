// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaDevice.h"

#include "FenwaJson.h"
#include "FenwaTerminal.h"
#include "OrbUtils/OrbTranslate.h"

#include <cJSON.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

FenwaDevice::FenwaDevice() = default;

void FenwaDevice::release()
{
    if (refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

int FenwaDevice::extraInt(const QString &key) const
{
    bool ok = false;
    const int value = extra(key).toInt(&ok, 10);
    return ok ? value : 0;
}

namespace {
// The first bytes of a UTF-8 text, at most max, cut at a character.
QString cutUtf8(const char *text, int max, bool *cut)
{
    int n = int(strnlen(text, size_t(max) + 1));
    if (n > max) {
        *cut = true;
        n = max;
        while (n > 0 && (uchar(text[n]) & 0xc0) == 0x80)
            --n; // inside a character: leave it out whole
    }
    return QString::fromUtf8(text, n);
}
} // namespace

FenwaDevice *FenwaDevice::fromSearchReply(const uint8_t mac[6], const uint8_t address[4], const cJSON *json,
                                          bool *cutOut)
{
    FenwaDevice *d = new FenwaDevice;
    std::memcpy(d->address, address, 4);
    d->ip = QString::asprintf("%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
    std::memcpy(d->mac, mac, 6);
    d->macText = FenwaTerminal::linkMacText(mac);
    if (json == nullptr || !cJSON_IsObject(json))
        return d;

    // An address text is kept whole or not at all: cut, it could read as
    // another address. The other texts are cut to their room.
    struct Field {
        const char *key;
        QString FenwaDevice::*field;
        int max;
        bool whole;
    };
    static const Field fields[] = {
        {"mac", &FenwaDevice::macText, FENWA_MAC_TEXT_MAX, true},
        {"name", &FenwaDevice::name, FENWA_TEXT_MAX, false},
        {"type", &FenwaDevice::type, FENWA_LABEL_MAX, false},
        {"deviceType", &FenwaDevice::type, FENWA_LABEL_MAX, false},
        {"ipMode", &FenwaDevice::ipMode, FENWA_LABEL_MAX, false},
        {"IpMode", &FenwaDevice::ipMode, FENWA_LABEL_MAX, false},
        {"version", &FenwaDevice::version, FENWA_LABEL_MAX, false},
        {"appVersion", &FenwaDevice::version, FENWA_LABEL_MAX, false},
        {"ip", &FenwaDevice::ip, FENWA_IP_TEXT_MAX, true},
        {"sIp", &FenwaDevice::ip, FENWA_IP_TEXT_MAX, true},
        {"gateway", &FenwaDevice::gateway, FENWA_IP_TEXT_MAX, true},
        {"netmask", &FenwaDevice::netmask, FENWA_IP_TEXT_MAX, true},
        {"dns1", &FenwaDevice::dns1, FENWA_IP_TEXT_MAX, true},
        {"dns2", &FenwaDevice::dns2, FENWA_IP_TEXT_MAX, true},
        {"sn", &FenwaDevice::sn, FENWA_TEXT_MAX, false},
        {"uid", &FenwaDevice::uid, FENWA_LABEL_MAX, false},
    };
    // Items the pages read, kept whatever else the reply holds.
    static const char *const used[] = {"account", "password", "micVolume", "outVolume", "autoMute"};

    bool cut = false;
    int others = 0;
    for (const cJSON *item = json->child; item; item = item->next) {
        const bool isNumber = cJSON_IsNumber(item);
        if (!isNumber && !(cJSON_IsString(item) && item->valuestring))
            continue;
        // A number's text is short whatever the number.
        const QByteArray number = isNumber ? jsonNumberText(item->valuedouble).toLatin1() : QByteArray();
        const char *text = isNumber ? number.constData() : item->valuestring;
        const char *key = item->string ? item->string : "";
        const Field *field = std::find_if(std::begin(fields), std::end(fields),
                                          [key](const Field &f) { return std::strcmp(f.key, key) == 0; });
        if (field != std::end(fields)) {
            bool longer = false;
            const QString value = cutUtf8(text, field->max, &longer);
            cut = cut || longer;
            if (!(longer && field->whole))
                d->*(field->field) = value;
            continue;
        }
        const bool isUsed = std::any_of(std::begin(used), std::end(used),
                                        [key](const char *k) { return std::strcmp(k, key) == 0; });
        const QString name = cutUtf8(key, FENWA_LABEL_MAX, &cut);
        if (!isUsed && !d->extras.contains(name) && others == FENWA_EXTRAS_MAX) {
            cut = true;
            continue;
        }
        others += isUsed || d->extras.contains(name) ? 0 : 1;
        d->extras.insert(name, cutUtf8(text, FENWA_TEXT_MAX, &cut));
    }
    if (cutOut)
        *cutOut = cut;
    return d;
}

bool FenwaDevice::setMacFromText(const QString &text)
{
    return parseMac(text, mac);
}

bool FenwaDevice::parseMac(const QString &text, uint8_t out[6])
{
    const QByteArray t = text.toLatin1();
    unsigned v[6];
    int n = std::sscanf(t.constData(), "%x%*c%x%*c%x%*c%x%*c%x%*c%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    if (n != 6)
        n = std::sscanf(t.constData(), "%X%*c%X%*c%X%*c%X%*c%X%*c%X", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    if (n != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        out[i] = static_cast<uint8_t>(v[i] & 0xff);
    return true;
}

namespace {
void note(QString *why, const QString &text)
{
    if (why->isEmpty())
        *why = text;
}

// The members of json under the form's keys (nullptr for a key it lacks),
// noting in *why the first way json is not exactly the form.
template <size_t N>
void formItems(const cJSON *json, const char *const (&keys)[N], const cJSON *(&items)[N], QString *why)
{
    if (!cJSON_IsObject(json)) {
        note(why, translate("not a JSON object"));
        return;
    }
    for (const cJSON *item = json->child; item; item = item->next) {
        const char *name = item->string ? item->string : "";
        size_t k = 0;
        while (k < N && strcasecmp(keys[k], name) != 0)
            ++k;
        if (k == N || std::strcmp(keys[k], name) != 0)
            note(why, translate("unknown field %1").arg(QString::fromUtf8(name)));
        else if (items[k])
            note(why, translate("%1 is given twice").arg(QLatin1String(name)));
        if (k < N && !items[k])
            items[k] = item;
    }
    for (size_t k = 0; k < N; ++k)
        if (!items[k])
            note(why, translate("%1 is missing").arg(QLatin1String(keys[k])));
}

bool wholeNumber(const cJSON *item, double low, double high)
{
    return cJSON_IsNumber(item) && item->valuedouble == std::trunc(item->valuedouble) && item->valuedouble >= low
           && item->valuedouble <= high;
}

// As terminals' numbers have always been read: a number's whole part, true as 1.
int intItem(const cJSON *item)
{
    if (cJSON_IsNumber(item))
        return item->valueint;
    return cJSON_IsTrue(item) ? 1 : 0;
}

int copyBounded(const QByteArray &text, char *buf, int size)
{
    if (text.isEmpty()) {
        if (buf && size > 0)
            buf[0] = 0;
        return -1;
    }
    return formatBounded(buf, size, "%s", text.constData());
}
} // namespace

bool SipSettings::fromJson(const cJSON *json, QString *why)
{
    QString unasked;
    why = why ? why : &unasked;
    static const char *const keys[] = {"serverHost", "serverPort", "account", "password", "displayName"};
    QString SipSettings::*const fields[] = {&SipSettings::serverHost, &SipSettings::serverPort, &SipSettings::account,
                                            &SipSettings::password, &SipSettings::displayName};
    const cJSON *items[5] = {};
    formItems(json, keys, items, why);
    if (json == nullptr)
        return false;
    for (int k = 0; k < 5; ++k) {
        const cJSON *item = items[k];
        const bool port = fields[k] == &SipSettings::serverPort;
        if (cJSON_IsString(item)) {
            this->*fields[k] = QString::fromUtf8(item->valuestring);
        } else if (port && wholeNumber(item, 0, 65535)) {
            this->*fields[k] = QString::number(item->valueint);
        } else {
            (this->*fields[k]).clear();
            if (item)
                note(why, port ? translate("%1 must be a text or a port number 0 to 65535").arg(QLatin1String(keys[k]))
                               : translate("%1 must be a text").arg(QLatin1String(keys[k])));
        }
    }
    return why->isEmpty();
}

QByteArray SipSettings::toJson() const
{
    // The members' order and spacing are what terminals have always been sent.
    return "{\"serverHost\" : \"" + jsonEscape(serverHost) + "\",\"serverPort\" : \"" + jsonEscape(serverPort)
           + "\", \"account\" : \"" + jsonEscape(account) + "\",\"password\" : \"" + jsonEscape(password)
           + "\",\"displayName\" : \"" + jsonEscape(displayName) + "\"}";
}

int SipSettings::toJson(char *buf, int size) const
{
    return copyBounded(toJson(), buf, size);
}

bool SipSettings::isComplete() const
{
    return !serverHost.isEmpty() && !serverPort.isEmpty() && !account.isEmpty() && !password.isEmpty();
}

bool RtpSettings::fromJson(const cJSON *json, QString *why)
{
    QString unasked;
    why = why ? why : &unasked;
    static const char *const keys[] = {"enable", "rtpIP", "rtpPort"};
    const cJSON *items[3] = {};
    formItems(json, keys, items, why);
    const cJSON *on = items[0], *ip = items[1], *port = items[2];
    enable = intItem(on);
    rtpIP = cJSON_IsString(ip) ? QString::fromUtf8(ip->valuestring) : QString();
    rtpPort = intItem(port);
    if (on && !cJSON_IsBool(on) && !wholeNumber(on, 0, 1))
        note(why, translate("%1 must be 0, 1, true or false").arg(QLatin1String(keys[0])));
    if (ip && !cJSON_IsString(ip))
        note(why, translate("%1 must be a text").arg(QLatin1String(keys[1])));
    if (port && !wholeNumber(port, 0, 65535))
        note(why, translate("%1 must be a port number 0 to 65535").arg(QLatin1String(keys[2])));
    return why->isEmpty();
}

QByteArray RtpSettings::toJson() const
{
    const QByteArray ip = rtpIP.toUtf8();
    if (ip.contains('\0'))
        return QByteArray();
    cJSON *obj = cJSON_CreateObject();
    if (!obj)
        return QByteArray();
    cJSON_AddNumberToObject(obj, "enable", enable);
    cJSON_AddStringToObject(obj, "rtpIP", ip.constData());
    cJSON_AddNumberToObject(obj, "rtpPort", rtpPort);
    char *text = cJSON_Print(obj);
    cJSON_Delete(obj);
    const QByteArray out(text);
    cJSON_free(text);
    return out;
}

int RtpSettings::toJson(char *buf, int size) const
{
    return copyBounded(toJson(), buf, size);
}
