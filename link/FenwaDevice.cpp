// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaDevice.h"

#include "FenwaJson.h"

#include <cJSON.h>
#include <cstdio>
#include <cstring>

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

FenwaDevice *FenwaDevice::fromSearchReply(const uint8_t mac[6], const uint8_t address[4], const cJSON *json)
{
    FenwaDevice *d = new FenwaDevice;
    std::memcpy(d->address, address, 4);
    d->ip = QString::asprintf("%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
    std::memcpy(d->mac, mac, 6);
    d->macText = QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                                   mac[4], mac[5]);
    if (json == nullptr || !cJSON_IsObject(json))
        return d;

    struct Field {
        const char *key;
        QString FenwaDevice::*field;
    };
    static const Field fields[] = {
        {"mac", &FenwaDevice::macText},   {"name", &FenwaDevice::name},
        {"type", &FenwaDevice::type},     {"deviceType", &FenwaDevice::type},
        {"ipMode", &FenwaDevice::ipMode}, {"IpMode", &FenwaDevice::ipMode},
        {"version", &FenwaDevice::version}, {"appVersion", &FenwaDevice::version},
        {"ip", &FenwaDevice::ip},         {"sIp", &FenwaDevice::ip},
        {"gateway", &FenwaDevice::gateway}, {"netmask", &FenwaDevice::netmask},
        {"dns1", &FenwaDevice::dns1},     {"dns2", &FenwaDevice::dns2},
        {"sn", &FenwaDevice::sn},         {"uid", &FenwaDevice::uid},
    };

    for (const cJSON *item = json->child; item; item = item->next) {
        QString value;
        if (cJSON_IsNumber(item))
            value = jsonNumberText(item->valuedouble);
        else if (cJSON_IsString(item) && item->valuestring)
            value = QString::fromUtf8(item->valuestring);
        else
            continue;
        const char *key = item->string ? item->string : "";
        bool known = false;
        for (const Field &f : fields) {
            if (std::strcmp(f.key, key) == 0) {
                d->*(f.field) = value;
                known = true;
                break;
            }
        }
        if (!known)
            d->extras.insert(QString::fromUtf8(key), value);
    }
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
QString stringItem(const cJSON *json, const char *key)
{
    const cJSON *item = cJSON_GetObjectItem(json, key);
    if (cJSON_IsString(item) && item->valuestring)
        return QString::fromUtf8(item->valuestring);
    return QString();
}

int intItem(const cJSON *json, const char *key)
{
    const cJSON *item = cJSON_GetObjectItem(json, key);
    if (cJSON_IsNumber(item))
        return item->valueint;
    if (cJSON_IsTrue(item))
        return 1;
    return 0;
}
} // namespace

void SipSettings::fromJson(const cJSON *json)
{
    if (json == nullptr)
        return;
    serverHost = stringItem(json, "serverHost");
    serverPort = stringItem(json, "serverPort");
    displayName = stringItem(json, "displayName");
    account = stringItem(json, "account");
    password = stringItem(json, "password");
}

int SipSettings::toJson(char *buf, int size) const
{
    return formatBounded(buf, size,
                         "{\"serverHost\" : \"%s\",\"serverPort\" : \"%s\", \"account\" : \"%s\","
                         "\"password\" : \"%s\",\"displayName\" : \"%s\"}",
                         jsonEscape(serverHost).constData(), jsonEscape(serverPort).constData(),
                         jsonEscape(account).constData(), jsonEscape(password).constData(),
                         jsonEscape(displayName).constData());
}

void SipSettings::clear()
{
    account.clear();
    password.clear();
    displayName.clear();
    serverHost.clear();
    serverPort.clear();
}

bool SipSettings::isComplete() const
{
    return !serverHost.isEmpty() && !serverPort.isEmpty() && !account.isEmpty() && !password.isEmpty();
}

void RtpSettings::fromJson(const cJSON *json)
{
    if (json == nullptr) {
        enable = 0;
        rtpIP.clear();
        rtpPort = 0;
        return;
    }
    enable = intItem(json, "enable");
    rtpIP = stringItem(json, "rtpIP");
    rtpPort = intItem(json, "rtpPort");
}

int RtpSettings::toJson(char *buf, int size) const
{
    if (buf == nullptr || size <= 0)
        return -1;
    // cJSON ends a string at a zero character: the address would go out cut.
    const QByteArray ip = rtpIP.toUtf8();
    if (ip.contains('\0')) {
        buf[0] = 0;
        return -1;
    }
    cJSON *obj = cJSON_CreateObject();
    if (!obj) {
        buf[0] = 0;
        return -1;
    }
    cJSON_AddNumberToObject(obj, "enable", enable);
    cJSON_AddStringToObject(obj, "rtpIP", ip.constData());
    cJSON_AddNumberToObject(obj, "rtpPort", rtpPort);
    char *text = cJSON_Print(obj);
    cJSON_Delete(obj);
    if (!text) {
        buf[0] = 0;
        return -1;
    }
    const int n = formatBounded(buf, size, "%s", text);
    cJSON_free(text);
    return n;
}
