// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as an MP3 file's contents: every frame found lies inside them,
// the search moves on, a frame found before the end is known is found at the
// end too, and a frame's payloads put back together are the frame.
#include "MpegAudioFrame.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The payload limit comes first, as an RTP session's would.
    if (size < 2)
        return 0;
    const int limit = 5 + (data[0] << 8 | data[1]) % 1500;
    data += 2, size -= 2;
    size_t offset = 0;
    bool synced = false;
    MpegAudioHeader h;
    for (;;) {
        size_t early = offset;
        const MpegAudioSearch before = findMpegAudioFrame(data, size, &early, synced, false, nullptr);
        const MpegAudioSearch found = findMpegAudioFrame(data, size, &offset, synced, true, &h);
        if (found == MpegAudioNeedMore || (before == MpegAudioFound && (found != MpegAudioFound || early != offset)))
            std::abort();
        if (found != MpegAudioFound)
            break;
        if (h.frameLength <= 0 || size_t(h.frameLength) > size - offset || mpegAudioFrameMs(h) <= 0)
            std::abort();
        const int count = mpegAudioFragmentCount(h.frameLength, limit);
        std::vector<uint8_t> whole, piece(static_cast<size_t>(limit));
        for (int i = 0; i < count; ++i) {
            const int n = mpegAudioFragment(data + offset, h.frameLength, limit, i, piece.data());
            if (n <= MpegAudioPayloadHeader || n > limit || size_t(piece[2] << 8 | piece[3]) != whole.size())
                std::abort();
            whole.insert(whole.end(), piece.begin() + MpegAudioPayloadHeader, piece.begin() + n);
        }
        if (whole.size() != size_t(h.frameLength) || std::memcmp(whole.data(), data + offset, whole.size()) != 0)
            std::abort();
        offset += size_t(h.frameLength);
        synced = true;
    }
    return 0;
}
