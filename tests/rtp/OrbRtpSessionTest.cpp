// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/OrbRtpSession.h"
#include "RtpTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

#include <atomic>
#include <chrono>
#include <malloc.h>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const int DestPort = 15000;

// Sends the queued payloads one per slot, each advancing the clock by its
// increment, then declines.
class QueueObserver : public OrbRtpSessionObserver
{
public:
    std::vector<std::pair<std::vector<uint8_t>, uint32_t>> payloads;
    std::atomic<size_t> next{0};
    std::atomic<int> offered{0};
    std::vector<uint32_t> elapsed; // the session's clock at each packet sent

    bool onWantPacket(OrbRtpSession *session, uint32_t clock) override
    {
        ++offered;
        const size_t i = next.load();
        if (i >= payloads.size())
            return false;
        session->sendPacket(payloads[i].first.data(), int(payloads[i].first.size()), payloads[i].second);
        elapsed.push_back(clock);
        next = i + 1;
        return true;
    }
    void onReceivePacket(OrbRtpSession *, const uint8_t *, int32_t, const uint8_t *, int32_t, uint32_t) override {}
    void onReceiveTimeout(OrbRtpSession *) override {}
};

// An RFC 2250 payload: 4 zero bytes, then a frame of frameLength bytes.
std::vector<uint8_t> mpegPayload(int frameLength)
{
    std::vector<uint8_t> bytes(size_t(4 + frameLength), 0);
    for (int i = 0; i < frameLength; ++i)
        bytes[size_t(4 + i)] = uint8_t(i * 7 + 3);
    return bytes;
}

class SessionFragmentTest : public ::testing::TestWithParam<std::vector<int>> {};

// A frame over the payload limit leaves as RFC 2250 fragments: each with the
// 4-byte header holding its byte offset in the frame, all with the frame's
// timestamp, and multicast TTL 255 so that routed terminals hear it too.
TEST_P(SessionFragmentTest, FrameLeavesAsRfc2250Fragments)
{
    const std::vector<int> sizes = GetParam(); // RTP payload sizes on the wire
    int frameLength = 0;
    for (int size : sizes)
        frameLength += size - 4;
    UdpReceiver receiver(testDestination(), DestPort);
    ASSERT_TRUE(receiver.isOpen());
    QueueObserver observer;
    observer.payloads = {{mpegPayload(frameLength), 1000}, {mpegPayload(3), 80}};
    OrbRtpSession session;
    session.setObserver(&observer);
    ASSERT_EQ(session.start(testDestination().toLatin1().constData(), 0, DestPort, 8000, 14, 10), 0);
    const std::vector<ReceivedPacket> packets = receiver.collect(500, 3000);
    session.stop();

    ASSERT_EQ(packets.size(), sizes.size() + 1);
    std::vector<RtpHeader> headers(packets.size());
    std::vector<uint8_t> reassembled;
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_TRUE(parseRtp(packets[i].bytes, &headers[i]));
        EXPECT_EQ(headers[i].payloadType, 14);
        EXPECT_TRUE(!inPrivateNetwork() || packets[i].ttl == 255) << "TTL " << packets[i].ttl;
        EXPECT_EQ(uint16_t(headers[0].sequence + i), headers[i].sequence);
        if (i == sizes.size())
            break;
        const uint8_t *p = packets[i].bytes.data() + headers[i].payloadOffset;
        const size_t size = packets[i].bytes.size() - headers[i].payloadOffset;
        EXPECT_EQ(size, size_t(sizes[i])) << "packet " << i;
        EXPECT_EQ(headers[i].timestamp, headers[0].timestamp);
        EXPECT_EQ(p[0] | p[1], 0);
        EXPECT_EQ(size_t((p[2] << 8) | p[3]), reassembled.size()) << "fragment offset of packet " << i;
        reassembled.insert(reassembled.end(), p + 4, p + size);
    }
    EXPECT_EQ(reassembled, std::vector<uint8_t>(observer.payloads[0].first.begin() + 4, observer.payloads[0].first.end()));
    // The whole frame advanced the clock by its increment, once.
    EXPECT_EQ(headers.back().timestamp, headers[0].timestamp + 1000u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SessionFragmentTest,
                         ::testing::Values(std::vector<int>{1300}, std::vector<int>{1300, 5},
                                           std::vector<int>{1300, 1300, 292}));


// A port base is usable only when both its even RTP port and the RTCP port
// after it are free; odd bases are never tried.
TEST(SessionProbe, ProbingSkipsBasesWithABusyPort)
{
    if (!inPrivateNetwork())
        GTEST_SKIP() << "needs a network namespace of its own for fixed ports";
    const std::pair<std::vector<int>, int> cases[] = { // ports held, the base expected
        {{}, 13000}, {{13000, 13002}, 13004}, {{13001}, 13002}, {{13000, 13003, 13005}, 13006}};
    for (const auto &c : cases) {
        std::vector<int> held;
        for (int port : c.first) {
            held.push_back(occupyPort(port));
            EXPECT_GE(held.back(), 0) << port;
        }
        QueueObserver observer;
        OrbRtpSession session;
        session.setObserver(&observer);
        EXPECT_EQ(session.start("127.0.0.1", 0, DestPort, 8000, 14, 10), 0);
        EXPECT_EQ(session.localPort(), c.second);
        EXPECT_FALSE(session.isPortValid(c.second));
        session.stop();
        EXPECT_TRUE(session.isPortValid(c.second));
        for (int fd : held)
            if (fd >= 0)
                ::close(fd);
    }
}

