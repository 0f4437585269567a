// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbRtpSession.h"

#include "OrbLog.h"
#include "rtp/MpegAudioFrame.h"

#include <ortp/ortp.h>

#include <arpa/inet.h>
#include <cerrno>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>

namespace {

qint64 monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ortp_init();
        // oRTP reports every refused bind while ports are probed; our own
        // log says what matters.
        ortp_set_log_level_mask("ortp", ORTP_FATAL);
    });
}

// The payload lives in the session's own buffer; nothing to free.
void keepBuffer(void *) {}

RtpSession *newLibrarySession(RtpProfile *profile)
{
    RtpSession *s = rtp_session_new(RTP_SESSION_SENDRECV);
    // Without this a port held by another SO_REUSEADDR socket (another
    // instance of this program) would look free.
    rtp_session_set_reuseaddr(s, FALSE);
    rtp_session_set_scheduling_mode(s, FALSE);
    rtp_session_set_blocking_mode(s, FALSE);
    // The receive thread hands on whatever arrives, in arrival order.
    rtp_session_enable_jitter_buffer(s, FALSE);
    if (profile)
        rtp_session_set_profile(s, profile);
    return s;
}

bool socketsBound(const RtpSession *s)
{
    return rtp_session_get_rtp_socket(s) != (ortp_socket_t)-1 && rtp_session_get_rtcp_socket(s) != (ortp_socket_t)-1;
}

} // namespace

void OrbRtpSendThread::run()
{
    session->runSend(this);
}

void OrbRtpSendThread::stop()
{
    OrbThread::stop();
    session->wakeSender();
}

void OrbRtpRecvThread::run()
{
    session->runReceive(this);
}

void OrbRtpRecvThread::stop()
{
    OrbThread::stop();
    const uint64_t one = 1;
    if (session->wakeFd >= 0 && ::write(session->wakeFd, &one, sizeof(one)) < 0) {
        // The wait times out within a second anyway.
    }
}

OrbRtpSession::OrbRtpSession()
{
    initLibrary();
    profile = rtp_profile_new("orb");
    session = newLibrarySession(profile);
}

OrbRtpSession::~OrbRtpSession()
{
    // stop() has joined both threads; nothing else touches the session.
    if (session)
        rtp_session_destroy(session);
    if (profile)
        rtp_profile_destroy(profile);
    if (wakeFd >= 0)
        ::close(wakeFd);
}

bool OrbRtpSession::isPortValid(int port)
{
    if (port <= 0 || port >= 65535)
        return false;
    const qint64 begin = monotonicMs();
    RtpSession *probe = newLibrarySession(nullptr);
    const bool created = rtp_session_set_local_addr(probe, "0.0.0.0", port, port + 1) == 0 && socketsBound(probe);
    ORB_LOG("Create cost = %lld\n", (long long)(monotonicMs() - begin));
    if (created) {
        rtp_session_release_sockets(probe);
        ORB_LOG("Destroy cost = %lld\n", (long long)(monotonicMs() - begin));
    }
    rtp_session_destroy(probe);
    ORB_LOG("%d port is %s, cost %lld\n", port, created ? "valid" : "invalid", (long long)(monotonicMs() - begin));
    return created;
}

