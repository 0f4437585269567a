// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaBatch.h"
#include "FenwaTerminal.h"

#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <cstring>

struct FenwaBatch::Entry {
    uint8_t mac[6];
    uint8_t address[4];
    QString uid; // what a search tells the terminal by, beside its MAC
    FenwaRequest request;
    Result result;
    int after = -1; // sent once this one is accepted
    int next = -1;  // the one that waits for this one
    bool done = false;
};

struct FenwaBatch::Flight {
    int index;
    QByteArray text;
    qint64 firstSent;
    qint64 lastSent;
};

// ---- results ---------------------------------------------------------------

bool FenwaBatch::Result::accepted() const
{
    return state == Seen || (state == Answered && reply && FenwaRequest::accepts(*reply));
}

QString FenwaBatch::Result::failure() const
{
    switch (state) {
    case NotTried:
        return translate("not tried");
    case InFlight:
    case Unknown:
        return translate("unknown: may have changed");
    case NoAnswer:
        return translate("no answer");
    case NotSent:
        return translate("not sent");
    case Refused:
        return translate("too long to send");
    case Seen:
    case Answered:
        break;
    }
    if (accepted())
        return QString();
    const char *text = reply ? reply->resultText() : nullptr;
    return translate("refused: %1").arg(text ? QString::fromUtf8(text) : translate("no result"));
}

QString FenwaBatch::Result::outcome() const
{
    if (state == Seen)
        return translate("accepted (seen in search)");
    return accepted() ? translate("accepted") : failure();
}

FenwaBatch::Result FenwaBatch::runOne(FenwaSDK *sdk, const FenwaDevice *device, const FenwaRequest &request)
{
    FenwaBatch batch(sdk);
    if (device == nullptr || batch.add(device, request) < 0) {
        Result r;
        r.state = NotSent;
        return r;
    }
    batch.run();
    return batch.result(0);
}

// ---- the batch ---------------------------------------------------------------

FenwaBatch::FenwaBatch(FenwaSDK *sdk) : sdk(sdk) {}

FenwaBatch::~FenwaBatch() = default;

int FenwaBatch::add(const FenwaDevice *device, const FenwaRequest &request, int after)
{
    if (after >= entries.size() || (after >= 0 && entries[after].next >= 0) || ran)
        return -1;
    Entry e;
    e.after = std::max(after, -1);
    std::memcpy(e.mac, device->mac, 6);
    std::memcpy(e.address, device->address, 4);
    e.uid = device->uid;
    e.request = request;
    entries.append(e);
    if (e.after >= 0)
        entries[e.after].next = entries.size() - 1;
    return entries.size() - 1;
}

QVector<QVector<int>> FenwaBatch::addEach(const QList<FenwaDevice *> &devices,
                                           const QVector<QList<FenwaRequest>> &requests)
{
    QVector<QVector<int>> out(devices.size());
    int steps = 0;
    for (const QList<FenwaRequest> &r : requests)
        steps = std::max(steps, int(r.size()));
    for (int s = 0; s < steps; ++s)
        for (int i = 0; i < devices.size() && i < requests.size(); ++i)
            if (s < requests[i].size())
                out[i] << add(devices[i], requests[i][s], s ? out[i].last() : -1);
    return out;
}

int FenwaBatch::size() const
{
    return entries.size();
}

void FenwaBatch::setWindow(int commands)
{
    window = std::max(1, commands);
}

const FenwaBatch::Result &FenwaBatch::result(int index) const
{
    return entries.at(index).result;
}

int FenwaBatch::accepted() const
{
    return int(std::count_if(entries.cbegin(), entries.cend(), [](const Entry &e) { return e.result.accepted(); }));
}

void FenwaBatch::cancel()
{
    cancelled.store(true);
    // Only the run under way may be woken: cancelling the SDK before the
    // run has begun would end whatever else uses it. A run that begins
    // after this sees the flag at its start.
    if (running.load())
        sdk->cancel();
}

