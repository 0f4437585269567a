// SPDX-License-Identifier: GPL-3.0-or-later
// capture_bench [--seconds N] [--rate HZ]
//
// Capture latency and CPU of `fenwa-cli stream --source` against
// `ffmpeg -f pulse -i SRC -c:a libmp3lame -b:a 128k -f rtp`, side by side on
// the same source. The run moves into a network namespace of its own (lo
// only) and starts a PulseAudio server of its own with a null sink; both
// streamers capture the sink's monitor and send to 127.0.0.1 there. This
// program plays into the sink: silence with a 1 kHz burst every 500 ms. A
// burst's latency is the time from its first sample entering the sink (write
// time plus the playback latency the server reports) to the arrival of the
// first RTP packet whose decoded audio holds it. Prints median and p99 per
// streamer with the ratio of the medians, and the CPU seconds each used
// (wait4), with their ratio. The machine's load average at the start and
// the end is printed too: figures taken beside other builds are not those of
// a quiet machine.
#include "OrbUtils/rtp/MpegAudioFrame.h"
#include "BenchProcess.h"
#include "RtpTestSupport.h"

#include <QCoreApplication>
#include <QProcess>

#include <pulse/simple.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int OurPort = 18010;
const int FfmpegPort = 18012;
int Rate = 44100; // the sink's, and so both captures'
const int BurstEveryMs = 500;
const int BurstMs = 60;

// Decodes one stream's packets as they arrive and notes when a burst first
// shows in them.
class Listener
{
public:
    Listener()
    {
        const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
        context = avcodec_alloc_context3(codec);
        avcodec_open2(context, codec, nullptr);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
    }
    ~Listener()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
    // payload: an RFC 2250 payload of one or more whole frames.
    void onPacket(const uint8_t *payload, size_t size, int64_t arrivalUs)
    {
        size_t offset = 4;
        MpegAudioHeader h;
        while (offset < size && findMpegAudioFrame(payload, size, &offset, true, true, &h) == MpegAudioFound) {
            if (av_new_packet(packet, h.frameLength) < 0)
                return;
            std::copy(payload + offset, payload + offset + h.frameLength, packet->data);
            offset += size_t(h.frameLength);
            if (avcodec_send_packet(context, packet) == 0)
                while (avcodec_receive_frame(context, frame) == 0)
                    scan(arrivalUs);
            av_packet_unref(packet);
        }
    }
    std::vector<int64_t> onsets; // arrival times, µs

private:
    void scan(int64_t arrivalUs)
    {
        const auto *s = reinterpret_cast<const float *>(frame->extended_data[0]);
        for (int i = 0; i < frame->nb_samples; ++i) {
            if (std::fabs(s[i]) > 0.1f) {
                if (quiet > frame->sample_rate / 10)
                    onsets.push_back(arrivalUs);
                quiet = 0;
            } else {
                ++quiet;
            }
        }
    }
    AVCodecContext *context = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    int quiet = 0;
};

struct Figures
{
    size_t matched = 0;
    double median = NAN, p99 = NAN;
};

Figures latency(const std::vector<int64_t> &bursts, const std::vector<int64_t> &onsets)
{
    std::vector<double> ms;
    for (int64_t onset : onsets) {
        // The burst it carries is the last one that entered before it arrived.
        auto it = std::upper_bound(bursts.begin(), bursts.end(), onset);
        if (it == bursts.begin())
            continue;
        const double late = double(onset - *(it - 1)) / 1000.0;
        if (late < BurstEveryMs - BurstMs)
            ms.push_back(late);
    }
    Figures f;
    f.matched = ms.size();
    if (ms.empty())
        return f;
    std::sort(ms.begin(), ms.end());
    f.median = ms[ms.size() / 2];
    f.p99 = ms[std::min(ms.size() - 1, size_t(std::ceil(0.99 * double(ms.size()))) - 1)];
    return f;
}

// The one-minute load average.
double loadAverage()
{
    double load[1] = {NAN};
    return ::getloadavg(load, 1) == 1 ? load[0] : NAN;
}

} // namespace

