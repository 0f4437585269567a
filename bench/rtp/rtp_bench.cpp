// SPDX-License-Identifier: GPL-3.0-or-later
// rtp_bench [--file-seconds N] [--minutes M] [--keep FILE]
//
// Makes an N-second MP3 (default 60) with ffmpeg, then streams it for M
// minutes (default 3, the play list wraps) twice at the same time: once with
// the real `fenwa-cli stream` (the binary beside this one) and once with
// `ffmpeg -re -stream_loop ... -c copy -f rtp`. The run first moves into a
// network namespace of its own whose only interface is lo; both send to
// receivers on 127.0.0.1 there. Prints the CPU seconds each process used and,
// per stream, the departure lateness of every packet against its media time
// (median, p99, max) and the drift between the first and the last minute.
// Arrival on loopback stands for departure.
#include "OrbUtils/OrbThread.h"
#include "BenchProcess.h"
#include "RtpTestSupport.h"

#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int OurPort = 18000;
const int FfmpegPort = 18002;

struct Arrival
{
    int64_t us;
    uint32_t timestamp;
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(std::ceil(p / 100.0 * double(v.size()))) - (p > 0 ? 1 : 0));
    return v[i];
}

struct Figures
{
    size_t packets = 0;
    double median = 0, p99 = 0, max = 0, min = 0, drift = 0, spanS = 0;
    std::vector<std::pair<double, double>> worst; // (s into the stream, ms late)
};

