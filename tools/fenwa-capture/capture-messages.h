// SPDX-License-Identifier: GPL-3.0-or-later
/* The capture helper's reading of its parent's messages, apart from the
 * capture and the process around it, so that it can be driven with any
 * bytes (see link/QPcapHelperProtocol.h for the messages). Plain C. */
#ifndef FENWA_CAPTURE_MESSAGES_H
#define FENWA_CAPTURE_MESSAGES_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An ARP frame with the command header, of a length the link can carry. */
int isCommandFrame(const uint8_t *frame, size_t length);
/* A command frame as the link builds it: an Ethernet ARP request whose
 * Ethernet and ARP senders are both mac. */
int isOwnCommandFrame(const uint8_t *frame, size_t length, const uint8_t mac[6]);

/* Hands the frame of every complete SEND message in buffer to send, in
 * order. Returns the bytes consumed (the rest is the start of a message),
 * or -1 with *refusal set when the parent broke the protocol, or -2 when
 * send returned non-zero. */
typedef int (*SendFrame)(void *user, const uint8_t *frame, size_t length);
ssize_t takeMessages(const uint8_t *buffer, size_t have, const uint8_t mac[6], SendFrame send, void *user,
                     const char **refusal);

#ifdef __cplusplus
}
#endif

#endif
