// SPDX-License-Identifier: GPL-3.0-or-later
/* fenwa-capture: the only program of Fenwa Workbench that holds a privilege.
 *
 *   fenwa-capture INTERFACE     (standard input and output: a socket to the parent)
 *
 * Installed root:fenwa 0750 with cap_net_raw in its permitted set, so that
 * members of the group can find and configure terminals without root and
 * without a capability on any Qt program (a GUI toolkit loads code chosen by
 * the user's environment). It keeps CAP_NET_RAW alone, raises it only to
 * open the capture and drops every capability before it reads a byte from
 * its parent. It sends only command frames from the interface's own MAC and
 * one of its own IPv4 addresses (or 0.0.0.0), read from the kernel when the
 * frame is asked for, and RFC 5227 address probes from that MAC, no faster
 * than the send budget allows (the parent's writes wait meanwhile); it
 * captures without promiscuous mode and reports only ARP frames, commands
 * among them, that other hosts address to that MAC or to everyone.
 * Anything else from the parent ends it: it cannot be used to read other
 * hosts' traffic, to flood the segment, nor to poison a neighbour's ARP
 * cache with another host's address. It ends with its parent (end of input,
 * or the parent-death signal). The messages and the budget are described in
 * link/QPcapHelperProtocol.h. */
#define _GNU_SOURCE
#include "QPcapHelperProtocol.h"
#include "capture-messages.h"

#include <errno.h>
#include <ifaddrs.h>
#include <linux/capability.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

enum {
    /* Nothing longer passes: a longer frame is cut, and its cut copy refused
     * by its wire length. */
    SNAP_LENGTH = QPCAP_HELPER_FRAME_MAX,
    READ_TIMEOUT_MS = 1000,
    /* The kernel's ring, a page to a slot: about 1200 frames, a thousand
     * terminals' answers to a search arriving as one burst with room to
     * spare, in some 5 MB that stay resident for the helper's life; each
     * member of the group may start any number of helpers. */
    CAPTURE_BUFFER_BYTES = 2 * 1024 * 1024,
    MESSAGE_MAX = QPCAP_HELPER_HEADER + QPCAP_HELPER_FRAME_MAX
};

static const char *captureName;
static struct CaptureInterface interface;

static int setCapabilities(uint32_t effective, uint32_t permitted)
{
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    memset(data, 0, sizeof data);
    data[0].effective = effective;
    data[0].permitted = permitted;
    return (int)syscall(SYS_capset, &header, data);
}

static uint32_t permittedCapabilities(void)
{
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    memset(data, 0, sizeof data);
    if (syscall(SYS_capget, &header, data) != 0)
        return 0;
    return data[0].permitted;
}

