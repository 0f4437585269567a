// SPDX-License-Identifier: GPL-3.0-or-later
// A captured frame, whatever it holds, through everything a reply meets:
// the reply's fields, the search record, the SIP and RTP records and the
// search's keep rule. What a record writes back out must read back the same.
#include "FenwaSDK.h"
#include "FenwaTerminal.h"

#include <cJSON.h>
#include <cstdlib>

namespace {
QString textOf(const cJSON *json, const char *key)
{
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(json, key);
    return cJSON_IsString(item) ? QString::fromUtf8(item->valuestring) : QStringLiteral("<absent>");
}

void checkSip(const SipSettings &sip)
{
    char buf[FENWA_SIP_JSON_MAX];
    if (sip.toJson(buf, sizeof buf) < 0)
        return; // refused whole
    cJSON *json = cJSON_ParseWithOpts(buf, nullptr, true);
    if (!cJSON_IsObject(json) || textOf(json, "account") != sip.account || textOf(json, "password") != sip.password
        || textOf(json, "displayName") != sip.displayName || textOf(json, "serverHost") != sip.serverHost
        || textOf(json, "serverPort") != sip.serverPort)
        std::abort();
    cJSON_Delete(json);
}

void checkRtp(const RtpSettings &rtp)
{
    char buf[FENWA_RTP_JSON_MAX];
    if (rtp.toJson(buf, sizeof buf) < 0)
        return;
    cJSON *json = cJSON_ParseWithOpts(buf, nullptr, true);
    if (!cJSON_IsObject(json) || textOf(json, "rtpIP") != rtp.rtpIP)
        std::abort();
    cJSON_Delete(json);
    FenwaTerminal::rtpChannelText(rtp);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QPcapPacket *packet = new QPcapPacket(data, int(size));
    FenwaReply *reply = FenwaReply::fromPacket(packet);
    packet->release();
    reply->id();
    reply->result();
    reply->method();

    FenwaDevice *device = FenwaDevice::fromSearchReply(reply->mac, reply->address, reply->json);
    SipSettings sip[2];
    sip[0].fromJson(cJSON_GetObjectItem(reply->json, "sip0"));
    sip[1].fromJson(cJSON_GetObjectItem(reply->json, "sip1"));
    checkSip(sip[0]);
    checkSip(sip[1]);
    FenwaTerminal::sipAccepted(device, sip[0], sip[1]);
    QList<RtpSettings> channels;
    for (int i = 0; i < FENWA_RTP_CHANNELS; ++i) {
        RtpSettings rtp;
        rtp.fromJson(cJSON_GetObjectItem(reply->json, QByteArray("rtp" + QByteArray::number(i)).constData()));
        checkRtp(rtp);
        channels.append(rtp);
    }
    FenwaTerminal::rtpAccepted(device, channels);
    delete reply;

    // The search keeps or drops it beside a terminal of its own kind.
    const uint8_t mac[6] = {0x02, 0xfe, 0, 0, 0, 1}, address[4] = {192, 168, 1, 100};
    FenwaDevice *other = FenwaDevice::fromSearchReply(mac, address, nullptr);
    other->type = device->type;
    QList<FenwaDevice *> replies{device, other}, found;
    FenwaTerminal::keepSupported(&replies, &found);
    for (FenwaDevice *d : found)
        d->release();
    return 0;
}
