// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

class RTPAudioPacket;

// An audio source of the multicast pacer: a play list of files, or a capture
// device with its encoder. The pacer owns the source, calls start/stop/reset
// on the owner's thread and readPacket on the RTP session's send thread.
class RTPAudioReader
{
public:
    virtual ~RTPAudioReader() = default;
    // True when the source is ready to hand out packets.
    virtual bool start() { return true; }
    virtual void stop() {}
    // True for a live source (a capture): its packets say when they were
    // ready (readyUs) and the pacer plays them out from their arrival on.
    // False for files, which the pacer holds to the media clock from the
    // first packet.
    virtual bool isRealTime() { return false; }
    // A new packet the caller frees, or nullptr when none is ready now.
    virtual RTPAudioPacket *readPacket() { return nullptr; }
    virtual bool reset() { return true; }
    virtual int32_t payloadType() { return -1; }
    // True once the source can give nothing more: a capture source that was
    // removed, a sound server that ended. Read from any thread.
    virtual bool isGone() { return false; }
    // End of input, before the pacer stops: a capture stops taking audio and
    // readPacket then hands out what its encoder still held, until pending()
    // is 0. On the owner's thread.
    virtual void finish() {}
    virtual int pending() { return 0; }
    // Play time (ms) of the audio a live source dropped because its queues
    // were full: it delivered more than the stream could take. On the
    // owner's thread.
    virtual double droppedMs() { return 0; }
    // A live source calls ready(context) on its own thread each time a
    // packet becomes ready; set before start.
    using ReadyHandler = void (*)(void *context);
    virtual void setReadyHandler(ReadyHandler, void *) {}
};
