// SPDX-License-Identifier: GPL-3.0-or-later
#include "RtpTestSupport.h"

#include <QProcess>

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

QString makeMp3(const QTemporaryDir &dir, const QString &name, double seconds)
{
    const QString path = dir.filePath(name);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds),
                  QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-c:a"), QStringLiteral("libmp3lame"),
                  QStringLiteral("-b:a"), QStringLiteral("128k"), QStringLiteral("-y"), path});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        return QString();
    return path;
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
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n < 0)
        return false;
    out->arrivalUs = steadyUs();
    out->bytes.assign(buffer, buffer + n);
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

int mpegFrameLength(const uint8_t *p, size_t available)
{
    // Sync bits, MPEG-1, Layer III; CRC bit either way.
    if (available < 4 || p[0] != 0xFF || (p[1] & 0xFE) != 0xFA)
        return -1;
    static const int kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int rates[3] = {44100, 48000, 32000};
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return -1;
    return 144 * kbps[bitrateIndex] * 1000 / rates[rateIndex] + ((p[2] >> 1) & 1);
}
