// SPDX-License-Identifier: GPL-3.0-or-later
/* The capture helper's rules for frames, and its reading of its parent's
 * messages, apart from the capture and the process around it, so that they
 * can be driven with any bytes (see link/QPcapHelperProtocol.h for the
 * messages and what the helper lets through). Plain C. */
#ifndef FENWA_CAPTURE_MESSAGES_H
#define FENWA_CAPTURE_MESSAGES_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { CAPTURE_ADDRESSES_MAX = 64 };

/* The interface as the kernel reports it: its MAC and the IPv4 addresses it
 * holds (first number first). */
struct CaptureInterface {
    uint8_t mac[6];
    size_t addressCount;
    uint8_t addresses[CAPTURE_ADDRESSES_MAX][4];
};

/* An ARP frame with the command header, of a length the link can carry. */
int isCommandFrame(const uint8_t *frame, size_t length);
/* A command frame as the link builds it: an Ethernet ARP request whose
 * Ethernet and ARP senders are the interface's MAC and whose ARP sender
 * address is one of the interface's, or 0.0.0.0 (which no host learns from). */
int isOwnCommandFrame(const uint8_t *frame, size_t length, const struct CaptureInterface *interface);
/* An RFC 5227 address probe from mac: 42 bytes, or up to 60 with zero padding. */
int isAddressProbe(const uint8_t *frame, size_t length, const uint8_t mac[6]);
/* What the helper passes back: an ARP frame (a command is one too) of a
 * length the link can carry, addressed to mac or to everyone. */
int mayPassBack(const uint8_t *frame, size_t length, const uint8_t mac[6]);

/* Hands the frames of the complete SEND messages in buffer to send, in
 * order, at most `most` of them, and counts them in *sent. Returns the bytes
 * consumed (the rest is the start of a message, or messages beyond `most`),
 * or -1 with *refusal set when the parent broke the protocol (a message
 * header is judged as soon as it is there, whatever the budget) or asked for
 * a frame the helper does not send, or -2 when send returned non-zero. */
typedef int (*SendFrame)(void *user, const uint8_t *frame, size_t length);
ssize_t takeMessages(const uint8_t *buffer, size_t have, const struct CaptureInterface *interface, size_t most,
                     SendFrame send, void *user, size_t *sent, const char **refusal);
/* The bytes at the start of buffer that make whole messages (of any type
 * and length: takeMessages judges them). */
size_t wholeMessages(const uint8_t *buffer, size_t have);

#ifdef __cplusplus
}
#endif

#endif
