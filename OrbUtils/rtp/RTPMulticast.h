// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/OrbRtpSession.h"

#include <QString>

class RTPAudioReader;

// Joins one audio source to one RTP session and paces it. The session's send
// thread offers a slot every packet period; a file source gets one only once
// the wall clock has caught up with the media time already sent, so files
// leave at real-time rate and lateness never accumulates (the gate compares
// absolute times). Payload type comes from the source, RTP clock is 8000 Hz.
//
// Threading contract: setReader, start and stop run on the owner's thread;
// onWantPacket runs only on the session's send thread. stop() ends the
// session (joining its threads) before it stops and deletes the source, so no
// onWantPacket can overlap the source's destruction. Destroying the object
// does not stop it: call stop() first.
class RTPMulticast : public OrbRtpSessionObserver
{
public:
    enum { ClockRate = 8000, PacketPeriod = 10, ReportInterval = 10000 };

    RTPMulticast() = default;
    ~RTPMulticast() override = default;

    // Takes ownership of reader. Called once, before start.
    void setReader(RTPAudioReader *reader) { this->reader = reader; }
    // The interface that carries the multicast; empty for the routing
    // table's choice. Set before start.
    void setInterface(const QString &name) { interfaceName = name; }

    bool onWantPacket(OrbRtpSession *session, uint32_t elapsed) override;
    void onReceivePacket(OrbRtpSession *, const uint8_t *, int32_t, const uint8_t *, int32_t, uint32_t) override {}
    void onReceiveTimeout(OrbRtpSession *) override {}
    int32_t retryDelay(OrbRtpSession *) override { return retryMs; }

    // 0 when streaming began or the source refused to start (nothing is sent
    // then); -1 without a source; the session's result when it failed.
    virtual int start(const QString &address, int port);
    // Hands out what a capture source still holds (its encoder's last
    // frames, for up to DrainMs), then ends the session with its BYE and
    // stops the source.
    virtual void stop();

    // Why a running stream cannot go on: its source is gone, or the system
    // refuses to send to the group (see OrbRtpSession::sendRefused). On the
    // owner's thread, which polls it and stops the stream, since a
    // session left running would go on sending RTCP for a stream nobody
    // hears.
    enum Failure { NoFailure, SourceGone, SendRefused };
    enum { DrainMs = 500 };
    Failure failure() const;

    // The session's local RTP port while running, else -1.
    int localPort() const;
    // The running session's send counts (see OrbRtpSession); 0 when idle.
    uint64_t packetsSent() const { return session ? session->packetsSent() : 0; }
    uint64_t sendErrors() const { return session ? session->sendErrors() : 0; }
    int lastSendError() const { return session ? session->lastSendError() : 0; }

private:
    OrbRtpSession *session = nullptr;
    RTPAudioReader *reader = nullptr;
    QString interfaceName;
    bool started = false;
    qint64 startTime = 0; // monotonic ms of the first slot
    double mediaTime = 0; // ms sent so far
    int32_t clockRate = ClockRate;
    uint32_t runningTimestamp = 0;
    bool reported = false;
    qint64 lastReport = 0;
    int32_t retryMs = PacketPeriod; // until the gate opens, after a refusal
};
