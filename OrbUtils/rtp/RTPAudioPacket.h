// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>

// The clock a live source stamps its packets with and the pacer schedules
// by: monotonic, in µs, so a step of the wall clock neither stalls nor
// bursts a stream.
inline int64_t rtpClockUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// One encoded audio frame ready to be an RTP payload. The payload always
// starts with 4 zero bytes: the RFC 2250 header of payload type 14 (MBZ and
// fragment offset 0), so data/size are a complete MPEG-audio payload.
// Made by a source, freed by the pacer after sending.
class RTPAudioPacket
{
public:
    enum { HeaderSize = 4 };

    RTPAudioPacket() = default;
    ~RTPAudioPacket() { free(); }

    // Copies an encoded frame of n bytes behind the zero header. The buffer is
    // replaced only when it is too small, so a reused packet allocates once.
    void setPayload(const uint8_t *frame, int n);
    void free();

    const uint8_t *data() const { return buffer; }
    int32_t size() const { return length; }
    int32_t capacity() const { return allocated; }

    double duration = 0;    // ms
    int32_t sampleRate = 0; // Hz, informative
    int32_t channels = 0;   // informative
    int32_t payloadType = -1;
    int64_t readyUs = 0;    // rtpClockUs() when a live source had it ready; 0 for files

private:
    uint8_t *buffer = nullptr;
    int32_t allocated = 0;
    int32_t length = 0;

    RTPAudioPacket(const RTPAudioPacket &) = delete;
    RTPAudioPacket &operator=(const RTPAudioPacket &) = delete;
};
