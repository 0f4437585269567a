// SPDX-License-Identifier: GPL-3.0-or-later
#include "RTPAudioEncoder.h"

#include "MpegAudioFrame.h"
#include "OrbUtils/OrbLog.h"
#include "RTPAudioPacket.h"

#include <lame/lame.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Input is converted and encoded in pieces of at most this many frames, so
// a two-second block needs no two-second buffers and its first frames are
// queued while the rest is still being encoded.
const int MaxPieceFrames = 4096;

AVChannelLayout layoutFor(uint64_t mask, int channels)
{
    AVChannelLayout layout{};
    if (mask == 0 || av_channel_layout_from_mask(&layout, mask) != 0)
        av_channel_layout_default(&layout, channels);
    return layout;
}

// The rates of MPEG-1, MPEG-2 and MPEG-2.5 layer III; the first is taken
// for any other.
int supportedRate(int rate)
{
    for (int r : {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000})
        if (r == rate)
            return rate;
    return 44100;
}

// lame writes its complaints to stderr unless told otherwise.
void lameError(const char *format, va_list args)
{
    char text[256];
    std::vsnprintf(text, sizeof(text), format, args);
    ORB_LOG("lame: %s", text);
}
void lameQuiet(const char *, va_list) {}

} // namespace

bool RTPAudioEncoder::init(int inRate, uint64_t inLayout, int inChannels, int inFormat, int requestedRate,
                           uint64_t, int requestedChannels, int payloadType)
{
    close();
    const AVSampleFormat input = AVSampleFormat(inFormat);
    if (payloadType != MpegAudioPayloadType || inRate <= 0 || inChannels <= 0 || av_get_bytes_per_sample(input) <= 0) {
        ORB_LOG("cannot encode: payload type %d, input %d Hz, %d channels, format %d\n", payloadType, inRate,
                inChannels, inFormat);
        return false;
    }
    outRate = supportedRate(requestedRate > 0 ? requestedRate : inRate);
    outChannels = std::min(requestedChannels > 0 ? requestedChannels : inChannels, 2);

    lame = lame_init();
    bool ok = lame != nullptr;
    if (ok) {
        lame_set_errorf(lame, lameError);
        lame_set_debugf(lame, lameQuiet);
        lame_set_msgf(lame, lameQuiet);
        lame_set_in_samplerate(lame, outRate);
        lame_set_out_samplerate(lame, outRate);
        lame_set_num_channels(lame, outChannels);
        lame_set_mode(lame, outChannels == 1 ? MONO : JOINT_STEREO);
        lame_set_brate(lame, BitRate / 1000);
        // Without the bit reservoir each frame is complete when it leaves
        // lame instead of waiting for the frames that borrow its room: a
        // few kbit/s of coding headroom a live test stream does not need.
        lame_set_disable_reservoir(lame, 1);
        // A stream has no file whose first frame could hold a VBR tag.
        lame_set_bWriteVbrTag(lame, 0);
        ok = lame_init_params(lame) >= 0 && lame_get_framesize(lame) > 0;
    }
    if (ok) {
        blockSamples = lame_get_framesize(lame);
        delay = lame_get_encoder_delay(lame) + 528 + 1;
        inBytesPerFrame = av_get_bytes_per_sample(input) * inChannels;
        AVChannelLayout inputLayout = layoutFor(inLayout, inChannels);
        AVChannelLayout outputLayout = layoutFor(0, outChannels);
        // One converter for every case: lame takes planar float.
        ok = swr_alloc_set_opts2(&resampler, &outputLayout, AV_SAMPLE_FMT_FLTP, outRate, &inputLayout, input, inRate,
                                 0, nullptr)
                 == 0
             && swr_init(resampler) == 0;
        av_channel_layout_uninit(&inputLayout);
        av_channel_layout_uninit(&outputLayout);
    }
    if (!ok) {
        ORB_LOG("cannot set up the MP3 encoder for %d Hz, %d channels, format %d\n", inRate, inChannels, inFormat);
        close();
        return false;
    }
    type = payloadType;
    return true;
}

bool RTPAudioEncoder::growConversion(int samples)
{
    if (samples <= conversionSamples)
        return true;
    for (float *&plane : conversion) {
        av_freep(&plane);
        plane = static_cast<float *>(av_malloc(sizeof(float) * size_t(samples)));
    }
    conversionSamples = conversion[0] && conversion[1] ? samples : 0;
    return conversionSamples > 0;
}

