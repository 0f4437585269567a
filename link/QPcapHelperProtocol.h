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
 * target MAC zero, nothing behind it but zero padding). What it passes back:
 * command frames, and ARP replies addressed to the interface's MAC (the
 * answers to a probe). So it cannot be used to sniff, or to forge traffic
 * or anyone's address. Anything else from the parent ends it. */
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
 * frames that carry the command header and fit the link's largest frame, and
 * ARP replies to the adapter's MAC. A load past the end of a frame makes a
 * filter refuse it whole, so the length is tested before offset 42 is read:
 * a reply to a probe is 42 bytes long on a veth. */
#define QPCAP_CAPTURE_FILTER_FORMAT                                                                              \
    "arp and ((ether[20:2] = 2 and ether dst %02x:%02x:%02x:%02x:%02x:%02x)"                                    \
    " or (len >= 60 and len <= 1514 and ether[42:2] = 0x8888))"
enum { QPCAP_CAPTURE_FILTER_MAX = 160 };

#endif
