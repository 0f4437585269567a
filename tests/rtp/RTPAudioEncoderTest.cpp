// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/rtp/MpegAudioFrame.h"
#include "OrbUtils/rtp/RTPAudioEncoder.h"
#include "OrbUtils/rtp/RTPAudioPacket.h"
#include "RtpTestSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <cmath>
#include <cstring>
#include <memory>

namespace {

struct EncoderCase {
    const char *name;
    int rate, channels;
    AVSampleFormat format;
};

void PrintTo(const EncoderCase &c, std::ostream *os) { *os << c.name; }

// Two seconds of a 1 kHz tone at amplitude 0.5, interleaved in the format.
std::vector<uint8_t> tone(const EncoderCase &c)
{
    const int frames = 2 * c.rate;
    const int bytes = av_get_bytes_per_sample(c.format);
    std::vector<uint8_t> pcm(size_t(frames * c.channels * bytes));
    for (int i = 0; i < frames; ++i) {
        const double v = 0.5 * std::sin(2 * M_PI * 1000.0 * i / c.rate);
        for (int ch = 0; ch < c.channels; ++ch) {
            uint8_t *at = &pcm[size_t((i * c.channels + ch) * bytes)];
            const float f = float(v);
            const int16_t s = int16_t(std::lrint(v * 32767));
            std::memcpy(at, c.format == AV_SAMPLE_FMT_FLT ? static_cast<const void *>(&f) : &s, size_t(bytes));
        }
    }
    return pcm;
}

class EncoderTest : public ::testing::TestWithParam<EncoderCase> {};

// Whatever comes in, out come single MP3 frames of 1152 samples at 44.1 kHz
// stereo, each as soon as the encoder can give it, that decode to the
// input's length and pitch. Input arrives in blocks of 10 ms plus one
// sample, so blocks never line up with frames.
TEST_P(EncoderTest, ToneComesOutAsWholeFramesOfTheSameLengthAndPitch)
{
    const EncoderCase c = GetParam();
    RTPAudioEncoder encoder;
    ASSERT_TRUE(encoder.init(c.rate, 0, c.channels, c.format, 44100, 0, 2, 14));
    EXPECT_EQ(encoder.frameSize(), 1152);
    const std::vector<uint8_t> pcm = tone(c);
    const int frameBytes = c.channels * av_get_bytes_per_sample(c.format);
    const int block = (c.rate / 100 + 1) * frameBytes;
    std::vector<std::vector<uint8_t>> frames;
    double media = 0;
    auto take = [&] {
        while (std::unique_ptr<RTPAudioPacket> packet{encoder.pop()}) {
            MpegAudioHeader h;
            ASSERT_TRUE(parseMpegAudioHeader(packet->data() + 4, size_t(packet->size() - 4), &h));
            ASSERT_EQ(h.frameLength, packet->size() - 4);
            EXPECT_TRUE(h.sampleRate == 44100 && h.channels == 2);
            // Every frame lasts 1152 samples but the last, which ends the input.
            EXPECT_TRUE(packet->duration > 0 && packet->duration <= 1152000.0 / 44100 + 1e-9) << packet->duration;
            media += packet->duration;
            frames.emplace_back(packet->data() + 4, packet->data() + packet->size());
        }
    };
    for (size_t at = 0; at < pcm.size(); at += size_t(block)) {
        const int bytes = int(std::min(pcm.size() - at, size_t(block)));
        encoder.feed(pcm.data() + at, bytes / frameBytes, bytes);
        take();
        // A frame is out as soon as lame has its look-ahead (under 250
        // samples past its end), not once the next whole frame is in.
        const double in = double(at + size_t(bytes)) / frameBytes * 44100.0 / c.rate;
        ASSERT_GE(double(frames.size()), std::floor((in - 600) / 1152)) << "after " << in << " samples";
    }
    encoder.flush();
    take();
    int rate = 0;
    const std::vector<float> decoded = decodeMpegAudio(frames, &rate);
    ASSERT_EQ(rate, 44100);
    // The decoder also plays the encoder's look-ahead silence at the start.
    const double frameMs = 1152000.0 / 44100;
    const double delayMs = encoder.startDelay() * 1000.0 / 44100;
    EXPECT_NEAR(media - delayMs, 2000.0, frameMs);
    EXPECT_NEAR(decoded.size() * 1000.0 / rate - delayMs, 2000.0, frameMs);
    EXPECT_NEAR(toneFrequency(decoded, rate), 1000.0, 5.0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, EncoderTest,
                         ::testing::Values(EncoderCase{"Float48kStereo", 48000, 2, AV_SAMPLE_FMT_FLT},
                                           EncoderCase{"S16At44kMono", 44100, 1, AV_SAMPLE_FMT_S16},
                                           EncoderCase{"S16At8kMono", 8000, 1, AV_SAMPLE_FMT_S16}),
                         [](const ::testing::TestParamInfo<EncoderCase> &info) { return info.param.name; });

TEST(EncoderInit, RefusesWhatItCannotEncode)
{
    RTPAudioEncoder encoder;
    EXPECT_FALSE(encoder.init(48000, 0, 2, AV_SAMPLE_FMT_FLT, 44100, 0, 2, 0)); // not MPEG audio
    EXPECT_FALSE(encoder.init(48000, 0, 2, AV_SAMPLE_FMT_NONE, 44100, 0, 2, 14));
    EXPECT_EQ(encoder.payloadType(), -1);
    encoder.feed(reinterpret_cast<const uint8_t *>("abcd"), 1, 4);
    EXPECT_EQ(encoder.pop(), nullptr);
}

// Mono asked for, from stereo; a block is read as far as both its frames
// and its bytes go; a reset drops what was queued.
TEST(EncoderReset, DropsTheQueueAndGoesOn)
{
    const EncoderCase c{"Float48kStereo", 48000, 2, AV_SAMPLE_FMT_FLT};
    const std::vector<uint8_t> pcm = tone(c); // two seconds
    const struct {
        int frames;
        double ms;
    } blocks[] = {{1 << 28, 2000}, {int(pcm.size() / 16), 1000}, {int(pcm.size() / 8), 0}}; // 0: reset, not flushed
    for (const auto &b : blocks) {
        RTPAudioEncoder encoder;
        ASSERT_TRUE(encoder.init(c.rate, 0, c.channels, c.format, 44100, 0, 1, 14));
        encoder.feed(pcm.data(), b.frames, int(pcm.size()));
        b.ms > 0 ? encoder.flush() : encoder.reset();
        EXPECT_EQ(encoder.queued() > 0, b.ms > 0);
        double ms = 0;
        while (std::unique_ptr<RTPAudioPacket> packet{encoder.pop()}) {
            MpegAudioHeader h;
            ASSERT_TRUE(parseMpegAudioHeader(packet->data() + 4, size_t(packet->size() - 4), &h));
            EXPECT_EQ(h.channels, 1);
            ms += packet->duration;
        }
        EXPECT_NEAR(ms, b.ms, 80) << b.frames;
    }
}

} // namespace
