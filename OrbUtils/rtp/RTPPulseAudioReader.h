// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/OrbCoreAudio.h"
#include "RTPAudioReader.h"

#include <memory>

class RTPAudioEncoder;

// Capture source of the multicast pacer: one PulseAudio source (an input, or
// an output's monitor) encoded to MP3 at 44100 Hz, stereo, 128 kbit/s.
// Packets wait in the encoder's send queue, stamped with when they were
// ready, and leave at their play time (see RTPMulticast), whatever size of
// block the source delivers in.
//
// Threading contract: start, stop and reset run on the owner's thread (reset
// only while stopped: it empties the encoder that the dispatch thread feeds);
// onDeviceData on the device's dispatch thread (it feeds the encoder);
// readPacket on the RTP send thread (it pops the encoder's queue). stop()
// closes the device, which joins the dispatch thread, before the encoder
// goes; the pacer stops the session (and so readPacket) before it stops this.
class RTPPulseAudioReader : public RTPAudioReader, public CoreAudioDeviceObserver
{
public:
    enum { OutputRate = 44100, OutputChannels = 2 };

    RTPPulseAudioReader();
    ~RTPPulseAudioReader() override;

    void setDevice(const AudioDeviceInfo &device) { this->device = device; }

    // False when the source cannot be opened or its audio cannot be encoded.
    bool start() override;
    void stop() override;
    bool isRealTime() override { return true; }
    RTPAudioPacket *readPacket() override;
    bool reset() override;
    int32_t payloadType() override;
    bool isGone() override;
    // Closes the capture, then flushes the encoder (what waits for a whole
    // frame, and its look-ahead) into the queue readPacket empties.
    void finish() override;
    int pending() override;
    double droppedMs() override;
    void setReadyHandler(ReadyHandler handler, void *context) override;

    void onDeviceOpened(CoreAudioDevice *device) override;
    void onDeviceData(CoreAudioDevice *device, const uint8_t *data, int32_t frames, int32_t bytes) override;

private:
    void closeCapture();

    AudioDeviceInfo device;
    std::unique_ptr<CoreAudioDevice> capture;
    std::unique_ptr<RTPAudioEncoder> encoder;
    double captureDroppedMs = 0; // of captures already closed
    ReadyHandler readyHandler = nullptr;
    void *readyContext = nullptr;
};
