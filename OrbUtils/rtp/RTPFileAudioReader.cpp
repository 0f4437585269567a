// SPDX-License-Identifier: GPL-3.0-or-later
#include "RTPFileAudioReader.h"

#include "RTPAudioPacket.h"

#include <QDebug>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

bool RTPFileAudioReader::start()
{
    if (fileList.isEmpty())
        return false;
    return openFile(0);
}

bool RTPFileAudioReader::reset()
{
    return openFile(0);
}

void RTPFileAudioReader::stop()
{
    lock.lock();
    closeLocked();
    lock.unlock();
}

bool RTPFileAudioReader::openFile(int index)
{
    lock.lock();
    const bool opened = openFileLocked(index);
    lock.unlock();
    return opened;
}

void RTPFileAudioReader::closeLocked()
{
    av_packet_free(&packet);
    if (input)
        avformat_close_input(&input);
    audioStream = nullptr;
}

bool RTPFileAudioReader::openFileLocked(int index)
{
    closeLocked();
    current = index;
    if (index < 0 || index >= fileList.size())
        return false;
    const QString path = fileList.at(index);
    qDebug() << "open file" << path;
    input = avformat_alloc_context();
    if (input && avformat_open_input(&input, path.toUtf8().constData(), nullptr, nullptr) == 0) {
        // Some containers only reveal their streams after a probe read.
        if (input->nb_streams == 0)
            avformat_find_stream_info(input, nullptr);
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                audioStream = input->streams[i];
                break;
            }
        }
        packet = av_packet_alloc();
        if (audioStream && packet) {
            if (observer)
                observer->onFileOpened(this, index, path);
            return true;
        }
    } else if (input) {
        // avformat_open_input frees the context on failure and clears it;
        // this covers an allocation that never got that far.
        avformat_free_context(input);
        input = nullptr;
    }
    if (observer)
        observer->onFileOpenFailed(this, index, path);
    closeLocked();
    return false;
}

RTPAudioPacket *RTPFileAudioReader::readPacket()
{
    lock.lock();
    // A file can open fine yet hold no audio frame; never go round the list
    // more than once in one call.
    int reopens = 0;
    while (input && audioStream && packet) {
        const int result = av_read_frame(input, packet);
        if (result < 0) {
            // End of file, or a read error treated as one.
            if (++reopens > fileList.size() || fileList.isEmpty())
                break;
            if (!openFileLocked((current + 1) % fileList.size()))
                break;
            continue;
        }
        if (packet->stream_index != audioStream->index) {
            av_packet_unref(packet);
            continue;
        }
        RTPAudioPacket *out = new RTPAudioPacket();
        const AVCodecParameters *codec = audioStream->codecpar;
        out->sampleRate = codec->sample_rate;
        out->channels = codec->ch_layout.nb_channels;
        out->duration = double(audioStream->time_base.num) / audioStream->time_base.den * 1000.0 * double(packet->duration);
        out->payloadType = MpegAudioPayloadType;
        out->setPayload(packet->data, packet->size);
        av_packet_unref(packet);
        lock.unlock();
        return out;
    }
    lock.unlock();
    return nullptr;
}
