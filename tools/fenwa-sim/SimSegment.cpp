// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimSegment.h"

#include "SimStateFile.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Room for a burst of a thousand replies from a second segment on the same
// wire, or a tool's commands sent back to back, while one reply is formed.
constexpr int kReceiveBuffer = 8 << 20;

int complain(const char *what, const char *name)
{
    std::fprintf(stderr, "fenwa-sim: %s %s: %s\n", what, name, std::strerror(errno));
    return -1;
}

} // namespace

SimSegment::SimSegment(const SimOptions &o) : options(o), responder(o) {}

SimSegment::~SimSegment()
{
    stop();
}

int SimSegment::start()
{
    if (!options.commandLog.isEmpty()) {
        commandLog = createFileAtomically(options.commandLog.toStdString());
        if (commandLog < 0)
            return -1;
    }
    if (openSocket() != 0)
        return -1;
    stopEvent = eventfd(0, EFD_CLOEXEC);
    if (stopEvent < 0)
        return complain("cannot make an event for", "stopping");
    scheduler = std::make_unique<SimReplyScheduler>();
    if (options.web) {
        web = std::make_unique<SimWeb>(options, &responder, &stateMutex, [this] { writeState(); });
        if (web->start() != 0)
            return -1;
    }
    receiver = std::thread([this] { receiveLoop(); });
    std::fprintf(stderr, "fenwa-sim: %d terminal(s) on %s, first %s\n", options.count,
                 options.interfaceName.constData(), macToText(options.baseMac).c_str());
    return writeState();
}

void SimSegment::stop()
{
    if (receiver.joinable()) {
        const uint64_t one = 1;
        if (::write(stopEvent, &one, sizeof one) != sizeof one)
            complain("cannot stop", "the receive thread");
        receiver.join();
    }
    web.reset();
    scheduler.reset();
    for (int *fd : {&sock, &stopEvent, &commandLog}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

int SimSegment::openSocket()
{
    const char *name = options.interfaceName.constData();
    // Protocol 0 receives nothing until bind names the interface, so no
    // frame of another interface slips in between.
    sock = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return complain("cannot open a packet socket (needs root or CAP_NET_RAW) for", name);
    const int ifindex = static_cast<int>(if_nametoindex(name));
    if (ifindex == 0)
        return complain("no interface", name);

    const int size = kReceiveBuffer;
    if (setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    // The replies of this process are not commands; without this option the
    // receive loop skips them by packet type instead.
    const int one = 1;
    setsockopt(sock, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);

    struct sockaddr_ll addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_ARP);
    addr.sll_ifindex = ifindex;
    if (::bind(sock, reinterpret_cast<const struct sockaddr *>(&addr), sizeof addr) != 0)
        return complain("cannot bind to", name);
    // Terminals have MACs of their own, which a real network card filters
    // out unless it is promiscuous.
    struct packet_mreq promisc;
    std::memset(&promisc, 0, sizeof promisc);
    promisc.mr_ifindex = ifindex;
    promisc.mr_type = PACKET_MR_PROMISC;
    if (setsockopt(sock, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promisc, sizeof promisc) != 0)
        return complain("cannot make promiscuous", name);

    if (options.oversized) {
        struct ifreq ifr;
        std::memset(&ifr, 0, sizeof ifr);
        std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", name);
        const int mtu = ioctl(sock, SIOCGIFMTU, &ifr) == 0 ? ifr.ifr_mtu : 0;
        responder.oversizedFits = mtu + 14 >= 1600;
        if (responder.oversizedFits)
            std::fprintf(stderr, "fenwa-sim: oversized replies are 1600-byte frames\n");
        else
            std::fprintf(stderr,
                         "fenwa-sim: MTU %d of %s cannot carry a 1600-byte frame; oversized replies are 1514-byte "
                         "frames whose text is cut short instead\n",
                         mtu, name);
    }
    return 0;
}

void SimSegment::receiveLoop()
{
    uint8_t frame[2048];
    struct pollfd fds[2] = {{sock, POLLIN, 0}, {stopEvent, POLLIN, 0}};
    std::vector<SimResponse> answers;
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            complain("receive loop ends on", options.interfaceName.constData());
            return;
        }
        if (fds[1].revents != 0)
            return;
        // Every frame waiting, up to a bound, is answered together: the
        // terminals work side by side, and one state write covers them all.
        answers.clear();
        bool changed = false;
        for (int k = 0; k < kFramesPerTurn; ++k) {
            struct sockaddr_ll from;
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(sock, frame, sizeof frame, MSG_TRUNC | MSG_DONTWAIT,
                                         reinterpret_cast<struct sockaddr *>(&from), &fromLength);
            if (n < 0) {
                if (errno != EAGAIN && errno != EINTR)
                    complain("cannot receive on", options.interfaceName.constData());
                break;
            }
            // MSG_TRUNC gives the wire length: a frame over the limit is
            // dropped as a whole, never read in part.
            if (from.sll_pkttype == PACKET_OUTGOING || size_t(n) > sizeof frame)
                continue;
            answers.emplace_back();
            respond(frame, static_cast<size_t>(n), &answers.back());
            changed = changed || answers.back().stateChanged;
        }
        // The state is on disk before any reply leaves: whoever got the
        // reply reads the new state.
        if (changed)
            writeState();
        for (SimResponse &r : answers)
            send(&r);
    }
}

