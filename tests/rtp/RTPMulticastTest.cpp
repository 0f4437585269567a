// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/rtp/MpegAudioFrame.h"
#include "OrbUtils/rtp/RTPAudioPacket.h"
#include "OrbUtils/rtp/RTPFileAudioReader.h"
#include "OrbUtils/rtp/RTPMulticast.h"
#include "RtpTestSupport.h"

#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace {

const int GroupPort = 16000;

TEST(RTPMulticastLifecycle, NoSourceOrOneThatRefusesToStartSendsNothing)
{
    RTPMulticast idle;
    idle.stop();
    UdpReceiver receiver(QStringLiteral("127.0.0.1"), GroupPort);
    RTPMulticast noSource;
    EXPECT_EQ(noSource.start(QStringLiteral("127.0.0.1"), GroupPort), -1);
    EXPECT_EQ(noSource.localPort(), -1);
    RTPMulticast multicast;
    multicast.setReader(new RTPFileAudioReader()); // empty play list
    EXPECT_EQ(multicast.start(QStringLiteral("127.0.0.1"), GroupPort), 0);
    EXPECT_EQ(multicast.localPort(), -1);
    ReceivedPacket packet;
    EXPECT_FALSE(receiver.receive(&packet, 300));
    multicast.stop();
}

class RTPMulticastRateTest : public ::testing::TestWithParam<std::pair<int, std::vector<uint32_t>>> {};

