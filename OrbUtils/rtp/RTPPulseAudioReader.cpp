// SPDX-License-Identifier: GPL-3.0-or-later
#include "RTPPulseAudioReader.h"

#include "OrbUtils/OrbLog.h"
#include "RTPAudioEncoder.h"

RTPPulseAudioReader::RTPPulseAudioReader() = default;

RTPPulseAudioReader::~RTPPulseAudioReader()
{
    stop();
}

bool RTPPulseAudioReader::start()
{
    stop();
    captureDroppedMs = 0;
    capture = std::make_unique<CoreAudioDevice>();
    capture->setObserver(this);
    capture->setDevice(device.id, device.kind);
    if (!capture->open() || !encoder) {
        // Without an encoder there would be no payload type to stream under
        // and nothing to send: refuse rather than stream silence.
        stop();
        return false;
    }
    return true;
}

namespace {
double captureDropped(const CoreAudioDevice &capture)
{
    const CoreAudioFormat &format = capture.format();
    const double bytesPerMs = double(format.sampleRate) * format.bytesPerFrame / 1000.0;
    return bytesPerMs > 0 ? double(capture.droppedBytes()) / bytesPerMs : 0;
}
} // namespace

void RTPPulseAudioReader::closeCapture()
{
    if (capture) {
        capture->close();
        captureDroppedMs += captureDropped(*capture);
        capture.reset();
    }
}

void RTPPulseAudioReader::stop()
{
    closeCapture();
    // Drained first: an encoder closed with frames inside complains on
    // stderr.
    if (encoder)
        encoder->flush();
    encoder.reset();
}

void RTPPulseAudioReader::onDeviceOpened(CoreAudioDevice *opened)
{
    if (encoder)
        return;
    const CoreAudioFormat &format = opened->format();
    encoder = std::make_unique<RTPAudioEncoder>();
    encoder->setReadyHandler(readyHandler, readyContext);
    if (!encoder->init(format.sampleRate, 0, format.channels, format.sampleFormat, OutputRate, 0, OutputChannels,
                       RTPAudioEncoder::MpegAudioPayloadType)) {
        ORB_LOG("no encoder for %s\n", device.id.toUtf8().constData());
        encoder.reset();
    }
}

void RTPPulseAudioReader::onDeviceData(CoreAudioDevice *, const uint8_t *data, int32_t frames, int32_t bytes)
{
    if (encoder)
        encoder->feed(data, frames, bytes);
}

RTPAudioPacket *RTPPulseAudioReader::readPacket()
{
    return encoder ? encoder->pop() : nullptr;
}

bool RTPPulseAudioReader::reset()
{
    if (encoder)
        encoder->reset();
    return true;
}

bool RTPPulseAudioReader::isGone()
{
    return capture && capture->isLost();
}

void RTPPulseAudioReader::finish()
{
    closeCapture();
    if (encoder)
        encoder->flush();
}

int RTPPulseAudioReader::pending()
{
    return encoder ? encoder->queued() : 0;
}

double RTPPulseAudioReader::droppedMs()
{
    return captureDroppedMs + (capture ? captureDropped(*capture) : 0) + (encoder ? encoder->droppedMs() : 0);
}

void RTPPulseAudioReader::setReadyHandler(ReadyHandler handler, void *context)
{
    readyHandler = handler;
    readyContext = context;
}

int32_t RTPPulseAudioReader::payloadType()
{
    return RTPAudioEncoder::MpegAudioPayloadType;
}