int OrbRtpSession::start(const char *address, int localPort, int destPort, int clockRate, int payloadType,
                         int packetPeriod)
{
    if (active || sendThread || recvThread)
        return -1;
    if (address == nullptr || clockRate <= 0 || payloadType < 0 || payloadType > 127 || destPort <= 0
        || destPort >= 65535) {
        ORB_LOG("rtp session bad parameters\n");
        return -1;
    }
    // Dotted-quad parsing only: a host name must never trigger a lookup, and a
    // text that does not parse would otherwise become the broadcast address.
    in_addr destination;
    if (inet_pton(AF_INET, address, &destination) != 1) {
        ORB_LOG("rtp session bad address %s\n", address);
        return -1;
    }
    char destinationText[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &destination, destinationText, sizeof(destinationText));

    // The timestamp unit: oRTP takes the clock rate from the payload type's
    // entry in the session's profile.
    PayloadType *type = payload_type_new();
    type->type = PAYLOAD_AUDIO_PACKETIZED;
    type->clock_rate = clockRate;
    type->channels = 1;
    type->mime_type = ortp_strdup("MPA");
    // The profile owns its entries; a start after an earlier one (failed or
    // stopped) replaces the entry that one made.
    if (PayloadType *earlier = rtp_profile_get_payload(profile, payloadType))
        payload_type_destroy(earlier);
    rtp_profile_set_payload(profile, payloadType, type);
    this->payloadType = payloadType;
    clock = clockRate;
    lastSendMs = -1;
    refusalsInARow = 0;
    refused.store(false);

    if (localPort <= 0) {
        for (int candidate = FirstProbePort; candidate < ProbePortLimit; candidate += 2) {
            if (isPortValid(candidate)) {
                localPort = candidate;
                break;
            }
        }
        if (localPort <= 0)
            return -1;
    }

    if (rtp_session_set_local_addr(session, "0.0.0.0", localPort, localPort + 1) != 0 || !socketsBound(session)) {
        rtp_session_release_sockets(session);
        ORB_LOG("rtp session create %d\n", -1);
        return -1;
    }
    boundPort = localPort;
    rtp_session_set_multicast_ttl(session, MulticastTtl);
    // Keep the system default: an operator may listen on the sending PC.
    rtp_session_set_multicast_loopback(session, 1);
    rtp_session_set_payload_type(session, payloadType);

    period = packetPeriod > 0 ? packetPeriod : DefaultPacketPeriod;

    // oRTP stamps packets with the timestamp the application gives and
    // counts sequence numbers from 0, so the random starting points RFC 3550
    // asks for are chosen here.
    std::random_device random;
    nextTimestamp = random();
    rtp_session_set_seq_number(session, uint16_t(random()));

    if (rtp_session_set_remote_addr_and_port(session, destinationText, destPort, destPort + 1) != 0
        || !chooseInterface()) {
        rtp_session_release_sockets(session);
        boundPort = -1;
        ORB_LOG("rtp session create %d\n", -2);
        return -1;
    }
    if (wakeFd < 0)
        wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    active = true;
    if (IN_MULTICAST(ntohl(destination.s_addr)))
        ORB_LOG("support multicasting\n");

    sendThread = new OrbRtpSendThread(this);
    sendThread->start();
    recvThread = new OrbRtpRecvThread(this);
    recvThread->start();
    return 0;
}

bool OrbRtpSession::chooseInterface()
{
    if (interfaceName.isEmpty())
        return true;
    ip_mreqn request{};
    request.imr_ifindex = int(if_nametoindex(interfaceName.constData()));
    if (request.imr_ifindex == 0) {
        ORB_LOG("no interface %s for multicast\n", interfaceName.constData());
        return false;
    }
    for (ortp_socket_t fd : {rtp_session_get_rtp_socket(session), rtp_session_get_rtcp_socket(session)}) {
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof(request)) != 0) {
            ORB_LOG("cannot send multicast on %s: %s\n", interfaceName.constData(), strerror(errno));
            return false;
        }
    }
    return true;
}

void OrbRtpSession::sendBuffered(int payloadLength, bool marker, uint32_t timestamp)
{
    mblk_t *packet = rtp_session_create_packet_in_place(session, sendBuffer, RTP_FIXED_HEADER_SIZE + payloadLength,
                                                        keepBuffer);
    packet->b_wptr = packet->b_rptr + RTP_FIXED_HEADER_SIZE + payloadLength;
    rtp_set_markbit(packet, marker ? 1 : 0);
    // A send error is not fatal: the next packet is tried as usual. It is
    // counted so that a stream nobody can receive does not pass for one.
    if (rtp_session_sendm_with_ts(session, packet, timestamp) < 0) {
        const int error = session->rtp.send_errno ? session->rtp.send_errno : EIO;
        lastError.store(error);
        ++errorCount;
        const bool passing = error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == EINTR;
        if (!passing || ++refusalsInARow >= kRefusalsInARow)
            refused.store(true);
    } else {
        ++sentCount;
        refusalsInARow = 0;
        lastTimestamp = timestamp;
        lastSendMs = monotonicMs();
    }
}

void OrbRtpSession::sendPacket(const uint8_t *data, int length, uint32_t timestampIncrement)
{
    if (data == nullptr || length <= 0)
        return;
    libraryLock.lock();
    if (!active) {
        libraryLock.unlock();
        return;
    }
    uint8_t *payload = sendBuffer + RTP_FIXED_HEADER_SIZE;
    if (length <= FragmentPayloadMax) {
        std::memcpy(payload, data, size_t(length));
        sendBuffered(length, true, nextTimestamp);
    } else if (length > MpegAudioPayloadHeader) {
        const uint8_t *frame = data + MpegAudioPayloadHeader;
        const int frameLength = length - MpegAudioPayloadHeader;
        const int count = mpegAudioFragmentCount(frameLength, FragmentPayloadMax);
        for (int i = 0; i < count; ++i)
            sendBuffered(mpegAudioFragment(frame, frameLength, FragmentPayloadMax, i, payload), true, nextTimestamp);
    }
    nextTimestamp += timestampIncrement;
    libraryLock.unlock();
}

