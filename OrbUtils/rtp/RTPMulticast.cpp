// SPDX-License-Identifier: GPL-3.0-or-later
#include "RTPMulticast.h"

#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbThread.h"
#include "RTPAudioPacket.h"
#include "RTPAudioReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Whole ms to sleep until usFromNow has passed.
int32_t sleepMs(int64_t usFromNow)
{
    return usFromNow > 0 ? int32_t(std::min<int64_t>((usFromNow + 999) / 1000, 1000)) : 0;
}
} // namespace

int RTPMulticast::start(const QString &address, int port)
{
    if (reader == nullptr)
        return -1;
    started = false;
    startUs = 0;
    mediaTime = 0;
    clockRate = ClockRate;
    runningTimestamp = 0;
    reported = false;
    lastReportUs = 0;
    delete held;
    held = nullptr;
    holding.store(false);
    firstCallUs = anchorUs = pullbackUs = windowStartUs = lastReadyUs = 0;
    windowBlocks = 0;
    windowMinSlackUs = std::numeric_limits<int64_t>::max();
    for (LateBucket &bucket : lateBuckets)
        bucket = LateBucket();
    behindNow.store(false);
    behindEpisodes.store(0);
    lateTotalUs.store(0);
    recentLateUs.store(0);
    finalDroppedMs = 0;
    reader->setReadyHandler(&RTPMulticast::onSourceReady, this);
    if (!reader->start())
        return 0;
    session = new OrbRtpSession();
    session->setObserver(this);
    session->setMulticastInterface(interfaceName.toUtf8());
    const QByteArray host = address.toUtf8();
    const int result = session->start(host.constData(), 0, port, clockRate, reader->payloadType(), PacketPeriod);
    if (result < 0)
        return result;
    std::lock_guard<std::mutex> guard(wakeLock);
    wakeTarget = session;
    return 0;
}

void RTPMulticast::onSourceReady(void *self)
{
    auto *multicast = static_cast<RTPMulticast *>(self);
    if (!multicast->waitingForFrame.load())
        return;
    std::lock_guard<std::mutex> guard(multicast->wakeLock);
    if (multicast->wakeTarget)
        multicast->wakeTarget->wakeSender();
}

void RTPMulticast::stop()
{
    if (session && session->isActive() && reader && !reader->isGone()) {
        // The send thread takes one packet at its play time; the encoder's
        // last frames would otherwise be lost.
        reader->finish();
        const int64_t until = rtpClockUs() + int64_t(DrainMs) * 1000;
        while ((reader->pending() > 0 || holding.load()) && !session->sendRefused() && rtpClockUs() < until)
            OrbThread::msleep(PacketPeriod);
    }
    if (session) {
        {
            std::lock_guard<std::mutex> guard(wakeLock);
            wakeTarget = nullptr;
        }
        session->stop();
        delete session;
        session = nullptr;
    }
    delete held;
    held = nullptr;
    holding.store(false);
    if (reader) {
        finalDroppedMs = reader->droppedMs();
        reader->stop();
        delete reader;
        reader = nullptr;
    }
}

RTPMulticast::Failure RTPMulticast::failure() const
{
    if (session == nullptr || !session->isActive())
        return NoFailure;
    if (reader && reader->isGone())
        return SourceGone;
    return session->sendRefused() ? SendRefused : NoFailure;
}

RTPMulticast::Shortfall RTPMulticast::shortfall() const
{
    Shortfall s;
    s.behind = behindNow.load();
    s.episodes = behindEpisodes.load();
    s.lateMs = double(lateTotalUs.load()) / 1000.0;
    s.recentLateMs = double(recentLateUs.load()) / 1000.0;
    s.droppedMs = reader ? reader->droppedMs() : finalDroppedMs;
    return s;
}

int RTPMulticast::localPort() const
{
    return session && session->isActive() ? session->localPort() : -1;
}

bool RTPMulticast::onWantPacket(OrbRtpSession *session, uint32_t)
{
    return reader->isRealTime() ? wantLivePacket(session) : wantFilePacket(session);
}

bool RTPMulticast::wantFilePacket(OrbRtpSession *session)
{
    const int64_t now = rtpClockUs();
    if (!started) {
        started = true;
        startUs = now;
    }
    retryMs = PacketPeriod;
    const int64_t gate = startUs + int64_t(mediaTime) * 1000;
    if (gate > now) {
        // Lets the send thread wake when the gate opens rather than up to a
        // whole period later.
        retryMs = sleepMs(gate - now);
        return false;
    }
    RTPAudioPacket *packet = reader->readPacket();
    if (packet == nullptr)
        return false;
    const bool sent = send(session, packet, now);
    retryMs = sleepMs(startUs + int64_t(mediaTime) * 1000 - rtpClockUs());
    return sent;
}

int64_t RTPMulticast::mediaUs() const
{
    return int64_t(std::llround(mediaTime * 1000.0));
}

