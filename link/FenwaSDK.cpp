// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSDK.h"

#include "FenwaJson.h"
#include "FenwaTerminal.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"

#include <QRandomGenerator>
#include <QtDebug>
#include <cJSON.h>
#include <climits>
#include <cstdio>
#include <algorithm>
#include <cstring>

namespace {
const uint8_t kBroadcastMac[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
const uint8_t kBroadcastIp[4] = {0xff, 0xff, 0xff, 0xff};
// Ids stay within what every reader of a JSON number as an int can hold.
constexpr int kIdLimit = INT_MAX;
static_assert(kIdLimit - 1 < 10LL * FenwaSDK::LONGEST_ID, "an id with more digits than LONGEST_ID");

bool sameMac(const uint8_t *a, const uint8_t *b)
{
    return a && b && std::memcmp(a, b, 6) == 0;
}

// Text arguments are JSON-escaped before they meet a template.
struct Esc {
    explicit Esc(const QString &s) : bytes(jsonEscape(s)) {}
    const char *c() const { return bytes.constData(); }
    QByteArray bytes;
};
} // namespace

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
    if (text && length > 0)
        reply->json = cJSON_ParseWithLength(text, static_cast<size_t>(length));
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

const char *FenwaReply::method() const
{
    if (!json)
        return nullptr;
    const cJSON *item = cJSON_GetObjectItem(json, "method");
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

// ---- FenwaSDK: lifecycle and raw access --------------------------------------

class FenwaSDK::Collecting
{
public:
    Collecting(FenwaSDK *sdk, bool fresh) : sdk(sdk)
    {
        if (fresh)
            sdk->replyQueue.clear();
        sdk->collectors.fetch_add(1);
    }
    ~Collecting() { sdk->collectors.fetch_sub(1); }

private:
    FenwaSDK *sdk;
};

FenwaSDK::FenwaSDK() : pcap(new QPcap), nextId(int(QRandomGenerator::system()->bounded(kIdLimit)))
{
    std::memset(&adapter, 0, sizeof adapter);
    replyQueue.setCapacity(REPLY_QUEUE_MAX);
    pcap->setObserver(this);
}

int FenwaSDK::takeId()
{
    const int id = nextId;
    nextId = nextId >= kIdLimit - 1 ? 0 : nextId + 1;
    return id;
}

FenwaSDK::~FenwaSDK()
{
    pcap.reset(); // stops every link thread before the queue goes
    replyQueue.clear();
}

int FenwaSDK::open(const QPcapAdapter *newAdapter)
{
    // nextId counts on: a late reply to a command sent before the reopen
    // must not answer one sent after it.
    if (newAdapter) {
        adapter = *newAdapter;
        hasAdapter = true;
    } else {
        std::memset(&adapter, 0, sizeof adapter);
        hasAdapter = false;
    }
    replyQueue.clear();
    pcap->open(newAdapter);
    return 0;
}

void FenwaSDK::close()
{
    pcap->close();
    hasAdapter = false;
    std::memset(&adapter, 0, sizeof adapter);
    replyQueue.clear();
}

void FenwaSDK::cancel()
{
    waiting.store(false);
    replyQueue.wake();
}

void FenwaSDK::setArpListener(FenwaArpListener *listener)
{
    QMutexLocker lock(&arpMutex);
    arpListener = listener;
}

int FenwaSDK::send(const uint8_t mac[6], const uint8_t address[4], const char *text, int length)
{
    if (length < 0 || length > QPCAP_TEXT_MAX || (length > 0 && text == nullptr)) {
        ORB_LOG("refused to send a command text of %d bytes (a frame carries at most %d)\n", length,
                QPCAP_TEXT_MAX);
        return -1;
    }
    if (!hasAdapter || !pcap->waitOpen(LINK_SETTLE_MS)) {
        ORB_LOG("not sent (%s): %.*s\n", hasAdapter ? "the link is not open" : "no network adapter", length,
                text ? text : "");
        return -1;
    }
    uint8_t header[QPCAP_HEADER_SIZE];
    buildCommandHeader(header, length);
    QPcapPacket *packet = new QPcapPacket;
    buildFrame(packet, adapter.hardwareAddress, adapter.address, mac, address, header, QPCAP_HEADER_SIZE,
               reinterpret_cast<const uint8_t *>(text), length);
    pcap->send(packet);
    if (commandObserver)
        commandObserver->onSendCommand(this, text);
    qDebug("send %s", FenwaTerminal::maskedText(text).constData());
    return 0;
}

FenwaReply *FenwaSDK::waitReply(int id, int timeoutMs, const uint8_t *from, const uint8_t *alsoFrom)
{
    const Collecting collecting(this, false);
    const qint64 deadline = timeoutMs < 0 ? -1 : QPcapPacketQueue::now() + timeoutMs;
    waiting.store(true);
    while (waiting.load()) {
        QPcapPacket *packet = replyQueue.popWait(deadline, &waiting);
        if (packet == nullptr)
            break; // deadline passed or cancelled
        FenwaReply *reply = FenwaReply::fromPacket(packet);
        packet->release();
        if (reply->id() == id && (from == nullptr || sameMac(reply->mac, from) || sameMac(reply->mac, alsoFrom)))
            return reply;
        delete reply; // late, foreign, or from another terminal
    }
    return nullptr;
}

void FenwaSDK::onPcapPacket(QPcapPacket *packet)
{
    QPcapEthernetHeader eth;
    if (!parseEthernetHeader(packet->frame(), packet->length(), &eth))
        return;
    if (hasAdapter && std::memcmp(eth.source, adapter.hardwareAddress, 6) == 0)
        return; // our own transmission
    if (!isCommandFrame(packet->frame(), packet->length())) {
        QPcapArpBody arp;
        if (hasAdapter && isArpReplyTo(packet->frame(), packet->length(), adapter.hardwareAddress, &arp)) {
            QMutexLocker lock(&arpMutex);
            if (arpListener)
                arpListener->onArpReply(arp);
        }
        return;
    }
    int length = 0;
    const char *text = commandText(packet, &length);
    if (text == nullptr)
        text = "";
    qDebug("recv %s", FenwaTerminal::maskedText(text).constData());
    if (commandObserver)
        commandObserver->onRecvCommand(this, text);
    if (collectors.load() == 0)
        return; // nothing waits: a flood must not pile up
    packet->addRef();
    replyQueue.push(packet);
}

// ---- commands ----------------------------------------------------------------

int FenwaSDK::refuse(const char *method, int id)
{
    failure = translate("too long to send");
    ORB_LOG("%s (id %d) refused: its text would not fit in %d bytes; nothing sent\n", method, id,
            COMMAND_BUFFER - 1);
    return -1;
}

template <typename Fill>
int FenwaSDK::exchange(FenwaDevice *device, int id, const char *text, int length, Fill fill,
                       const uint8_t *alsoFrom)
{
    failure = translate("not sent");
    if (device == nullptr)
        return -1;
    // Collecting from before the send: a quick reply must find a queue.
    const Collecting collecting(this, true);
    if (send(device->mac, device->address, text, length) != 0)
        return -1;
    FenwaReply *reply = waitReply(id, replyTimeoutMs, device->mac, alsoFrom);
    if (reply == nullptr) {
        failure = translate("no answer");
        return -1;
    }
    fill(reply);
    const int result = reply->result();
    const cJSON *item = cJSON_GetObjectItem(reply->json, "result");
    failure = result == 0 ? QString()
                          : translate("refused: %1").arg(cJSON_IsString(item) && item->valuestring
                                                             ? QString::fromUtf8(item->valuestring)
                                                             : translate("no result"));
    delete reply;
    return result;
}

int FenwaSDK::simple(FenwaDevice *device, const char *method, int id, int length, const char *text,
                     const uint8_t *alsoFrom)
{
    if (length < 0)
        return refuse(method, id);
    return exchange(device, id, text, length, [](FenwaReply *) {}, alsoFrom);
}

int FenwaSDK::search(QList<FenwaDevice *> *out, int timeMs)
{
    if (out)
        out->clear();
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text,
                                     "{\"id\":%d,\"method\":\"search\",\"user\":\"Windows Wendtix\"}", id);
    const Collecting collecting(this, true);
    if (send(kBroadcastMac, kBroadcastIp, text, length) != 0)
        return -1;

    const qint64 deadline = timeMs < 0 ? -1 : QPcapPacketQueue::now() + timeMs;
    waiting.store(true);
    while (waiting.load() && (deadline < 0 || QPcapPacketQueue::now() < deadline)) {
        QPcapPacket *packet = replyQueue.popWait(deadline, &waiting);
        if (packet == nullptr)
            continue; // the loop condition decides
        FenwaReply *reply = FenwaReply::fromPacket(packet);
        packet->release();
        const char *method = reply->method();
        if (reply->id() == id && method && std::strcmp(method, "search") == 0 && out)
            out->append(FenwaDevice::fromSearchReply(reply->mac, reply->address, reply->json));
        delete reply;
    }
    return 0;
}

int FenwaSDK::getRtpSettings(FenwaDevice *device, RtpSettings *list, int count)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text, "{\"id\":%d,\"method\":\"GetRtpSettings\"}", id);
    return exchange(device, id, text, length, [&](FenwaReply *reply) {
        for (int i = 0; i < FENWA_RTP_CHANNELS && i < count && list; ++i) {
            char key[16];
            std::snprintf(key, sizeof key, "rtp%d", i);
            list[i].fromJson(cJSON_GetObjectItem(reply->json, key));
        }
    });
}

