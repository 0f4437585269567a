// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

class RTPAudioPacket;
struct AVAudioFifo;
struct AVCodecContext;
struct AVFrame;
struct SwrContext;

// Turns interleaved PCM of any rate, channel count and sample format into MP3
// packets (MPEG-1 layer III through libavcodec's libmp3lame encoder) for the
// multicast pacer. Samples are converted with libswresample and re-blocked to
// the encoder's own frame size (1152 samples per channel): the encoder takes
// nothing else. Each packet is one MP3 frame; its duration and so the RTP
// timestamps follow the encoder's frames.
//
// Threading contract: init, reset and close run while nobody feeds or pops
// (before the capture starts, after it stopped). feed runs on one thread at a
// time (the capture's dispatch thread), pop on another (the RTP send thread);
// they share only the packet queue, under its own lock. At most MaxQueued
// packets wait; when nobody takes them the oldest are dropped, so a stalled
// sender never holds more than about 1.7 s of audio.
class RTPAudioEncoder
{
public:
    enum { MpegAudioPayloadType = 14, BitRate = 128000, MaxQueued = 64 };

    RTPAudioEncoder() = default;
    ~RTPAudioEncoder() { close(); }

    // inFormat and the result are FFmpeg sample formats (AVSampleFormat).
    // inLayout 0 means the usual layout for inChannels; outRate, outLayout and
    // outChannels 0 mean the input's, each replaced by the encoder's first
    // supported value when it cannot take it. False when payloadType is not
    // 14, the input format is unknown or the encoder cannot be set up.
    bool init(int inRate, uint64_t inLayout, int inChannels, int inFormat, int outRate, uint64_t outLayout,
              int outChannels, int payloadType);
    // frames per channel of interleaved input; bytes bounds what is read.
    void feed(const uint8_t *data, int frames, int bytes);
    // The oldest encoded frame (the caller frees it), or nullptr.
    RTPAudioPacket *pop();
    // Encoded frames waiting to be popped; from any thread.
    int queued();
    // End of input: encodes what waits for a whole frame (padded with
    // silence) and what the encoder holds back for its look-ahead. Nothing
    // can be fed after it.
    void flush();
    // Drops queued packets and the samples waiting for a whole frame.
    void reset();
    void close();

    int32_t payloadType() const { return type; }
    int outputRate() const { return outRate; }
    int outputChannels() const { return outChannels; }
    int frameSize() const { return blockSamples; }
    // Samples of look-ahead silence the encoder puts before the input.
    int startDelay() const { return delay; }
    uint64_t droppedPackets() const { return dropped; }

private:
    void encode(AVFrame *frame);
    bool growConversion(int samples);

    SwrContext *resampler = nullptr;
    AVCodecContext *context = nullptr;
    AVAudioFifo *fifo = nullptr;
    AVFrame *block = nullptr; // one encoder frame, reused
    uint8_t **conversion = nullptr;
    int conversionSamples = 0;
    int inBytesPerFrame = 0;
    int outRate = 0;
    int outChannels = 0;
    int outFormat = -1;
    int blockSamples = 0;
    int delay = 0;
    int64_t nextPts = 0;
    int32_t type = -1;

    std::mutex queueLock;
    std::deque<RTPAudioPacket *> queue;
    uint64_t dropped = 0;

    RTPAudioEncoder(const RTPAudioEncoder &) = delete;
    RTPAudioEncoder &operator=(const RTPAudioEncoder &) = delete;
};
