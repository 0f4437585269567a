// SPDX-License-Identifier: GPL-3.0-or-later
// Capture end to end: a PulseAudio server of the test's own with a null sink,
// a tone played into it, its monitor streamed to a group and decoded again.
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

// A server in a private runtime directory, never the user's; the test
// process and its children reach it through PULSE_SERVER.
class PrivatePulseServer
{
public:
    PrivatePulseServer()
    {
        const QString socket = dir.filePath(QStringLiteral("native"));
        server.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "HOME"})
            env.insert(QLatin1String(name), dir.path());
        server.setProcessEnvironment(env);
        // -n: no system configuration; as root it still runs (with a warning).
        server.start(QStringLiteral("pulseaudio"),
                     {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes", "-L",
                      "module-native-protocol-unix auth-anonymous=1 socket=" + socket, "-L",
                      QStringLiteral("module-null-sink sink_name=%1 rate=48000").arg(QLatin1String(SinkName))});
        if (!server.waitForStarted(5000)) {
            problem = "pulseaudio is not installed (scripts/setup.sh installs it)";
            return;
        }
        previous = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
        for (int i = 0; i < 50 && !reached; ++i) {
            getAudioDevices(&reached);
            if (!reached)
                server.waitForFinished(100);
        }
        if (!reached)
            problem = "pulseaudio did not start: " + server.readAll().toStdString();
    }
    ~PrivatePulseServer()
    {
        server.terminate();
        if (!server.waitForFinished(3000))
            server.kill();
        server.waitForFinished(3000);
        if (previous.isNull())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", previous);
    }
    bool reached = false;
    std::string problem;

private:
    QTemporaryDir dir;
    QProcess server;
    QByteArray previous;
};

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
#endif

} // namespace