int FenwaSDK::getSipSettings(FenwaDevice *device, SipSettings *sip0, SipSettings *sip1)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text, "{\"id\":%d,\"method\":\"GetSipSettings\"}", id);
    return exchange(device, id, text, length, [&](FenwaReply *reply) {
        if (sip0)
            sip0->fromJson(cJSON_GetObjectItem(reply->json, "sip0"));
        if (sip1)
            sip1->fromJson(cJSON_GetObjectItem(reply->json, "sip1"));
    });
}

int FenwaSDK::reboot(FenwaDevice *device)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text, "{\"id\":%d,\"method\":\"reboot\"}", id);
    return simple(device, "reboot", id, length, text);
}

int FenwaSDK::resetDefault(FenwaDevice *device)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text, "{\"id\":%d,\"method\":\"ResetDefault\"}", id);
    return simple(device, "ResetDefault", id, length, text);
}

int FenwaSDK::playVolume(FenwaDevice *device)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text, "{\"id\":%d,\"method\":\"PlayVolume\"}", id);
    return simple(device, "PlayVolume", id, length, text);
}

int FenwaSDK::setIpDhcp(FenwaDevice *device)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length =
        formatBounded(text, sizeof text, "{\"id\":%d,\"method\":\"SetIp\",\"IpMode\":\"dhcp\"}", id);
    return simple(device, "SetIp", id, length, text);
}