bool RTPMulticast::wantLivePacket(OrbRtpSession *session)
{
    const int64_t now = rtpClockUs();
    if (firstCallUs == 0)
        firstCallUs = now;
    // Before the first frame the source has a grace for its first block.
    int64_t due = started ? anchorUs + mediaUs() : firstCallUs + FirstAudioGraceMs * 1000LL;
    if (held == nullptr) {
        // Raised first: a frame that comes after the look finds it raised
        // and wakes this thread.
        waitingForFrame.store(!started || now >= due - EarlyUs);
        held = reader->readPacket();
        holding.store(held != nullptr);
    }
    if (held)
        waitingForFrame.store(false);
    if (held == nullptr) {
        updateBehind(now, now - due);
        retryMs = started && now < due - EarlyUs ? sleepMs(due - EarlyUs - now) : LatePollMs;
        return false;
    }
    if (!started) {
        started = true;
        startUs = anchorUs = due = now;
        windowStartUs = now;
    }
    if (now < due - EarlyUs) {
        updateBehind(now, 0);
        retryMs = sleepMs(due - EarlyUs - now);
        return false;
    }
    if (held->readyUs > due + LateToleranceUs) {
        // The source was late: played late rather than dropped, and the
        // frames behind it keep their spacing, as the source's blocks will
        // come as late again.
        const int64_t late = held->readyUs - due;
        anchorUs += late;
        due += late;
        noteLate(now, late);
    }
    if (held->readyUs > 0) {
        windowMinSlackUs = std::min(windowMinSlackUs, due - held->readyUs);
        // A frame ready a while after the one before came with a block of
        // its own.
        if (held->readyUs - lastReadyUs > 1000)
            ++windowBlocks;
        lastReadyUs = held->readyUs;
    }
    const double duration = held->duration;
    RTPAudioPacket *packet = held;
    held = nullptr;
    holding.store(false);
    if (!send(session, packet, now)) {
        retryMs = 0;
        return false;
    }
    if (pullbackUs > 0) {
        const int64_t step = std::min(pullbackUs, int64_t(duration * 100.0));
        anchorUs -= step;
        pullbackUs -= step;
        if (pullbackUs == 0) {
            windowStartUs = now;
            windowMinSlackUs = std::numeric_limits<int64_t>::max();
            windowBlocks = 0;
        }
    } else if (now - windowStartUs >= SlackWindowMs * 1000LL && windowBlocks >= SlackWindowBlocks) {
        if (windowMinSlackUs != std::numeric_limits<int64_t>::max() && windowMinSlackUs > 0)
            pullbackUs = windowMinSlackUs;
        windowStartUs = now;
        windowMinSlackUs = std::numeric_limits<int64_t>::max();
        windowBlocks = 0;
    }
    // A late wake-up here (this machine was busy) is caught up with, but
    // never by two frames closer than half a frame apart.
    const int64_t minimumNext = now + int64_t(duration * 500.0);
    if (anchorUs + mediaUs() - EarlyUs < minimumNext)
        anchorUs = minimumNext - mediaUs() + EarlyUs;
    updateBehind(now, 0);
    retryMs = sleepMs(anchorUs + mediaUs() - EarlyUs - rtpClockUs());
    return true;
}

bool RTPMulticast::send(OrbRtpSession *session, RTPAudioPacket *packet, int64_t now)
{
    if (!(packet->duration > 0)) {
        // Without a play time the gate would never close and the source
        // would flood the group; such a packet is not audio we can pace.
        delete packet;
        return false;
    }
    mediaTime += packet->duration;
    const uint32_t timestamp = uint32_t(uint64_t(std::trunc(clockRate * mediaTime / 1000.0)));
    if (!reported || now - lastReportUs >= ReportInterval * 1000LL) {
        ORB_LOG("duration = %.3lf, time = %lld, timestamp = %u\n", mediaTime, (long long)((now - startUs) / 1000),
                timestamp);
        reported = true;
        lastReportUs = now;
    }
    // The increment carries this packet's timestamp to the running total, so
    // each packet is stamped with the media time sent before it and rounding
    // never accumulates.
    session->sendPacket(packet->data(), packet->size(), timestamp - runningTimestamp);
    runningTimestamp = timestamp;
    delete packet;
    return true;
}

void RTPMulticast::noteLate(int64_t now, int64_t lateUs)
{
    lateTotalUs.fetch_add(lateUs);
    const int64_t second = now / 1000000;
    LateBucket &bucket = lateBuckets[second % LateBuckets];
    if (bucket.second != second)
        bucket = LateBucket{second, 0};
    bucket.us += lateUs;
}

void RTPMulticast::updateBehind(int64_t now, int64_t pendingUs)
{
    const int64_t second = now / 1000000;
    int64_t recent = std::max<int64_t>(pendingUs, 0);
    for (const LateBucket &bucket : lateBuckets)
        if (bucket.second > second - LateBuckets)
            recent += bucket.us;
    recentLateUs.store(recent);
    const bool behind = recent >= BehindLimitMs * 1000LL;
    if (behind && !behindNow.load()) {
        behindEpisodes.fetch_add(1);
        ORB_LOG("the source falls behind: %.3f s of its audio came late within %d s\n", double(recent) / 1e6,
                BehindWindowMs / 1000);
    }
    behindNow.store(behind);
}
