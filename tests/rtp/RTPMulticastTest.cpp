// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/rtp/RTPAudioPacket.h"
#include "OrbUtils/rtp/RTPFileAudioReader.h"
#include "OrbUtils/rtp/RTPMulticast.h"
#include "RtpTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

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
    noSource.stop();
    RTPMulticast multicast;
    multicast.setReader(new RTPFileAudioReader()); // empty play list
    EXPECT_EQ(multicast.start(QStringLiteral("127.0.0.1"), GroupPort), 0);
    EXPECT_EQ(multicast.localPort(), -1);
    ReceivedPacket packet;
    EXPECT_FALSE(receiver.receive(&packet, 300));
    multicast.stop();
}

// A real-time source is not held back by media time: its packets go out as
// they come, at most one per send period.
class BurstSource : public RTPAudioReader
{
public:
    bool isRealTime() override { return true; }
    int32_t payloadType() override { return 14; }
    RTPAudioPacket *readPacket() override
    {
        if (left == 0)
            return nullptr;
        --left;
        auto *packet = new RTPAudioPacket();
        const uint8_t frame[3] = {1, 2, 3};
        packet->setPayload(frame, 3);
        packet->duration = 1000.0; // far ahead of the wall clock
        return packet;
    }
    int left = 5;
};

TEST(RTPMulticastLifecycle, RealTimeSourceIsNotHeldBackByMediaTime)
{
    UdpReceiver receiver(testDestination(), GroupPort);
    ASSERT_TRUE(receiver.isOpen());
    RTPMulticast multicast;
    multicast.setReader(new BurstSource());
    ASSERT_EQ(multicast.start(testDestination(), GroupPort), 0);
    const auto packets = receiver.collect(1000, 5000);
    multicast.stop();
    ASSERT_EQ(packets.size(), 5u);
    // Five seconds of media left within well under a second of wall time.
    EXPECT_LT(packets.back().arrivalUs - packets.front().arrivalUs, 900000);
    RtpHeader first, last;
    ASSERT_TRUE(parseRtp(packets.front().bytes, &first));
    ASSERT_TRUE(parseRtp(packets.back().bytes, &last));
    EXPECT_EQ(last.timestamp - first.timestamp, 4u * 8000u);
}

class RTPMulticastStreamTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir();
        fourSeconds = makeMp3(*dir, QStringLiteral("four.mp3"), 4.0);
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    static QTemporaryDir *dir;
    static QString fourSeconds;
};

QTemporaryDir *RTPMulticastStreamTest::dir = nullptr;
QString RTPMulticastStreamTest::fourSeconds;

// One run of a 4-second file, checked packet by packet: what goes on the wire
// and when it leaves.
TEST_F(RTPMulticastStreamTest, FileStreamsAtRealTimePaceWithMediaTimestamps)
{
    ASSERT_FALSE(fourSeconds.isEmpty()) << "ffmpeg with libmp3lame is needed to make test audio";
    // The file's own frame count and length, read the way the pacer reads it.
    struct OpenCounter : RTPFileAudioReaderObserver {
        void onFileOpened(RTPFileAudioReader *, int32_t, const QString &) override { ++opens; }
        int opens = 0;
    } counter;
    RTPFileAudioReader probe;
    probe.setFiles({fourSeconds});
    probe.setObserver(&counter);
    ASSERT_TRUE(probe.start());
    int frames = 0;
    double fileMs = 0;
    for (;;) {
        std::unique_ptr<RTPAudioPacket> p(probe.readPacket());
        ASSERT_NE(p, nullptr);
        if (counter.opens > 1)
            break; // wrapped: this frame belongs to the next round
        fileMs += p->duration;
        ++frames;
    }
    probe.stop();

    UdpReceiver receiver(testDestination(), GroupPort);
    ASSERT_TRUE(receiver.isOpen());
    auto *reader = new RTPFileAudioReader();
    reader->setFiles({fourSeconds});
    RTPMulticast multicast;
    multicast.setReader(reader);
    ASSERT_EQ(multicast.start(testDestination(), GroupPort), 0);
    ASSERT_EQ(multicast.localPort() % 2, 0);
    // The play list wraps, so take one file's worth and a little of the next.
    std::vector<ReceivedPacket> packets;
    ReceivedPacket packet;
    while (packets.size() < size_t(frames + 10) && receiver.receive(&packet, 2000))
        packets.push_back(packet);
    multicast.stop();
    ASSERT_EQ(packets.size(), size_t(frames + 10));

    std::vector<RtpHeader> headers(packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        RtpHeader &h = headers[i];
        ASSERT_TRUE(parseRtp(packets[i].bytes, &h));
        EXPECT_EQ(h.payloadType, 14);
        EXPECT_TRUE(h.marker);
        const uint8_t *p = packets[i].bytes.data() + h.payloadOffset;
        const size_t size = packets[i].bytes.size() - h.payloadOffset;
        ASSERT_GT(size, 4u);
        EXPECT_EQ(p[0] | p[1] | p[2] | p[3], 0) << "packet " << i;
        EXPECT_EQ(mpegFrameLength(p + 4, size - 4), int(size - 4)) << "packet " << i;
        if (i > 0) {
            EXPECT_EQ(h.ssrc, headers[0].ssrc);
            EXPECT_EQ(uint16_t(headers[i - 1].sequence + 1), h.sequence);
            const uint32_t step = h.timestamp - headers[i - 1].timestamp;
            EXPECT_TRUE(step == 208 || step == 209) << "packet " << i << " step " << step;
        }
    }
    // Timestamps follow the media time sent, without rounding creeping in.
    const uint32_t total = headers.back().timestamp - headers.front().timestamp;
    EXPECT_EQ(total, uint32_t(std::trunc(8000.0 * (packets.size() - 1) * (1152.0 / 44.1) / 1000.0)));

    // Timing: packet k leaves once the wall clock has played the media before
    // it. Bounds are loose for a loaded machine under the sanitizers; exact
    // figures come from the benchmark.
    std::vector<double> lateness;
    for (size_t i = 0; i < packets.size(); ++i) {
        const double wallMs = double(packets[i].arrivalUs - packets[0].arrivalUs) / 1000.0;
        const double mediaMs = double(headers[i].timestamp - headers[0].timestamp) / 8.0;
        lateness.push_back(wallMs - mediaMs);
    }
    EXPECT_GT(*std::min_element(lateness.begin(), lateness.end()), -30.0) << "a packet left ahead of its time";
    const size_t second = size_t(1000.0 / (1152.0 / 44.1));
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const double early = median(std::vector<double>(lateness.begin(), lateness.begin() + long(second)));
    const double late = median(std::vector<double>(lateness.end() - long(second), lateness.end()));
    EXPECT_LT(late - early, 60.0) << "lateness accumulates";
    // The whole file took its own length of wall time.
    const double fileWallMs = double(packets[size_t(frames)].arrivalUs - packets[0].arrivalUs) / 1000.0;
    EXPECT_GT(fileWallMs, fileMs - 30.0);
    EXPECT_LT(fileWallMs, fileMs + 250.0);
}

} // namespace
