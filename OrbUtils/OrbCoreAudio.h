// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CoreAudio.h"
#include "OrbThread.h"

#include <QByteArray>
#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <deque>

class CoreAudioDevice;

// Told when a device opens and closes, and given its audio. onDeviceOpened
// runs on the thread that calls open(), before any onDeviceData; onDeviceData
// on the device's dispatch thread; onDeviceClosed on the thread that calls
// close(), after the last onDeviceData. Not owned by the device.
class CoreAudioDeviceObserver
{
public:
    virtual void onDeviceOpened(CoreAudioDevice *) {}
    virtual void onDeviceClosed(CoreAudioDevice *) {}
    // frames per channel, interleaved in device->format().
    virtual void onDeviceData(CoreAudioDevice *, const uint8_t * /*data*/, int32_t /*frames*/, int32_t /*bytes*/) {}

protected:
    ~CoreAudioDeviceObserver() = default;
};

class CoreAudioDeviceDispatchThread : public OrbThread
{
public:
    explicit CoreAudioDeviceDispatchThread(CoreAudioDevice *device) : device(device) {}
    // Also wakes the wait for captured audio.
    void stop() override;

protected:
    void run() override;

private:
    CoreAudioDevice *device;
};

// One capture source, opened in its own rate and channel count.
//
// Threads: reading is the PulseAudio threaded main loop's thread (see
// CoreAudio_pulse.cpp): it is woken by the server when a block is ready, so
// no thread of ours polls the device, and it only copies the block into the
// queue. The dispatch thread takes blocks off the queue and hands them to the
// observer (the MP3 encoder), so a slow encode never makes the server drop
// audio. The queue has its own lock, held only to push or pop; it keeps at
// most one second of audio, dropping the oldest when the consumer stalls.
//
// Teardown order: close() stops and joins the dispatch thread, then ends the
// capture (no block arrives after that), frees what is still queued and
// tells the observer. Call close() before destruction; open, close and
// destruction happen on one owner thread.
class CoreAudioDevice
{
public:
    enum { MaxQueuedSeconds = 4 };

    CoreAudioDevice() = default;
    ~CoreAudioDevice() { close(); }

    // loopback: the source is an output's monitor (kind 1). PulseAudio needs
    // no flag for it; kept for the log.
    void setDevice(const QString &id, int loopback);
    void setObserver(CoreAudioDeviceObserver *observer) { this->observer = observer; }

    bool open();
    void close();
    bool isOpen() const { return capture != nullptr; }
    // True once the source went away while open (removed, or the sound
    // server ended); from any thread.
    bool isLost() const { return capture != nullptr && isCoreAudioCaptureLost(capture); }

    const CoreAudioFormat &format() const { return captureFormat; }
    // Bytes dropped because the dispatch thread fell MaxQueuedSeconds
    // behind; from any thread.
    uint64_t droppedBytes() const { return dropped.load(); }

private:
    friend class CoreAudioDeviceDispatchThread;
    static void deliver(void *device, const uint8_t *data, int bytes);
    void runDispatch(const OrbThread *thread);

    QString deviceId;
    int loopback = 0;
    CoreAudioDeviceObserver *observer = nullptr;
    CoreAudioCapture *capture = nullptr;
    CoreAudioFormat captureFormat;
    OrbThread *dispatchThread = nullptr;

    QMutex queueLock;
    QWaitCondition queueReady;
    std::deque<QByteArray> queue;
    size_t queuedBytes = 0;
    std::atomic<uint64_t> dropped{0};

    CoreAudioDevice(const CoreAudioDevice &) = delete;
    CoreAudioDevice &operator=(const CoreAudioDevice &) = delete;
};
