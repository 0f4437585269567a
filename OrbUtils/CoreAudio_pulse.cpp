// SPDX-License-Identifier: GPL-3.0-or-later
// Audio endpoints and capture through libpulse.
#include "CoreAudio.h"

#include "OrbLog.h"

#include <pulse/pulseaudio.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <atomic>
#include <chrono>
#include <vector>

namespace {

const char ClientName[] = "Fenwa Workbench";

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct SourceList
{
    QList<AudioDeviceInfo> inputs;
    QList<AudioDeviceInfo> monitors;
};

void onSourceInfo(pa_context *, const pa_source_info *info, int eol, void *userdata)
{
    if (eol || info == nullptr)
        return;
    auto *list = static_cast<SourceList *>(userdata);
    AudioDeviceInfo device;
    device.id = QString::fromUtf8(info->name);
    device.name = QString::fromUtf8(info->description && *info->description ? info->description : info->name);
    if (info->monitor_of_sink != PA_INVALID_INDEX) {
        device.kind = AudioDeviceInfo::Loopback;
        list->monitors << device;
    } else {
        device.kind = AudioDeviceInfo::Capture;
        list->inputs << device;
    }
}

// Connects with a plain main loop, runs one introspection query and waits
// for it, at most timeoutMs in all: a server that hangs must not hang the
// dialog or the command line.
bool runQuery(pa_operation *(*query)(pa_context *, void *), void *userdata, int timeoutMs)
{
    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = loop ? pa_context_new(pa_mainloop_get_api(loop), ClientName) : nullptr;
    bool done = false;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const int64_t deadline = nowMs() + timeoutMs;
        pa_operation *operation = nullptr;
        while (nowMs() < deadline) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            if (state == PA_CONTEXT_READY && operation == nullptr && (operation = query(context, userdata)) == nullptr)
                break;
            if (operation && pa_operation_get_state(operation) != PA_OPERATION_RUNNING) {
                done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
                break;
            }
            if (pa_mainloop_prepare(loop, 50000) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                break;
        }
        if (operation) {
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
        }
        pa_context_disconnect(context);
    }
    if (context)
        pa_context_unref(context);
    if (loop)
        pa_mainloop_free(loop);
    return done;
}

} // namespace

QList<AudioDeviceInfo> getAudioDevices(bool *reached)
{
    SourceList list;
    const bool answered = runQuery(
        [](pa_context *context, void *userdata) {
            return pa_context_get_source_info_list(context, onSourceInfo, userdata);
        },
        &list, 3000);
    if (!answered)
        ORB_LOG("no answer from the sound server\n");
    if (reached)
        *reached = answered;
    return list.inputs + list.monitors;
}

int mapPulseSampleFormat(int pulseFormat)
{
    switch (pulseFormat) {
    case PA_SAMPLE_S16LE:
        return AV_SAMPLE_FMT_S16;
    case PA_SAMPLE_S32LE:
        return AV_SAMPLE_FMT_S32;
    case PA_SAMPLE_FLOAT32LE:
        return AV_SAMPLE_FMT_FLT;
    default:
        // U8 would need 0x80 for the silence of a gap; the rest has no
        // packed FFmpeg twin.
        return AV_SAMPLE_FMT_NONE;
    }
}

// The capture runs on the PulseAudio threaded main loop: its thread wakes
// when the server has data and calls onRead, which copies the block away.
// That is the read thread a polling design would need, without the polling,
// and pa_threaded_mainloop_stop ends it at once, whatever the source does.
struct CoreAudioCapture
{
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    CoreAudioDeliver deliver = nullptr;
    void *userdata = nullptr;
    pa_sample_spec native{};
    bool found = false;
    std::vector<uint8_t> silence;
    std::atomic<bool> lost{false};
};

namespace {

void signalLoop(CoreAudioCapture *capture)
{
    pa_threaded_mainloop_signal(capture->loop, 0);
}

// A failure after start is a source that went away (removed: the stream
// fails or ends) or a server that did (the context fails). Our own close
// takes these callbacks away first.
void onContextState(pa_context *context, void *userdata)
{
    auto *capture = static_cast<CoreAudioCapture *>(userdata);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        capture->lost.store(true);
    signalLoop(capture);
}

void onStreamState(pa_stream *stream, void *userdata)
{
    auto *capture = static_cast<CoreAudioCapture *>(userdata);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        capture->lost.store(true);
    signalLoop(capture);
}

void onNativeInfo(pa_context *, const pa_source_info *info, int eol, void *userdata)
{
    auto *capture = static_cast<CoreAudioCapture *>(userdata);
    if (!eol && info) {
        capture->native = info->sample_spec;
        capture->found = true;
    }
    signalLoop(capture);
}

void onRead(pa_stream *stream, size_t, void *userdata)
{
    auto *capture = static_cast<CoreAudioCapture *>(userdata);
    const void *data = nullptr;
    size_t length = 0;
    while (pa_stream_peek(stream, &data, &length) == 0 && length > 0) {
        if (data) {
            capture->deliver(capture->userdata, static_cast<const uint8_t *>(data), int(length));
        } else {
            // A hole: the source lost data. Silence keeps the media clock.
            if (capture->silence.size() < length)
                capture->silence.assign(length, 0);
            capture->deliver(capture->userdata, capture->silence.data(), int(length));
        }
        pa_stream_drop(stream);
    }
}

// Waits (loop locked) until ready() or a failure of the context or stream.
template <typename Ready>
bool waitFor(CoreAudioCapture *capture, Ready ready)
{
    for (;;) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(capture->context)))
            return false;
        if (capture->stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(capture->stream)))
            return false;
        if (ready())
            return true;
        pa_threaded_mainloop_wait(capture->loop);
    }
}

