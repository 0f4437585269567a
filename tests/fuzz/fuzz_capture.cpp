// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes from the capture helper's parent: only whole frames go out, in
// order, each either a command frame from the interface's MAC and one of its
// addresses (or 0.0.0.0) or an address probe from that MAC, never more than
// the send budget allows; nothing is read twice or outside the buffer, and
// a whole message is left only when the budget ran out. What is passed back
// is ARP addressed to the interface or to everyone.
#include "capture-messages.h"
#include "QPcapHelperProtocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
const CaptureInterface kInterface = {{0x02, 0, 0, 0, 0, 2}, 1, {{192, 168, 1, 2}}};
const uint8_t kZero[60] = {0};

struct Seen {
    const uint8_t *next; // where the next message must start
};

// Said again here in its own words, not by the rules under test.
bool allowed(const uint8_t *f, size_t length)
{
    const uint8_t *mac = kInterface.mac;
    if (length < 42 || length > 1514 || std::memcmp(f + 6, mac, 6) != 0 || std::memcmp(f + 22, mac, 6) != 0
        || f[12] != 0x08 || f[13] != 0x06 || f[21] != 1)
        return false;
    const bool fromOwnAddress = std::memcmp(f + 28, kInterface.addresses[0], 4) == 0 || std::memcmp(f + 28, kZero, 4) == 0;
    const bool command = length >= 60 && f[42] == 0x88 && f[43] == 0x88;
    const bool probe = length <= 60 && std::memcmp(f, "\xff\xff\xff\xff\xff\xff", 6) == 0
        && std::memcmp(f + 28, kZero, 10) == 0 && std::memcmp(f + 42, kZero, length - 42) == 0;
    return fromOwnAddress && (command || probe);
}

int send(void *user, const uint8_t *frame, size_t length)
{
    Seen *seen = static_cast<Seen *>(user);
    if (frame != seen->next + QPCAP_HELPER_HEADER || !allowed(frame, length))
        std::abort();
    seen->next = frame + length;
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The budget: unlimited for inputs of even length, else a few frames.
    const size_t most = size % 2 == 0 ? SIZE_MAX : 1 + size % 7;
    Seen seen{data};
    const char *refusal = nullptr;
    size_t sent = 0;
    const ssize_t used = takeMessages(data, size, &kInterface, most, send, &seen, &sent, &refusal);
    if (used == -1 ? refusal == nullptr : (used < 0 || data + used != seen.next))
        std::abort();
    if (sent > most)
        std::abort();
    const size_t left = used >= 0 ? size - size_t(used) : 0;
    if (sent < most && left >= QPCAP_HELPER_HEADER
        && left >= QPCAP_HELPER_HEADER + ((size_t(data[used + 1]) << 8) | data[used + 2]))
        std::abort(); // a whole message left unread with budget to spare
    // Whatever the bytes, only ARP to the interface or everyone goes back.
    static const uint8_t broadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    if (mayPassBack(data, size, kInterface.mac)
        && (size < 42 || size > 1514 || data[12] != 0x08 || data[13] != 0x06
            || (std::memcmp(data, kInterface.mac, 6) != 0 && std::memcmp(data, broadcast, 6) != 0)))
        std::abort();
    return 0;
}
