// SPDX-License-Identifier: GPL-3.0-or-later
#include "RTPFileAudioReader.h"

#include "RTPAudioPacket.h"

#include <QDebug>
#include <QFileInfo>

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
    packetOffset = 0;
    if (input)
        avformat_close_input(&input);
    audioStream = nullptr;
}

bool RTPFileAudioReader::openInputLocked(const QString &path, QString *reason)
{
    input = avformat_alloc_context();
    if (input == nullptr || avformat_open_input(&input, path.toUtf8().constData(), nullptr, nullptr) != 0) {
        // avformat_open_input frees the context on failure and clears it;
        // this covers an allocation that never got that far.
        avformat_free_context(input);
        input = nullptr;
        *reason = QFileInfo::exists(path) ? QStringLiteral("not a readable media file") : QStringLiteral("no such file");
        return false;
    }
    // Some containers only reveal their streams after a probe read.
    if (input->nb_streams == 0)
        avformat_find_stream_info(input, nullptr);
    for (unsigned i = 0; i < input->nb_streams && audioStream == nullptr; ++i) {
        const AVCodecParameters *codec = input->streams[i]->codecpar;
        // Payload type 14 carries MPEG audio only: PCM or AAC sent under it
        // would reach the terminals as noise.
        if (codec->codec_type == AVMEDIA_TYPE_AUDIO
            && (codec->codec_id == AV_CODEC_ID_MP1 || codec->codec_id == AV_CODEC_ID_MP2
                || codec->codec_id == AV_CODEC_ID_MP3))
            audioStream = input->streams[i];
    }
    if (audioStream == nullptr) {
        *reason = QStringLiteral("no MPEG audio (layer I, II or III) in it");
        return false;
    }
    packet = av_packet_alloc();
    const uint8_t *frame = nullptr;
    MpegAudioHeader header;
    if (packet == nullptr || !nextFrameLocked(&frame, &header)) {
        *reason = QStringLiteral("no playable MPEG audio frame in it (free format, or damaged)");
        return false;
    }
    // Keep the frame found for the first readPacket.
    packetOffset -= size_t(header.frameLength);
    return true;
}

bool RTPFileAudioReader::openFileLocked(int index)
{
    closeLocked();
    current = index;
    if (index < 0 || index >= fileList.size())
        return false;
    const QString path = fileList.at(index);
    qDebug() << "open file" << path;
    QString reason;
    if (openInputLocked(path, &reason)) {
        if (observer)
            observer->onFileOpened(this, index, path);
        return true;
    }
    qDebug() << "cannot play" << path << reason;
    if (observer)
        observer->onFileOpenFailed(this, index, path);
    closeLocked();
    return false;
}

bool RTPFileAudioReader::nextFrameLocked(const uint8_t **frame, MpegAudioHeader *header)
{
    while (input && audioStream && packet) {
        if (packet->data && packetOffset < size_t(packet->size)) {
            size_t at = packetOffset;
            if (findMpegAudioFrame(packet->data, size_t(packet->size), &at, header)) {
                *frame = packet->data + at;
                packetOffset = at + size_t(header->frameLength);
                return true;
            }
        }
        av_packet_unref(packet);
        packetOffset = 0;
        // End of file, or a read error treated as one.
        if (av_read_frame(input, packet) < 0)
            return false;
        if (packet->stream_index != audioStream->index)
            av_packet_unref(packet);
    }
    return false;
}

RTPAudioPacket *RTPFileAudioReader::readPacket()
{
    lock.lock();
    // A file can open fine yet end without another frame; never go round the
    // list more than once in one call.
    int reopens = 0;
    const uint8_t *frame = nullptr;
    MpegAudioHeader header;
    bool found = false;
    while (input && !(found = nextFrameLocked(&frame, &header))) {
        if (fileList.isEmpty() || ++reopens > fileList.size() || !openFileLocked((current + 1) % fileList.size()))
            break;
    }
    RTPAudioPacket *out = nullptr;
    if (found) {
        out = new RTPAudioPacket();
        out->sampleRate = header.sampleRate;
        out->channels = header.channels;
        // From the frame itself: the demuxer's duration is missing for some
        // files and spans several frames for others.
        out->duration = mpegAudioFrameMs(header);
        out->payloadType = MpegAudioPayloadType;
        out->setPayload(frame, header.frameLength);
    }
    lock.unlock();
    return out;
}

bool RTPFileAudioReader::checkFile(const QString &path, QString *reason)
{
    RTPFileAudioReader reader;
    reader.lock.lock();
    const bool ok = reader.openInputLocked(path, reason);
    reader.closeLocked();
    reader.lock.unlock();
    return ok;
}

double RTPFileAudioReader::fileDuration(const QString &path)
{
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, path.toUtf8().constData(), nullptr, nullptr) != 0)
        return 0;
    double seconds = 0;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        const int best = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (best >= 0) {
            const AVStream *stream = context->streams[best];
            if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
                seconds = double(stream->duration) * av_q2d(stream->time_base);
            else if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
                seconds = double(context->duration) / AV_TIME_BASE;
        }
    }
    avformat_close_input(&context);
    return seconds;
}
