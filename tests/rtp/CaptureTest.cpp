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

struct BlockCase {
    const char *name;
    int blockMs;      // the source's
    double speed;     // of the source against real time
    const char *said; // on stderr; none for a clean stream
};
void PrintTo(const BlockCase &c, std::ostream *os) { *os << c.name; }

class CapturePacing : public ::testing::TestWithParam<BlockCase> {};

// fenwa-cli streams a pipe source fed in blocks of the row's size. At real
// time the frames leave one by one at their play time whatever the block
// size: never two closer than half a frame (the pacer's floor, less 3 ms for
// this test's scheduling), as many within three seconds as real time holds
// (none lost), in sequence, timestamps a frame apart, and exit 0. A source at half or at
// three times real time streams on, is named on stderr, and exits 1.
TEST_P(CapturePacing, FramesLeaveAtTheirPlayTimeOrTheShortfallIsSaid)
{
    const BlockCase c = GetParam();
    QTemporaryDir scratch;
    const QString fifo = scratch.filePath(QStringLiteral("blocks"));
    PrivatePulseServer pulse({PipeSourceWriter::module(QStringLiteral("blocks"), fifo)});
    if (!pulse.reached)
        GTEST_SKIP() << "no PulseAudio server for the capture test: " << pulse.problem;
    UdpReceiver receiver(testDestination(), CapturePort);
    const PipeSourceWriter writer(fifo, c.blockMs, c.speed);
    QProcess cli;
    cli.start(QStringLiteral(FENWA_CLI_PATH), {"stream", "--group", QStringLiteral("%1:%2").arg(testDestination()).arg(CapturePort),
                                               "--duration", QString::number(c.blockMs / 1000.0 + 4), "--source", "blocks"});
    std::vector<ReceivedPacket> packets(1);
    ASSERT_TRUE(receiver.receive(&packets[0], c.blockMs + 3000)) << "nothing reached the group";
    for (ReceivedPacket packet; receiver.receive(&packet, 1000) && packet.arrivalUs < packets[0].arrivalUs + 3000000;)
        packets.push_back(packet);
    ASSERT_TRUE(cli.waitForFinished(10000));
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitCode(), c.said ? 1 : 0) << err;
    if (c.said) {
        EXPECT_TRUE(err.find(c.said) != err.npos && err.find("the stream went out short") != err.npos) << err;
        return;
    }
    // Real time, or up to a tenth faster while the pacer draws back what a
    // late start or a stall of this machine added to the latency.
    EXPECT_GE(double(packets.size()), 3000.0 / FrameMs - 2);
    EXPECT_LE(double(packets.size()), 3000.0 / FrameMs * 1.1 + 2);
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
}

INSTANTIATE_TEST_SUITE_P(Sources, CapturePacing,
                         ::testing::Values(BlockCase{"Blocks10ms", 10, 1.0, nullptr}, BlockCase{"Blocks100ms", 100, 1.0, nullptr},
                                           BlockCase{"Blocks2s", 2000, 1.0, nullptr},
                                           BlockCase{"HalfRealTime", 100, 0.5, "falls behind real time"},
                                           BlockCase{"ThreeTimesRealTime", 100, 3.0, "delivers more audio than real time"}),
                         [](const ::testing::TestParamInfo<BlockCase> &info) { return info.param.name; });
#endif

} // namespace
