// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliStream.h"
#include "RtpTestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(StreamOptions, ParsesOrExplains)
{
    const char bad[] = "bad group address";
    const struct {
        const char *name;
        QStringList args;
        bool ok;
        const char *messagePart; // in the error, or the parsed address when ok
    } cases[] = {
        {"Good", {"--group", "239.255.0.1:6000", "--duration", "2.5", "a.mp3", "b.mp3"}, true, "239.255.0.1"},
        {"FilesFirst", {"a.mp3", "--group", "239.1.1.1:5004"}, true, "239.1.1.1"},
        {"NoGroup", {"a.mp3"}, false, "--group"},
        {"NoPort", {"--group", "239.1.1.1", "a.mp3"}, false, bad},
        {"PortZero", {"--group", "239.1.1.1:0", "a.mp3"}, false, bad},
        {"PortTooHigh", {"--group", "239.1.1.1:65535", "a.mp3"}, false, bad},
        {"HostName", {"--group", "example.org:6000", "a.mp3"}, false, bad},
        {"ShortQuad", {"--group", "239.1.1:6000", "a.mp3"}, false, bad},
        {"Broadcast", {"--group", "255.255.255.255:6000", "a.mp3"}, false, bad},
        {"EmptyList", {"--group", "239.1.1.1:6000"}, false, "play list is empty"},
        {"Source", {"--group", "239.1.1.1:6000", "--source", "hw.monitor"}, true, "239.1.1.1"},
        {"SourceAndFiles", {"--group", "239.1.1.1:6000", "--source", "hw", "a.mp3"}, false, "not both"},
        {"UnknownInterface", {"--group", "239.1.1.1:6000", "--interface", "nosuch9", "a.mp3"}, false,
         "no network interface"},
        {"BadDuration", {"--group", "239.1.1.1:6000", "--duration", "-1", "a.mp3"}, false, "bad duration"},
        {"MissingValue", {"a.mp3", "--group"}, false, "needs a value"},
        {"UnknownOption", {"--loop", "--group", "239.1.1.1:6000", "a.mp3"}, false, "unknown option"},
    };
    for (const auto &c : cases) {
        CliStreamOptions options;
        QString error;
        EXPECT_EQ(parseStreamOptions(c.args, &options, &error), c.ok) << c.name << ": " << error.toStdString();
        EXPECT_TRUE((c.ok ? options.address : error).contains(QLatin1String(c.messagePart)))
            << c.name << ": " << (c.ok ? options.address : error).toStdString();
    }
}

#ifdef FENWA_CLI_PATH

const int StreamPort = 17000;

class StreamCommandTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(oneSecond.isEmpty()) << "ffmpeg with libmp3lame is needed"; }

    // Starts `fenwa-cli stream --group <the test's group> args`.
    void startCli(const QStringList &args, const QString &group = QString())
    {
        const QString to = group.isEmpty() ? QStringLiteral("%1:%2").arg(testDestination()).arg(StreamPort) : group;
        cli.start(QStringLiteral(FENWA_CLI_PATH), QStringList{"stream", "--group", to} + args);
        ASSERT_TRUE(cli.waitForStarted(5000));
    }
    // The first packet's source, then true when its BYE arrives on the RTCP port.
    bool streamsThenSaysBye(const std::function<void()> &afterFirstPacket = nullptr)
    {
        ReceivedPacket packet;
        RtpHeader header;
        if (!rtp.receive(&packet, 5000) || !parseRtp(packet.bytes, &header) || header.payloadType != 14)
            return false;
        if (afterFirstPacket)
            afterFirstPacket();
        while (rtcp.receive(&packet, 3000))
            if (rtcpHasBye(packet.bytes, header.ssrc))
                return true;
        return false;
    }

    const QString oneSecond = testAudio().oneSecond;
    UdpReceiver rtp{testDestination(), StreamPort}, rtcp{testDestination(), StreamPort + 1};
    QProcess cli;
};

// Every file is checked before anything is sent: one that is missing or not
// MPEG audio ends the run at once with its name (a line break in it shown as
// \n, never as a line of its own), and the group hears nothing.
TEST_F(StreamCommandTest, EveryFileIsCheckedBeforeAnythingIsSent)
{
    const QString twoLines = testAudio().missing + QStringLiteral("\nPlaying 2: fake.mp3");
    for (const QString &bad : {testAudio().missing, testAudio().notAudio, twoLines}) {
        startCli({oneSecond, bad});
        ASSERT_TRUE(cli.waitForFinished(10000));
        EXPECT_EQ(cli.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        EXPECT_TRUE(err.contains(QStringLiteral("cannot play '%1'").arg(QString(bad).replace(QLatin1Char('\n'), QLatin1String("\\n")))))
            << err.toStdString();
        EXPECT_FALSE(err.contains(QLatin1String("\nPlaying 2"))) << err.toStdString();
    }
    ReceivedPacket packet;
    EXPECT_FALSE(rtp.receive(&packet, 300));
}

// Stops by itself after the duration, having wrapped the one-file list, and
// says goodbye on the RTCP port.
TEST_F(StreamCommandTest, DurationEndsTheRunWithABye)
{
    startCli({"--duration", "2.2", oneSecond});
    EXPECT_TRUE(streamsThenSaysBye());
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0);
    const QString out = QString::fromLocal8Bit(cli.readAllStandardOutput());
    EXPECT_GE(out.count(QStringLiteral("Playing 1: ") + oneSecond), 2) << out.toStdString();
}

class StreamSignalTest : public StreamCommandTest, public ::testing::WithParamInterface<int> {};

// A terminal closing (SIGHUP) stops the stream as Ctrl+C does, with a BYE.
TEST_P(StreamSignalTest, SignalStopsCleanlyWithABye)
{
    startCli({oneSecond});
    EXPECT_TRUE(streamsThenSaysBye([this] { ::kill(pid_t(cli.processId()), GetParam()); }));
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, StreamSignalTest, ::testing::Values(SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::string(info.param == SIGINT ? "Interrupt" : "HangUp");
                         });

// The installer's laptop with a static address and no route to the group:
// every send fails. Said once, and the run fails instead of passing for a
// stream.
TEST_F(StreamCommandTest, NoRouteToTheGroupFailsTheRun)
{
    if (!inPrivateNetwork())
        GTEST_SKIP() << "needs a namespace of its own, where no route leads anywhere";
    startCli({"--duration", "0.5", oneSecond}, QStringLiteral("198.51.100.7:%1").arg(StreamPort));
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    EXPECT_EQ(err.count(QStringLiteral("refuses to send")), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("nothing was sent"))) << err.toStdString();
}

#endif

} // namespace
