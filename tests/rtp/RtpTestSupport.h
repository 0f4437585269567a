// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// Called once from main(), before any thread exists: moves the process into
// a network namespace of its own, where lo is the only interface and carries
// the multicast route. inPrivateNetwork() tells whether that worked.
void enterPrivateNetwork();
bool inPrivateNetwork();
// The group streams are sent to in tests: a multicast group on lo inside the
// private namespace, plain loopback otherwise. Never a real interface.
QString testDestination();

// Runs the system's ffmpeg on a lavfi source (such as "sine=frequency=1000:
// duration=2") with outputArgs before the output name. Empty on failure.
QString makeMedia(const QTemporaryDir &dir, const QString &name, const QString &source, const QStringList &outputArgs);
// An MP3 of the given length: 44.1 kHz mono sine, 128 kbit/s.
QString makeMp3(const QTemporaryDir &dir, const QString &name, double seconds);
// Files made once per process: MP3s of one and of half a second (empty when
// ffmpeg cannot make them), a text named .mp3, and a path where no file is.
struct TestAudio {
    QString oneSecond, halfSecond, notAudio, missing;
};
const TestAudio &testAudio();

struct ReceivedPacket {
    std::vector<uint8_t> bytes;
    int64_t arrivalUs = 0; // steady clock, as the kernel took the datagram in
    int ttl = -1;          // IP TTL it arrived with
};

// A UDP socket for what the code under test sends: bound to port on all
// local addresses of the namespace, joined to address when it is a multicast
// group (on lo).
class UdpReceiver
{
public:
    UdpReceiver(const QString &address, int port);
    ~UdpReceiver();
    bool isOpen() const { return fd >= 0; }
    // Waits up to timeoutMs for one datagram.
    bool receive(ReceivedPacket *out, int timeoutMs);
    // Collects datagrams until silenceMs of silence or until maxMs in total.
    std::vector<ReceivedPacket> collect(int silenceMs, int maxMs);

private:
    int fd = -1;
};

// Binds a UDP socket on 0.0.0.0:port to keep the port busy; -1 on failure.
int occupyPort(int port);
int64_t steadyUs();

// RTP header fields of a received packet.
struct RtpHeader {
    bool marker = false;
    int payloadType = -1;
    uint16_t sequence = 0;
    uint32_t timestamp = 0, ssrc = 0;
    size_t payloadOffset = 0;
};
bool parseRtp(const std::vector<uint8_t> &bytes, RtpHeader *out);
// True when the compound RTCP packet holds a BYE naming ssrc.
bool rtcpHasBye(const std::vector<uint8_t> &bytes, uint32_t ssrc);

// Decodes MPEG audio frames with libavcodec into the first channel's samples;
// *rate gets the decoded sample rate.
std::vector<float> decodeMpegAudio(const std::vector<std::vector<uint8_t>> &frames, int *rate);
// The frequency of a clean tone, from rising zero crossings of the middle
// half of the samples (ends skipped: encoder start-up and padding).
double toneFrequency(const std::vector<float> &samples, int rate);

// A PulseAudio server of the test's own (private runtime directory and home,
// never the user's server), with a null sink "fenwa_test_sink" at 48 kHz and
// the modules given (each a "name arguments" line); the process and its
// children reach it through PULSE_SERVER while it lives.
class PrivatePulseServer
{
public:
    explicit PrivatePulseServer(const QStringList &modules = {});
    ~PrivatePulseServer();
    bool reached = false;
    std::string problem; // why it is not reached

private:
    QTemporaryDir dir;
    QProcess server;
    QByteArray previous;
};

// Feeds a pipe source (s16le stereo 44.1 kHz) from a thread of its own: a
// block of blockMs of silence every blockMs / speed (1: real time) until
// destroyed; no write waits more than 100 ms.
class PipeSourceWriter
{
public:
    enum { Rate = 44100, FrameBytes = 4 };
    // The module line of such a source named name, reading fifo.
    static QString module(const QString &name, const QString &fifo);
    PipeSourceWriter(const QString &fifo, int blockMs, double speed);
    ~PipeSourceWriter();

private:
    std::atomic<bool> stopping{false};
    std::thread thread;
};