void RTPAudioEncoder::feed(const uint8_t *data, int frames, int bytes)
{
    if (type < 0 || data == nullptr || frames <= 0 || bytes <= 0)
        return;
    if (int64_t(frames) * inBytesPerFrame > bytes)
        frames = bytes / inBytesPerFrame;
    while (frames > 0) {
        const int piece = std::min(frames, MaxPieceFrames);
        const int room = swr_get_out_samples(resampler, piece);
        if (room <= 0 || !growConversion(room))
            return;
        const int converted = swr_convert(resampler, reinterpret_cast<uint8_t **>(conversion), conversionSamples,
                                          &data, piece);
        if (converted > 0)
            encode(conversion, converted);
        data += size_t(piece) * size_t(inBytesPerFrame);
        frames -= piece;
    }
}

void RTPAudioEncoder::encode(const float *const *planes, int samples)
{
    // What lame asks of its output buffer for this many samples.
    const size_t room = size_t(samples) * 5 / 4 + 7200;
    if (output.size() < outputUsed + room)
        output.resize(outputUsed + room);
    const int written = lame_encode_buffer_ieee_float(lame, planes[0], planes[outChannels > 1 ? 1 : 0], samples,
                                                      output.data() + outputUsed, int(room));
    if (written > 0) {
        outputUsed += size_t(written);
        takeFrames();
    }
}

// Cuts what lame wrote into frames; a frame not yet complete stays.
void RTPAudioEncoder::takeFrames()
{
    size_t at = 0;
    MpegAudioHeader header;
    while (outputUsed - at >= 4) {
        if (!parseMpegAudioHeader(output.data() + at, outputUsed - at, &header)) {
            ORB_LOG("lame wrote %zu bytes that are not a frame; dropped\n", outputUsed - at);
            at = outputUsed;
            break;
        }
        if (size_t(header.frameLength) > outputUsed - at)
            break;
        auto *packet = new RTPAudioPacket();
        packet->setPayload(output.data() + at, header.frameLength);
        packet->sampleRate = header.sampleRate;
        packet->channels = header.channels;
        packet->duration = mpegAudioFrameMs(header);
        packet->payloadType = type;
        packet->readyUs = rtpClockUs();
        push(packet);
        at += size_t(header.frameLength);
    }
    std::memmove(output.data(), output.data() + at, outputUsed - at);
    outputUsed -= at;
}

void RTPAudioEncoder::push(RTPAudioPacket *packet)
{
    {
        std::lock_guard<std::mutex> guard(queueLock);
        queue.push_back(packet);
        queuedMs += packet->duration;
        while (queuedMs > MaxQueuedMs && queue.size() > 1) {
            queuedMs -= queue.front()->duration;
            dropped += queue.front()->duration;
            delete queue.front();
            queue.pop_front();
        }
    }
    if (readyHandler)
        readyHandler(readyContext);
}

void RTPAudioEncoder::flush()
{
    if (type < 0)
        return;
    // What the resampler still holds for its filter.
    const int held = swr_get_out_samples(resampler, 0);
    if (held > 0 && growConversion(held)) {
        const int converted =
            swr_convert(resampler, reinterpret_cast<uint8_t **>(conversion), conversionSamples, nullptr, 0);
        if (converted > 0)
            encode(conversion, converted);
    }
    // lame pads the last frame and writes the ones its look-ahead held.
    const size_t room = 7200;
    if (output.size() < outputUsed + room)
        output.resize(outputUsed + room);
    const int written = lame_encode_flush(lame, output.data() + outputUsed, int(room));
    if (written > 0) {
        outputUsed += size_t(written);
        takeFrames();
    }
    type = -1;
}

RTPAudioPacket *RTPAudioEncoder::pop()
{
    std::lock_guard<std::mutex> guard(queueLock);
    if (queue.empty())
        return nullptr;
    RTPAudioPacket *packet = queue.front();
    queue.pop_front();
    queuedMs -= packet->duration;
    return packet;
}

int RTPAudioEncoder::queued()
{
    std::lock_guard<std::mutex> guard(queueLock);
    return int(queue.size());
}

double RTPAudioEncoder::droppedMs()
{
    std::lock_guard<std::mutex> guard(queueLock);
    return dropped;
}

void RTPAudioEncoder::reset()
{
    outputUsed = 0;
    if (resampler)
        swr_init(resampler);
    if (lame && type >= 0) {
        // lame has no way to forget what it holds: flushed into nothing.
        uint8_t sink[7200];
        lame_encode_flush_nogap(lame, sink, int(sizeof(sink)));
    }
    std::lock_guard<std::mutex> guard(queueLock);
    for (RTPAudioPacket *packet : queue)
        delete packet;
    queue.clear();
    queuedMs = 0;
}

void RTPAudioEncoder::close()
{
    reset();
    type = -1;
    swr_free(&resampler);
    if (lame)
        lame_close(lame);
    lame = nullptr;
    for (float *&plane : conversion)
        av_freep(&plane);
    conversionSamples = 0;
    output.clear();
    output.shrink_to_fit();
    dropped = 0;
}
