// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// MPEG audio frame rules (layers I, II and III of MPEG-1, MPEG-2 and
// MPEG-2.5) as pure functions over byte buffers, so that the play-list reader,
// the command line's file check and the tests agree on what a frame is.
// Nothing here allocates or keeps state; every function is safe on hostile
// bytes (it reads only inside [data, data + size)).

struct MpegAudioHeader
{
    int version = 0;         // 10 = MPEG-1, 20 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;           // 1, 2 or 3
    int bitrate = 0;         // bit/s
    int sampleRate = 0;      // Hz
    int channels = 0;        // 1 or 2
    int samplesPerFrame = 0; // per channel
    int frameLength = 0;     // bytes, header included
};

// Parses the 4-byte header at p. False for anything that is not the header of
// a frame whose length the header gives: no sync, a reserved version, layer,
// sample rate, bit rate or emphasis, and free format (bit-rate index 0), whose
// frames could only be found by guessing at the next sync.
bool parseMpegAudioHeader(const uint8_t *p, size_t available, MpegAudioHeader *out);

// Play time of one frame in ms.
double mpegAudioFrameMs(const MpegAudioHeader &header);

// A header of free format: sync, version, layer and rate valid, bit-rate
// index 0. Such a stream is refused whole: its frames could only be found by
// guessing at the next sync.
bool isMpegAudioFreeFormat(const uint8_t *p, size_t available);

// Finds the next whole frame at or after *offset in data, as robust MPEG
// parsers do: a header counts only when the next frame's header follows at
// the length it gives, with the same version, layer and rate. Where a stream
// is already followed (synced: the previous frame ended at *offset) one such
// header suffices for the frame at *offset; at the start of a stream, and
// after bytes that are not a frame, the one after that must follow too, so
// that a sync pattern inside other bytes (free-format frames, tags, damage)
// is never sent as audio. final: nothing follows data (the end of the file),
// where a frame that ends data exactly needs nothing behind it.
//   MpegAudioFound: *offset is the frame's start, *out its header.
//   MpegAudioNeedMore: no decision before more bytes come; *offset is where
//     the search must go on (bytes before it are not a frame).
//   MpegAudioNone: final, and no frame in the rest.
enum MpegAudioSearch { MpegAudioFound, MpegAudioNeedMore, MpegAudioNone };
// The longest frame there is (MPEG-2.5 layer II at 160 kbit/s and 8 kHz).
enum { MpegAudioFrameMax = 2881 };
MpegAudioSearch findMpegAudioFrame(const uint8_t *data, size_t size, size_t *offset, bool synced, bool final,
                                   MpegAudioHeader *out);

// RFC 2250 section 3 payloads for payload type 14: a 4-byte header (16 bits
// that must be zero, then the 16-bit byte offset of this fragment in the
// frame) and the frame's bytes. A frame whose payload would exceed
// payloadLimit bytes is split over several payloads of at most payloadLimit
// bytes, each with its own header; all of them carry one RTP timestamp.
enum { MpegAudioPayloadHeader = 4 };
int mpegAudioFragmentCount(int frameLength, int payloadLimit);
// Writes payload index (0-based) of the frame into out (room for
// payloadLimit bytes) and returns its length, or -1 when index is out of range.
int mpegAudioFragment(const uint8_t *frame, int frameLength, int payloadLimit, int index, uint8_t *out);