void SimSegment::respond(const uint8_t *frame, size_t length, SimResponse *r)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        responder.respond(frame, length, r);
    }
    if (r->isCommand)
        logCommand(r->commandText);
}

void SimSegment::send(SimResponse *r)
{
    const auto now = SimReplyScheduler::Clock::now();
    for (SimOutFrame &f : r->frames) {
        if (f.delayUs <= 0) {
            transmit(f.bytes, !f.arp);
            continue;
        }
        scheduler->schedule(now + std::chrono::microseconds(f.delayUs),
                            [this, bytes = std::move(f.bytes), arp = f.arp] { transmit(bytes, !arp); });
    }
}

void SimSegment::transmit(const std::vector<uint8_t> &frame, bool countAsReply)
{
    // The socket is bound to the interface: send() takes it from there.
    ssize_t n;
    for (int tries = 0; (n = ::send(sock, frame.data(), frame.size(), 0)) < 0 && tries < 3; ++tries) {
        if (errno != ENOBUFS && errno != EAGAIN && errno != EINTR)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(100)); // a full transmit queue drains
    }
    if (n < 0) {
        std::fprintf(stderr, "fenwa-sim: %zu-byte frame not sent: %s\n", frame.size(), std::strerror(errno));
        return;
    }
    if (countAsReply)
        repliesSent.fetch_add(1);
}

void SimSegment::logCommand(const std::string &text)
{
    if (commandLog < 0)
        return;
    // One command per line: a raw line break inside a text would split it.
    std::string line;
    line.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n' || c == '\r')
            line.append(c == '\n' ? "\\n" : "\\r");
        else
            line.push_back(c);
    }
    line += '\n';
    if (!writeAll(commandLog, line))
        complain("cannot write", options.commandLog.constData());
}

long SimSegment::kernelDrops()
{
    struct tpacket_stats stats = {};
    socklen_t length = sizeof stats;
    // The kernel resets these counters on every read.
    if (sock < 0 || getsockopt(sock, SOL_PACKET, PACKET_STATISTICS, &stats, &length) != 0)
        return 0;
    return static_cast<long>(stats.tp_drops);
}

int SimSegment::writeState()
{
    if (options.stateFile.isEmpty())
        return 0;
    // Two dumps built one after the other must land in that order, or a
    // SIGUSR1 dump could put back the state from before a command.
    std::lock_guard<std::mutex> order(writeMutex);
    std::string text;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        receiveDrops += kernelDrops();
        text = responder.stateText(repliesSent.load(), receiveDrops);
    }
    return writeFileAtomically(options.stateFile.toStdString(), text);
}