bool startCapture(CoreAudioCapture *capture, const QByteArray &id, CoreAudioFormat *format)
{
    if (!waitFor(capture, [capture] { return pa_context_get_state(capture->context) == PA_CONTEXT_READY; })) {
        ORB_LOG("cannot reach the sound server\n");
        return false;
    }
    pa_operation *query = pa_context_get_source_info_by_name(capture->context, id.constData(), onNativeInfo, capture);
    if (query) {
        waitFor(capture, [query] { return pa_operation_get_state(query) != PA_OPERATION_RUNNING; });
        pa_operation_unref(query);
    }
    if (!capture->found) {
        ORB_LOG("no capture source %s\n", id.constData());
        return false;
    }
    pa_sample_spec spec = capture->native;
    int sampleFormat = mapPulseSampleFormat(spec.format);
    if (sampleFormat < 0) {
        spec.format = PA_SAMPLE_FLOAT32LE;
        sampleFormat = AV_SAMPLE_FMT_FLT;
    }
    ORB_LOG("capture format samplerate = %u, channels = %u, format = %s (delivered as %s)\n", spec.rate,
            unsigned(spec.channels), pa_sample_format_to_string(capture->native.format),
            pa_sample_format_to_string(spec.format));
    // Known before the stream connects: its first block may come while
    // this thread still waits for it to be ready.
    format->sampleRate = int(spec.rate);
    format->channels = spec.channels;
    format->sampleFormat = sampleFormat;
    format->bytesPerFrame = int(pa_frame_size(&spec));
    capture->stream = pa_stream_new(capture->context, "RTP multicast", &spec, nullptr);
    if (capture->stream == nullptr)
        return false;
    pa_stream_set_state_callback(capture->stream, onStreamState, capture);
    pa_stream_set_read_callback(capture->stream, onRead, capture);
    // 10 ms blocks: a sound card's source then hands over audio every 10 ms,
    // which beside the 26 ms of an MP3 frame is about the latency floor (a
    // monitor delivers as its output renders either way).
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = attributes.prebuf = attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(10000, &spec));
    if (pa_stream_connect_record(capture->stream, id.constData(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0
        || !waitFor(capture, [capture] { return pa_stream_get_state(capture->stream) == PA_STREAM_READY; })) {
        ORB_LOG("cannot record from %s: %s\n", id.constData(), pa_strerror(pa_context_errno(capture->context)));
        return false;
    }
    return true;
}

} // namespace

CoreAudioCapture *openCoreAudioCapture(const QString &id, CoreAudioFormat *format, CoreAudioDeliver deliver,
                                       void *userdata)
{
    if (id.isEmpty() || format == nullptr || deliver == nullptr)
        return nullptr;
    auto *capture = new CoreAudioCapture;
    capture->deliver = deliver;
    capture->userdata = userdata;
    capture->loop = pa_threaded_mainloop_new();
    if (capture->loop)
        capture->context = pa_context_new(pa_threaded_mainloop_get_api(capture->loop), ClientName);
    if (capture->context == nullptr) {
        closeCoreAudioCapture(capture);
        return nullptr;
    }
    pa_context_set_state_callback(capture->context, onContextState, capture);
    bool ok = pa_context_connect(capture->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0
              && pa_threaded_mainloop_start(capture->loop) >= 0;
    if (ok) {
        pa_threaded_mainloop_lock(capture->loop);
        ok = startCapture(capture, id.toUtf8(), format);
        pa_threaded_mainloop_unlock(capture->loop);
    }
    if (!ok) {
        closeCoreAudioCapture(capture);
        return nullptr;
    }
    return capture;
}

bool isCoreAudioCaptureLost(const CoreAudioCapture *capture)
{
    return capture && capture->lost.load();
}

void closeCoreAudioCapture(CoreAudioCapture *capture)
{
    if (capture == nullptr)
        return;
    if (capture->loop)
        pa_threaded_mainloop_lock(capture->loop);
    if (capture->stream) {
        pa_stream_set_read_callback(capture->stream, nullptr, nullptr);
        pa_stream_set_state_callback(capture->stream, nullptr, nullptr);
        pa_stream_disconnect(capture->stream);
        pa_stream_unref(capture->stream);
    }
    if (capture->context) {
        pa_context_set_state_callback(capture->context, nullptr, nullptr);
        pa_context_disconnect(capture->context);
        pa_context_unref(capture->context);
    }
    if (capture->loop) {
        pa_threaded_mainloop_unlock(capture->loop);
        pa_threaded_mainloop_stop(capture->loop);
        pa_threaded_mainloop_free(capture->loop);
    }
    delete capture;
}
