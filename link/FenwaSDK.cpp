// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSDK.h"

#include "FenwaBatch.h"
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
#include <cmath>
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

// Whether a reply may come from where it came: the addressed terminal (or
// the MAC it was just given), or anyone when nothing was addressed.
bool acceptsSender(const FenwaReply *reply, const uint8_t *from, const uint8_t *alsoFrom)
{
    return (from == nullptr || sameMac(reply->mac, from) || sameMac(reply->mac, alsoFrom));
}

quint64 macKey(const uint8_t mac[6])
{
    quint64 key = 0;
    for (int i = 0; i < 6; ++i)
        key = (key << 8) | mac[i];
    return key;
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

// ---- FenwaRoundTrip ------------------------------------------------------------

void FenwaRoundTrip::sample(double ms)
{
    // RFC 6298: alpha 1/8, beta 1/4, the first sample seeds both.
    if (srtt < 0) {
        srtt = ms;
        rttvar = ms / 2;
        return;
    }
    rttvar = 0.75 * rttvar + 0.25 * std::fabs(srtt - ms);
    srtt = 0.875 * srtt + 0.125 * ms;
}

int FenwaRoundTrip::tryTimeMs() const
{
    if (srtt < 0)
        return TRY_FIRST_MS;
    const double rto = srtt + std::max(1.0, 4 * rttvar);
    return int(std::min<double>(TRY_MAX_MS, std::max<double>(TRY_MIN_MS, std::ceil(rto))));
}

int FenwaRoundTrip::waitAfter(int sends) const
{
    const int first = tryTimeMs();
    const int most = std::max<int>(first, BACKOFF_MAX_MS);
    qint64 wait = first;
    for (int i = 1; i < sends && wait < most; ++i)
        wait *= 2;
    return int(std::min<qint64>(wait, most));
}

// ---- FenwaRequest: the command texts ---------------------------------------------

int FenwaRequest::textFor(char *buf, int id) const
{
    if (!build) {
        buf[0] = 0;
        return -1;
    }
    return build(buf, id);
}

namespace {
// A command that carries nothing but its method.
FenwaRequest bare(const char *method)
{
    return FenwaRequest(method, [method](char *buf, int id) {
        return formatBounded(buf, FenwaSDK::COMMAND_BUFFER, "{\"id\":%d,\"method\":\"%s\"}", id, method);
    });
}
} // namespace

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
    return FenwaRequest("SetIp", [](char *buf, int id) {
        return formatBounded(buf, FenwaSDK::COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetIp\",\"IpMode\":\"dhcp\"}",
                             id);
    });
}

FenwaRequest FenwaRequest::setIpStatic(const QString &ip, const QString &gateway, const QString &netmask,
                                       const QString &dns1, const QString &dns2)
{
    return FenwaRequest("SetIp", [=](char *buf, int id) {
        return formatBounded(
            buf, FenwaSDK::COMMAND_BUFFER,
            "{\"id\":%d,\"method\":\"SetIp\",\"IpMode\":\"static\",\"ip\":\"%s\",\"gateway\":\"%s\","
            "\"netmask\":\"%s\",\"dns1\":\"%s\",\"dns2\":\"%s\"}",
            id, Esc(ip).c(), Esc(gateway).c(), Esc(netmask).c(), Esc(dns1).c(), Esc(dns2).c());
    });
}

FenwaRequest FenwaRequest::setName(const QString &name)
{
    return FenwaRequest("SetName", [name](char *buf, int id) { return FenwaSDK::setNameText(buf, id, name); });
}

FenwaRequest FenwaRequest::setMac(const QString &mac)
{
    FenwaRequest r("SetMac", [mac](char *buf, int id) {
        return formatBounded(buf, FenwaSDK::COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetMac\",\"mac\":\"%s\"}", id,
                             Esc(mac).c());
    });
    // The terminal may already answer from the MAC it was given.
    r.hasAlsoFrom = FenwaDevice::parseMac(mac, r.also);
    return r;
}

FenwaRequest FenwaRequest::setSn(const QString &sn)
{
    return FenwaRequest("SetSN", [sn](char *buf, int id) { return FenwaSDK::setSnText(buf, id, sn); });
}

FenwaRequest FenwaRequest::setAccountPassword(const QString &account, const QString &password)
{
    return FenwaRequest("SetAccountPassword", [=](char *buf, int id) {
        return FenwaSDK::setAccountPasswordText(buf, id, account, password);
    });
}

FenwaRequest FenwaRequest::setServer(const QString &serverIp, int serverPort)
{
    return FenwaRequest("SetServer", [=](char *buf, int id) {
        return FenwaSDK::setServerText(buf, id, serverIp, serverPort);
    });
}

