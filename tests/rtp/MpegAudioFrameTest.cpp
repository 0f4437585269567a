// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/rtp/MpegAudioFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Lengths worked out by hand from the standard's tables, one per version and
// layer, and the headers that must never be taken for a frame.
TEST(MpegHeader, LengthSamplesAndRateFollowTheHeader)
{
    const struct {
        const char *name;
        uint8_t bytes[4];
        int frameLength; // -1: refused
        int samples, rate;
    } cases[] = {
        {"Mpeg1Layer3At128k", {0xFF, 0xFB, 0x90, 0x64}, 417, 1152, 44100},
        {"Mpeg1Layer3Padded", {0xFF, 0xFB, 0x92, 0x64}, 418, 1152, 44100},
        {"Mpeg1Layer3At320kAnd32kHz", {0xFF, 0xFB, 0xE8, 0xC4}, 1440, 1152, 32000},
        {"Mpeg1Layer2At384kAnd48kHz", {0xFF, 0xFD, 0xE4, 0x04}, 1152, 1152, 48000},
        {"Mpeg1Layer1At448kAnd32kHz", {0xFF, 0xFF, 0xE8, 0x04}, 672, 384, 32000},
        {"Mpeg2Layer3At64kAnd22kHz", {0xFF, 0xF3, 0x80, 0xC4}, 208, 576, 22050},
        {"Mpeg25Layer3At8kAnd8kHz", {0xFF, 0xE3, 0x18, 0xC4}, 72, 576, 8000},
        {"Mpeg25Layer2At160kAnd8kHz", {0xFF, 0xE5, 0xE8, 0x04}, 2880, 1152, 8000},
        {"FreeFormat", {0xFF, 0xFB, 0x00, 0x64}, -1, 0, 0},
        {"BadBitrate", {0xFF, 0xFB, 0xF0, 0x64}, -1, 0, 0},
        {"ReservedRate", {0xFF, 0xFB, 0x9C, 0x64}, -1, 0, 0},
        {"ReservedVersion", {0xFF, 0xEB, 0x90, 0x64}, -1, 0, 0},
        {"ReservedLayer", {0xFF, 0xF9, 0x90, 0x64}, -1, 0, 0},
        {"ReservedEmphasis", {0xFF, 0xFB, 0x90, 0x66}, -1, 0, 0},
        {"RiffWave", {'R', 'I', 'F', 'F'}, -1, 0, 0},
    };
    for (const auto &c : cases) {
        MpegAudioHeader h{};
        EXPECT_EQ(parseMpegAudioHeader(c.bytes, 4, &h), c.frameLength > 0) << c.name;
        if (c.frameLength > 0) {
            EXPECT_TRUE(h.frameLength == c.frameLength && h.samplesPerFrame == c.samples && h.sampleRate == c.rate)
                << c.name << ": " << h.frameLength << " bytes, " << h.samplesPerFrame << " samples, " << h.sampleRate << " Hz";
        }
    }
}

using Bytes = std::vector<uint8_t>;

