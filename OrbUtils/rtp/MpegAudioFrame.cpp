// SPDX-License-Identifier: GPL-3.0-or-later
#include "MpegAudioFrame.h"

#include <cstring>

namespace {

// kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index 1..14]
const short kBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};

const int kRates[3] = {44100, 48000, 32000}; // MPEG-1; halved for 2, quartered for 2.5

bool sameStream(const MpegAudioHeader &a, const MpegAudioHeader &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

} // namespace

bool parseMpegAudioHeader(const uint8_t *p, size_t available, MpegAudioHeader *out)
{
    if (p == nullptr || available < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3
        || (p[3] & 3) == 2)
        return false;
    MpegAudioHeader h;
    h.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    h.layer = 4 - layerBits;
    const bool mpeg1 = h.version == 10;
    h.bitrate = kBitrates[mpeg1 ? 0 : 1][h.layer - 1][bitrateIndex] * 1000;
    h.sampleRate = kRates[rateIndex] / (mpeg1 ? 1 : h.version == 20 ? 2 : 4);
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    const int padding = (p[2] >> 1) & 1;
    if (h.layer == 1) {
        h.samplesPerFrame = 384;
        h.frameLength = (12 * h.bitrate / h.sampleRate + padding) * 4;
    } else {
        // Layer III of MPEG-2 and 2.5 has half the granules of MPEG-1.
        const bool half = h.layer == 3 && !mpeg1;
        h.samplesPerFrame = half ? 576 : 1152;
        h.frameLength = (half ? 72 : 144) * h.bitrate / h.sampleRate + padding;
    }
    if (out)
        *out = h;
    return true;
}

double mpegAudioFrameMs(const MpegAudioHeader &header)
{
    return header.sampleRate > 0 ? header.samplesPerFrame * 1000.0 / header.sampleRate : 0.0;
}

bool isMpegAudioFreeFormat(const uint8_t *p, size_t available)
{
    if (p == nullptr || available < 4 || (p[2] >> 4) != 0)
        return false;
    // The same header with the lowest bit rate must be a valid one.
    const uint8_t withRate[4] = {p[0], p[1], uint8_t(p[2] | 0x10), p[3]};
    return parseMpegAudioHeader(withRate, 4, nullptr);
}

namespace {
enum Check { Confirmed, Refuted, Undecided };

// Whether `count` headers of h's stream follow the frame at `at`, one behind
// the other.
Check followed(const uint8_t *data, size_t size, size_t at, const MpegAudioHeader &h, int count, bool final)
{
    size_t next = at + size_t(h.frameLength);
    if (next > size)
        return final ? Refuted : Undecided; // the frame does not fit (yet)
    for (int i = 0; i < count; ++i) {
        if (next == size && final)
            return Confirmed; // the frame ends the file
        MpegAudioHeader n;
        if (next > size || size - next < 4) // the previous one ran past the end
            return final ? Refuted : Undecided;
        if (!parseMpegAudioHeader(data + next, size - next, &n) || !sameStream(h, n))
            return Refuted;
        next += size_t(n.frameLength);
    }
    return Confirmed;
}
} // namespace

MpegAudioSearch findMpegAudioFrame(const uint8_t *data, size_t size, size_t *offset, bool synced, bool final,
                                   MpegAudioHeader *out)
{
    if (data == nullptr || offset == nullptr)
        return MpegAudioNone;
    size_t at = *offset;
    for (; at + 4 <= size; ++at) {
        MpegAudioHeader h;
        if (!parseMpegAudioHeader(data + at, size - at, &h))
            continue;
        const Check check = followed(data, size, at, h, synced && at == *offset ? 1 : 2, final);
        if (check == Refuted)
            continue;
        *offset = at;
        if (check == Undecided)
            return MpegAudioNeedMore;
        if (out)
            *out = h;
        return MpegAudioFound;
    }
    if (final)
        return MpegAudioNone;
    *offset = at;
    return MpegAudioNeedMore;
}

int mpegAudioFragmentCount(int frameLength, int payloadLimit)
{
    const int room = payloadLimit - MpegAudioPayloadHeader;
    // The offset field has 16 bits; real frames stay under 3 KiB.
    if (frameLength <= 0 || frameLength > 0xFFFF || room <= 0)
        return 0;
    return (frameLength + room - 1) / room;
}

int mpegAudioFragment(const uint8_t *frame, int frameLength, int payloadLimit, int index, uint8_t *out)
{
    const int room = payloadLimit - MpegAudioPayloadHeader;
    if (frame == nullptr || out == nullptr || index < 0 || index >= mpegAudioFragmentCount(frameLength, payloadLimit))
        return -1;
    const int offset = index * room;
    const int piece = frameLength - offset < room ? frameLength - offset : room;
    out[0] = 0;
    out[1] = 0;
    out[2] = uint8_t(offset >> 8);
    out[3] = uint8_t(offset & 0xFF);
    std::memcpy(out + MpegAudioPayloadHeader, frame + offset, size_t(piece));
    return MpegAudioPayloadHeader + piece;
}