void FenwaBatch::settle(int index, State state)
{
    // What waits for a command that was not accepted is not sent: the
    // chain behind it ends NotTried.
    for (; index >= 0 && !entries[index].done; index = entries[index].next, state = NotTried) {
        Entry &e = entries[index];
        e.result.state = state;
        e.done = true;
        ++settledCount;
        if (onSettled)
            onSettled(index);
        if (e.result.accepted())
            break;
    }
}

int FenwaBatch::nextSendable()
{
    // Entries before the cursor have all been sent or settled; behind it,
    // the first whose MAC has nothing in flight and whose predecessor, if
    // it has one, was accepted.
    while (unsent < entries.size() && (entries[unsent].result.sends > 0 || entries[unsent].done))
        ++unsent;
    // At most a window's worth in flight: a scan beats building a set.
    const auto busy = [this](const uint8_t *mac) {
        return std::any_of(flights.cbegin(), flights.cend(),
                           [&](const Flight &f) { return std::memcmp(entries[f.index].mac, mac, 6) == 0; });
    };
    for (int i = unsent; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        if (!e.done && e.result.sends == 0 && (e.after < 0 || entries[e.after].result.accepted()) && !busy(e.mac))
            return i;
    }
    return -1;
}

void FenwaBatch::launch(FenwaSDK::Operation &operation, int index, qint64 now)
{
    Entry &e = entries[index];
    const int id = operation.takeId();
    e.result.id = id;
    char text[FenwaRequest::COMMAND_BUFFER];
    const int length = e.request.textFor(text, id);
    if (length < 0) {
        ORB_LOG("%s (id %d) refused: its text would not fit in %d bytes; nothing sent\n", e.request.method(), id,
                FenwaRequest::COMMAND_BUFFER - 1);
        settle(index, Refused);
        return;
    }
    operation.await(id, e.mac, e.request.alsoFrom());
    if (sdk->send(e.mac, e.address, text, length) != 0) {
        operation.forget(id);
        settle(index, NotSent);
        return;
    }
    e.result.sends = 1;
    flights.append(Flight{index, QByteArray(text, length), now, now});
}

void FenwaBatch::take(FenwaSDK::Operation &operation, FenwaReply *reply, qint64 now)
{
    const int id = reply->id();
    const auto it = std::find_if(flights.begin(), flights.end(),
                                 [this, id](const Flight &f) { return entries[f.index].result.id == id; });
    if (it == flights.end()) {
        // A second answer that came before its id was forgotten.
        operation.ignore();
        delete reply;
        return;
    }
    const int index = it->index;
    Entry &e = entries[index];
    if (e.result.sends == 1)
        operation.roundTrip().sample(double(now - it->firstSent));
    operation.forget(id);
    flights.erase(it);
    operation.tell(reply);
    e.result.reply.reset(reply);
    settle(index, Answered);
}

void FenwaBatch::sweep(FenwaSDK::Operation &operation, qint64 now)
{
    const int replyMs = sdk->replyTimeout();
    for (int k = 0; k < flights.size();) {
        Flight &f = flights[k];
        Entry &e = entries[f.index];
        if (replyMs >= 0 && now - f.firstSent >= replyMs) {
            operation.forget(e.result.id);
            const int index = f.index;
            flights.removeAt(k);
            if (checks && e.request.isCheckable())
                unchecked.append(index);
            else
                settle(index, e.request.mayResend() ? NoAnswer : Unknown);
            continue;
        }
        if (resends && e.request.mayResend() && now - f.lastSent >= operation.roundTrip().waitAfter(e.result.sends)) {
            // The same text with the same id: whichever copy is answered,
            // the answer is this command's. A copy the link will not take
            // now is tried again at the next turn.
            if (sdk->send(e.mac, e.address, f.text.constData(), f.text.size()) == 0)
                ++e.result.sends;
            f.lastSent = now;
        }
        ++k;
    }
}

