// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbCoreAudio.h"

#include "OrbLog.h"

void CoreAudioDeviceDispatchThread::run()
{
    device->runDispatch(this);
}

void CoreAudioDeviceDispatchThread::stop()
{
    OrbThread::stop();
    QMutexLocker guard(&device->queueLock);
    device->queueReady.wakeAll();
}

void CoreAudioDevice::setDevice(const QString &id, int loopback)
{
    deviceId = id;
    this->loopback = loopback;
}

bool CoreAudioDevice::open()
{
    if (capture)
        return true;
    capture = openCoreAudioCapture(deviceId, &captureFormat, &CoreAudioDevice::deliver, this);
    if (capture == nullptr) {
        ORB_LOG("cannot open %s %s\n", loopback ? "monitor" : "source", deviceId.toUtf8().constData());
        return false;
    }
    // Blocks that arrive meanwhile wait in the queue for the dispatch thread.
    if (observer)
        observer->onDeviceOpened(this);
    dispatchThread = new CoreAudioDeviceDispatchThread(this);
    dispatchThread->start();
    return true;
}

void CoreAudioDevice::close()
{
    if (capture == nullptr)
        return;
    OrbThread::releaseThread(&dispatchThread);
    closeCoreAudioCapture(capture);
    capture = nullptr;
    {
        QMutexLocker guard(&queueLock);
        queue.clear();
        queuedBytes = 0;
    }
    if (dropped.load())
        ORB_LOG("capture dropped %llu bytes\n", (unsigned long long)dropped.load());
    if (observer)
        observer->onDeviceClosed(this);
}

void CoreAudioDevice::deliver(void *context, const uint8_t *data, int bytes)
{
    auto *self = static_cast<CoreAudioDevice *>(context);
    const size_t limit =
        size_t(MaxQueuedSeconds) * size_t(self->captureFormat.sampleRate) * size_t(self->captureFormat.bytesPerFrame);
    QMutexLocker guard(&self->queueLock);
    self->queue.emplace_back(reinterpret_cast<const char *>(data), bytes);
    self->queuedBytes += size_t(bytes);
    while (self->queue.size() > 1 && self->queuedBytes > limit) {
        self->queuedBytes -= size_t(self->queue.front().size());
        self->dropped += uint64_t(self->queue.front().size());
        self->queue.pop_front();
    }
    self->queueReady.wakeOne();
}

void CoreAudioDevice::runDispatch(const OrbThread *thread)
{
    const int frameBytes = captureFormat.bytesPerFrame > 0 ? captureFormat.bytesPerFrame : 1;
    while (!OrbThread::shouldStop(thread)) {
        QByteArray block;
        {
            QMutexLocker guard(&queueLock);
            if (queue.empty() && !OrbThread::shouldStop(thread))
                queueReady.wait(&queueLock, 100);
            if (queue.empty())
                continue;
            block = std::move(queue.front());
            queue.pop_front();
            queuedBytes -= size_t(block.size());
        }
        if (observer)
            observer->onDeviceData(this, reinterpret_cast<const uint8_t *>(block.constData()),
                                   int32_t(block.size() / frameBytes), int32_t(block.size()));
    }
}