void OrbRtpSession::stop()
{
    OrbThread::releaseThread(&recvThread);
    OrbThread::releaseThread(&sendThread);
    if (session == nullptr)
        return;
    libraryLock.lock();
    if (active) {
        // The sender report in front of the BYE gives the RTP time of the
        // moment it is made; oRTP would give the last packet's, which lies
        // behind it by however long ago that packet left.
        if (lastSendMs >= 0)
            session->rtp.snd_last_ts = lastTimestamp + uint32_t((monotonicMs() - lastSendMs) * clock / 1000);
        // The BYE must leave before the destination is dropped, or it would
        // have nowhere to go. oRTP sends it at once; there is no wait.
        rtp_session_bye(session, nullptr);
        active = false;
    }
    rtp_session_release_sockets(session);
    libraryLock.unlock();
}

void OrbRtpSession::runSend(const OrbThread *thread)
{
    uint32_t sent = 0;
    uint32_t mediaClock = 0;
    qint64 firstSend = 0;
    qint64 due = 0;
    while (!OrbThread::shouldStop(thread)) {
        const qint64 now = monotonicMs();
        if (now >= due && observer && observer->onWantPacket(this, mediaClock)) {
            if (sent == 0)
                firstSend = monotonicMs();
            ++sent;
            mediaClock += uint32_t(period);
            // Due times are absolute, so a late slot does not push back the
            // ones after it.
            due = firstSend + qint64(period) * sent;
            continue;
        }
        // Sleep until the period allows the next packet, or until the
        // observer said it could take one (a live source's next frame may be
        // due in less than a period), whichever is later; capped so a stop
        // request is seen promptly.
        qint64 delay = now < due ? due - now : 0;
        const qint64 hint = observer ? observer->retryDelay(this) : 10;
        if (hint > delay)
            delay = hint;
        std::unique_lock<std::mutex> guard(senderWaitLock);
        senderWait.wait_for(guard, std::chrono::milliseconds(delay < 1 ? 1 : delay > 100 ? 100 : delay),
                            [this] { return senderWoken; });
        senderWoken = false;
    }
}

void OrbRtpSession::wakeSender()
{
    {
        std::lock_guard<std::mutex> guard(senderWaitLock);
        senderWoken = true;
    }
    senderWait.notify_one();
}

void OrbRtpSession::runReceive(const OrbThread *thread)
{
    enum { Batch = 10, WaitLimitMs = 1000 };
    mblk_t *held[Batch];
    // oRTP reads the sockets only when the query timestamp changes.
    uint32_t query = 0;
    libraryLock.lock();
    pollfd waits[3] = {{rtp_session_get_rtp_socket(session), POLLIN, 0},
                       {rtp_session_get_rtcp_socket(session), POLLIN, 0},
                       {wakeFd, POLLIN, 0}};
    libraryLock.unlock();
    bool ready = true; // drain whatever came before the thread started
    while (!OrbThread::shouldStop(thread)) {
        if (!ready) {
            ready = ::poll(waits, 3, WaitLimitMs) > 0 && (waits[0].revents | waits[1].revents) != 0;
            continue;
        }
        int count = 0;
        libraryLock.lock();
        if (active) {
            while (count < Batch) {
                mblk_t *packet = rtp_session_recvm_with_ts(session, ++query);
                if (packet == nullptr)
                    break;
                held[count++] = packet;
            }
        }
        libraryLock.unlock();
        if (count == 0) {
            ready = false;
            continue;
        }
        for (int i = 0; i < count; ++i) {
            mblk_t *packet = held[i];
            unsigned char *payload = nullptr;
            const int payloadLength = rtp_get_payload(packet, &payload);
            if (observer && payloadLength >= 0)
                observer->onReceivePacket(this, packet->b_rptr, int32_t(packet->b_wptr - packet->b_rptr), payload,
                                          payloadLength, rtp_get_timestamp(packet));
            libraryLock.lock();
            freemsg(packet);
            libraryLock.unlock();
        }
    }
}
