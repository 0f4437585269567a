// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture-messages.h"

#include "QPcapHelperProtocol.h"

#include <string.h>

int isCommandFrame(const uint8_t *f, size_t length)
{
    return length >= QPCAP_HELPER_FRAME_MIN && length <= QPCAP_HELPER_FRAME_MAX && f[12] == 0x08 && f[13] == 0x06
        && f[42] == 0x88 && f[43] == 0x88;
}

int isOwnCommandFrame(const uint8_t *f, size_t length, const uint8_t mac[6])
{
    return isCommandFrame(f, length) && f[14] == 0 && f[15] == 1 && f[16] == 0x08 && f[17] == 0 && f[18] == 6
        && f[19] == 4 && f[20] == 0 && f[21] == 1 && memcmp(f + 6, mac, 6) == 0 && memcmp(f + 22, mac, 6) == 0;
}

ssize_t takeMessages(const uint8_t *buffer, size_t have, const uint8_t mac[6], SendFrame send, void *user,
                     const char **refusal)
{
    size_t used = 0;
    while (have - used >= QPCAP_HELPER_HEADER) {
        const uint8_t *m = buffer + used;
        const size_t length = ((size_t)m[1] << 8) | m[2];
        if (m[0] != QPCAP_HELPER_SEND) {
            *refusal = "unknown message type";
            return -1;
        }
        if (length < QPCAP_HELPER_FRAME_MIN || length > QPCAP_HELPER_FRAME_MAX) {
            *refusal = "frame length out of range";
            return -1;
        }
        if (have - used < QPCAP_HELPER_HEADER + length)
            break;
        const uint8_t *frame = m + QPCAP_HELPER_HEADER;
        if (!isOwnCommandFrame(frame, length, mac)) {
            *refusal = "not a command frame from this interface";
            return -1;
        }
        if (send(user, frame, length) != 0)
            return -2;
        used += QPCAP_HELPER_HEADER + length;
    }
    return (ssize_t)used;
}
