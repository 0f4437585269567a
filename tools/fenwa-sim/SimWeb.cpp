// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimWeb.h"

#include "SimHttp.h"
#include "SimResponder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kTickMs = 50;
// A slow terminal reads this much of an upload per tick: about 80 KiB/s.
const size_t kSlowBytesPerTick = 4096;
const int kMaxConnections = 256;
// A dripping terminal sends a byte of its answer this often.
const long long kDripMs = 1000;
// The head of an endless answer; its body is blanks for ever.
const char kEndlessHead[] = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n{\"result\":0";

void complain(const char *what, const std::string &name)
{
    std::fprintf(stderr, "fenwa-sim: web side: %s %s: %s\n", what, name.c_str(), std::strerror(errno));
}

// Runs "ip -force -batch -" with these commands; errors (a link to delete
// that is not there) do not stop it.
bool ipBatch(const std::string &commands)
{
    FILE *ip = popen("ip -force -batch - 2>/dev/null", "w");
    if (ip == nullptr)
        return false;
    std::fwrite(commands.data(), 1, commands.size(), ip);
    return pclose(ip) != -1;
}

bool writeProc(const std::string &path, const char *value)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr)
        return false;
    const bool ok = std::fputs(value, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

struct ifreq request(const std::string &name)
{
    struct ifreq r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.ifr_name, sizeof r.ifr_name, "%s", name.c_str());
    return r;
}

bool setUp(int control, const std::string &name, bool up)
{
    struct ifreq r = request(name);
    if (ioctl(control, SIOCGIFFLAGS, &r) != 0)
        return false;
    r.ifr_flags = short(up ? (r.ifr_flags | IFF_UP) : (r.ifr_flags & ~IFF_UP));
    return ioctl(control, SIOCSIFFLAGS, &r) == 0;
}

bool setMac(int control, const std::string &name, const uint8_t mac[6])
{
    struct ifreq r = request(name);
    r.ifr_hwaddr.sa_family = ARPHRD_ETHER;
    std::memcpy(r.ifr_hwaddr.sa_data, mac, 6);
    return ioctl(control, SIOCSIFHWADDR, &r) == 0;
}

bool setIpv4(int control, const std::string &name, const uint8_t ip[4], const uint8_t mask[4])
{
    struct ifreq r = request(name);
    auto *a = reinterpret_cast<struct sockaddr_in *>(&r.ifr_addr);
    a->sin_family = AF_INET;
    std::memcpy(&a->sin_addr, ip, 4);
    if (ioctl(control, SIOCSIFADDR, &r) != 0)
        return false;
    std::memcpy(&a->sin_addr, mask, 4);
    return ioctl(control, SIOCSIFNETMASK, &r) == 0;
}

} // namespace

struct SimWeb::Station
{
    std::string name; // the macvlan
    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    uint8_t ip[4] = {0, 0, 0, 0};
    bool up = true;
    int listener = -1;
    SimWebFault fault = SimWebFault::None;
};

struct SimWeb::Connection
{
    int fd = -1;
    size_t station = 0;
    std::string in;
    bool headRead = false;
    size_t bodyLength = 0;
    SimHttpRequest request;
    std::string out; // the answer still to write
    bool answered = false;
    long long lastDrip = 0;
    bool endless = false;
};

SimWeb::SimWeb(const SimOptions &o, SimResponder *r, std::mutex *m, std::function<void()> changed)
    : options(o), responder(r), stateMutex(m), stateChanged(std::move(changed)), random(std::random_device()())
{
}

SimWeb::~SimWeb()
{
    stop();
}

