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
    window.clear();
    consumed = 0;
    streamEnded = false;
    synced = false;
    if (input)
        avformat_close_input(&input);
    audioStream = nullptr;
}

int RTPFileAudioReader::interruptRead(void *opaque)
{
    const auto *reader = static_cast<const RTPFileAudioReader *>(opaque);
    return reader->input && reader->input->pb && reader->input->pb->bytes_read > reader->readLimit;
}

bool RTPFileAudioReader::openInputLocked(const QString &path, QString *reason)
{
    // Opening a pipe waits for a writer, for ever; a device never ends.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *reason = QStringLiteral("not a regular file (a pipe, a device or a directory)");
        return false;
    }
    input = avformat_alloc_context();
    if (input) {
        input->interrupt_callback.callback = &RTPFileAudioReader::interruptRead;
        input->interrupt_callback.opaque = this;
    }
    readLimit = ProbeBytes;
    if (input == nullptr || avformat_open_input(&input, path.toUtf8().constData(), nullptr, nullptr) != 0) {
        // avformat_open_input frees the context on failure and clears it;
        // this covers an allocation that never got that far.
        avformat_free_context(input);
        input = nullptr;
        *reason = info.exists() ? QStringLiteral("not a readable media file") : QStringLiteral("no such file");
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
    // Free format, whatever the demuxer made of it: the stream's first
    // header has no bit rate.
    if (packet && readMoreLocked()) {
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(window.constData());
        for (int at = 0; at + 4 <= window.size(); ++at) {
            if (bytes[at] != 0xFF || (bytes[at + 1] & 0xE0) != 0xE0)
                continue;
            if (isMpegAudioFreeFormat(bytes + at, size_t(window.size() - at))) {
                *reason = QStringLiteral("free-format MPEG audio (its headers give no bit rate)");
                return false;
            }
            break;
        }
    }
    const uint8_t *frame = nullptr;
    MpegAudioHeader header;
    if (packet == nullptr || !nextFrameLocked(&frame, &header)) {
        *reason = QStringLiteral("no playable MPEG audio frame in its first %1 MiB (damaged?)").arg(ProbeBytes >> 20);
        return false;
    }
    // Keep the frame found for the first readPacket.
    consumed -= header.frameLength;
    synced = false;
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

bool RTPFileAudioReader::readMoreLocked()
{
    while (!streamEnded && input && audioStream && packet) {
        // A read past the probe stays within ReadAheadMax of where it began.
        if (input->pb && input->pb->bytes_read >= ProbeBytes)
            readLimit = input->pb->bytes_read + ReadAheadMax;
        av_packet_unref(packet);
        if (av_read_frame(input, packet) < 0) { // the end, a read error or the limit
            streamEnded = true;
            break;
        }
        if (packet->stream_index != audioStream->index || packet->size <= 0)
            continue;
        window.append(reinterpret_cast<const char *>(packet->data), packet->size);
        return true;
    }
    return false;
}

bool RTPFileAudioReader::nextFrameLocked(const uint8_t **frame, MpegAudioHeader *header)
{
    // What was handed out last time is no longer needed.
    window.remove(0, consumed);
    consumed = 0;
    for (;;) {
        size_t at = 0;
        const MpegAudioSearch found = findMpegAudioFrame(reinterpret_cast<const uint8_t *>(window.constData()),
                                                         size_t(window.size()), &at, synced, streamEnded, header);
        if (found == MpegAudioFound) {
            *frame = reinterpret_cast<const uint8_t *>(window.constData()) + at;
            consumed = int(at) + header->frameLength;
            synced = true;
            return true;
        }
        // Bytes before `at` are no frame; keep the rest for the next packet.
        synced = synced && at == 0;
        window.remove(0, int(at));
        if (found == MpegAudioNone || !readMoreLocked()) {
            if (found == MpegAudioNone || window.isEmpty())
                return false;
            // The end came while undecided: decide on what there is.
        }
    }
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
    if (!QFileInfo(path).isFile())
        return 0; // a pipe would block here for good
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