int FenwaSDK::setIpStatic(FenwaDevice *device, const QString &ip, const QString &gateway, const QString &netmask,
                          const QString &dns1, const QString &dns2)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(
        text, sizeof text,
        "{\"id\":%d,\"method\":\"SetIp\",\"IpMode\":\"static\",\"ip\":\"%s\",\"gateway\":\"%s\","
        "\"netmask\":\"%s\",\"dns1\":\"%s\",\"dns2\":\"%s\"}",
        id, Esc(ip).c(), Esc(gateway).c(), Esc(netmask).c(), Esc(dns1).c(), Esc(dns2).c());
    return simple(device, "SetIp", id, length, text);
}

int FenwaSDK::setNameText(char *buf, int id, const QString &name)
{
    return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetName\",\"name\":\"%s\"}", id,
                         Esc(name).c());
}

int FenwaSDK::setName(FenwaDevice *device, const QString &name)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    return simple(device, "SetName", id, setNameText(text, id, name), text);
}

int FenwaSDK::setMac(FenwaDevice *device, const QString &mac)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length =
        formatBounded(text, sizeof text, "{\"id\":%d,\"method\":\"SetMac\",\"mac\":\"%s\"}", id, Esc(mac).c());
    // The terminal may already answer from the MAC it was given.
    uint8_t newMac[6];
    const bool parsed = FenwaDevice::parseMac(mac, newMac);
    return simple(device, "SetMac", id, length, text, parsed ? newMac : nullptr);
}

int FenwaSDK::setSnText(char *buf, int id, const QString &sn)
{
    return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetSN\",\"sn\":\"%s\"}", id, Esc(sn).c());
}

int FenwaSDK::setSn(FenwaDevice *device, const QString &sn)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    return simple(device, "SetSN", id, setSnText(text, id, sn), text);
}

int FenwaSDK::setAccountPasswordText(char *buf, int id, const QString &account, const QString &password)
{
    return formatBounded(buf, COMMAND_BUFFER,
                         "{\"id\":%d,\"method\":\"SetAccountPassword\", \"account\":\"%s\", \"password\":\"%s\"}", id,
                         Esc(account).c(), Esc(password).c());
}

int FenwaSDK::setAccountPassword(FenwaDevice *device, const QString &account, const QString &password)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    return simple(device, "SetAccountPassword", id, setAccountPasswordText(text, id, account, password), text);
}

int FenwaSDK::setServerText(char *buf, int id, const QString &serverIp, int serverPort)
{
    return formatBounded(buf, COMMAND_BUFFER,
                         "{\"id\":%d,\"method\":\"SetServer\",\"serverIp\":\"%s\",\"serverPort\":%d}", id,
                         Esc(serverIp).c(), serverPort);
}

