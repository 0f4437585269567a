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
 * The helper sends only command frames from the interface's own MAC and
 * passes back only command frames, so it cannot be used to sniff or to forge
 * other traffic. Anything else from the parent ends it. */
#ifndef QPCAP_HELPER_PROTOCOL_H
#define QPCAP_HELPER_PROTOCOL_H

enum {
    QPCAP_HELPER_SEND = 'S',
    QPCAP_HELPER_READY = 'R',
    QPCAP_HELPER_FRAME = 'F',
    QPCAP_HELPER_ERROR = 'E',

    QPCAP_HELPER_HEADER = 3,
    /* The shortest command frame (no text) and the longest Ethernet frame. */
    QPCAP_HELPER_FRAME_MIN = 60,
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
 * frames that carry the command header and fit the link's largest frame. */
#define QPCAP_COMMAND_FILTER "arp and ether[42:2] = 0x8888 and len <= 1514"

#endif
