// SPDX-License-Identifier: GPL-3.0-or-later
#include "RTPAudioPacket.h"

#include <cstring>

void RTPAudioPacket::setPayload(const uint8_t *frame, int n)
{
    if (n < 0 || (n > 0 && frame == nullptr))
        n = 0;
    const int32_t needed = n + HeaderSize;
    if (allocated < needed) {
        delete[] buffer;
        // Value-initialised: the 4 header bytes are never written again.
        buffer = new uint8_t[size_t(needed)]();
        allocated = needed;
    }
    if (n > 0)
        std::memcpy(buffer + HeaderSize, frame, size_t(n));
    length = needed;
}

void RTPAudioPacket::free()
{
    delete[] buffer;
    buffer = nullptr;
    allocated = 0;
    length = 0;
}
