// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

class RTPAudioPacket;
struct SwrContext;
struct lame_global_struct;

// Turns interleaved PCM of any rate, channel count and sample format into MP3
// packets (MPEG audio layer III through libmp3lame) for the multicast pacer.
// Samples are converted with libswresample and handed to lame as they come,
// in whatever block size the capture delivers: lame sends a frame out as
// soon as it has that frame's look-ahead (about 176 samples past its end),
// where whole 1152-sample input frames (what libavcodec's wrapper takes)
// would hold each frame back until the next frame is complete, about 22 ms
// more. Each packet is one MP3 frame stamped with when it was ready; its
// duration and so the RTP timestamps follow the frames.
//
// Threading contract: init, reset and close run while nobody feeds or pops
// (before the capture starts, after it stopped). feed runs on one thread at a
// time (the capture's dispatch thread), pop on another (the RTP send thread);
// they share only the packet queue, under its own lock. The queue is the
// send queue of a live stream: it holds at most MaxQueuedMs of audio, enough
// for a source that delivers two-second blocks; beyond it the oldest frames
// are dropped and counted.
class RTPAudioEncoder
{
public:
    enum { MpegAudioPayloadType = 14, BitRate = 128000, MaxQueuedMs = 4000 };

    RTPAudioEncoder() = default;
    ~RTPAudioEncoder() { close(); }

    // inFormat is an FFmpeg sample format (AVSampleFormat). inLayout 0 means
    // the usual layout for inChannels; outRate and outChannels 0 mean the
    // input's, a rate MPEG audio has not becomes 44100 Hz and more than two
    // channels become two (outLayout is the usual one for them). False when
    // payloadType is not 14, the input format is unknown or the encoder
    // cannot be set up.
    bool init(int inRate, uint64_t inLayout, int inChannels, int inFormat, int outRate, uint64_t outLayout,
              int outChannels, int payloadType);
    // frames per channel of interleaved input; bytes bounds what is read.
    void feed(const uint8_t *data, int frames, int bytes);
    // The oldest encoded frame (the caller frees it), or nullptr.
    RTPAudioPacket *pop();
    // Encoded frames waiting to be popped; from any thread.
    int queued();
    // End of input: encodes what lame still holds (padded with silence).
    // Nothing can be fed after it.
    void flush();
    // Drops queued packets and what lame and the converter hold.
    void reset();
    void close();

    int32_t payloadType() const { return type; }
    int outputRate() const { return outRate; }
    int outputChannels() const { return outChannels; }
    int frameSize() const { return blockSamples; }
    // Samples of silence a decoder plays before the input (lame's encoder
    // delay and the decoder's own).
    int startDelay() const { return delay; }
    // Play time (ms) of the frames the full queue dropped; from any thread.
    double droppedMs();
    // Called on the feeding thread after each packet is queued; set before
    // the first feed.
    void setReadyHandler(void (*handler)(void *), void *context)
    {
        readyHandler = handler;
        readyContext = context;
    }

private:
    void encode(const float *const *planes, int samples);
    void takeFrames();
    void push(RTPAudioPacket *packet);
    bool growConversion(int samples);

    SwrContext *resampler = nullptr;
    lame_global_struct *lame = nullptr;
    float *conversion[2] = {nullptr, nullptr};
    int conversionSamples = 0;
    std::vector<uint8_t> output; // lame's bytes not yet cut into frames
    size_t outputUsed = 0;
    int inBytesPerFrame = 0;
    int outRate = 0;
    int outChannels = 0;
    int blockSamples = 0;
    int delay = 0;
    int32_t type = -1;

    std::mutex queueLock;
    std::deque<RTPAudioPacket *> queue;
    double queuedMs = 0;
    double dropped = 0;
    void (*readyHandler)(void *) = nullptr;
    void *readyContext = nullptr;

    RTPAudioEncoder(const RTPAudioEncoder &) = delete;
    RTPAudioEncoder &operator=(const RTPAudioEncoder &) = delete;
};
