// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/OrbRtpSession.h"

#include <QString>

#include <atomic>
#include <mutex>

class RTPAudioPacket;
class RTPAudioReader;

// Joins one audio source to one RTP session and paces it: every frame
// leaves at its play time, one frame's duration after the one before it.
//
// A file source gets a slot only once the wall clock has caught up with the
// media time already sent, so files leave at real-time rate and lateness
// never accumulates (the gate compares absolute times).
//
// A live source (a capture) delivers in blocks of its own size, from 10 ms
// to whole seconds at once. Its frames wait in the source's send queue for
// their play time, anchor + media time sent before them, so a two-second
// block goes out over two seconds, never as a burst; a frame that is ready
// up to EarlyUs before its play time leaves at once, so that the small
// blocks of a sound card wait for nothing but scheduling noise. The anchor
// is the first frame's arrival. A frame that comes more than
// LateToleranceUs after its play time (the source late) is sent the moment
// it is, and the anchor moves by its lateness: late audio is played late,
// nothing is dropped for being late, and the frames after it keep their
// spacing. When every frame of a window (SlackWindowMs and SlackWindowBlocks
// of the source's blocks at least) was ready before its play time (the
// first block came late, the source sped up, a stall has passed), the
// anchor is drawn back by the least of those leads, at most a tenth of a
// frame per frame, so latency returns to what the source's block size needs
// without a burst. Whatever happens, two frames never leave closer than
// half a frame apart.
//
// A live source falls behind when it delivers less audio than real time:
// more than BehindLimitMs of its audio came after its play time within the
// last BehindWindowMs (frames still missing count too; before the first
// frame the source has FirstAudioGraceMs). The stream goes on (with gaps);
// shortfall() says so, as it says what the source's full queues dropped.
//
// Threading contract: setReader, start, stop and shortfall run on the
// owner's thread; onWantPacket runs only on the session's send thread.
// stop() ends the session (joining its threads) before it stops and deletes
// the source, so no onWantPacket can overlap the source's destruction.
// Destroying the object does not stop it: call stop() first.
class RTPMulticast : public OrbRtpSessionObserver
{
public:
    enum { ClockRate = 8000, PacketPeriod = 10, ReportInterval = 10000 };
    enum {
        EarlyUs = 5000,
        LateToleranceUs = 5000, // a frame this late keeps the schedule
        LatePollMs = 10,        // waiting for a frame past its play time, unless woken
        SlackWindowMs = 500,    // at least, and
        SlackWindowBlocks = 8,  // at least as many of the source's blocks
        BehindWindowMs = 10000,
        BehindLimitMs = 250,
        FirstAudioGraceMs = 3000,
    };

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
    // frames, at their play times, for up to DrainMs), then ends the session
    // with its BYE and stops the source.
    virtual void stop();

    // Why a running stream cannot go on: its source is gone, or the system
    // refuses to send to the group (see OrbRtpSession::sendRefused). On the
    // owner's thread, which polls it and stops the stream, since a
    // session left running would go on sending RTCP for a stream nobody
    // hears.
    enum Failure { NoFailure, SourceGone, SendRefused };
    enum { DrainMs = 500 };
    Failure failure() const;

    // How far a live source fell short of real time in this run (also after
    // stop, until the next start). On the owner's thread.
    struct Shortfall
    {
        bool behind = false;     // falling behind now
        int episodes = 0;        // times it began to fall behind
        double lateMs = 0;       // audio that came after its play time: the gaps the group heard
        double recentLateMs = 0; // of it, within the last BehindWindowMs
        double droppedMs = 0;    // audio dropped by the source's full queues
    };
    Shortfall shortfall() const;

    // The session's local RTP port while running, else -1.
    int localPort() const;
    // The running session's send counts (see OrbRtpSession); 0 when idle.
    uint64_t packetsSent() const { return session ? session->packetsSent() : 0; }
    uint64_t sendErrors() const { return session ? session->sendErrors() : 0; }
    int lastSendError() const { return session ? session->lastSendError() : 0; }

private:
    bool wantFilePacket(OrbRtpSession *session);
    bool wantLivePacket(OrbRtpSession *session);
    int64_t mediaUs() const;
    // Stamps and sends packet, then frees it; false when it had no play
    // time and was only freed.
    bool send(OrbRtpSession *session, RTPAudioPacket *packet, int64_t nowUs);
    // Audio of the source's that came late at nowUs; and the behind state,
    // with pendingUs of lateness of a frame still missing.
    void noteLate(int64_t nowUs, int64_t lateUs);
    void updateBehind(int64_t nowUs, int64_t pendingUs);
    // The source's ready handler: wakes the send thread when it waits for
    // the frame that came.
    static void onSourceReady(void *self);

    OrbRtpSession *session = nullptr;
    RTPAudioReader *reader = nullptr;
    QString interfaceName;
    bool started = false;
    int64_t startUs = 0;  // monotonic µs of the first slot (files) or frame (live)
    double mediaTime = 0; // ms sent so far
    int32_t clockRate = ClockRate;
    uint32_t runningTimestamp = 0;
    bool reported = false;
    int64_t lastReportUs = 0;
    int32_t retryMs = PacketPeriod; // until the gate opens, after a refusal

    // Live pacing, on the send thread.
    RTPAudioPacket *held = nullptr; // taken from the source, waiting for its play time
    std::atomic<bool> holding{false};
    std::atomic<bool> waitingForFrame{false};
    std::mutex wakeLock; // guards wakeTarget against stop()
    OrbRtpSession *wakeTarget = nullptr;
    int64_t firstCallUs = 0;
    int64_t anchorUs = 0;
    int64_t pullbackUs = 0;
    int64_t windowStartUs = 0;
    int64_t windowMinSlackUs = 0;
    int windowBlocks = 0;
    int64_t lastReadyUs = 0;
    enum { LateBuckets = BehindWindowMs / 1000 };
    struct LateBucket
    {
        int64_t second = -1;
        int64_t us = 0;
    } lateBuckets[LateBuckets];

    // What shortfall() reads.
    std::atomic<bool> behindNow{false};
    std::atomic<int> behindEpisodes{0};
    std::atomic<int64_t> lateTotalUs{0};
    std::atomic<int64_t> recentLateUs{0};
    double finalDroppedMs = 0;
};