int SimWeb::start()
{
    control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0) {
        complain("cannot open a socket for", "interface changes");
        return -1;
    }
    const std::string parent = options.interfaceName.toStdString();
    std::string commands;
    {
        std::lock_guard<std::mutex> lock(*stateMutex);
        const std::vector<SimTerminal> &terminals = responder->terminals();
        for (size_t i = 0; i < terminals.size(); ++i) {
            Station s;
            std::memcpy(s.mac, terminals[i].mac, 6);
            std::memcpy(s.ip, terminals[i].address, 4);
            s.fault = options.webFaultOf(static_cast<int>(i));
            // Named after the first MAC: stays unique beside another run's.
            std::string hex = macToText(s.mac);
            hex.erase(std::remove(hex.begin(), hex.end(), ':'), hex.end());
            s.name = "fw" + hex;
            commands += "link del " + s.name + "\nlink add link " + parent + " name " + s.name + " address " +
                        macToText(s.mac) + " type macvlan mode bridge\n";
            stations.push_back(s);
        }
    }
    if (!ipBatch(commands)) {
        complain("cannot run ip to make the terminals' interfaces on", parent);
        return -1;
    }
    // Neither the interface nor the terminals' macvlans answer ARP: that
    // stays the simulator's, from its own socket.
    writeProc("/proc/sys/net/ipv4/conf/" + parent + "/arp_ignore", "8");
    for (Station &s : stations) {
        uint8_t mask[4] = {255, 255, 255, 0};
        if (!writeProc("/proc/sys/net/ipv4/conf/" + s.name + "/arp_ignore", "8") ||
            !setIpv4(control, s.name, s.ip, mask) || !setUp(control, s.name, true)) {
            complain("cannot set up", s.name + " (the web side needs CAP_NET_ADMIN)");
            return -1;
        }
        listen(s);
    }
    running = true;
    thread = std::thread([this] { loop(); });
    std::fprintf(stderr, "fenwa-sim: web side on port 80 of %zu terminal(s)\n", stations.size());
    return 0;
}

void SimWeb::stop()
{
    running = false;
    if (thread.joinable())
        thread.join();
    for (Connection &c : connections)
        ::close(c.fd);
    connections.clear();
    std::string commands;
    for (Station &s : stations) {
        if (s.listener >= 0)
            ::close(s.listener);
        commands += "link del " + s.name + "\n";
    }
    if (!commands.empty())
        ipBatch(commands);
    stations.clear();
    if (control >= 0)
        ::close(control);
    control = -1;
}

void SimWeb::listen(Station &s)
{
    if (s.listener >= 0)
        ::close(s.listener);
    s.listener = -1;
    if (s.fault == SimWebFault::Refuse || !s.up)
        return; // nothing listens: the connection is refused
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    struct sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(80);
    std::memcpy(&a.sin_addr, s.ip, 4);
    // A slow terminal's small window keeps the sender's bytes in flight
    // few, as a small device's would: its progress is what arrived.
    const int window = 8192;
    if (s.fault == SimWebFault::Slow && fd >= 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, s.name.c_str(), socklen_t(s.name.size())) != 0 ||
        ::bind(fd, reinterpret_cast<const struct sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        complain("cannot listen on port 80 of", s.name);
        if (fd >= 0)
            ::close(fd);
        return;
    }
    s.listener = fd;
}

// Moves the macvlans after SetMac and SetIp, takes a restarting terminal
// off the wire and brings it back.
void SimWeb::follow(long long now)
{
    bool changed = false;
    std::unique_lock<std::mutex> lock(*stateMutex);
    std::vector<SimTerminal> &terminals = responder->terminals();
    for (size_t i = 0; i < stations.size() && i < terminals.size(); ++i) {
        Station &s = stations[i];
        SimTerminal &t = terminals[i];
        changed = t.settle(now) || changed;
        if (std::memcmp(s.mac, t.mac, 6) != 0) {
            std::memcpy(s.mac, t.mac, 6);
            if (!setMac(control, s.name, s.mac))
                complain("cannot move the MAC of", s.name);
        }
        if (std::memcmp(s.ip, t.address, 4) != 0) {
            std::memcpy(s.ip, t.address, 4);
            uint8_t mask[4] = {255, 255, 255, 0};
            parseIpv4Text(QByteArray::fromStdString(t.netmask), mask);
            if (!setIpv4(control, s.name, s.ip, mask))
                complain("cannot move the address of", s.name);
            listen(s);
        }
        const bool up = !t.isDown(now);
        if (up != s.up) {
            s.up = up;
            if (!setUp(control, s.name, up))
                complain("cannot switch", s.name);
            listen(s);
            if (!up) { // a restart drops every connection
                for (Connection &c : connections)
                    if (c.station == i) {
                        ::close(c.fd);
                        c.fd = -1;
                    }
            }
        }
    }
    lock.unlock();
    if (changed)
        stateChanged();
}