void FenwaBatch::check(FenwaSDK::Operation &operation, const std::function<bool()> &stopping)
{
    QList<FenwaDevice *> found;
    const bool searched = operation.search(&found, CHECK_SEARCH_MS, nullptr, stopping) == 0;
    if (stopping()) {
        for (FenwaDevice *d : found)
            d->release();
        return; // the run ends: they stay unknown
    }
    QMultiHash<quint64, const FenwaDevice *> byMac;
    for (const FenwaDevice *d : found)
        byMac.insert(FenwaTerminal::macKey(d->mac), d);
    // Whether the terminal answered the search from mac (the same uid, or
    // any when it reports none) and holds what the command set; two
    // terminals on one MAC and uid cannot be told apart, so both must.
    const auto look = [&byMac](const Entry &e, const uint8_t *mac, bool *there) {
        bool holds = true;
        *there = false;
        const quint64 key = FenwaTerminal::macKey(mac);
        for (auto it = byMac.constFind(key); it != byMac.constEnd() && it.key() == key; ++it) {
            if (!e.uid.isEmpty() && (*it)->uid != e.uid)
                continue;
            *there = true;
            holds = holds && e.request.heldBy(**it);
        }
        return *there && holds;
    };
    if (searched)
        ORB_LOG("searched for the effect of %d unanswered commands: %d terminals answered\n", int(unchecked.size()),
                int(found.size()));
    for (int index : qAsConst(unchecked)) {
        const Entry &e = entries[index];
        bool there = false;
        State state = e.request.mayResend() ? NoAnswer : Unknown;
        if (!searched) {
            // No search could be sent: what it would have told stays open.
        } else if (const uint8_t *moved = e.request.movesTo()) {
            bool stayed = false;
            look(e, e.mac, &stayed);
            state = look(e, moved, &there) ? Seen : stayed ? NoAnswer : Unknown;
        } else if (look(e, e.mac, &there)) {
            state = Seen;
        } else if (there) {
            state = NoAnswer; // found, without the value: it did not take it
        }
        settle(index, state);
    }
    unchecked.clear();
    for (FenwaDevice *d : found)
        d->release();
}

qint64 FenwaBatch::nextWake(FenwaSDK::Operation &operation) const
{
    const int replyMs = sdk->replyTimeout();
    qint64 wake = -1;
    for (const Flight &f : flights) {
        const Entry &e = entries[f.index];
        qint64 due = -1;
        if (resends && e.request.mayResend())
            due = f.lastSent + operation.roundTrip().waitAfter(e.result.sends);
        if (replyMs >= 0)
            due = due < 0 ? f.firstSent + replyMs : std::min(due, f.firstSent + replyMs);
        if (due >= 0)
            wake = wake < 0 ? due : std::min(wake, due);
    }
    return wake;
}

int FenwaBatch::run(const std::function<bool()> &stop)
{
    if (ran)
        return accepted();
    ran = true;
    FenwaSDK::Operation operation(sdk);
    running.store(true);
    const std::function<bool()> stopping = [&] {
        return cancelled.load() || operation.isCancelled() || (stop && stop());
    };
    std::vector<FenwaReply *> replies;
    while (!stopping()) {
        qint64 now = QPcapPacketQueue::now();
        for (int next; flights.size() < window && (next = nextSendable()) >= 0 && !stopping();)
            launch(operation, next, now);
        if (flights.isEmpty() && nextSendable() < 0) {
            if (unchecked.isEmpty())
                break; // everything settled
            // Nothing else is in flight: the search has the link to itself,
            // and what it settles may let commands waiting on them go.
            check(operation, stopping);
            continue;
        }
        qint64 wake = nextWake(operation);
        if (stop)
            wake = wake < 0 ? now + STOP_POLL_MS : std::min(wake, now + STOP_POLL_MS);
        operation.waitReplies(&replies, wake);
        now = QPcapPacketQueue::now();
        for (FenwaReply *reply : replies)
            take(operation, reply, now);
        replies.clear();
        sweep(operation, now);
    }
    running.store(false);
    // Stopped: what was sent may have been acted on, the rest was not.
    for (const Flight &f : flights)
        settle(f.index, InFlight);
    flights.clear();
    for (int index : qAsConst(unchecked))
        settle(index, InFlight);
    unchecked.clear();
    for (int i = 0; i < entries.size(); ++i)
        if (!entries[i].done)
            settle(i, NotTried);
    return accepted();
}