int FenwaSDK::setServer(FenwaDevice *device, const QString &serverIp, int serverPort)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    return simple(device, "SetServer", id, setServerText(text, id, serverIp, serverPort), text);
}

int FenwaSDK::setDeviceVolume(FenwaDevice *device, int micVolume, int outVolume, int autoMute)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(
        text, sizeof text,
        "{\"id\":%d,\"method\":\"SetDeviceVolume\", \"micVolume\":%d, \"outVolume\":%d, \"autoMute\":%d}", id,
        micVolume, outVolume, autoMute);
    return simple(device, "SetDeviceVolume", id, length, text);
}

int FenwaSDK::setDeviceInfoText(char *buf, int id, const QString &areaCode, const QString &number,
                                 const QString &name, int powerLevel, const QString &resourceTypeSequenceCode,
                                 const QString &resourceSonTypeSequenceCode, const QString &resourceTypeCode,
                                 const QString &resourceSonTypeCode)
{
    return formatBounded(
        buf, COMMAND_BUFFER,
        "{\"id\":%d,\"method\":\"SetDeviceInfo\",\"areaCode\":\"%s\",\"number\":\"%s\",\"name\":\"%s\","
        "\"powerLevel\":%d,\"resourceTypeSequenceCode\":\"%s\",\"resourceSonTypeSequenceCode\":\"%s\","
        "\"resourceTypeCode\":\"%s\",\"resourceSonTypeCode\":\"%s\"}",
        id, Esc(areaCode).c(), Esc(number).c(), Esc(name).c(), powerLevel, Esc(resourceTypeSequenceCode).c(),
        Esc(resourceSonTypeSequenceCode).c(), Esc(resourceTypeCode).c(), Esc(resourceSonTypeCode).c());
}

int FenwaSDK::setDeviceInfo(FenwaDevice *device, const QString &areaCode, const QString &number,
                            const QString &name, int powerLevel, const QString &resourceTypeSequenceCode,
                            const QString &resourceSonTypeSequenceCode, const QString &resourceTypeCode,
                            const QString &resourceSonTypeCode)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = setDeviceInfoText(text, id, areaCode, number, name, powerLevel, resourceTypeSequenceCode,
                                         resourceSonTypeSequenceCode, resourceTypeCode, resourceSonTypeCode);
    return simple(device, "SetDeviceInfo", id, length, text);
}

int FenwaSDK::setSipSettings(FenwaDevice *device, const SipSettings &sip0, const SipSettings &sip1)
{
    const int id = takeId();
    char json0[FENWA_SIP_JSON_MAX];
    char json1[FENWA_SIP_JSON_MAX];
    if (sip0.toJson(json0, sizeof json0) < 0 || sip1.toJson(json1, sizeof json1) < 0)
        return refuse("SetSipSettings", id);
    char text[COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text,
                                     "{\"id\":%d,\"method\":\"SetSipSettings\",\"sip0\":%s,\"sip1\":%s}", id,
                                     json0, json1);
    return simple(device, "SetSipSettings", id, length, text);
}

int FenwaSDK::setRtpSettings(FenwaDevice *device, const RtpSettings *list, int count)
{
    const int id = takeId();
    char text[COMMAND_BUFFER];
    int length = formatBounded(text, sizeof text, "{\"id\":%d,\"method\":\"SetRtpSettings\",", id);
    const int entries = list ? std::min<int>(count, FENWA_RTP_CHANNELS) : 0;
    if (entries <= 0) {
        // No channel would leave "...\"SetRtpSettings\",}": not JSON.
        ORB_LOG("SetRtpSettings (id %d) refused: no channel to write\n", id);
        return -1;
    }
    for (int i = 0; length >= 0 && i < entries; ++i) {
        char json[FENWA_RTP_JSON_MAX];
        if (list[i].toJson(json, sizeof json) < 0) {
            length = -1;
            break;
        }
        // Commas only between entries, whatever the list's length.
        const int n = formatBounded(text + length, static_cast<int>(sizeof text) - length, "\"rtp%d\":%s%s", i,
                                    json, i + 1 < entries ? "," : "");
        length = n < 0 ? -1 : length + n;
    }
    if (length >= 0) {
        const int n = formatBounded(text + length, static_cast<int>(sizeof text) - length, "}");
        length = n < 0 ? -1 : length + n;
    }
    return simple(device, "SetRtpSettings", id, length, text);
}