TEST(SessionFailedStart, StopAfterAFailedStartSendsNothing)
{
    const struct {
        const char *name, *address;
        bool occupyLocal;
        const char *interface;
    } cases[] = {{"BusyRtcpPort", "127.0.0.1", true, ""}, {"NotDottedQuad", "localhost", false, ""},
                 {"BadNumber", "239.1.2.300", false, ""}, {"NoSuchInterface", "239.1.2.3", false, "nosuch0"}};
    const auto openFds = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        UdpReceiver rtcp(QStringLiteral("127.0.0.1"), DestPort + 1);
        const int held = c.occupyLocal ? occupyPort(14001) : -1;
        const uint fds = openFds();
        QueueObserver observer;
        observer.payloads.assign(1, {std::vector<uint8_t>(10, 0), 80});
        {
            OrbRtpSession session;
            session.setObserver(&observer);
            session.setMulticastInterface(c.interface);
            EXPECT_EQ(session.start(c.address, 14000, DestPort, 8000, 14, 10), -1);
            EXPECT_FALSE(session.isActive());
            session.stop();
            session.stop();
            session.sendPacket(observer.payloads[0].first.data(), 10, 80); // no session: goes nowhere
            EXPECT_EQ(session.packetsSent() + session.sendErrors(), 0u);
            QueueObserver idle; // and it starts afresh, again and again: nothing was left held
            session.setObserver(&idle);
            session.setMulticastInterface({});
            for (int again = 0; again < 2; ++again, session.stop())
                EXPECT_EQ(session.start("127.0.0.1", 0, DestPort + 10, 8000, 14, 10), 0);
        }
        EXPECT_EQ(openFds(), fds) << "no descriptor left behind";
        EXPECT_EQ(observer.offered.load(), 0);
        ReceivedPacket packet;
        EXPECT_FALSE(rtcp.receive(&packet, 200));
        if (held >= 0)
            ::close(held);
    }
}

// A session gone leaves nothing behind: its oRTP session and profile are
// freed with it (heap in use, as glibc counts it, after two hundred).
TEST(SessionLifetime, ASessionGoneLeavesNoMemoryBehind)
{
    const auto inUse = [] { return long(mallinfo2().uordblks); };
    { OrbRtpSession warm; }
    const long before = inUse();
    for (int i = 0; i < 200; ++i)
        OrbRtpSession gone;
    EXPECT_LT(inUse() - before, 64 * 1024);
}

// What comes to a session's port reaches its observer whole, packets that
// come one at a time as well; a sender offered packets at once sends them one
// per period.
TEST(SessionReceive, EveryPacketReachesTheObserver)
{
    struct : QueueObserver {
        std::mutex lock;
        std::vector<std::vector<uint8_t>> got;
        std::chrono::steady_clock::time_point last;
        void onReceivePacket(OrbRtpSession *, const uint8_t *, int32_t, const uint8_t *payload, int32_t length,
                             uint32_t) override
        {
            const std::lock_guard<std::mutex> hold(lock);
            got.emplace_back(payload, payload + length);
            last = std::chrono::steady_clock::now();
        }
        size_t count()
        {
            const std::lock_guard<std::mutex> hold(lock);
            return got.size();
        }
    } far;
    OrbRtpSession receiver, sender;
    receiver.setObserver(&far);
    ASSERT_EQ(receiver.start("127.0.0.1", 0, DestPort, 8000, 14, 10), 0);
    struct : QueueObserver { // asks to be asked again at once: the sender still sleeps a millisecond
        int32_t retryDelay(OrbRtpSession *) override { return 0; }
    } near;
    for (int i = 0; i < 3; ++i)
        near.payloads.push_back({mpegPayload(100 + i), 80});
    sender.setObserver(&near);
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(sender.start("127.0.0.1", 0, receiver.localPort(), 8000, 14, 40), 0);
    for (int i = 0; i < 300 && far.count() < 3; ++i)
        usleep(10000);
    const auto cpuMs = [] {
        rusage u;
        getrusage(RUSAGE_SELF, &u);
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000L + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
    };
    const long before = cpuMs();
    const int asked = near.offered;
    usleep(300000);
    EXPECT_LT(cpuMs() - before, 100) << "idle sessions wait, they do not spin";
    EXPECT_LE(near.offered - asked, 600) << "an idle sender is asked at most once a millisecond";
    sender.stop();
    receiver.stop();
    ASSERT_EQ(far.got.size(), 3u);
    EXPECT_GE(far.last - began, std::chrono::milliseconds(70)) << "the third packet waits two periods (80 ms, counted in whole ms)";
    EXPECT_EQ(near.elapsed, (std::vector<uint32_t>{0, 40, 80}));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(far.got[i], near.payloads[i].first) << i;
}

} // namespace