// Each file's frames reach the group one whole frame per packet, with TTL 255,
// timestamps that step by the frame's play time at 8000 Hz (the second of
// the pair: the steps a frame may take), and never faster than the media plays.
TEST_P(RTPMulticastRateTest, TimestampsStepByTheFramesPlayTime)
{
    const int rate = GetParam().first;
    const std::vector<uint32_t> &steps = GetParam().second;
    QTemporaryDir dir;
    const QString file = makeMedia(dir, QStringLiteral("rate.mp3"), QStringLiteral("sine=duration=3"),
                                   {"-ar", QString::number(rate), "-c:a", "libmp3lame"});
    ASSERT_FALSE(file.isEmpty()) << "ffmpeg with libmp3lame is needed to make test audio";
    UdpReceiver receiver(testDestination(), GroupPort);
    ASSERT_TRUE(receiver.isOpen());
    RTPMulticast multicast;
    for (const char *run : {"first run", "run again"}) { // a second start paces as the first did
        SCOPED_TRACE(run);
        auto *reader = new RTPFileAudioReader();
        reader->setFiles({file});
        multicast.setReader(reader);
        ASSERT_EQ(multicast.start(testDestination(), GroupPort), 0);
        std::vector<ReceivedPacket> packets(12);
        for (ReceivedPacket &packet : packets)
            ASSERT_TRUE(receiver.receive(&packet, 2000));
        multicast.stop();
        receiver.collect(20, 500); // what the stop still sent

        std::vector<RtpHeader> headers(packets.size());
        for (size_t i = 0; i < packets.size(); ++i) {
            ASSERT_TRUE(parseRtp(packets[i].bytes, &headers[i]));
            EXPECT_TRUE(!inPrivateNetwork() || packets[i].ttl == 255) << "TTL " << packets[i].ttl;
            const uint8_t *p = packets[i].bytes.data() + headers[i].payloadOffset;
            const size_t size = packets[i].bytes.size() - headers[i].payloadOffset;
            MpegAudioHeader h;
            ASSERT_TRUE(parseMpegAudioHeader(p + 4, size - 4, &h)) << "packet " << i;
            EXPECT_EQ(size_t(h.frameLength), size - 4) << "packet " << i;
            EXPECT_EQ(h.sampleRate, rate);
            const uint32_t step = i ? headers[i].timestamp - headers[i - 1].timestamp : steps[0];
            EXPECT_NE(std::find(steps.begin(), steps.end(), step), steps.end()) << "packet " << i << " step " << step;
        }
        // Only a lower bound: a loaded machine may send late, never early.
        const double mediaMs = double(headers.back().timestamp - headers.front().timestamp) / 8.0;
        EXPECT_GT(double(packets.back().arrivalUs - packets.front().arrivalUs) / 1000.0, mediaMs - 15.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, RTPMulticastRateTest,
                         ::testing::Values(std::make_pair(48000, std::vector<uint32_t>{192}),
                                           std::make_pair(22050, std::vector<uint32_t>{208, 209}),
                                           std::make_pair(8000, std::vector<uint32_t>{576})));

// A capture whose encoder still holds frames when the input ends; its
// packets were all ready at once.
class FinishingSource : public RTPAudioReader
{
public:
    bool isRealTime() override { return true; }
    int32_t payloadType() override { return 14; }
    RTPAudioPacket *readPacket() override
    {
        if (left <= 0)
            return nullptr;
        --left;
        auto *packet = new RTPAudioPacket();
        const uint8_t frame[3] = {1, 2, 3};
        packet->setPayload(frame, 3);
        packet->duration = 50.0;
        packet->readyUs = readyUs ? readyUs : (readyUs = rtpClockUs());
        return packet;
    }
    void finish() override { left += 3; }
    int pending() override { return left; }
    int left = 2;
    int64_t readyUs = 0;
};

// Stopping hands out what the source still held before the BYE.
TEST(RTPMulticastLifecycle, StopSendsWhatTheSourceStillHeld)
{
    UdpReceiver receiver(testDestination(), GroupPort);
    ASSERT_TRUE(receiver.isOpen());
    RTPMulticast multicast;
    multicast.setReader(new FinishingSource());
    ASSERT_EQ(multicast.start(testDestination(), GroupPort), 0);
    EXPECT_EQ(receiver.collect(300, 3000).size(), 2u);
    multicast.stop();
    EXPECT_EQ(receiver.collect(300, 3000).size(), 3u);
}

// A stream leaves by the adapter it was given, wherever the route for
// multicast points (a PC on two segments).
TEST(RTPMulticastLifecycle, LeavesByTheInterfaceItWasGiven)
{
    if (!inPrivateNetwork() || geteuid() != 0)
        GTEST_SKIP() << "needs root in a network namespace of its own";
    UdpReceiver receiver(testDestination(), GroupPort); // a member on lo, where the route points now
    ASSERT_EQ(std::system("ip link add fwother0 type veth peer name fwother1 && ip link set fwother0 up && ip link set fwother1 up"
                          " && ip route replace 224.0.0.0/4 dev fwother0"), 0);
    RTPMulticast multicast;
    multicast.setInterface(QStringLiteral("lo"));
    multicast.setReader(new FinishingSource());
    ASSERT_EQ(multicast.start(testDestination(), GroupPort), 0);
    const size_t heard = receiver.collect(300, 3000).size();
    multicast.stop();
    EXPECT_EQ(std::system("ip route replace 224.0.0.0/4 dev lo && ip link del fwother0"), 0);
    EXPECT_EQ(heard, 2u);
}

// The sender report in front of the BYE gives the RTP time of its own moment
// as the data packets' timing gives it, not the last packet's: stopped half
// a frame (72 ms at 8 kHz) after a packet, the two differ by 36 ms.
TEST(RTPMulticastLifecycle, ByeReportGivesTheRtpTimeOfItsMoment)
{
    QTemporaryDir dir;
    const QString file = makeMedia(dir, QStringLiteral("8k.mp3"), QStringLiteral("sine=duration=3"),
                                   {"-ar", "8000", "-c:a", "libmp3lame"});
    ASSERT_FALSE(file.isEmpty()) << "ffmpeg with libmp3lame is needed to make test audio";
    UdpReceiver rtp(testDestination(), GroupPort), rtcp(testDestination(), GroupPort + 1);
    auto *reader = new RTPFileAudioReader();
    reader->setFiles({file});
    RTPMulticast multicast;
    multicast.setReader(reader);
    ASSERT_EQ(multicast.start(testDestination(), GroupPort), 0);
    ReceivedPacket last, more, report;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(rtp.receive(&last, 2000));
    QThread::msleep(36);
    multicast.stop();
    // Read at once: arrival times are taken when a datagram is read. The
    // report comes first in the compound packet, the BYE behind it.
    const auto be32 = [](const std::vector<uint8_t> &b, size_t at) { return uint32_t(b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]); };
    bool found = false;
    while (!found && rtcp.receive(&report, 2000))
        found = report.bytes.size() >= 20 && report.bytes[1] == 200 && rtcpHasBye(report.bytes, be32(report.bytes, 4));
    ASSERT_TRUE(found) << "no sender report with a BYE";
    while (rtp.receive(&more, 0))
        last = more; // a packet that left while the stream stopped
    const uint32_t reported = be32(report.bytes, 16);
    RtpHeader header;
    ASSERT_TRUE(parseRtp(last.bytes, &header));
    const int64_t expected = int64_t(header.timestamp) + (report.arrivalUs - last.arrivalUs) * 8000 / 1000000;
    EXPECT_NEAR(double(int32_t(reported - uint32_t(expected))), 0.0, 80.0) << "ticks of 1/8000 s";
}

} // namespace