FenwaRequest FenwaRequest::setDeviceVolume(int micVolume, int outVolume, int autoMute)
{
    return FenwaRequest("SetDeviceVolume", [=](char *buf, int id) {
        return formatBounded(
            buf, FenwaSDK::COMMAND_BUFFER,
            "{\"id\":%d,\"method\":\"SetDeviceVolume\", \"micVolume\":%d, \"outVolume\":%d, \"autoMute\":%d}", id,
            micVolume, outVolume, autoMute);
    });
}

FenwaRequest FenwaRequest::setDeviceInfo(const QString &areaCode, const QString &number, const QString &name,
                                         int powerLevel, const QString &resourceTypeSequenceCode,
                                         const QString &resourceSonTypeSequenceCode, const QString &resourceTypeCode,
                                         const QString &resourceSonTypeCode)
{
    return FenwaRequest("SetDeviceInfo", [=](char *buf, int id) {
        return FenwaSDK::setDeviceInfoText(buf, id, areaCode, number, name, powerLevel, resourceTypeSequenceCode,
                                           resourceSonTypeSequenceCode, resourceTypeCode, resourceSonTypeCode);
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
        return formatBounded(buf, FenwaSDK::COMMAND_BUFFER,
                             "{\"id\":%d,\"method\":\"SetSipSettings\",\"sip0\":%s,\"sip1\":%s}", id, json0, json1);
    });
}

