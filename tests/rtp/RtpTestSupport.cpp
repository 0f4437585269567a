// SPDX-License-Identifier: GPL-3.0-or-later
#include "RtpTestSupport.h"

#include "OrbUtils/CoreAudio.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {
bool privateNetwork = false;

void writeFile(const char *path, const QByteArray &text)
{
    QFile f(QString::fromLatin1(path));
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
}

uint32_t be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Bound to port on every local address; a socket that shares the port with
// others (reuse) cannot keep it busy.
int udpSocket(int port, int reuse)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(uint16_t(port));
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof(local)) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}
} // namespace

void enterPrivateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0) {
        // Unprivileged: a user namespace brings the right to make a network
        // namespace with it.
        const QByteArray uid = QByteArray::number(::getuid()), gid = QByteArray::number(::getgid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return;
        writeFile("/proc/self/setgroups", "deny");
        writeFile("/proc/self/uid_map", uid + ' ' + uid + " 1");
        writeFile("/proc/self/gid_map", gid + ' ' + gid + " 1");
    }
    // In this process: a program it started would not keep the namespace's
    // capabilities. Without the route a fresh namespace has none for multicast.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    privateNetwork = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP;
    rtentry route{};
    auto *dst = reinterpret_cast<sockaddr_in *>(&route.rt_dst), *mask = reinterpret_cast<sockaddr_in *>(&route.rt_genmask);
    dst->sin_family = mask->sin_family = AF_INET;
    dst->sin_addr.s_addr = htonl(0xE0000000u);
    mask->sin_addr.s_addr = htonl(0xF0000000u);
    route.rt_flags = RTF_UP;
    char device[] = "lo";
    route.rt_dev = device;
    privateNetwork = privateNetwork && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0 && ::ioctl(fd, SIOCADDRT, &route) == 0;
    ::close(fd);
}

bool inPrivateNetwork()
{
    return privateNetwork;
}

QString testDestination()
{
    return privateNetwork ? QStringLiteral("239.255.42.42") : QStringLiteral("127.0.0.1");
}

QString makeMedia(const QTemporaryDir &dir, const QString &name, const QString &source, const QStringList &outputArgs)
{
    const QString path = dir.filePath(name);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i", source}
                                               + outputArgs + QStringList{"-y", path});
    const bool made = ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
    return made ? path : QString();
}

QString makeMp3(const QTemporaryDir &dir, const QString &name, double seconds)
{
    return makeMedia(dir, name, QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds),
                     {"-ac", "1", "-c:a", "libmp3lame", "-b:a", "128k"});
}

const TestAudio &testAudio()
{
    static QTemporaryDir dir;
    static const TestAudio audio = [] {
        QFile text(dir.filePath(QStringLiteral("notes.mp3")));
        if (text.open(QIODevice::WriteOnly))
            text.write("these are not MPEG audio frames\n");
        return TestAudio{makeMp3(dir, QStringLiteral("one.mp3"), 1.0), makeMp3(dir, QStringLiteral("half.mp3"), 0.5),
                         text.fileName(), dir.filePath(QStringLiteral("gone.mp3"))};
    }();
    return audio;
}

int64_t steadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

UdpReceiver::UdpReceiver(const QString &address, int port) : fd(udpSocket(port, 1))
{
    int yes = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &yes, sizeof(yes));
    // Arrival as the kernel saw it: a test thread that reads late must not
    // make packets look bunched.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &yes, sizeof(yes));
    ip_mreqn request{};
    ::inet_pton(AF_INET, address.toLatin1().constData(), &request.imr_multiaddr);
    request.imr_ifindex = int(if_nametoindex("lo"));
    if (fd >= 0 && IN_MULTICAST(ntohl(request.imr_multiaddr.s_addr))
        && ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) != 0) {
        ::close(fd);
        fd = -1;
    }
}

UdpReceiver::~UdpReceiver()
{
    if (fd >= 0)
        ::close(fd);
}

bool UdpReceiver::receive(ReceivedPacket *out, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    if (fd < 0 || ::poll(&p, 1, timeoutMs) <= 0)
        return false;
    uint8_t buffer[65536];
    alignas(cmsghdr) char control[128];
    iovec io{buffer, sizeof(buffer)};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    const ssize_t n = ::recvmsg(fd, &message, 0);
    if (n < 0)
        return false;
    out->arrivalUs = steadyUs();
    out->bytes.assign(buffer, buffer + n);
    out->ttl = -1;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
            std::memcpy(&out->ttl, CMSG_DATA(c), sizeof(int));
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec kernel{}, now{};
            std::memcpy(&kernel, CMSG_DATA(c), sizeof(kernel));
            ::clock_gettime(CLOCK_REALTIME, &now);
            out->arrivalUs -= (int64_t(now.tv_sec) - kernel.tv_sec) * 1000000 + (now.tv_nsec - kernel.tv_nsec) / 1000;
        }
    }
    return true;
}

