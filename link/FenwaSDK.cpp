// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSDK.h"

#include "FenwaJson.h"
#include "FenwaTerminal.h"
#include "OrbUtils/OrbLog.h"

#include <QRandomGenerator>
#include <QThread>
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
// How often a search within a batch looks at the batch's stop test.
constexpr int kStopPollMs = 50;
// A search takes its replies in bunches, this often: a thousand terminals
// answer twelve frames, and waking for each answer was a futex call or two
// apiece for no gain (nothing waits on a search's single reply).
constexpr int kSearchPollMs = 10;
// Ids stay within what every reader of a JSON number as an int can hold.
constexpr int kIdLimit = INT_MAX;
static_assert(kIdLimit - 1 < 10LL * FenwaRequest::LONGEST_ID, "an id with more digits than LONGEST_ID");

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

} // namespace

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
    {
        QMutexLocker lock(&awaitMutex);
        if (operating)
            cancelled = true;
    }
    replyTaken.wake();
}

FenwaSDK::Operation::Operation(FenwaSDK *sdk) : owner(sdk)
{
    owner->beginOperation();
}

FenwaSDK::Operation::~Operation()
{
    owner->endOperation();
}

bool FenwaSDK::Operation::isCancelled() const
{
    QMutexLocker lock(&owner->awaitMutex);
    return owner->cancelled;
}

void FenwaSDK::Operation::await(int id, const uint8_t *from, const uint8_t *alsoFrom)
{
    Awaited a{};
    a.anyone = from == nullptr;
    if (from)
        std::memcpy(a.from, from, 6);
    a.hasAlsoFrom = alsoFrom != nullptr;
    if (alsoFrom)
        std::memcpy(a.alsoFrom, alsoFrom, 6);
    QMutexLocker lock(&owner->awaitMutex);
    owner->awaited.insert(id, a);
    owner->awaiting.store(true);
}

void FenwaSDK::Operation::forget(int id)
{
    QMutexLocker lock(&owner->awaitMutex);
    owner->awaited.remove(id);
    owner->awaiting.store(!owner->awaited.isEmpty());
}

bool FenwaSDK::Operation::waitReplies(std::vector<FenwaReply *> *out, qint64 deadline, int pollMs)
{
    for (;;) {
        // Read before the look: a reply taken after it moves the signal on.
        const uint32_t seen = owner->replyTaken.current();
        {
            QMutexLocker lock(&owner->awaitMutex);
            if (!owner->taken.empty() || owner->cancelled) {
                out->insert(out->end(), owner->taken.begin(), owner->taken.end());
                owner->taken.clear();
                return !owner->cancelled;
            }
        }
        const qint64 left = deadline < 0 ? -1 : deadline - QPcapPacketQueue::now();
        if (deadline >= 0 && left <= 0)
            return true;
        if (pollMs > 0) // asleep without being woken: replies gather meanwhile
            QThread::msleep(static_cast<unsigned long>(left < 0 ? pollMs : std::min<qint64>(left, pollMs)));
        else
            owner->replyTaken.wait(seen, left);
    }
}

void FenwaSDK::tell(const FenwaReply *reply)
{
    if (commandObserver)
        commandObserver->onRecvCommand(this, reply->text.constData());
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
    if (commandObserver) {
        const QByteArray sent(text, length); // texts need not end with a zero byte
        commandObserver->onSendCommand(this, sent.constData());
    }
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
        if (hasAdapter && isArpFor(packet->frame(), packet->length(), adapter.hardwareAddress, &arp)) {
            QMutexLocker lock(&arpMutex);
            if (arpListener)
                arpListener->onArp(arp);
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
            lock.unlock(); // the waiter does not wake into a held lock
            replyTaken.wake();
            return;
        }
    }
    countIgnored();
    delete reply;
}

// ---- search --------------------------------------------------------------------

int FenwaSDK::search(QList<FenwaDevice *> *out, int timeMs, FenwaSearchReport *report)
{
    Operation operation(this);
    return operation.search(out, timeMs, report);
}

int FenwaSDK::Operation::search(QList<FenwaDevice *> *out, int timeMs, FenwaSearchReport *report,
                                const std::function<bool()> &stop)
{
    if (out)
        out->clear();
    FenwaSearchReport counts;
    const int id = takeId();
    char text[FenwaRequest::COMMAND_BUFFER];
    const int length = formatBounded(text, sizeof text,
                                     "{\"id\":%d,\"method\":\"search\",\"user\":\"Windows Wendtix\"}", id);
    await(id, nullptr);
    FenwaSDK *const sdk = owner;
    if (sdk->send(kBroadcastMac, kBroadcastIp, text, length) != 0) {
        forget(id);
        return -1;
    }
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
        const bool more = due < sdk->searchFrames && (timeMs < 0 || nextFrame + SEARCH_TAIL_MS <= start + timeMs);
        if (more && now >= nextFrame) {
            ++due;
            if (sdk->send(kBroadcastMac, kBroadcastIp, text, length) == 0)
                ++counts.frames;
            continue;
        }
        qint64 wake = more ? nextFrame : deadline;
        if (deadline >= 0 && (wake < 0 || wake > deadline))
            wake = deadline;
        if (stop && (wake < 0 || wake > now + kStopPollMs))
            wake = now + kStopPollMs;
        const bool goOn = waitReplies(&replies, wake, kSearchPollMs) && !(stop && stop());
        for (FenwaReply *reply : replies) {
            bool cut = false;
            FenwaDevice *device = FenwaDevice::fromSearchReply(reply->mac, reply->address, reply->json, &cut);
            QList<FenwaDevice *> &sameMac = byMac[FenwaTerminal::macKey(reply->mac)];
            const bool known = std::any_of(sameMac.cbegin(), sameMac.cend(), [device](const FenwaDevice *d) {
                return FenwaTerminal::sameTerminal(d, device);
            });
            if (known || out == nullptr || out->size() >= SEARCH_MAX) {
                counts.overLimit += known || out == nullptr ? 0 : 1;
                ignore();
                device->release();
            } else {
                // A first answer after the second frame left, which goes
                // SEARCH_FIRST_GAP_MS after the first, answers a repeat.
                counts.repeatOnly += due > 1 ? 1 : 0;
                counts.cut += cut ? 1 : 0;
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
    forget(id);
    if (counts.cut > 0 || counts.overLimit > 0)
        ORB_LOG("search: %d terminals listed; %d of their replies cut to what a record keeps, %d replies refused "
                "beyond the %d a search lists\n",
                out ? int(out->size()) : 0, counts.cut, counts.overLimit, int(SEARCH_MAX));
    if (report)
        *report = counts;
    return 0;
}

