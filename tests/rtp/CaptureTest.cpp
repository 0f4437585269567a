// SPDX-License-Identifier: GPL-3.0-or-later
// Capture end to end: a PulseAudio server of the test's own with a null sink,
// a tone played into it, its monitor streamed to a group and decoded again;
// and pipe sources fed in blocks of every size, at real time, slower and
// faster.
#include "OrbUtils/CoreAudio.h"
#include "OrbUtils/rtp/MpegAudioFrame.h"
#include "OrbUtils/rtp/RTPMulticast.h"
#include "OrbUtils/rtp/RTPPulseAudioReader.h"
#include "RtpTestSupport.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cmath>

namespace {

const int CapturePort = 19000;
const char SinkName[] = "fenwa_test_sink";
const double FrameMs = 1152 * 1000.0 / 44100;

TEST(CaptureEndToEnd, ToneIntoTheSinkReachesTheGroupAsTheSameTone)
{
    PrivatePulseServer pulse;
    if (!pulse.reached)
        GTEST_SKIP() << "no PulseAudio server for the capture test: " << pulse.problem;

    AudioDeviceInfo monitor;
    for (const AudioDeviceInfo &device : getAudioDevices())
        if (device.id == QStringLiteral("%1.monitor").arg(QLatin1String(SinkName)))
            monitor = device;
    ASSERT_EQ(monitor.kind, AudioDeviceInfo::Loopback);
    ASSERT_FALSE(monitor.name.isEmpty());

    UdpReceiver receiver(testDestination(), CapturePort);
    ASSERT_TRUE(receiver.isOpen());
    auto *reader = new RTPPulseAudioReader();
    reader->setDevice(monitor);
    RTPMulticast multicast;
    multicast.setReader(reader);
    ASSERT_EQ(multicast.start(testDestination(), CapturePort), 0);
    ASSERT_GE(multicast.localPort(), 0) << "the capture did not start";

    // paplay drains what it wrote before it leaves; a player that does not
    // loses what the server had not played yet.
    QTemporaryDir dir;
    const QString tone = makeMedia(dir, QStringLiteral("tone.wav"), QStringLiteral("aevalsrc=0.5*sin(2*PI*1000*t):d=2"), {});
    ASSERT_FALSE(tone.isEmpty());
    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QLatin1String(SinkName), tone});
    std::vector<std::vector<uint8_t>> frames;
    ReceivedPacket packet;
    const int64_t end = steadyUs() + 4000000;
    while (steadyUs() < end && receiver.receive(&packet, 3000)) {
        RtpHeader header;
        ASSERT_TRUE(parseRtp(packet.bytes, &header));
        ASSERT_EQ(header.payloadType, 14);
        const uint8_t *p = packet.bytes.data() + header.payloadOffset + 4;
        frames.emplace_back(p, p + (packet.bytes.size() - header.payloadOffset - 4));
    }
    player.waitForFinished(5000);
    multicast.stop();
    ASSERT_EQ(player.exitCode(), 0) << player.readAllStandardError().toStdString();

    int rate = 0;
    ASSERT_GT(frames.size(), 0u) << "nothing reached the group";
    const std::vector<float> decoded = decodeMpegAudio(frames, &rate);
    ASSERT_EQ(rate, 44100);
    // Silence before and after the tone: measure where it sounds.
    size_t first = decoded.size(), last = 0;
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (std::fabs(decoded[i]) > 0.1f) {
            first = std::min(first, i);
            last = i;
        }
    }
    ASSERT_GT(last, first + size_t(rate)) << "less than a second of the tone came through";
    EXPECT_NEAR(toneFrequency(std::vector<float>(decoded.begin() + long(first), decoded.begin() + long(last)), rate),
                1000.0, 5.0);
}

class CapturePacing : public ::testing::TestWithParam<int> {}; // the source's block, ms

