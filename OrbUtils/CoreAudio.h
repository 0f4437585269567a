// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <cstdint>

// The computer's audio endpoints as capture sources. On Linux they come from
// the sound server's client API (libpulse; PipeWire serves the same API):
// every input source (microphone, line in) is kind 0, and the monitor source
// of every output, which carries what that output plays, is kind 1. The id is
// the server's source name; an empty id means no device.
struct AudioDeviceInfo
{
    enum Kind { Capture = 0, Loopback = 1 };
    QString id;
    QString name;
    int32_t kind = Capture;
};

// Inputs first, then the outputs' monitors, each in the server's order.
// *reached (when given) tells whether the server answered; a server that
// cannot be reached within 3 s gives an empty list.
QList<AudioDeviceInfo> getAudioDevices(bool *reached = nullptr);

// Interleaved PCM as a capture delivers it.
struct CoreAudioFormat
{
    int sampleRate = 0;
    int channels = 0;
    int sampleFormat = -1; // FFmpeg AVSampleFormat (packed)
    int bytesPerFrame = 0; // all channels of one sample instant
};

// The FFmpeg sample format a PulseAudio sample format (pa_sample_format_t)
// is delivered in without conversion, or -1 when there is none (24-bit,
// big-endian, A-law...); a capture asks the server to convert those to float.
int mapPulseSampleFormat(int pulseFormat);

// One running capture of a source. deliver is called on the sound server
// client's own thread with each block as it arrives (gaps as silence); it
// must only copy the bytes away.
struct CoreAudioCapture;
using CoreAudioDeliver = void (*)(void *context, const uint8_t *data, int bytes);
// Starts capturing source id in its own rate and channel count; nullptr (and
// a log line saying why) on failure. *format tells what deliver gets.
CoreAudioCapture *openCoreAudioCapture(const QString &id, CoreAudioFormat *format, CoreAudioDeliver deliver,
                                       void *context);
// Stops the capture; deliver is not called once this returns. Not from deliver.
void closeCoreAudioCapture(CoreAudioCapture *capture);
// True once the capture ended without being closed: its source was removed,
// or the connection to the sound server failed. From any thread.
bool isCoreAudioCaptureLost(const CoreAudioCapture *capture);