// n frames of 417 bytes (MPEG-1 layer III, 128 kbit/s, 44.1 kHz), or of
// free format when free.
Bytes frames(int n, bool free = false)
{
    Bytes out;
    for (int i = 0; i < n; ++i) {
        Bytes frame(free ? 960 : 417, 0x55);
        frame[0] = 0xFF, frame[1] = 0xFB, frame[2] = free ? 0x04 : 0x90, frame[3] = 0x64;
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes cutShort(Bytes bytes)
{
    bytes.pop_back();
    return bytes;
}

// 100 bytes holding a sync pattern of a 104-byte "frame" at 10.
Bytes strayPattern()
{
    Bytes bytes(100, 0x00);
    bytes[10] = 0xFF, bytes[11] = 0xFB, bytes[12] = 0x10, bytes[13] = 0x64;
    return bytes;
}

// A header counts only when the next ones follow where it says: one when a
// stream is followed, two at its start and after other bytes.
TEST(MpegFrameSearch, TakesOnlyHeadersTheNextOnesConfirm)
{
    const struct {
        const char *name;
        Bytes bytes;
        bool synced, final;
        MpegAudioSearch result;
        size_t at;
    } cases[] = {
        {"TwoHeadersFollow", frames(3), false, false, MpegAudioFound, 0},
        {"OneIsNotEnoughAtTheStart", frames(2) + Bytes(500, 0), false, true, MpegAudioNone, 0},
        {"OneIsEnoughInAStream", frames(2) + Bytes(500, 0), true, true, MpegAudioFound, 0},
        {"StraySyncInOtherBytes", strayPattern() + frames(2), false, true, MpegAudioFound, 100},
        {"FreeFormatIsNoFrame", frames(4, true), false, true, MpegAudioNone, 0},
        {"CutShortAtTheEnd", cutShort(frames(1)), true, true, MpegAudioNone, 0},
        {"UndecidedUntilMoreComes", frames(1) + Bytes{0xFF, 0xFB}, true, false,
                   MpegAudioNeedMore, 0},
    };
    for (const auto &c : cases) {
        size_t at = 0;
        MpegAudioHeader h;
        EXPECT_EQ(findMpegAudioFrame(c.bytes.data(), c.bytes.size(), &at, c.synced, c.final, &h), c.result) << c.name;
        EXPECT_TRUE(c.result == MpegAudioNone || at == c.at) << c.name << ": at " << at;
    }
}

// RFC 2250 payloads: each within the limit, its header holding the offset of
// its bytes in the frame.
TEST(MpegFragments, SplitWithinTheLimitEachSayingWhereItsBytesGo)
{
    const struct {
        const char *name;
        int frameLength, payloadLimit, count;
        int index, length, offset; // one payload; length -1: refused
    } cases[] = {
        {"Whole", 417, 1400, 1, 0, 421, 0},
        {"ExactFit", 1396, 1400, 1, 0, 1400, 0},
        {"OneByteOver", 1397, 1400, 2, 1, 5, 1396},
        {"LastOfThree", 2881, 1400, 3, 2, 93, 2792},
        {"HighOffsetByte", 65535, 1400, 47, 46, 1323, 64216},
        {"OneByteOfRoom", 3, 5, 3, 2, 5, 2},
        {"PastTheLast", 1397, 1400, 2, 2, -1, 0},
        {"OffsetBeyond16Bits", 65536, 1400, 0, 0, -1, 0},
        {"NoRoom", 417, 4, 0, 0, -1, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(mpegAudioFragmentCount(c.frameLength, c.payloadLimit), c.count) << c.name;
        Bytes frame(size_t(c.frameLength));
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = uint8_t(i * 7);
        Bytes out(size_t(c.payloadLimit) + 1, 0xEE);
        EXPECT_EQ(mpegAudioFragment(frame.data(), c.frameLength, c.payloadLimit, c.index, out.data()), c.length) << c.name;
        if (c.length > 0) {
            EXPECT_EQ(out[0] | out[1], 0) << c.name;
            EXPECT_EQ(out[2] << 8 | out[3], c.offset) << c.name;
            EXPECT_TRUE(std::equal(out.begin() + 4, out.begin() + c.length, frame.begin() + c.offset)) << c.name;
            EXPECT_EQ(out[size_t(c.payloadLimit)], 0xEE) << c.name;
        }
    }
}

TEST(MpegFreeFormat, OnlyAWholeHeaderWithAValidRateOtherwise)
{
    const uint8_t free[4] = {0xFF, 0xFB, 0x00, 0x64}, reservedRate[4] = {0xFF, 0xFB, 0x0C, 0x64},
                  rated[4] = {0xFF, 0xFB, 0x90, 0x64};
    EXPECT_TRUE(isMpegAudioFreeFormat(free, 4));
    EXPECT_FALSE(isMpegAudioFreeFormat(free, 3));
    EXPECT_FALSE(isMpegAudioFreeFormat(reservedRate, 4));
    EXPECT_FALSE(isMpegAudioFreeFormat(rated, 4));
}

} // namespace