int main(int argc, char **argv)
{
    enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    int seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--seconds")
            seconds = std::max(5, std::atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "--rate")
            Rate = std::max(8000, std::atoi(argv[i + 1]));
    }
    if (!inPrivateNetwork()) {
        std::fprintf(stderr, "capture_bench: needs a network namespace of its own (run as root)\n");
        return 1;
    }

    QTemporaryDir dir;
    const QByteArray socket = dir.path().toLocal8Bit() + "/native";
    qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
    qputenv("PULSE_RUNTIME_PATH", dir.path().toLocal8Bit());
    qputenv("HOME", dir.path().toLocal8Bit());
    QProcess pulse;
    pulse.start(QStringLiteral("pulseaudio"),
                {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                 QStringLiteral("--use-pid-file=no"), QStringLiteral("-L"),
                 QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=%1").arg(QLatin1String(socket)),
                 QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=bench rate=%1").arg(Rate)});
    qputenv("PULSE_SERVER", "unix:" + socket);
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(Rate), 1};
    pa_buffer_attr attributes{uint32_t(-1), uint32_t(Rate * 4 / 50), uint32_t(-1), uint32_t(-1), uint32_t(-1)};
    pa_simple *player = nullptr;
    for (int i = 0; i < 50 && player == nullptr; ++i) {
        player = pa_simple_new(nullptr, "capture_bench", PA_STREAM_PLAYBACK, "bench", "bursts", &spec, nullptr,
                               &attributes, nullptr);
        if (!player)
            usleep(100000);
    }
    if (!player) {
        std::fprintf(stderr, "capture_bench: no PulseAudio server could be started\n");
        return 1;
    }

    const int ours = bindLoopback(OurPort), theirs = bindLoopback(FfmpegPort);
    Listener ourListener, ffmpegListener;
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        pollfd fds[2] = {{ours, POLLIN, 0}, {theirs, POLLIN, 0}};
        uint8_t buffer[65536];
        while (!done.load()) {
            if (::poll(fds, 2, 100) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof(buffer), 0);
                const int64_t now = steadyUs();
                if (n > 16)
                    (i == 0 ? ourListener : ffmpegListener).onPacket(buffer + 12, size_t(n - 12), now);
            }
        }
    });

    const double loadStart = loadAverage();
    const std::string cli = QCoreApplication::applicationDirPath().toStdString() + "/fenwa-cli";
    const std::string run = std::to_string(seconds + 1);
    const pid_t ourPid = spawn({cli, "stream", "--group", "127.0.0.1:" + std::to_string(OurPort), "--duration", run,
                                "--source", "bench.monitor"});
    const pid_t ffmpegPid = spawn({"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "pulse", "-i",
                                   "bench.monitor", "-t", run, "-c:a", "libmp3lame", "-b:a", "128k", "-f", "rtp",
                                   "rtp://127.0.0.1:" + std::to_string(FfmpegPort)});
    std::printf("capture_bench: %d s of bursts into a %d Hz null sink, captured by fenwa-cli and by ffmpeg at "
                "once, streamed to 127.0.0.1 in a namespace of its own...\n",
                seconds, Rate);
    std::fflush(stdout);
    usleep(500000);
    // Real-time playback in 10 ms blocks; the server's buffer paces the writes.
    // A burst enters the sink when the server plays the start of its block:
    // now plus the reported latency, less the block just written.
    std::vector<float> block(Rate / 100);
    std::vector<int64_t> bursts;
    const int blocks = seconds * 100;
    for (int b = 0; b < blocks; ++b) {
        const int phase = (b * 10) % BurstEveryMs;
        const bool burst = phase < BurstMs;
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = burst ? float(0.5 * std::sin(2 * M_PI * 1000.0 * double(i + size_t(phase) * Rate / 1000) / Rate))
                             : 0.0f;
        pa_simple_write(player, block.data(), block.size() * sizeof(float), nullptr);
        if (burst && phase == 0 && b > 100)
            bursts.push_back(steadyUs() + int64_t(pa_simple_get_latency(player, nullptr)) - 10000);
    }
    pa_simple_drain(player, nullptr);
    pa_simple_free(player);
    int ourStatus = 0, ffmpegStatus = 0;
    const double ourCpu = waitCpuSeconds(ourPid, &ourStatus);
    const double ffmpegCpu = waitCpuSeconds(ffmpegPid, &ffmpegStatus);
    done.store(true);
    receiver.join();
    pulse.terminate();
    pulse.waitForFinished(3000);

    const Figures o = latency(bursts, ourListener.onsets);
    const Figures f = latency(bursts, ffmpegListener.onsets);
    std::printf("\n%-32s %10s %10s\n", "", "fenwa-cli", "ffmpeg");
    std::printf("%-32s %10.2f %10.2f\n", "load average, start / end", loadStart, loadAverage());
    std::printf("%-32s %10zu %10zu   (of %zu)\n", "bursts measured", o.matched, f.matched, bursts.size());
    std::printf("%-32s %10.1f %10.1f\n", "latency median (ms)", o.median, f.median);
    std::printf("%-32s %10.1f %10.1f\n", "latency p99 (ms)", o.p99, f.p99);
    std::printf("%-32s %10.2f\n", "latency ratio fenwa-cli/ffmpeg", o.median / f.median);
    std::printf("%-32s %10.3f %10.3f\n", "CPU seconds (user+sys)", ourCpu, ffmpegCpu);
    std::printf("%-32s %10.2f\n", "CPU ratio fenwa-cli/ffmpeg", ffmpegCpu > 0 ? ourCpu / ffmpegCpu : NAN);
    return 0;
}
