// SPDX-License-Identifier: GPL-3.0-or-later
#include "RtpTestSupport.h"

#include <QProcess>

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
#include <unistd.h>

namespace {
bool privateNetwork = false;

bool writeFile(const char *path, const char *text)
{
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const ssize_t n = ::write(fd, text, std::strlen(text));
    ::close(fd);
    return n == ssize_t(std::strlen(text));
}

bool bringUpLoopbackWithMulticastRoute()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP;
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    // 224.0.0.0/4 via lo: without it a fresh namespace has no route for
    // multicast at all.
    rtentry route{};
    auto *dst = reinterpret_cast<sockaddr_in *>(&route.rt_dst);
    auto *mask = reinterpret_cast<sockaddr_in *>(&route.rt_genmask);
    dst->sin_family = AF_INET;
    dst->sin_addr.s_addr = htonl(0xE0000000u);
    mask->sin_family = AF_INET;
    mask->sin_addr.s_addr = htonl(0xF0000000u);
    route.rt_flags = RTF_UP;
    char device[] = "lo";
    route.rt_dev = device;
    ok = ok && ::ioctl(fd, SIOCADDRT, &route) == 0;
    ::close(fd);
    return ok;
}
} // namespace

void enterPrivateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0) {
        // Unprivileged: a user namespace brings the right to make a network
        // namespace with it.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return;
        char map[64];
        writeFile("/proc/self/setgroups", "deny");
        std::snprintf(map, sizeof(map), "%u %u 1", unsigned(uid), unsigned(uid));
        writeFile("/proc/self/uid_map", map);
        std::snprintf(map, sizeof(map), "%u %u 1", unsigned(gid), unsigned(gid));
        writeFile("/proc/self/gid_map", map);
    }
    privateNetwork = bringUpLoopbackWithMulticastRoute();
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
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                                                       QStringLiteral("error"), QStringLiteral("-f"),
                                                       QStringLiteral("lavfi"), QStringLiteral("-i"), source}
                                               + outputArgs + QStringList{QStringLiteral("-y"), path});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        return QString();
    return path;
}

QString makeMp3(const QTemporaryDir &dir, const QString &name, double seconds)
{
    return makeMedia(dir, name, QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds),
                     {QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-c:a"), QStringLiteral("libmp3lame"),
                      QStringLiteral("-b:a"), QStringLiteral("128k")});
}

int64_t steadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

UdpReceiver::UdpReceiver(const QString &address, int port)
{
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return;
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &yes, sizeof(yes));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(uint16_t(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    in_addr group{};
    ::inet_pton(AF_INET, address.toLatin1().constData(), &group);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof(local)) == 0;
    if (ok && IN_MULTICAST(ntohl(group.s_addr))) {
        ip_mreqn request{};
        request.imr_multiaddr = group;
        request.imr_ifindex = int(if_nametoindex("lo"));
        ok = ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) == 0;
    }
    if (!ok) {
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
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return false;
    uint8_t buffer[65536];
    alignas(cmsghdr) char control[64];
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
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
            std::memcpy(&out->ttl, CMSG_DATA(c), sizeof(int));
    return true;
}

std::vector<ReceivedPacket> UdpReceiver::collect(int silenceMs, int maxMs)
{
    std::vector<ReceivedPacket> packets;
    const int64_t end = steadyUs() + int64_t(maxMs) * 1000;
    ReceivedPacket packet;
    while (steadyUs() < end && receive(&packet, silenceMs))
        packets.push_back(packet);
    return packets;
}

int occupyPort(int port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(uint16_t(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool parseRtp(const std::vector<uint8_t> &b, RtpHeader *out)
{
    if (b.size() < 12)
        return false;
    out->version = b[0] >> 6;
    const int csrcCount = b[0] & 0x0F;
    out->marker = (b[1] & 0x80) != 0;
    out->payloadType = b[1] & 0x7F;
    out->sequence = uint16_t((b[2] << 8) | b[3]);
    out->timestamp = (uint32_t(b[4]) << 24) | (uint32_t(b[5]) << 16) | (uint32_t(b[6]) << 8) | b[7];
    out->ssrc = (uint32_t(b[8]) << 24) | (uint32_t(b[9]) << 16) | (uint32_t(b[10]) << 8) | b[11];
    out->payloadOffset = 12 + size_t(csrcCount) * 4;
    return out->version == 2 && out->payloadOffset <= b.size();
}

bool rtcpHasBye(const std::vector<uint8_t> &b, uint32_t ssrc)
{
    size_t offset = 0;
    while (offset + 8 <= b.size()) {
        const int type = b[offset + 1];
        const size_t length = (size_t((b[offset + 2] << 8) | b[offset + 3]) + 1) * 4;
        const int count = b[offset] & 0x1F;
        if (type == 203) {
            for (int i = 0; i < count && offset + 4 + size_t(i + 1) * 4 <= b.size(); ++i) {
                const uint8_t *p = &b[offset + 4 + size_t(i) * 4];
                if (((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]) == ssrc)
                    return true;
            }
        }
        offset += length;
    }
    return false;
}

std::vector<float> decodeMpegAudio(const std::vector<std::vector<uint8_t>> &frames, int *rate)
{
    std::vector<float> out;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
    AVCodecContext *context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    if (context && packet && frame && avcodec_open2(context, codec, nullptr) == 0) {
        for (const std::vector<uint8_t> &bytes : frames) {
            if (av_new_packet(packet, int(bytes.size())) < 0)
                break;
            std::memcpy(packet->data, bytes.data(), bytes.size());
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
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return out;
}

double toneFrequency(const std::vector<float> &samples, int rate)
{
    const size_t begin = samples.size() / 4;
    const size_t end = samples.size() - samples.size() / 4;
    size_t first = 0, last = 0;
    int crossings = 0;
    for (size_t i = begin + 1; i < end; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings++ == 0)
                first = i;
            last = i;
        }
    }
    return crossings > 1 ? double(crossings - 1) * rate / double(last - first) : 0.0;
}
