// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture-messages.h"

#include "QPcapHelperProtocol.h"

#include <string.h>

static const uint8_t kArpRequest[8] = {0, 1, 8, 0, 6, 4, 0, 1};
static const uint8_t kZero[QPCAP_COMMAND_FRAME_MIN] = {0};

static int isArp(const uint8_t *f, const uint8_t header[8])
{
    return f[12] == 0x08 && f[13] == 0x06 && memcmp(f + 14, header, 8) == 0;
}

int isCommandFrame(const uint8_t *f, size_t length)
{
    return length >= QPCAP_COMMAND_FRAME_MIN && length <= QPCAP_HELPER_FRAME_MAX && f[12] == 0x08 && f[13] == 0x06
        && f[42] == 0x88 && f[43] == 0x88;
}

static int isInterfaceAddress(const uint8_t address[4], const struct CaptureInterface *interface)
{
    if (memcmp(address, kZero, 4) == 0)
        return 1;
    for (size_t i = 0; i < interface->addressCount && i < CAPTURE_ADDRESSES_MAX; ++i)
        if (memcmp(address, interface->addresses[i], 4) == 0)
            return 1;
    return 0;
}

int isOwnCommandFrame(const uint8_t *f, size_t length, const struct CaptureInterface *interface)
{
    return isCommandFrame(f, length) && isArp(f, kArpRequest) && memcmp(f + 6, interface->mac, 6) == 0
        && memcmp(f + 22, interface->mac, 6) == 0 && isInterfaceAddress(f + 28, interface);
}

int isAddressProbe(const uint8_t *f, size_t length, const uint8_t mac[6])
{
    static const uint8_t broadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    /* Sender address and target MAC zero: 10 bytes from offset 28. */
    return length >= QPCAP_HELPER_FRAME_MIN && length <= QPCAP_COMMAND_FRAME_MIN && memcmp(f, broadcast, 6) == 0
        && memcmp(f + 6, mac, 6) == 0 && isArp(f, kArpRequest) && memcmp(f + 22, mac, 6) == 0
        && memcmp(f + 28, kZero, 10) == 0 && memcmp(f + 42, kZero, length - 42) == 0;
}

int mayPassBack(const uint8_t *f, size_t length, const uint8_t mac[6])
{
    static const uint8_t broadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    return length >= QPCAP_HELPER_FRAME_MIN && length <= QPCAP_HELPER_FRAME_MAX && f[12] == 0x08 && f[13] == 0x06
        && (memcmp(f, mac, 6) == 0 || memcmp(f, broadcast, 6) == 0);
}

size_t wholeMessages(const uint8_t *buffer, size_t have)
{
    size_t used = 0;
    while (have - used >= QPCAP_HELPER_HEADER) {
        const size_t length = ((size_t)buffer[used + 1] << 8) | buffer[used + 2];
        if (have - used < QPCAP_HELPER_HEADER + length)
            break;
        used += QPCAP_HELPER_HEADER + length;
    }
    return used;
}

ssize_t takeMessages(const uint8_t *buffer, size_t have, const struct CaptureInterface *interface, size_t most,
                     SendFrame send, void *user, size_t *sent, const char **refusal)
{
    size_t used = 0;
    *sent = 0;
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
        if (have - used < QPCAP_HELPER_HEADER + length || *sent == most)
            break;
        const uint8_t *frame = m + QPCAP_HELPER_HEADER;
        if (!isOwnCommandFrame(frame, length, interface) && !isAddressProbe(frame, length, interface->mac)) {
            *refusal = isCommandFrame(frame, length) && memcmp(frame + 6, interface->mac, 6) == 0
                    && memcmp(frame + 22, interface->mac, 6) == 0 && !isInterfaceAddress(frame + 28, interface)
                ? "ARP sender address is not one of the interface's"
                : "neither a command frame from this interface nor an address probe";
            return -1;
        }
        if (send(user, frame, length) != 0)
            return -2;
        ++*sent;
        used += QPCAP_HELPER_HEADER + length;
    }
    return (ssize_t)used;
}