// Lateness of each packet: wall time since the first packet minus media time
// since the first packet, in ms.
Figures analyse(const std::vector<Arrival> &arrivals, double clockRate)
{
    Figures f;
    f.packets = arrivals.size();
    if (arrivals.size() < 2)
        return f;
    std::vector<double> lateness;
    std::vector<double> firstMinute, lastMinute;
    const int64_t t0 = arrivals.front().us;
    const int64_t tEnd = arrivals.back().us;
    for (const Arrival &a : arrivals) {
        const double wall = double(a.us - t0) / 1000.0;
        const double media = double(uint32_t(a.timestamp - arrivals.front().timestamp)) * 1000.0 / clockRate;
        lateness.push_back(wall - media);
        if (a.us - t0 < 60000000)
            firstMinute.push_back(wall - media);
        if (tEnd - a.us < 60000000)
            lastMinute.push_back(wall - media);
    }
    f.median = percentile(lateness, 50);
    f.p99 = percentile(lateness, 99);
    f.max = *std::max_element(lateness.begin(), lateness.end());
    f.min = *std::min_element(lateness.begin(), lateness.end());
    f.drift = percentile(lastMinute, 50) - percentile(firstMinute, 50);
    std::vector<size_t> order(lateness.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lateness[a] > lateness[b]; });
    for (size_t i = 0; i < order.size() && i < 3; ++i)
        f.worst.push_back({double(arrivals[order[i]].us - t0) / 1e6, lateness[order[i]]});
    f.spanS = double(tEnd - t0) / 1e6;
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (!inPrivateNetwork()) {
        std::fprintf(stderr, "rtp_bench: needs a network namespace of its own (run as root)\n");
        return 1;
    }

    double fileSeconds = 60;
    double minutes = 3;
    QString keep;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--file-seconds"))
            fileSeconds = args.at(i + 1).toDouble();
        else if (args.at(i) == QLatin1String("--minutes"))
            minutes = args.at(i + 1).toDouble();
        else if (args.at(i) == QLatin1String("--keep"))
            keep = args.at(i + 1);
    }
    if (fileSeconds <= 0 || minutes <= 0) {
        std::fprintf(stderr, "usage: rtp_bench [--file-seconds N] [--minutes M] [--keep FILE]\n");
        return 2;
    }
    const double runSeconds = minutes * 60.0;
    const int loops = int(std::ceil(runSeconds / fileSeconds));

    QTemporaryDir dir;
    const std::string mp3 = keep.isEmpty() ? dir.filePath(QStringLiteral("bench.mp3")).toStdString() : keep.toStdString();
    int status = 0;
    const pid_t maker = spawn({"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                               "sine=frequency=440:sample_rate=44100:duration=" + std::to_string(fileSeconds),
                               "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k", "-y", mp3});
    waitCpuSeconds(maker, &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "rtp_bench: ffmpeg could not make the test MP3\n");
        return 1;
    }

    const int ours = bindLoopback(OurPort);
    const int oursRtcp = bindLoopback(OurPort + 1);
    const int theirs = bindLoopback(FfmpegPort);
    const int theirsRtcp = bindLoopback(FfmpegPort + 1);
    std::vector<Arrival> ourArrivals, ffmpegArrivals;
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        pollfd fds[4] = {{ours, POLLIN, 0}, {theirs, POLLIN, 0}, {oursRtcp, POLLIN, 0}, {theirsRtcp, POLLIN, 0}};
        uint8_t buffer[65536];
        while (!done.load()) {
            if (::poll(fds, 4, 100) <= 0)
                continue;
            for (int i = 0; i < 4; ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof(buffer), 0);
                const int64_t now = steadyUs();
                if (i >= 2 || n < 12)
                    continue;
                const uint32_t ts = (uint32_t(buffer[4]) << 24) | (uint32_t(buffer[5]) << 16)
                                    | (uint32_t(buffer[6]) << 8) | buffer[7];
                (i == 0 ? ourArrivals : ffmpegArrivals).push_back({now, ts});
            }
        }
    });

    std::printf("Streaming a %.0f s MP3 (44.1 kHz stereo, 128 kbit/s) for %.1f min with fenwa-cli and ffmpeg at "
                "once, to 127.0.0.1 in a network namespace of its own...\n",
                fileSeconds, minutes);
    std::fflush(stdout);
    const std::string cli = QCoreApplication::applicationDirPath().toStdString() + "/fenwa-cli";
    const pid_t ourPid = spawn({cli, "stream", "--group", "127.0.0.1:" + std::to_string(OurPort), "--duration",
                                std::to_string(runSeconds), mp3});
    const pid_t ffmpegPid = spawn({"ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-stream_loop",
                                   std::to_string(loops - 1), "-i", mp3, "-t", std::to_string(runSeconds), "-c",
                                   "copy", "-f", "rtp", "rtp://127.0.0.1:" + std::to_string(FfmpegPort)});
    int ourStatus = 0, ffmpegStatus = 0;
    const double ourCpu = waitCpuSeconds(ourPid, &ourStatus);
    const double ffmpegCpu = waitCpuSeconds(ffmpegPid, &ffmpegStatus);
    OrbThread::msleep(300);
    done.store(true);
    receiver.join();

    const Figures o = analyse(ourArrivals, 8000.0);
    const Figures f = analyse(ffmpegArrivals, 90000.0);
    std::printf("\n%-28s %12s %12s\n", "", "fenwa-cli", "ffmpeg");
    std::printf("%-28s %12zu %12zu\n", "packets received", o.packets, f.packets);
    std::printf("%-28s %12.2f %12.2f\n", "stream span (s)", o.spanS, f.spanS);
    std::printf("%-28s %12.3f %12.3f\n", "CPU seconds (user+sys)", ourCpu, ffmpegCpu);
    std::printf("%-28s %12.2f\n", "CPU ratio fenwa-cli/ffmpeg", ffmpegCpu > 0 ? ourCpu / ffmpegCpu : NAN);
    std::printf("%-28s %12.2f %12.2f\n", "lateness median (ms)", o.median, f.median);
    std::printf("%-28s %12.2f %12.2f\n", "lateness p99 (ms)", o.p99, f.p99);
    std::printf("%-28s %12.2f %12.2f\n", "lateness max (ms)", o.max, f.max);
    std::printf("%-28s %12.2f %12.2f\n", "lateness min (ms)", o.min, f.min);
    std::printf("%-28s %12.2f %12.2f\n", "drift last-first min (ms)", o.drift, f.drift);
    for (const auto &w : o.worst)
        std::printf("fenwa-cli: %.2f ms late at %.3f s\n", w.second, w.first);
    if (ourStatus != 0 || ffmpegStatus != 0)
        std::printf("\nwarning: a streamer exited with status %d / %d\n", ourStatus, ffmpegStatus);
    return 0;
}