void SimWeb::loop()
{
    std::vector<struct pollfd> fds;
    while (running) {
        const long long now = simNowMs();
        follow(now);
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                                         [](const Connection &c) { return c.fd < 0; }),
                          connections.end());
        fds.clear();
        for (const Station &s : stations)
            fds.push_back({s.listener, POLLIN, 0});
        for (const Connection &c : connections)
            fds.push_back({c.fd, short(paced(c) ? 0 : !c.out.empty() ? POLLOUT : POLLIN), 0});
        if (::poll(fds.data(), fds.size(), kTickMs) < 0 && errno != EINTR)
            return;
        for (size_t i = 0; i < stations.size(); ++i) {
            if (!(fds[i].revents & POLLIN) || connections.size() >= size_t(kMaxConnections))
                continue;
            const int fd = ::accept4(stations[i].listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                Connection c;
                c.fd = fd;
                c.station = i;
                connections.push_back(std::move(c));
            }
        }
        const size_t polled = fds.size() - stations.size();
        for (size_t k = 0; k < polled && k < connections.size(); ++k) {
            const short ev = fds[stations.size() + k].revents;
            if (ev != 0 || paced(connections[k]))
                serve(connections[k], simNowMs());
        }
    }
}

// A slow terminal reads, and a dripping one writes, once per tick after the
// poll rather than when the socket is ready.
bool SimWeb::paced(const Connection &c) const
{
    const SimWebFault fault = stations[c.station].fault;
    return fault == SimWebFault::Slow || (fault == SimWebFault::Drip && !c.out.empty());
}

void SimWeb::serve(Connection &c, long long now)
{
    if (c.fd < 0)
        return;
    const Station &s = stations[c.station];
    if (!c.out.empty()) {
        const bool drip = s.fault == SimWebFault::Drip;
        if (drip && now - c.lastDrip < kDripMs)
            return;
        c.lastDrip = now;
        const ssize_t n = ::send(c.fd, c.out.data(), drip ? 1 : c.out.size(), MSG_NOSIGNAL);
        if (n > 0)
            c.out.erase(0, size_t(n));
        if (n < 0 && errno != EAGAIN) {
            ::close(c.fd);
            c.fd = -1;
        } else if (c.out.empty() && c.endless) {
            c.out.assign(65536, ' ');
        } else if (c.out.empty()) {
            ::shutdown(c.fd, SHUT_WR); // Connection: close; the peer closes its end
        }
        return;
    }
    char buf[65536];
    const size_t want = s.fault == SimWebFault::Slow ? kSlowBytesPerTick : sizeof buf;
    const ssize_t n = ::recv(c.fd, buf, want, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        ::close(c.fd);
        c.fd = -1;
        return;
    }
    if (n < 0 || c.answered)
        return; // after the answer (or while hanging), input is dropped
    c.in.append(buf, size_t(n));
    SimHttpAnswer answer;
    bool ready = false;
    if (!c.headRead) {
        const size_t end = c.in.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (c.in.size() > SIM_HTTP_HEAD_MAX)
                answer.status = 431, ready = true;
        } else {
            const int status = parseHttpHead(c.in.substr(0, end + 4), &c.request, &c.bodyLength);
            c.in.erase(0, end + 4);
            c.headRead = true;
            if (status != 0)
                answer.status = status, ready = true;
        }
        if (ready)
            answer.body = "{\"result\":-1}";
    }
    if (!ready && c.headRead && s.fault == SimWebFault::CloseUpload && c.request.target == "/cgi-bin/upload"
        && c.in.size() >= c.bodyLength / 2) {
        {
            std::lock_guard<std::mutex> lock(*stateMutex);
            ++responder->terminals()[c.station].uploadsCut;
        }
        stateChanged();
        ::close(c.fd); // unread bytes left: the peer sees a reset
        c.fd = -1;
        return;
    }
    if (!ready && c.headRead && c.in.size() >= c.bodyLength) {
        c.request.body = c.in.substr(0, c.bodyLength);
        c.in.clear();
        if (s.fault == SimWebFault::Hang) {
            c.answered = true; // heard, never answered
            return;
        }
        {
            std::lock_guard<std::mutex> lock(*stateMutex);
            answer = answerHttp(responder->terminals()[c.station], c.request, s.fault, now, options.rebootMsOf(int(c.station)), random);
        }
        ready = true;
        if (answer.stateChanged)
            stateChanged();
    }
    if (ready) {
        c.answered = true;
        c.endless = s.fault == SimWebFault::Endless;
        c.out = c.endless ? std::string(kEndlessHead) : httpResponseText(answer);
    }
}