std::vector<ReceivedPacket> UdpReceiver::collect(int silenceMs, int maxMs)
{
    std::vector<ReceivedPacket> packets;
    const int64_t end = steadyUs() + int64_t(maxMs) * 1000;
    for (ReceivedPacket packet; steadyUs() < end && receive(&packet, silenceMs);)
        packets.push_back(packet);
    return packets;
}

int occupyPort(int port)
{
    return udpSocket(port, 0);
}

bool parseRtp(const std::vector<uint8_t> &b, RtpHeader *out)
{
    if (b.size() < 12)
        return false;
    out->marker = (b[1] & 0x80) != 0;
    out->payloadType = b[1] & 0x7F;
    out->sequence = uint16_t((b[2] << 8) | b[3]);
    out->timestamp = be32(&b[4]);
    out->ssrc = be32(&b[8]);
    out->payloadOffset = 12 + size_t(b[0] & 0x0F) * 4;
    return b[0] >> 6 == 2 && out->payloadOffset <= b.size();
}

bool rtcpHasBye(const std::vector<uint8_t> &b, uint32_t ssrc)
{
    for (size_t at = 0; at + 8 <= b.size(); at += (size_t((b[at + 2] << 8) | b[at + 3]) + 1) * 4)
        for (int i = 0; b[at + 1] == 203 && i < (b[at] & 0x1F) && at + 8 + size_t(i) * 4 <= b.size(); ++i)
            if (be32(&b[at + 4 + size_t(i) * 4]) == ssrc)
                return true;
    return false;
}

std::vector<float> decodeMpegAudio(const std::vector<std::vector<uint8_t>> &frames, int *rate)
{
    std::vector<float> out;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
    AVCodecContext *context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    const bool open = context && packet && frame && avcodec_open2(context, codec, nullptr) == 0;
    for (size_t f = 0; open && f < frames.size() && av_new_packet(packet, int(frames[f].size())) == 0; ++f) {
        std::memcpy(packet->data, frames[f].data(), frames[f].size());
        if (avcodec_send_packet(context, packet) == 0) {
            while (avcodec_receive_frame(context, frame) == 0) {
                *rate = frame->sample_rate;
                for (int i = 0; i < frame->nb_samples; ++i)
                    out.push_back(frame->format == AV_SAMPLE_FMT_S16P
                                      ? reinterpret_cast<const int16_t *>(frame->extended_data[0])[i] / 32768.0f
                                      : reinterpret_cast<const float *>(frame->extended_data[0])[i]);
            }
        }
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return out;
}

double toneFrequency(const std::vector<float> &samples, int rate)
{
    size_t first = 0, last = 0;
    int crossings = 0;
    for (size_t i = samples.size() / 4 + 1; i < samples.size() - samples.size() / 4; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings++ == 0)
                first = i;
            last = i;
        }
    }
    return crossings > 1 ? double(crossings - 1) * rate / double(last - first) : 0.0;
}

PrivatePulseServer::PrivatePulseServer(const QStringList &modules)
{
    const QString socket = dir.filePath(QStringLiteral("native"));
    server.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "HOME"})
        env.insert(QLatin1String(name), dir.path());
    server.setProcessEnvironment(env);
    // -n: no system configuration; as root it still runs (with a warning).
    QStringList args{"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes", "-L",
                     "module-native-protocol-unix auth-anonymous=1 socket=" + socket, "-L",
                     QStringLiteral("module-null-sink sink_name=fenwa_test_sink rate=48000")};
    for (const QString &module : modules)
        args << QStringLiteral("-L") << module;
    server.start(QStringLiteral("pulseaudio"), args);
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

PrivatePulseServer::~PrivatePulseServer()
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

QString PipeSourceWriter::module(const QString &name, const QString &fifo)
{
    return QStringLiteral("module-pipe-source source_name=%1 file=%2 format=s16le rate=%3 channels=2")
        .arg(name, fifo)
        .arg(int(Rate));
}

PipeSourceWriter::PipeSourceWriter(const QString &fifo, int blockMs, double speed)
    : thread([this, path = fifo.toLocal8Bit(), blockMs, speed] {
          // The source has held the pipe open for reading since it loaded.
          const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
          const std::vector<uint8_t> block(size_t(Rate) * size_t(blockMs) / 1000 * FrameBytes, 0);
          for (int64_t n = 1, start = steadyUs(); fd >= 0 && !stopping.load(); ++n) {
              while (!stopping.load() && steadyUs() < start + int64_t(double(n) * blockMs * 1000 / speed))
                  ::usleep(1000);
              for (size_t at = 0; at < block.size() && !stopping.load();) {
                  pollfd p{fd, POLLOUT, 0};
                  const ssize_t written = ::poll(&p, 1, 100) > 0 ? ::write(fd, &block[at], block.size() - at) : 0;
                  at += written > 0 ? size_t(written) : 0;
              }
          }
          if (fd >= 0)
              ::close(fd);
      })
{
}

PipeSourceWriter::~PipeSourceWriter()
{
    stopping.store(true);
    thread.join();
}
