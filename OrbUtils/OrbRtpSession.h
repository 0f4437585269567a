// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbThread.h"

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class OrbRtpSession;
struct _RtpSession;
struct _RtpProfile;

// Callback of OrbRtpSession. onWantPacket runs on the session's send thread,
// onReceivePacket on its receive thread; neither is called once stop() has
// returned. The session does not own its observer.
class OrbRtpSessionObserver
{
public:
    virtual ~OrbRtpSessionObserver() = default;
    // elapsed: the session's media clock in ms (packet period times packets
    // sent). Returns true when a packet went out through sendPacket.
    virtual bool onWantPacket(OrbRtpSession *session, uint32_t elapsed) = 0;
    // packet/packetLength: the whole RTP packet as received; payload points
    // into it. Both are valid only during the call.
    virtual void onReceivePacket(OrbRtpSession *session, const uint8_t *packet, int32_t packetLength,
                                 const uint8_t *payload, int32_t payloadLength, uint32_t timestamp) = 0;
    virtual void onReceiveTimeout(OrbRtpSession *session) = 0;
    // How many ms from now until onWantPacket could next send, when the
    // observer knows (a paced source knows when its next frame is due). The
    // send thread sleeps that long (at least 1 ms, at most 100 ms, never
    // before the packet period allows) instead of polling every 10 ms.
    virtual int32_t retryDelay(OrbRtpSession *) { return 10; }
};

class OrbRtpSendThread : public OrbThread
{
public:
    explicit OrbRtpSendThread(OrbRtpSession *session) : session(session) {}
    // Also ends the wait between packets.
    void stop() override;

protected:
    void run() override;

private:
    OrbRtpSession *session;
};

class OrbRtpRecvThread : public OrbThread
{
public:
    explicit OrbRtpRecvThread(OrbRtpSession *session) : session(session) {}
    // Also wakes the wait on the sockets.
    void stop() override;

protected:
    void run() override;

private:
    OrbRtpSession *session;
};

// One RTP sender (oRTP underneath) bound to an even local port (RTCP on the
// next), sending MPEG audio payloads (RFC 2250) to one destination, normally a
// multicast group. The first sequence number and timestamp are random
// (RFC 3550).
//
// Threading contract: construction, setObserver, start, stop and destruction
// happen on one owner thread. start() launches a send thread, which polls the
// observer's onWantPacket at the packet period or when the observer says
// (retryDelay, wakeSender; the observer calls sendPacket from inside it), and
// a receive thread, which drains what arrives on the local
// port and hands it to onReceivePacket (it sleeps in poll() on the sockets
// rather than waking every 10 ms, since a stream may run for hours and the
// sender should cost less CPU than ffmpeg's). oRTP sessions are not thread-safe, so
// every library call from either thread is made under libraryLock; observers
// run outside it.
//
// Teardown order: stop() joins the receive thread, then the send thread, and
// only then sends the RTCP BYE and closes the sockets; destruction comes after
// stop(). A failed start leaves the object safe to stop and destroy.
class OrbRtpSession
{
public:
    enum {
        FirstProbePort = 13000,
        ProbePortLimit = 40000,
        FragmentPayloadMax = 1300,
        DefaultPacketPeriod = 20,
        MulticastTtl = 255,
    };

    OrbRtpSession();
    ~OrbRtpSession();

    void setObserver(OrbRtpSessionObserver *observer) { this->observer = observer; }

    // True when an RTP/RTCP socket pair can be bound on port and port + 1.
    bool isPortValid(int port);

    // address: dotted IPv4 text; localPort <= 0 probes even ports from 13000;
    // clockRate in Hz; packetPeriod in ms (<= 0 means 20). Returns 0 or -1.
    int start(const char *address, int localPort, int destPort, int clockRate, int payloadType, int packetPeriod);

    // The interface that carries multicast (IP_MULTICAST_IF); empty for the
    // routing table's choice. Set before start; an unknown name fails start.
    void setMulticastInterface(const QByteArray &name) { interfaceName = name; }

    // Sends one RFC 2250 payload (4-byte header, then one MPEG audio frame).
    // A payload over FragmentPayloadMax bytes goes out as fragments of the
    // frame, each with its own header and fragment offset, all with one
    // timestamp. The next frame's timestamp is this one's plus increment.
    void sendPacket(const uint8_t *data, int length, uint32_t timestampIncrement);

    void stop();

    // Ends the send thread's wait for the next slot early, so that
    // onWantPacket is asked again at once: the observer has something to
    // send sooner than it said. From any thread.
    void wakeSender();

    int localPort() const { return boundPort; }
    bool isActive() const { return active; }
    // RTP packets the system accepted, and those it refused (no route to the
    // group, interface down); read from any thread.
    uint64_t packetsSent() const { return sentCount.load(); }
    uint64_t sendErrors() const { return errorCount.load(); }
    // errno of the latest refused send, 0 when none was refused.
    int lastSendError() const { return lastError.load(); }
    // True once the system has refused a send for good: an error other than
    // a full buffer (no route, no such device, network down...), or
    // kRefusalsInARow refusals of any kind in a row. Read from any thread; the
    // owner stops the session, as nothing will reach the group.
    bool sendRefused() const { return refused.load(); }
    enum { kRefusalsInARow = 50 };

private:
    friend class OrbRtpSendThread;
    friend class OrbRtpRecvThread;

    void runSend(const OrbThread *thread);
    void runReceive(const OrbThread *thread);
    // Sends one RTP packet whose payload already sits in sendBuffer behind
    // the header room. Caller holds libraryLock.
    void sendBuffered(int payloadLength, bool marker, uint32_t timestamp);
    // Applies interfaceName to both sockets; false when it cannot.
    bool chooseInterface();

    struct _RtpSession *session = nullptr;
    struct _RtpProfile *profile = nullptr;
    int payloadType = -1;
    int period = DefaultPacketPeriod;
    int boundPort = -1;
    bool active = false;
    uint32_t nextTimestamp = 0;
    int clock = 8000; // Hz
    // The last packet sent: its timestamp and when it left (monotonic ms),
    // from which the sender report that goes with the BYE tells the RTP time
    // of the moment it is made. Under libraryLock.
    uint32_t lastTimestamp = 0;
    qint64 lastSendMs = -1;
    int refusalsInARow = 0;
    std::atomic<bool> refused{false};
    QByteArray interfaceName;
    std::atomic<uint64_t> sentCount{0};
    std::atomic<uint64_t> errorCount{0};
    std::atomic<int> lastError{0};
    OrbThread *sendThread = nullptr;
    OrbThread *recvThread = nullptr;
    int wakeFd = -1; // eventfd that ends the receive thread's wait
    std::mutex senderWaitLock;
    std::condition_variable senderWait;
    bool senderWoken = false;
    OrbRtpSessionObserver *observer = nullptr;
    OrbThreadLocker libraryLock;
    // Header room plus the largest payload sendPacket puts in one packet.
    uint8_t sendBuffer[12 + FragmentPayloadMax];

    OrbRtpSession(const OrbRtpSession &) = delete;
    OrbRtpSession &operator=(const OrbRtpSession &) = delete;
};
