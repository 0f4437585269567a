// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/rtp/MpegAudioFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct HeaderCase {
    const char *name;
    uint8_t bytes[4];
    int frameLength; // -1: refused
    int samples, rate;
};
void PrintTo(const HeaderCase &c, std::ostream *os) { *os << c.name; }

class MpegHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

// Lengths worked out by hand from the standard's tables, one per version and
// layer, and the headers that must never be taken for a frame.
TEST_P(MpegHeaderTest, LengthSamplesAndRateFollowTheHeader)
{
    const HeaderCase c = GetParam();
    MpegAudioHeader h;
    ASSERT_EQ(parseMpegAudioHeader(c.bytes, 4, &h), c.frameLength > 0);
    if (c.frameLength > 0) {
        EXPECT_TRUE(h.frameLength == c.frameLength && h.samplesPerFrame == c.samples && h.sampleRate == c.rate)
            << h.frameLength << " bytes, " << h.samplesPerFrame << " samples, " << h.sampleRate << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MpegHeaderTest,
    ::testing::Values(HeaderCase{"Mpeg1Layer3At128k", {0xFF, 0xFB, 0x90, 0x64}, 417, 1152, 44100},
                      HeaderCase{"Mpeg1Layer3Padded", {0xFF, 0xFB, 0x92, 0x64}, 418, 1152, 44100},
                      HeaderCase{"Mpeg1Layer3At320kAnd32kHz", {0xFF, 0xFB, 0xE8, 0xC4}, 1440, 1152, 32000},
                      HeaderCase{"Mpeg1Layer2At384kAnd48kHz", {0xFF, 0xFD, 0xE4, 0x04}, 1152, 1152, 48000},
                      HeaderCase{"Mpeg1Layer1At448kAnd32kHz", {0xFF, 0xFF, 0xE8, 0x04}, 672, 384, 32000},
                      HeaderCase{"Mpeg2Layer3At64kAnd22kHz", {0xFF, 0xF3, 0x80, 0xC4}, 208, 576, 22050},
                      HeaderCase{"Mpeg25Layer3At8kAnd8kHz", {0xFF, 0xE3, 0x18, 0xC4}, 72, 576, 8000},
                      HeaderCase{"Mpeg25Layer2At160kAnd8kHz", {0xFF, 0xE5, 0xE8, 0x04}, 2880, 1152, 8000},
                      HeaderCase{"FreeFormat", {0xFF, 0xFB, 0x00, 0x64}, -1, 0, 0},
                      HeaderCase{"BadBitrate", {0xFF, 0xFB, 0xF0, 0x64}, -1, 0, 0},
                      HeaderCase{"ReservedRate", {0xFF, 0xFB, 0x9C, 0x64}, -1, 0, 0},
                      HeaderCase{"ReservedVersion", {0xFF, 0xEB, 0x90, 0x64}, -1, 0, 0},
                      HeaderCase{"ReservedLayer", {0xFF, 0xF9, 0x90, 0x64}, -1, 0, 0},
                      HeaderCase{"ReservedEmphasis", {0xFF, 0xFB, 0x90, 0x66}, -1, 0, 0},
                      HeaderCase{"RiffWave", {'R', 'I', 'F', 'F'}, -1, 0, 0}),
    [](const ::testing::TestParamInfo<HeaderCase> &info) { return info.param.name; });

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

struct SearchCase {
    const char *name;
    Bytes bytes;
    bool synced, final;
    MpegAudioSearch result;
    size_t at;
};
void PrintTo(const SearchCase &c, std::ostream *os) { *os << c.name; }

class MpegFrameSearch : public ::testing::TestWithParam<SearchCase> {};

// A header counts only when the next ones follow where it says: one when a
// stream is followed, two at its start and after other bytes.
TEST_P(MpegFrameSearch, TakesOnlyHeadersTheNextOnesConfirm)
{
    const SearchCase &c = GetParam();
    size_t at = 0;
    MpegAudioHeader h;
    EXPECT_EQ(findMpegAudioFrame(c.bytes.data(), c.bytes.size(), &at, c.synced, c.final, &h), c.result);
    if (c.result != MpegAudioNone) {
        EXPECT_EQ(at, c.at);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MpegFrameSearch,
    ::testing::Values(SearchCase{"TwoHeadersFollow", frames(3), false, false, MpegAudioFound, 0},
                      SearchCase{"OneIsNotEnoughAtTheStart", frames(2) + Bytes(500, 0), false, true, MpegAudioNone, 0},
                      SearchCase{"OneIsEnoughInAStream", frames(2) + Bytes(500, 0), true, true, MpegAudioFound, 0},
                      SearchCase{"StraySyncInOtherBytes", strayPattern() + frames(2), false, true, MpegAudioFound, 100},
                      SearchCase{"FreeFormatIsNoFrame", frames(4, true), false, true, MpegAudioNone, 0},
                      SearchCase{"CutShortAtTheEnd", cutShort(frames(1)), true, true, MpegAudioNone, 0},
                      SearchCase{"UndecidedUntilMoreComes", frames(1) + Bytes{0xFF, 0xFB}, true, false,
                                 MpegAudioNeedMore, 0}),
    [](const ::testing::TestParamInfo<SearchCase> &info) { return info.param.name; });

struct FragmentCase {
    const char *name;
    int frameLength, payloadLimit, count;
    int index, length, offset; // one payload; length -1: refused
};
void PrintTo(const FragmentCase &c, std::ostream *os) { *os << c.name; }

class MpegFragments : public ::testing::TestWithParam<FragmentCase> {};

// RFC 2250 payloads: each within the limit, its header holding the offset of
// its bytes in the frame.
TEST_P(MpegFragments, SplitWithinTheLimitEachSayingWhereItsBytesGo)
{
    const FragmentCase &c = GetParam();
    EXPECT_EQ(mpegAudioFragmentCount(c.frameLength, c.payloadLimit), c.count);
    Bytes frame(size_t(c.frameLength));
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i * 7);
    Bytes out(size_t(c.payloadLimit) + 1, 0xEE);
    ASSERT_EQ(mpegAudioFragment(frame.data(), c.frameLength, c.payloadLimit, c.index, out.data()), c.length);
    if (c.length > 0) {
        EXPECT_EQ(out[0] | out[1], 0);
        EXPECT_EQ(out[2] << 8 | out[3], c.offset);
        EXPECT_TRUE(std::equal(out.begin() + 4, out.begin() + c.length, frame.begin() + c.offset));
        EXPECT_EQ(out[size_t(c.payloadLimit)], 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MpegFragments,
    ::testing::Values(FragmentCase{"Whole", 417, 1400, 1, 0, 421, 0},
                      FragmentCase{"ExactFit", 1396, 1400, 1, 0, 1400, 0},
                      FragmentCase{"OneByteOver", 1397, 1400, 2, 1, 5, 1396},
                      FragmentCase{"LastOfThree", 2881, 1400, 3, 2, 93, 2792},
                      FragmentCase{"HighOffsetByte", 65535, 1400, 47, 46, 1323, 64216},
                      FragmentCase{"OneByteOfRoom", 3, 5, 3, 2, 5, 2},
                      FragmentCase{"PastTheLast", 1397, 1400, 2, 2, -1, 0},
                      FragmentCase{"OffsetBeyond16Bits", 65536, 1400, 0, 0, -1, 0},
                      FragmentCase{"NoRoom", 417, 4, 0, 0, -1, 0}),
    [](const ::testing::TestParamInfo<FragmentCase> &info) { return info.param.name; });

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
