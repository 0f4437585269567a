// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes from the capture helper's parent: only whole command frames from
// the interface's own MAC go out, in order, and nothing is read twice or
// outside the buffer.
#include "capture-messages.h"
#include "QPcapHelperProtocol.h"

#include <cstdlib>
#include <cstring>

namespace {
const uint8_t kMac[6] = {0x02, 0, 0, 0, 0, 2};
struct Seen {
    const uint8_t *next; // where the next message must start
};

int send(void *user, const uint8_t *frame, size_t length)
{
    Seen *seen = static_cast<Seen *>(user);
    if (frame != seen->next + QPCAP_HELPER_HEADER || !isOwnCommandFrame(frame, length, kMac))
        std::abort();
    seen->next = frame + length;
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Seen seen{data};
    const char *refusal = nullptr;
    const ssize_t used = takeMessages(data, size, kMac, send, &seen, &refusal);
    if (used == -1 ? refusal == nullptr : (used < 0 || data + used != seen.next))
        std::abort();
    if (used >= 0 && size - size_t(used) >= QPCAP_HELPER_HEADER + QPCAP_HELPER_FRAME_MAX)
        std::abort(); // a whole message left unread
    return 0;
}
