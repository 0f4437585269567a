// SPDX-License-Identifier: GPL-3.0-or-later
// Linux adapter listing: pcap names the interfaces it can open, getifaddrs
// gives their MAC and first IPv4 address and mask, /proc/net/route the default
// gateway.
#include "QPcapAdapterList.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Reads the default gateway of iface from /proc/net/route; false when none.
bool defaultGateway(const char *iface, uint8_t out[4])
{
    FILE *f = std::fopen("/proc/net/route", "r");
    if (!f)
        return false;
    char line[512];
    bool found = false;
    if (std::fgets(line, sizeof line, f)) { // header
        while (!found && std::fgets(line, sizeof line, f)) {
            char name[64];
            unsigned dest = 0, gateway = 0, flags = 0;
            if (std::sscanf(line, "%63s %x %x %x", name, &dest, &gateway, &flags) != 4)
                continue;
            if (std::strcmp(name, iface) == 0 && dest == 0 && (flags & 0x2 /* RTF_GATEWAY */)) {
                // The kernel prints the address as a host-order hex word.
                const uint32_t g = gateway;
                std::memcpy(out, &g, 4);
                found = true;
            }
        }
    }
    std::fclose(f);
    return found;
}

void fillFromIfaddrs(struct ifaddrs *list, const char *iface, QPcapAdapter *a, bool *ethernet)
{
    bool haveIp = false;
    for (struct ifaddrs *it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || std::strcmp(it->ifa_name, iface) != 0)
            continue;
        if (it->ifa_addr->sa_family == AF_PACKET) {
            auto *ll = reinterpret_cast<struct sockaddr_ll *>(it->ifa_addr);
            if (ll->sll_hatype == ARPHRD_ETHER && ll->sll_halen == 6) {
                std::memcpy(a->hardwareAddress, ll->sll_addr, 6);
                *ethernet = true;
            }
        } else if (it->ifa_addr->sa_family == AF_INET && !haveIp) {
            auto *in = reinterpret_cast<struct sockaddr_in *>(it->ifa_addr);
            std::memcpy(a->address, &in->sin_addr.s_addr, 4);
            if (it->ifa_netmask) {
                auto *mask = reinterpret_cast<struct sockaddr_in *>(it->ifa_netmask);
                std::memcpy(a->netmask, &mask->sin_addr.s_addr, 4);
            }
            haveIp = true;
        }
    }
}

} // namespace

QPcapAdapterList *QPcapAdapterList::adapters()
{
    auto *result = new QPcapAdapterList;
    char errbuf[PCAP_ERRBUF_SIZE] = {0};
    pcap_if_t *devs = nullptr;
    if (pcap_findalldevs(&devs, errbuf) != 0)
        return result;
    struct ifaddrs *addrs = nullptr;
    if (getifaddrs(&addrs) != 0)
        addrs = nullptr;
    for (pcap_if_t *d = devs; d; d = d->next) {
        if (d->flags & PCAP_IF_LOOPBACK)
            continue;
        QPcapAdapter a;
        std::memset(&a, 0, sizeof a);
        std::snprintf(a.name, sizeof a.name, "%s", d->name);
        // pcap rarely has a description on Linux; the interface name is what
        // installers know the port by.
        std::snprintf(a.description, sizeof a.description, "%s",
                      d->description && d->description[0] ? d->description : d->name);
        bool ethernet = false;
        fillFromIfaddrs(addrs, d->name, &a, &ethernet);
        // Commands ride in Ethernet frames: pseudo-devices ("any", nflog,
        // usbmon, ...) cannot carry them.
        if (!ethernet)
            continue;
        defaultGateway(d->name, a.gateway);
        result->append(a);
    }
    if (addrs)
        freeifaddrs(addrs);
    pcap_freealldevs(devs);
    return result;
}

std::vector<std::string> interfaceIpv4Addresses(const char *name)
{
    std::vector<std::string> out;
    struct ifaddrs *list = nullptr;
    if (name == nullptr || getifaddrs(&list) != 0)
        return out;
    for (struct ifaddrs *it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || std::strcmp(it->ifa_name, name) != 0)
            continue;
        char text[16];
        formatIpv4(reinterpret_cast<const uint8_t *>(&reinterpret_cast<struct sockaddr_in *>(it->ifa_addr)->sin_addr),
                   text);
        out.emplace_back(text);
    }
    freeifaddrs(list);
    return out;
}

bool isAdapterRunning(const char *name)
{
    // Asked of the kernel rather than read from /sys, which shows the
    // namespace it was mounted in, not necessarily this process's.
    struct ifreq request;
    std::memset(&request, 0, sizeof request);
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", name);
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    const bool running = ioctl(s, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_UP)
        && (request.ifr_flags & IFF_RUNNING);
    ::close(s);
    return running;
}
