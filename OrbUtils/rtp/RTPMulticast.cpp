// SPDX-License-Identifier: GPL-3.0-or-later
#include "RTPMulticast.h"

#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbThread.h"
#include "RTPAudioPacket.h"
#include "RTPAudioReader.h"

#include <chrono>
#include <cmath>

namespace {
// A monotonic clock: a wall-clock step (NTP, operator) must neither stall
// the stream nor burst it.
qint64 monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

int RTPMulticast::start(const QString &address, int port)
{
    if (reader == nullptr)
        return -1;
    started = false;
    startTime = 0;
    mediaTime = 0;
    clockRate = ClockRate;
    runningTimestamp = 0;
    reported = false;
    lastReport = 0;
    if (!reader->start())
        return 0;
    session = new OrbRtpSession();
    session->setObserver(this);
    session->setMulticastInterface(interfaceName.toUtf8());
    const QByteArray host = address.toUtf8();
    const int result = session->start(host.constData(), 0, port, clockRate, reader->payloadType(), PacketPeriod);
    return result < 0 ? result : 0;
}

void RTPMulticast::stop()
{
    if (session && session->isActive() && reader && !reader->isGone()) {
        // The send thread takes one packet a period; the encoder's last
        // frames would otherwise be lost.
        reader->finish();
        const qint64 until = monotonicMs() + DrainMs;
        while (reader->pending() > 0 && !session->sendRefused() && monotonicMs() < until)
            OrbThread::msleep(PacketPeriod);
    }
    if (session) {
        session->stop();
        delete session;
        session = nullptr;
    }
    if (reader) {
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

int RTPMulticast::localPort() const
{
    return session && session->isActive() ? session->localPort() : -1;
}

bool RTPMulticast::onWantPacket(OrbRtpSession *session, uint32_t)
{
    const bool realTime = reader->isRealTime();
    const qint64 now = monotonicMs();
    if (!started) {
        started = true;
        startTime = now;
    }
    retryMs = PacketPeriod;
    if (!realTime && startTime + qint64(mediaTime) > now) {
        // Lets the send thread wake when the gate opens rather than up to a
        // whole period later.
        retryMs = int32_t(startTime + qint64(mediaTime) - now);
        return false;
    }
    RTPAudioPacket *packet = reader->readPacket();
    if (packet == nullptr)
        return false;
    if (!realTime && !(packet->duration > 0)) {
        // Without a play time the gate would never close and the source
        // would flood the group; such a packet is not audio we can pace.
        delete packet;
        return false;
    }

    mediaTime += packet->duration;
    const uint32_t timestamp = uint32_t(uint64_t(std::trunc(clockRate * mediaTime / 1000.0)));
    if (!reported || now - lastReport >= ReportInterval) {
        ORB_LOG("duration = %.3lf, time = %lld, timestamp = %u\n", mediaTime, (long long)(now - startTime),
                timestamp);
        reported = true;
        lastReport = now;
    }
    // The increment carries this packet's timestamp to the running total, so
    // each packet is stamped with the media time sent before it and rounding
    // never accumulates.
    session->sendPacket(packet->data(), packet->size(), timestamp - runningTimestamp);
    runningTimestamp = timestamp;
    delete packet;
    if (!realTime) {
        const qint64 gate = startTime + qint64(mediaTime) - monotonicMs();
        retryMs = gate > 0 ? int32_t(gate) : 0;
    }
    return true;
}