// Whatever the block size, the frames leave one by one at their play time:
// never two closer than half a frame (the pacer's floor, less 3 ms for this
// test's scheduling), as many in three seconds as real time holds, in
// sequence, with timestamps that step by one frame; and the source is not
// said to fall behind or to overflow.
TEST_P(CapturePacing, FramesLeaveAtTheirPlayTimeWhateverTheBlockSize)
{
    const int blockMs = GetParam();
    QTemporaryDir scratch;
    const QString fifo = scratch.filePath(QStringLiteral("blocks"));
    PrivatePulseServer pulse({PipeSourceWriter::module(QStringLiteral("blocks"), fifo)});
    if (!pulse.reached)
        GTEST_SKIP() << "no PulseAudio server for the capture test: " << pulse.problem;
    UdpReceiver receiver(testDestination(), CapturePort);
    ASSERT_TRUE(receiver.isOpen());
    const PipeSourceWriter writer(fifo, blockMs, 1.0);
    auto *reader = new RTPPulseAudioReader();
    reader->setDevice({QStringLiteral("blocks"), QString(), AudioDeviceInfo::Capture});
    RTPMulticast multicast;
    multicast.setReader(reader);
    ASSERT_EQ(multicast.start(testDestination(), CapturePort), 0);
    ASSERT_GE(multicast.localPort(), 0) << "the capture did not start";

    std::vector<ReceivedPacket> packets(1);
    ASSERT_TRUE(receiver.receive(&packets[0], blockMs + 3000)) << "nothing reached the group";
    const int64_t end = packets[0].arrivalUs + 3000000;
    for (ReceivedPacket packet; receiver.receive(&packet, 1000) && packet.arrivalUs < end;)
        packets.push_back(packet);
    const RTPMulticast::Shortfall shortfall = multicast.shortfall();
    multicast.stop();

    EXPECT_NEAR(double(packets.size()), 3000.0 / FrameMs + 1, 3.0);
    double closest = 1e9;
    for (size_t i = 1; i < packets.size(); ++i) {
        RtpHeader previous, header;
        ASSERT_TRUE(parseRtp(packets[i - 1].bytes, &previous) && parseRtp(packets[i].bytes, &header));
        ASSERT_EQ(uint16_t(header.sequence - previous.sequence), 1u) << "packet " << i;
        const uint32_t step = header.timestamp - previous.timestamp;
        ASSERT_TRUE(step == 208 || step == 209) << "packet " << i << " step " << step;
        closest = std::min(closest, double(packets[i].arrivalUs - packets[i - 1].arrivalUs) / 1000.0);
    }
    EXPECT_GE(closest, FrameMs / 2 - 3.0);
    EXPECT_EQ(shortfall.episodes, 0) << shortfall.recentLateMs << " ms late within 10 s";
    EXPECT_EQ(shortfall.droppedMs, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Blocks, CapturePacing, ::testing::Values(10, 100, 2000),
                         [](const ::testing::TestParamInfo<int> &info) { return std::to_string(info.param) + "ms"; });

#ifdef FENWA_CLI_PATH
class CaptureStreamStop : public ::testing::TestWithParam<bool> {}; // the source removed, or Ctrl+C

// fenwa-cli stream --source ends as it should: on Ctrl+C with the encoder's
// last frames sent, and within two seconds of its source going away (the
// sink unloaded) with exit 1; never with a library's complaint on stderr.
TEST_P(CaptureStreamStop, EndsAsItShould)
{
    const bool removed = GetParam();
    PrivatePulseServer pulse;
    if (!pulse.reached)
        GTEST_SKIP() << "no PulseAudio server for the capture test: " << pulse.problem;
    UdpReceiver receiver(testDestination(), CapturePort);
    QProcess cli;
    cli.start(QStringLiteral(FENWA_CLI_PATH), {"stream", "--group", QStringLiteral("%1:%2").arg(testDestination()).arg(CapturePort),
                                               "--source", QStringLiteral("%1.monitor").arg(QLatin1String(SinkName))});
    ReceivedPacket packet;
    ASSERT_TRUE(receiver.receive(&packet, 5000)) << cli.readAllStandardError().toStdString();
    const int64_t asked = steadyUs();
    if (removed)
        ASSERT_EQ(QProcess::execute(QStringLiteral("pactl"), {"unload-module", "module-null-sink"}), 0);
    else
        ::kill(pid_t(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(5000));
    EXPECT_LT(steadyUs() - asked, 2000000);
    EXPECT_EQ(cli.exitCode(), removed ? 1 : 0);
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    EXPECT_EQ(err.contains(QLatin1String("is gone")), removed) << err.toStdString();
    EXPECT_FALSE(err.contains(QLatin1Char('['))) << err.toStdString(); // "[libmp3lame @ 0x...] ..."
}

INSTANTIATE_TEST_SUITE_P(Stops, CaptureStreamStop, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "SourceRemoved" : "Interrupt"; });

struct ShortCase {
    const char *name;
    double speed; // of the source against real time
    const char *said;
};
void PrintTo(const ShortCase &c, std::ostream *os) { *os << c.name; }

class CaptureShortfall : public ::testing::TestWithParam<ShortCase> {};

// A source that delivers half of real time, or three times it, streams on
// but is said to on stderr while it runs, and the stream ends with exit 1.
TEST_P(CaptureShortfall, IsSaidAndEndsTheStreamWithExit1)
{
    const ShortCase c = GetParam();
    QTemporaryDir scratch;
    const QString fifo = scratch.filePath(QStringLiteral("blocks"));
    PrivatePulseServer pulse({PipeSourceWriter::module(QStringLiteral("blocks"), fifo)});
    if (!pulse.reached)
        GTEST_SKIP() << "no PulseAudio server for the capture test: " << pulse.problem;
    const PipeSourceWriter writer(fifo, 100, c.speed);
    QProcess cli;
    cli.start(QStringLiteral(FENWA_CLI_PATH), {"stream", "--group", QStringLiteral("%1:%2").arg(testDestination()).arg(CapturePort),
                                               "--duration", "5", "--source", "blocks"});
    ASSERT_TRUE(cli.waitForFinished(15000));
    EXPECT_EQ(cli.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    EXPECT_TRUE(err.contains(QLatin1String(c.said))) << err.toStdString();
    EXPECT_TRUE(err.contains(QLatin1String("the stream went out short"))) << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Sources, CaptureShortfall,
                         ::testing::Values(ShortCase{"HalfRealTime", 0.5, "falls behind real time"},
                                           ShortCase{"ThreeTimesRealTime", 3.0, "delivers more audio than real time"}),
                         [](const ::testing::TestParamInfo<ShortCase> &info) { return info.param.name; });
#endif

} // namespace
