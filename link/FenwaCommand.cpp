// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaCommand.h"

#include "FenwaJson.h"
#include "QPcapFrame.h"
#include "QPcapPacket.h"

#include <cJSON.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

// ---- FenwaReply -------------------------------------------------------------

FenwaReply *FenwaReply::fromPacket(const QPcapPacket *packet)
{
    if (packet == nullptr)
        return nullptr;
    FenwaReply *reply = new FenwaReply;
    QPcapArpBody arp;
    if (parseArpBody(packet->frame(), packet->length(), &arp)) {
        std::memcpy(reply->mac, arp.senderMac, 6);
        putBigEndian32(reply->address, arp.senderIp);
    }
    int length = 0;
    const char *text = commandText(packet, &length);
    if (text && length > 0) {
        reply->text = QByteArray(text, length);
        reply->json = cJSON_ParseWithLength(text, static_cast<size_t>(length));
    }
    return reply;
}

FenwaReply::~FenwaReply()
{
    if (json)
        cJSON_Delete(json);
}

int FenwaReply::id() const
{
    if (!json)
        return -1;
    const cJSON *item = cJSON_GetObjectItem(json, "id");
    if (cJSON_IsNumber(item))
        return item->valueint;
    if (cJSON_IsString(item) && item->valuestring) {
        int value;
        if (std::sscanf(item->valuestring, "%d", &value) == 1)
            return value;
    }
    return -1;
}

int FenwaReply::result() const
{
    if (!json)
        return -1;
    const cJSON *item = cJSON_GetObjectItem(json, "result");
    if (cJSON_IsString(item) && item->valuestring && std::strcmp(item->valuestring, "success") == 0)
        return 0;
    return -1;
}

const char *FenwaReply::resultText() const
{
    const cJSON *item = json ? cJSON_GetObjectItem(json, "result") : nullptr;
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

const char *FenwaReply::method() const
{
    if (!json)
        return nullptr;
    const cJSON *item = cJSON_GetObjectItem(json, "method");
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

// ---- which commands may go out again ------------------------------------------

namespace {
struct ResendRule {
    const char *method;
    FenwaRequest::Resend resend;
};
// A terminal acts on every copy of a command it receives. Reads and
// settings leave it as one copy would; the others act again with each copy.
const ResendRule kResendRules[] = {
    {"GetRtpSettings", FenwaRequest::Resendable},
    {"GetSipSettings", FenwaRequest::Resendable},
    {"SetIp", FenwaRequest::Resendable},
    {"SetName", FenwaRequest::Resendable},
    {"SetSN", FenwaRequest::Resendable},
    {"SetAccountPassword", FenwaRequest::Resendable},
    {"SetServer", FenwaRequest::Resendable},
    {"SetDeviceVolume", FenwaRequest::Resendable},
    {"SetDeviceInfo", FenwaRequest::Resendable},
    {"SetSipSettings", FenwaRequest::Resendable},
    {"SetRtpSettings", FenwaRequest::Resendable},
    {"reboot", FenwaRequest::Once},       // a second restart
    {"ResetDefault", FenwaRequest::Once}, // wipes what was set since the first
    {"PlayVolume", FenwaRequest::Once},   // a second sound
    // Its copies would chase a terminal that has moved: confirmed by its
    // answer or by a search instead.
    {"SetMac", FenwaRequest::Once},
};

// Text arguments are JSON-escaped before they meet a template.
struct Esc {
    explicit Esc(const QString &s) : bytes(jsonEscape(s)) {}
    const char *c() const { return bytes.constData(); }
    QByteArray bytes;
};

// A command that carries nothing but its method.
FenwaRequest bare(const char *method)
{
    return FenwaRequest(method, [method](char *buf, int id) {
        return formatBounded(buf, FenwaRequest::COMMAND_BUFFER, "{\"id\":%d,\"method\":\"%s\"}", id, method);
    });
}
} // namespace

FenwaRequest::Resend FenwaRequest::resendOf(const char *method)
{
    for (const ResendRule &rule : kResendRules)
        if (method && std::strcmp(rule.method, method) == 0)
            return rule.resend;
    return Once;
}

FenwaRequest::FenwaRequest(const char *method, Text text)
    : name(method), build(std::move(text)), resend(resendOf(method))
{
}

int FenwaRequest::textFor(char *buf, int id) const
{
    if (!build) {
        buf[0] = 0;
        return -1;
    }
    return build(buf, id);
}

bool FenwaRequest::fits() const
{
    char buf[COMMAND_BUFFER];
    return textFor(buf, LONGEST_ID) >= 0;
}

// ---- the commands ----------------------------------------------------------------

FenwaRequest FenwaRequest::getRtpSettings()
{
    return bare("GetRtpSettings");
}

FenwaRequest FenwaRequest::getSipSettings()
{
    return bare("GetSipSettings");
}

FenwaRequest FenwaRequest::reboot()
{
    return bare("reboot");
}

FenwaRequest FenwaRequest::resetDefault()
{
    return bare("ResetDefault");
}

FenwaRequest FenwaRequest::playVolume()
{
    return bare("PlayVolume");
}

FenwaRequest FenwaRequest::setIpDhcp()
{
    FenwaRequest r("SetIp", [](char *buf, int id) {
        return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetIp\",\"IpMode\":\"dhcp\"}", id);
    });
    r.holds = [](const FenwaDevice &seen) { return seen.ipMode == QLatin1String("dhcp"); };
    return r;
}

FenwaRequest FenwaRequest::setIpStatic(const QString &ip, const QString &gateway, const QString &netmask,
                                       const QString &dns1, const QString &dns2)
{
    FenwaRequest r("SetIp", [=](char *buf, int id) {
        return formatBounded(buf, COMMAND_BUFFER,
                             "{\"id\":%d,\"method\":\"SetIp\",\"IpMode\":\"static\",\"ip\":\"%s\",\"gateway\":\"%s\","
                             "\"netmask\":\"%s\",\"dns1\":\"%s\",\"dns2\":\"%s\"}",
                             id, Esc(ip).c(), Esc(gateway).c(), Esc(netmask).c(), Esc(dns1).c(), Esc(dns2).c());
    });
    r.holds = [=](const FenwaDevice &seen) {
        return seen.ipMode == QLatin1String("static") && seen.ip == ip && seen.gateway == gateway
            && seen.netmask == netmask && seen.dns1 == dns1 && seen.dns2 == dns2;
    };
    return r;
}

FenwaRequest FenwaRequest::setName(const QString &name)
{
    FenwaRequest r("SetName", [name](char *buf, int id) {
        return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetName\",\"name\":\"%s\"}", id,
                             Esc(name).c());
    });
    r.holds = [name](const FenwaDevice &seen) { return seen.name == name; };
    return r;
}