FenwaRequest FenwaRequest::setRtpSettings(const QVector<RtpSettings> &list)
{
    return FenwaRequest("SetRtpSettings", [list](char *buf, int id) {
        const int size = FenwaSDK::COMMAND_BUFFER;
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

// ---- FenwaSDK: lifecycle and raw access --------------------------------------

void FenwaSDK::beginOperation()
{
    QMutexLocker lock(&awaitMutex);
    dropTakenLocked();
    operating = true;
    cancelled = false;
}

void FenwaSDK::endOperation()
{
    QMutexLocker lock(&awaitMutex);
    awaited.clear();
    awaiting.store(false);
    dropTakenLocked();
    operating = false;
    cancelled = false;
}

FenwaSDK::FenwaSDK() : pcap(new QPcap), nextId(int(QRandomGenerator::system()->bounded(kIdLimit)))
{
    std::memset(&adapter, 0, sizeof adapter);
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
    QMutexLocker lock(&awaitMutex);
    dropTakenLocked();
}

void FenwaSDK::dropTakenLocked()
{
    for (FenwaReply *reply : taken)
        delete reply;
    taken.clear();
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
    roundTrip.reset(); // another segment, another round trip
    pcap->open(newAdapter);
    return 0;
}

void FenwaSDK::close()
{
    pcap->close();
    hasAdapter = false;
    std::memset(&adapter, 0, sizeof adapter);
}

void FenwaSDK::cancel()
{
    QMutexLocker lock(&awaitMutex);
    if (operating)
        cancelled = true;
    replyTaken.wakeAll();
}

bool FenwaSDK::isCancelled()
{
    QMutexLocker lock(&awaitMutex);
    return cancelled;
}

void FenwaSDK::await(int id, const uint8_t *from, const uint8_t *alsoFrom)
{
    Awaited a;
    std::memset(&a, 0, sizeof a);
    a.anyone = from == nullptr;
    if (from)
        std::memcpy(a.from, from, 6);
    a.hasAlsoFrom = alsoFrom != nullptr;
    if (alsoFrom)
        std::memcpy(a.alsoFrom, alsoFrom, 6);
    QMutexLocker lock(&awaitMutex);
    awaited.insert(id, a);
    awaiting.store(true);
}

void FenwaSDK::forget(int id)
{
    QMutexLocker lock(&awaitMutex);
    awaited.remove(id);
    awaiting.store(!awaited.isEmpty());
}

bool FenwaSDK::waitReplies(std::vector<FenwaReply *> *out, qint64 deadline)
{
    QMutexLocker lock(&awaitMutex);
    while (taken.empty() && !cancelled) {
        if (deadline < 0) {
            replyTaken.wait(&awaitMutex);
            continue;
        }
        const qint64 left = deadline - QPcapPacketQueue::now();
        if (left <= 0)
            break;
        replyTaken.wait(&awaitMutex, static_cast<unsigned long>(left));
    }
    out->insert(out->end(), taken.begin(), taken.end());
    taken.clear();
    return !cancelled;
}

void FenwaSDK::tell(const FenwaReply *reply)
{
    const QByteArray &text = reply->text;
    qDebug("recv %s", FenwaTerminal::maskedText(text.constData()).constData());
    if (commandObserver)
        commandObserver->onRecvCommand(this, text.constData());
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
    const QByteArray sent(text, length); // texts need not end with a zero byte
    if (commandObserver)
        commandObserver->onSendCommand(this, sent.constData());
    qDebug("send %s", FenwaTerminal::maskedText(sent.constData()).constData());
    return 0;
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
    if (!awaiting.load()) {
        countIgnored(); // nothing waits: not even worth parsing
        return;
    }
    FenwaReply *reply = FenwaReply::fromPacket(packet);
    const int id = reply->id();
    const char *method = reply->method();
    {
        QMutexLocker lock(&awaitMutex);
        const auto it = awaited.constFind(id);
        const bool answers = it != awaited.constEnd() &&
                             acceptsSender(reply, it->anyone ? nullptr : it->from, it->hasAlsoFrom ? it->alsoFrom : nullptr) &&
                             (!it->anyone || (method && std::strcmp(method, "search") == 0));
        if (answers && int(taken.size()) < REPLY_QUEUE_MAX) {
            taken.push_back(reply);
            replyTaken.wakeAll();
            return;
        }
    }
    countIgnored();
    delete reply;
}

// ---- search --------------------------------------------------------------------

int FenwaSDK::search(QList<FenwaDevice *> *out, int timeMs, FenwaSearchReport *report)
{
    if (out)
        out->clear();
    FenwaSearchReport counts;
    const int id = takeId();
    char text[COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text,
                                     "{\"id\":%d,\"method\":\"search\",\"user\":\"Windows Wendtix\"}", id);
    const Operation operation(this);
    await(id, nullptr, nullptr);
    if (send(kBroadcastMac, kBroadcastIp, text, length) != 0)
        return -1;
    const qint64 start = QPcapPacketQueue::now();
    const qint64 deadline = timeMs < 0 ? -1 : start + timeMs;
    counts.frames = 1;
    int due = 1; // frames due so far, sent or not: a link gone down must not make the loop spin
    // Terminals by link MAC: a repeat's answers find their first at once.
    QHash<quint64, QList<FenwaDevice *>> byMac;
    std::vector<FenwaReply *> replies;
    for (;;) {
        const qint64 now = QPcapPacketQueue::now();
        if (deadline >= 0 && now >= deadline)
            break;
        const qint64 nextFrame = start + SEARCH_FIRST_GAP_MS + qint64(due - 1) * SEARCH_GAP_MS;
        const bool more = due < searchFrames && (timeMs < 0 || nextFrame + SEARCH_TAIL_MS <= start + timeMs);
        if (more && now >= nextFrame) {
            ++due;
            if (send(kBroadcastMac, kBroadcastIp, text, length) == 0)
                ++counts.frames;
            continue;
        }
        qint64 wake = more ? nextFrame : deadline;
        if (deadline >= 0 && (wake < 0 || wake > deadline))
            wake = deadline;
        const bool goOn = waitReplies(&replies, wake);
        for (FenwaReply *reply : replies) {
            FenwaDevice *device = FenwaDevice::fromSearchReply(reply->mac, reply->address, reply->json);
            QList<FenwaDevice *> &sameMac = byMac[macKey(reply->mac)];
            const bool known = std::any_of(sameMac.cbegin(), sameMac.cend(), [device](const FenwaDevice *d) {
                return FenwaTerminal::sameTerminal(d, device);
            });
            if (known || out == nullptr || out->size() >= SEARCH_MAX) {
                counts.overLimit += known || out == nullptr ? 0 : 1;
                countIgnored();
                device->release();
            } else {
                // A first answer after the second frame left, which goes
                // SEARCH_FIRST_GAP_MS after the first, answers a repeat.
                counts.repeatOnly += due > 1 ? 1 : 0;
                sameMac.append(device);
                out->append(device);
                tell(reply);
            }
            delete reply;
        }
        replies.clear();
        if (!goOn)
            break; // cancelled: what came with the cancel is kept
    }
    if (report)
        *report = counts;
    return 0;
}

// ---- commands: each a batch of one ------------------------------------------------

int FenwaSDK::run(FenwaDevice *device, const FenwaRequest &request,
                  const std::function<void(const FenwaReply &)> &read)
{
    failure = translate("not sent");
    if (device == nullptr)
        return -1;
    FenwaBatch batch(this);
    batch.add(device, request);
    batch.run();
    const FenwaBatch::Result &r = batch.result(0);
    if (r.reply && read)
        read(*r.reply);
    failure = r.failure();
    return r.accepted() ? 0 : -1;
}

int FenwaSDK::getRtpSettings(FenwaDevice *device, RtpSettings *list, int count)
{
    return run(device, FenwaRequest::getRtpSettings(),
               [&](const FenwaReply &reply) { FenwaRequest::readRtp(reply, list, count); });
}

int FenwaSDK::getSipSettings(FenwaDevice *device, SipSettings *sip0, SipSettings *sip1)
{
    return run(device, FenwaRequest::getSipSettings(),
               [&](const FenwaReply &reply) { FenwaRequest::readSip(reply, sip0, sip1); });
}

int FenwaSDK::reboot(FenwaDevice *device)
{
    return run(device, FenwaRequest::reboot());
}

int FenwaSDK::resetDefault(FenwaDevice *device)
{
    return run(device, FenwaRequest::resetDefault());
}

int FenwaSDK::playVolume(FenwaDevice *device)
{
    return run(device, FenwaRequest::playVolume());
}

int FenwaSDK::setIpDhcp(FenwaDevice *device)
{
    return run(device, FenwaRequest::setIpDhcp());
}

int FenwaSDK::setIpStatic(FenwaDevice *device, const QString &ip, const QString &gateway, const QString &netmask,
                          const QString &dns1, const QString &dns2)
{
    return run(device, FenwaRequest::setIpStatic(ip, gateway, netmask, dns1, dns2));
}

int FenwaSDK::setName(FenwaDevice *device, const QString &name)
{
    return run(device, FenwaRequest::setName(name));
}

int FenwaSDK::setMac(FenwaDevice *device, const QString &mac)
{
    return run(device, FenwaRequest::setMac(mac));
}

int FenwaSDK::setSn(FenwaDevice *device, const QString &sn)
{
    return run(device, FenwaRequest::setSn(sn));
}

int FenwaSDK::setAccountPassword(FenwaDevice *device, const QString &account, const QString &password)
{
    return run(device, FenwaRequest::setAccountPassword(account, password));
}

int FenwaSDK::setServer(FenwaDevice *device, const QString &serverIp, int serverPort)
{
    return run(device, FenwaRequest::setServer(serverIp, serverPort));
}

int FenwaSDK::setDeviceVolume(FenwaDevice *device, int micVolume, int outVolume, int autoMute)
{
    return run(device, FenwaRequest::setDeviceVolume(micVolume, outVolume, autoMute));
}

int FenwaSDK::setDeviceInfo(FenwaDevice *device, const QString &areaCode, const QString &number,
                            const QString &name, int powerLevel, const QString &resourceTypeSequenceCode,
                            const QString &resourceSonTypeSequenceCode, const QString &resourceTypeCode,
                            const QString &resourceSonTypeCode)
{
    return run(device, FenwaRequest::setDeviceInfo(areaCode, number, name, powerLevel, resourceTypeSequenceCode,
                                                   resourceSonTypeSequenceCode, resourceTypeCode,
                                                   resourceSonTypeCode));
}

int FenwaSDK::setSipSettings(FenwaDevice *device, const SipSettings &sip0, const SipSettings &sip1)
{
    return run(device, FenwaRequest::setSipSettings(sip0, sip1));
}

int FenwaSDK::setRtpSettings(FenwaDevice *device, const RtpSettings *list, int count)
{
    QVector<RtpSettings> channels;
    for (int i = 0; list && i < count && i < FENWA_RTP_CHANNELS; ++i)
        channels.append(list[i]);
    return run(device, FenwaRequest::setRtpSettings(channels));
}

// ---- texts checked by front ends before anything is sent ------------------------------

int FenwaSDK::setNameText(char *buf, int id, const QString &name)
{
    return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetName\",\"name\":\"%s\"}", id,
                         Esc(name).c());
}

int FenwaSDK::setSnText(char *buf, int id, const QString &sn)
{
    return formatBounded(buf, COMMAND_BUFFER, "{\"id\":%d,\"method\":\"SetSN\",\"sn\":\"%s\"}", id, Esc(sn).c());
}

int FenwaSDK::setAccountPasswordText(char *buf, int id, const QString &account, const QString &password)
{
    return formatBounded(buf, COMMAND_BUFFER,
                         "{\"id\":%d,\"method\":\"SetAccountPassword\", \"account\":\"%s\", \"password\":\"%s\"}", id,
                         Esc(account).c(), Esc(password).c());
}

int FenwaSDK::setServerText(char *buf, int id, const QString &serverIp, int serverPort)
{
    return formatBounded(buf, COMMAND_BUFFER,
                         "{\"id\":%d,\"method\":\"SetServer\",\"serverIp\":\"%s\",\"serverPort\":%d}", id,
                         Esc(serverIp).c(), serverPort);
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
