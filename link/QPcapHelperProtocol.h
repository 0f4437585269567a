// SPDX-License-Identifier: GPL-3.0-or-later
/* What the link and its capture helper (fenwa-capture) say to each other.
 * Plain C: the helper is a small C program without Qt.
 *
 * The parent starts the helper with one argument, the interface name, and
 * a stream socket as its standard input and output. Every message either way
 * is one type byte, a 16-bit big-endian payload length, then the payload.
 *
 *   parent -> helper  SEND   one command frame to send
 *   helper -> parent  READY  capture is open; payload: the interface's MAC
 *                     FRAME  one captured command frame
 *                     ERROR  the helper ends; payload: a reason byte, then text
 *
 * What the helper sends: command frames whose Ethernet and ARP senders are
 * the interface's MAC and whose ARP sender address is one of the interface's
 * IPv4 addresses or 0.0.0.0, and address probes (an ARP request as RFC 5227
 * makes it: broadcast, from the interface's MAC, sender address 0.0.0.0,
 * target MAC zero, nothing behind it but zero padding), at most
 * QPCAP_SEND_RATE a second after a burst of QPCAP_SEND_BURST: a parent that
 * writes faster waits, as the helper stops reading until it may send again.
 * What it passes back: ARP frames, commands among them, that other hosts
 * address to the interface's MAC or to everyone; the capture is not
 * promiscuous. So it cannot be used to read other hosts' traffic, to flood
 * the segment, or to forge traffic or anyone's address. Anything else from
 * the parent ends it. */
#ifndef QPCAP_HELPER_PROTOCOL_H
#define QPCAP_HELPER_PROTOCOL_H

enum {
    QPCAP_HELPER_SEND = 'S',
    QPCAP_HELPER_READY = 'R',
    QPCAP_HELPER_FRAME = 'F',
    QPCAP_HELPER_ERROR = 'E',

    QPCAP_HELPER_HEADER = 3,
    /* The shortest frame either way (an ARP frame without padding), the
     * shortest command frame (no text) and the longest Ethernet frame. */
    QPCAP_HELPER_FRAME_MIN = 42,
    QPCAP_COMMAND_FRAME_MIN = 60,
    QPCAP_HELPER_FRAME_MAX = 1514,
    QPCAP_HELPER_ERROR_MAX = 512,

    /* The reason byte of an ERROR. */
    QPCAP_HELPER_NO_PERMISSION = 1,
    QPCAP_HELPER_NO_DEVICE = 2,
    QPCAP_HELPER_FAILED = 3,

    /* Exit status when the parent broke the protocol. */
    QPCAP_HELPER_REFUSED = 3
};

/* The capture filter of the link, in process and in the helper alike: ARP
 * frames that fit the link's largest frame, addressed to the adapter's MAC
 * or to everyone (commands' replies, answers to a probe, and the requests
 * other hosts broadcast, which an address probe must hear). Only frames
 * coming in: the link's own are not read back. */
#define QPCAP_CAPTURE_FILTER_FORMAT                                                                              \
    "arp and len >= 42 and len <= 1514 and (ether dst %02x:%02x:%02x:%02x:%02x:%02x or ether broadcast)"
enum { QPCAP_CAPTURE_FILTER_MAX = 160 };

/* What the link may put on the wire, through the helper or in process: a
 * token bucket of QPCAP_SEND_BURST frames, refilled at QPCAP_SEND_RATE a
 * second. A probe of 256 addresses leaves in under 40 ms of its 150 ms
 * round, the 32 commands a batch keeps in flight and a search's broadcast go
 * out at once, and a thousand terminals' batch with its resends (some 1,500
 * frames at 10% loss each way) is held back by a third of a second at most;
 * a segment is never sent more than some 7.5 MB/s of 1514-byte frames. */
enum { QPCAP_SEND_RATE = 5000, QPCAP_SEND_BURST = 64 };

/* The bucket's content in nanoseconds of sending time saved up. */
struct QPcapSendBudget {
    unsigned long long credit, last;
};
#define QPCAP_SEND_COST_NS (1000000000ULL / QPCAP_SEND_RATE)

static inline void qpcapBudgetStart(struct QPcapSendBudget *b, unsigned long long nowNs)
{
    b->credit = QPCAP_SEND_BURST * QPCAP_SEND_COST_NS;
    b->last = nowNs;
}

/* Refills the bucket for the time since the last call; the frames it allows now. */
static inline unsigned long long qpcapBudgetFrames(struct QPcapSendBudget *b, unsigned long long nowNs)
{
    const unsigned long long most = QPCAP_SEND_BURST * QPCAP_SEND_COST_NS;
    if (nowNs > b->last)
        b->credit += nowNs - b->last;
    b->last = nowNs;
    if (b->credit > most)
        b->credit = most;
    return b->credit / QPCAP_SEND_COST_NS;
}

static inline void qpcapBudgetSpend(struct QPcapSendBudget *b, unsigned long long frames)
{
    const unsigned long long cost = frames * QPCAP_SEND_COST_NS;
    b->credit = cost < b->credit ? b->credit - cost : 0;
}

/* Nanoseconds until the next frame is allowed (0: now). */
static inline unsigned long long qpcapBudgetWaitNs(const struct QPcapSendBudget *b)
{
    return b->credit >= QPCAP_SEND_COST_NS ? 0 : QPCAP_SEND_COST_NS - b->credit;
}

#endif