FenwaRequest FenwaRequest::setMac(const QString &mac)
{
    FenwaRequest r("SetMac", [mac](char *buf, int id) {
        return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetMac\",\"mac\":\"%s\"}", id,
                             Esc(mac).c());
    });
    // The terminal may already answer from the MAC it was given, and a
    // search finds it there once it took it.
    r.hasNewMac = FenwaDevice::parseMac(mac, r.newMac);
    return r;
}

FenwaRequest FenwaRequest::setSn(const QString &sn)
{
    FenwaRequest r("SetSN", [sn](char *buf, int id) {
        return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetSN\",\"sn\":\"%s\"}", id, Esc(sn).c());
    });
    r.holds = [sn](const FenwaDevice &seen) { return seen.sn == sn; };
    return r;
}

FenwaRequest FenwaRequest::setAccountPassword(const QString &account, const QString &password)
{
    FenwaRequest r("SetAccountPassword", [=](char *buf, int id) {
        return formatBounded(buf, COMMAND_BUFFER,
                             "{\"id\":%d,\"method\":\"SetAccountPassword\", \"account\":\"%s\", \"password\":\"%s\"}",
                             id, Esc(account).c(), Esc(password).c());
    });
    r.holds = [=](const FenwaDevice &seen) { return seen.account() == account && seen.password() == password; };
    return r;
}

FenwaRequest FenwaRequest::setServer(const QString &serverIp, int serverPort)
{
    return FenwaRequest("SetServer", [=](char *buf, int id) {
        return formatBounded(buf, COMMAND_BUFFER,
                             "{\"id\":%d,\"method\":\"SetServer\",\"serverIp\":\"%s\",\"serverPort\":%d}", id,
                             Esc(serverIp).c(), serverPort);
    });
}