/* Writes all of it, or ends: a parent that cannot read any more is gone. */
static void writeAll(const uint8_t *bytes, size_t length)
{
    while (length > 0) {
        const ssize_t n = write(STDOUT_FILENO, bytes, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(0);
        bytes += n;
        length -= (size_t)n;
    }
}

static void putMessage(int type, const uint8_t *payload, size_t length)
{
    uint8_t message[MESSAGE_MAX];
    if (length > QPCAP_HELPER_FRAME_MAX)
        length = QPCAP_HELPER_FRAME_MAX;
    message[0] = (uint8_t)type;
    message[1] = (uint8_t)(length >> 8);
    message[2] = (uint8_t)length;
    if (length > 0)
        memcpy(message + QPCAP_HELPER_HEADER, payload, length);
    writeAll(message, QPCAP_HELPER_HEADER + length);
}

static int fail(int reason, const char *what, const char *detail)
{
    uint8_t text[QPCAP_HELPER_ERROR_MAX];
    text[0] = (uint8_t)reason;
    const int n = snprintf((char *)text + 1, sizeof text - 1, "%s: %s", what, detail);
    size_t length = n < 0 ? 0 : (size_t)n;
    if (length > sizeof text - 2)
        length = sizeof text - 2;
    putMessage(QPCAP_HELPER_ERROR, text, 1 + length);
    return 1;
}

static int refuse(const char *why)
{
    fprintf(stderr, "fenwa-capture: refused: %s\n", why);
    return QPCAP_HELPER_REFUSED;
}

static void onFrame(u_char *user, const struct pcap_pkthdr *header, const u_char *bytes)
{
    (void)user;
    /* The filter passes only these; checked again in case frames that came
     * in before it was set are still in the ring. */
    if (header->caplen == header->len && mayPassBack(bytes, header->len, interface.mac))
        putMessage(QPCAP_HELPER_FRAME, bytes, header->len);
}

static int interfaceName(const char *name)
{
    const size_t n = strlen(name);
    return n > 0 && n < IFNAMSIZ && strchr(name, '/') == NULL && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

static int readMac(const char *name)
{
    struct ifreq request;
    memset(&request, 0, sizeof request);
    memcpy(request.ifr_name, name, strlen(name));
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return fail(QPCAP_HELPER_FAILED, "socket", strerror(errno));
    const int rc = ioctl(s, SIOCGIFHWADDR, &request);
    const int error = errno;
    close(s);
    if (rc != 0)
        return fail(QPCAP_HELPER_NO_DEVICE, name, strerror(error));
    if (request.ifr_hwaddr.sa_family != ARPHRD_ETHER)
        return fail(QPCAP_HELPER_NO_DEVICE, name, "not an Ethernet interface");
    memcpy(interface.mac, request.ifr_hwaddr.sa_data, 6);
    return 0;
}

/* An address's label is the interface's name, or that name, ':' and more. */
static int labelOf(const char *label, const char *name)
{
    const size_t n = strlen(name);
    return strncmp(label, name, n) == 0 && (label[n] == '\0' || label[n] == ':');
}

/* The interface's IPv4 addresses as they are now: an address may come or go
 * while the helper runs. Keeps none when they cannot be read, so that only
 * 0.0.0.0 passes. */
static void readAddresses(void)
{
    interface.addressCount = 0;
    struct ifaddrs *list = NULL;
    if (getifaddrs(&list) != 0)
        return;
    for (const struct ifaddrs *it = list; it != NULL; it = it->ifa_next) {
        if (it->ifa_addr == NULL || it->ifa_addr->sa_family != AF_INET || !labelOf(it->ifa_name, captureName)
            || interface.addressCount == CAPTURE_ADDRESSES_MAX)
            continue;
        const struct sockaddr_in *in = (const struct sockaddr_in *)(const void *)it->ifa_addr;
        memcpy(interface.addresses[interface.addressCount++], &in->sin_addr.s_addr, 4);
    }
    freeifaddrs(list);
}

static pcap_t *openCapture(const char *name)
{
    char errbuf[PCAP_ERRBUF_SIZE];
    memset(errbuf, 0, sizeof errbuf);
    pcap_t *handle = pcap_create(name, errbuf);
    if (handle == NULL) {
        fail(QPCAP_HELPER_FAILED, name, errbuf);
        return NULL;
    }
    pcap_set_snaplen(handle, SNAP_LENGTH);
    /* What the link needs is addressed to the interface or broadcast. */
    pcap_set_promisc(handle, 0);
    pcap_set_timeout(handle, READ_TIMEOUT_MS);
    pcap_set_immediate_mode(handle, 1);
    pcap_set_buffer_size(handle, CAPTURE_BUFFER_BYTES);

    /* The one moment a capability is in force. */
    const uint32_t raw = permittedCapabilities() & CAP_TO_MASK(CAP_NET_RAW);
    setCapabilities(raw, raw);
    const int rc = pcap_activate(handle);
    const int dropped = setCapabilities(0, 0);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (dropped != 0) {
        fail(QPCAP_HELPER_FAILED, "cannot drop capabilities", strerror(errno));
        pcap_close(handle);
        return NULL;
    }
    if (rc < 0) {
        const int reason = rc == PCAP_ERROR_PERM_DENIED ? QPCAP_HELPER_NO_PERMISSION
            : rc == PCAP_ERROR_NO_SUCH_DEVICE || rc == PCAP_ERROR_IFACE_NOT_UP ? QPCAP_HELPER_NO_DEVICE
                                                                                : QPCAP_HELPER_FAILED;
        fail(reason, name, pcap_geterr(handle)[0] ? pcap_geterr(handle) : pcap_statustostr(rc));
        pcap_close(handle);
        return NULL;
    }
    char filter[QPCAP_CAPTURE_FILTER_MAX];
    const uint8_t *m = interface.mac;
    snprintf(filter, sizeof filter, QPCAP_CAPTURE_FILTER_FORMAT, m[0], m[1], m[2], m[3], m[4], m[5]);
    struct bpf_program program;
    if (pcap_compile(handle, &program, filter, 1, PCAP_NETMASK_UNKNOWN) != 0
        || pcap_setfilter(handle, &program) != 0) {
        fail(QPCAP_HELPER_FAILED, "capture filter", pcap_geterr(handle));
        pcap_close(handle);
        return NULL;
    }
    pcap_freecode(&program);
    /* Its own frames are not read back (where the driver cannot tell, the
     * parent drops them). */
    pcap_setdirection(handle, PCAP_D_IN);
    if (pcap_setnonblock(handle, 1, errbuf) != 0 || pcap_get_selectable_fd(handle) < 0) {
        fail(QPCAP_HELPER_FAILED, name, "cannot wait for frames");
        pcap_close(handle);
        return NULL;
    }
    return handle;
}

/* Sends a frame the parent asked for; the driver's refusal ends the helper. */
static int sendFrame(void *user, const uint8_t *frame, size_t length)
{
    return pcap_sendpacket((pcap_t *)user, frame, (int)length);
}

static unsigned long long nowNs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (unsigned long long)t.tv_sec * 1000000000ULL + (unsigned long long)t.tv_nsec;
}

/* Captured frames go back as they come; the parent's frames go out as the
 * budget allows, and while a whole message waits for it nothing more is
 * read, so a parent that writes faster waits in its write. */
static int serve(pcap_t *handle)
{
    uint8_t buffer[2 * MESSAGE_MAX];
    size_t have = 0;
    struct QPcapSendBudget budget = {0, 0};
    qpcapBudgetStart(&budget, nowNs());
    struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {pcap_get_selectable_fd(handle), POLLIN, 0}};
    for (;;) {
        size_t whole = wholeMessages(buffer, have);
        if (have > 0) {
            const unsigned long long allowed = whole > 0 ? qpcapBudgetFrames(&budget, nowNs()) : 0;
            size_t sent = 0;
            const char *refusal = NULL;
            const ssize_t used =
                takeMessages(buffer, have, &interface, (size_t)allowed, sendFrame, handle, &sent, &refusal);
            if (used == -1)
                return refuse(refusal);
            if (used < 0)
                return fail(QPCAP_HELPER_FAILED, "send", pcap_geterr(handle));
            qpcapBudgetSpend(&budget, sent);
            memmove(buffer, buffer + used, have - (size_t)used);
            have -= (size_t)used;
            whole -= (size_t)used;
        }
        int timeout = -1;
        fds[0].events = POLLIN;
        if (whole > 0) {
            fds[0].events = 0;
            timeout = (int)((qpcapBudgetWaitNs(&budget) + 999999ULL) / 1000000ULL);
            if (timeout < 1)
                timeout = 1;
        }
        if (poll(fds, 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            return fail(QPCAP_HELPER_FAILED, "poll", strerror(errno));
        }
        if (fds[1].revents) {
            if (pcap_dispatch(handle, -1, onFrame, NULL) == PCAP_ERROR)
                return fail(QPCAP_HELPER_NO_DEVICE, "capture", pcap_geterr(handle));
        }
        if (fds[0].revents) {
            const ssize_t n = fds[0].events ? read(STDIN_FILENO, buffer + have, sizeof buffer - have) : 0;
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            /* The parent is gone: what it left unsent goes nowhere, and half
             * a message means it died mid-way. */
            if (n <= 0)
                return wholeMessages(buffer, have) == have ? 0 : refuse("input ended inside a message");
            have += (size_t)n;
            readAddresses();
        }
    }
}

int main(int argc, char **argv)
{
    /* Cleared by the kernel on exec of a file with capabilities, so set here. */
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    signal(SIGPIPE, SIG_IGN);
    closefrom(STDERR_FILENO + 1);
    /* CAP_NET_RAW alone, and not in force until the capture opens. */
    const uint32_t raw = permittedCapabilities() & CAP_TO_MASK(CAP_NET_RAW);
    if (setCapabilities(0, raw) != 0) {
        fprintf(stderr, "fenwa-capture: cannot limit capabilities: %s\n", strerror(errno));
        return 1;
    }
    if (argc != 2 || !interfaceName(argv[1])) {
        fprintf(stderr, "usage: fenwa-capture INTERFACE\n"
                        "Started by fenwa-workbench and fenwa-cli, with a socket as standard input and output.\n");
        return 2;
    }
    captureName = argv[1];
    if (readMac(argv[1]) != 0)
        return 1;
    pcap_t *handle = openCapture(argv[1]);
    if (handle == NULL)
        return 1;
    putMessage(QPCAP_HELPER_READY, interface.mac, sizeof interface.mac);
    const int status = serve(handle);
    pcap_close(handle);
    return status;
}