FenwaRequest FenwaRequest::setDeviceVolume(int micVolume, int outVolume, int autoMute)
{
    FenwaRequest r("SetDeviceVolume", [=](char *buf, int id) {
        return formatBounded(
            buf, COMMAND_BUFFER,
            "{\"id\":%d,\"method\":\"SetDeviceVolume\", \"micVolume\":%d, \"outVolume\":%d, \"autoMute\":%d}", id,
            micVolume, outVolume, autoMute);
    });
    r.holds = [=](const FenwaDevice &seen) {
        return seen.extra(QStringLiteral("micVolume")) == QString::number(micVolume)
            && seen.extra(QStringLiteral("outVolume")) == QString::number(outVolume)
            && seen.extra(QStringLiteral("autoMute")) == QString::number(autoMute);
    };
    return r;
}

FenwaRequest FenwaRequest::setDeviceInfo(const QString &areaCode, const QString &number, const QString &name,
                                         int powerLevel, const QString &resourceTypeSequenceCode,
                                         const QString &resourceSonTypeSequenceCode, const QString &resourceTypeCode,
                                         const QString &resourceSonTypeCode)
{
    return FenwaRequest("SetDeviceInfo", [=](char *buf, int id) {
        return formatBounded(
            buf, COMMAND_BUFFER,
            "{\"id\":%d,\"method\":\"SetDeviceInfo\",\"areaCode\":\"%s\",\"number\":\"%s\",\"name\":\"%s\","
            "\"powerLevel\":%d,\"resourceTypeSequenceCode\":\"%s\",\"resourceSonTypeSequenceCode\":\"%s\","
            "\"resourceTypeCode\":\"%s\",\"resourceSonTypeCode\":\"%s\"}",
            id, Esc(areaCode).c(), Esc(number).c(), Esc(name).c(), powerLevel, Esc(resourceTypeSequenceCode).c(),
            Esc(resourceSonTypeSequenceCode).c(), Esc(resourceTypeCode).c(), Esc(resourceSonTypeCode).c());
    });
}

FenwaRequest FenwaRequest::setSipSettings(const SipSettings &sip0, const SipSettings &sip1)
{
    return FenwaRequest("SetSipSettings", [=](char *buf, int id) {
        char json0[FENWA_SIP_JSON_MAX];
        char json1[FENWA_SIP_JSON_MAX];
        if (sip0.toJson(json0, sizeof json0) < 0 || sip1.toJson(json1, sizeof json1) < 0) {
            buf[0] = 0;
            return -1;
        }
        return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetSipSettings\",\"sip0\":%s,\"sip1\":%s}",
                             id, json0, json1);
    });
}

FenwaRequest FenwaRequest::setRtpSettings(const QVector<RtpSettings> &list)
{
    return FenwaRequest("SetRtpSettings", [list](char *buf, int id) {
        const int size = COMMAND_BUFFER;
        const int entries = std::min<int>(list.size(), FENWA_RTP_CHANNELS);
        // No channel would leave "...\"SetRtpSettings\",}": not JSON.
        int length = entries > 0 ? formatBounded(buf, size, "{\"id\":%d,\"method\":\"SetRtpSettings\",", id) : -1;
        for (int i = 0; length >= 0 && i < entries; ++i) {
            char json[FENWA_RTP_JSON_MAX];
            if (list[i].toJson(json, sizeof json) < 0) {
                length = -1;
                break;
            }
            // Commas only between entries, whatever the list's length.
            const int n = formatBounded(buf + length, size - length, "\"rtp%d\":%s%s", i, json,
                                        i + 1 < entries ? "," : "");
            length = n < 0 ? -1 : length + n;
        }
        if (length >= 0) {
            const int n = formatBounded(buf + length, size - length, "}");
            length = n < 0 ? -1 : length + n;
        }
        if (length < 0)
            buf[0] = 0;
        return length;
    });
}

void FenwaRequest::readSip(const FenwaReply &reply, SipSettings *sip0, SipSettings *sip1)
{
    if (sip0)
        sip0->fromJson(cJSON_GetObjectItem(reply.json, "sip0"));
    if (sip1)
        sip1->fromJson(cJSON_GetObjectItem(reply.json, "sip1"));
}

void FenwaRequest::readRtp(const FenwaReply &reply, RtpSettings *list, int count)
{
    for (int i = 0; i < FENWA_RTP_CHANNELS && i < count && list; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "rtp%d", i);
        list[i].fromJson(cJSON_GetObjectItem(reply.json, key));
    }
}
