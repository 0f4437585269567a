// SPDX-License-Identifier: GPL-3.0-or-later
#include "QPcap.h"

#include "QPcapAdapterList.h"
#include "OrbUtils/OrbLog.h"

#include <cstring>

namespace {
constexpr unsigned long kSupervisorPeriodMs = 100;
constexpr unsigned long kSenderIdleMs = 100;
// A device that keeps failing (no permission, cable out) is retried ever
// more slowly, up to 100 ms << 4: starting the helper ten times a second for
// nothing would be a waste.
constexpr int kMostBackoffSteps = 4;
constexpr int kSettlePollMs = 5;
} // namespace

QPcap::QPcap()
{
    std::memset(&adapter, 0, sizeof adapter);
}

QPcap::~QPcap()
{
    close();
}

int QPcap::open(const QPcapAdapter *newAdapter)
{
    // Owners close first; a second open must not leave a supervisor running
    // that nobody can stop.
    if (supervisor)
        close();
    sendQueue.clear();
    sendFailed.store(false);
    captureFailed.store(false);
    openFailure.store(-1);
    if (newAdapter) {
        adapter = *newAdapter;
        adapter.name[sizeof adapter.name - 1] = 0;
        adapter.description[sizeof adapter.description - 1] = 0;
        hasAdapter = true;
    } else {
        std::memset(&adapter, 0, sizeof adapter);
        hasAdapter = false;
    }
    supervisor.reset(new QPcapThread(this));
    supervisor->start();
    return 0;
}

void QPcap::close()
{
    supervisor.reset(); // the supervisor closes the device as it ends
    sendQueue.clear();
}

void QPcap::send(QPcapPacket *packet)
{
    // A thread switch per frame was most of a command's cost beyond the
    // wire: a frame with nothing before it goes out from here.
    std::lock_guard<std::mutex> lock(sendMutex);
    if (device && deviceOpen.load() && sendQueue.size() == 0)
        sendLocked(packet);
    else
        sendQueue.push(packet);
}

void QPcap::sendLocked(QPcapPacket *packet)
{
    const int rc = device->send(packet->frame(), packet->length());
    packet->release();
    // Once per device: the frames after a refusal meet the same fate.
    if (rc < 0 && !sendFailed.exchange(true))
        ORB_LOG("%s: %s\n", adapter.name, device->error().constData());
}

QByteArray QPcap::lastError() const
{
    QMutexLocker lock(&errorMutex);
    return error;
}

QPcap::LinkState QPcap::linkState() const
{
    if (!hasAdapter || adapter.name[0] == 0)
        return NoAdapter;
    if (deviceOpen.load())
        return isAdapterRunning(adapter.name) ? Up : Down;
    switch (openFailure.load()) {
    case -1:
        return Opening;
    case QPcapDevice::NoPermission:
        return NoPermission;
    default:
        return Down;
    }
}

bool QPcap::waitOpen(int ms) const
{
    for (int waited = 0; !deviceOpen.load() && openFailure.load() == -1 && waited < ms; waited += kSettlePollMs)
        OrbThread::msleep(kSettlePollMs);
    return deviceOpen.load();
}

int QPcap::openDevice()
{
    // With no adapter (an all-zero name) there is nothing to open: nothing is
    // sent or captured until the owner opens a real adapter.
    if (!hasAdapter || adapter.name[0] == 0)
        return -1;
    std::unique_ptr<QPcapDevice> opened = factory ? factory() : createDefaultDevice();
    if (opened->open(adapter) != 0) {
        const QByteArray text = opened->error();
        bool changed;
        {
            QMutexLocker lock(&errorMutex);
            changed = text != error;
            error = text;
        }
        openFailure.store(opened->failure());
        // Retried: log a reason once, not every cycle.
        if (changed)
            ORB_LOG("cannot open %s: %s\n", adapter.name, text.constData());
        // What was queued for a device that cannot open must not leave
        // later, long after its command gave up.
        sendQueue.clear();
        return -1;
    }
    {
        QMutexLocker lock(&errorMutex);
        error.clear();
    }
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        device = std::move(opened);
        deviceOpen.store(true);
    }
    ORB_LOG("%s open\n", adapter.name);
    openFailure.store(QPcapDevice::NoFailure);
    opens.fetch_add(1);
    captureFailed.store(false);
    sender.reset(new QPcapSendThread(this));
    sender->start();
    receiver.reset(new QPcapRecvThread(this));
    receiver->start();
    return 0;
}

void QPcap::closeDevice()
{
    // Sender first, then the capture loop; the device goes when neither
    // can touch it any more.
    sender.reset();
    receiver.reset();
    std::lock_guard<std::mutex> lock(sendMutex);
    deviceOpen.store(false);
    device.reset();
}

void QPcapThread::run()
{
    int failures = 0;
    while (!isStopRequested()) {
        const bool failed = pcap->device == nullptr || pcap->sendFailed.load() || pcap->captureFailed.load();
        if (failed) {
            pcap->closeDevice();
            if (pcap->openDevice() == 0) {
                pcap->sendFailed.store(false);
            } else {
                pcap->closeDevice();
                failures = std::min(failures + 1, kMostBackoffSteps);
            }
        } else {
            failures = 0;
        }
        pause(kSupervisorPeriodMs << failures);
    }
    pcap->closeDevice();
}

void QPcapThread::stop()
{
    OrbThread::stop();
    QMutexLocker lock(&pauseMutex);
    woken.wakeAll();
}

void QPcapThread::pause(unsigned long ms)
{
    // The flag is read under the lock stop() takes to wake: a stop between
    // the test and the wait cannot be missed.
    QMutexLocker lock(&pauseMutex);
    if (!isStopRequested())
        woken.wait(&pauseMutex, ms);
}

void QPcapSendThread::stop()
{
    OrbThread::stop();
    waiting.store(false);
    pcap->sendQueue.wake();
}

void QPcapSendThread::run()
{
    while (!isStopRequested()) {
        // Without the flag a wake would only make it wait out the rest of the
        // period: closing the link took that long.
        if (!pcap->sendQueue.waitNotEmpty(QPcapPacketQueue::now() + kSenderIdleMs, &waiting))
            continue;
        // Taken under the send lock: a sender on another thread sees the
        // queue empty only once this frame has gone.
        std::lock_guard<std::mutex> lock(pcap->sendMutex);
        if (QPcapPacket *packet = pcap->sendQueue.pop())
            pcap->sendLocked(packet);
    }
}

void QPcapRecvThread::stop()
{
    OrbThread::stop();
    pcap->device->stopCapture();
}

void QPcap::onCapture(void *user, const uint8_t *frame, int length)
{
    QPcap *self = static_cast<QPcap *>(user);
    if (length > QPCAP_FRAME_MAX)
        return;
    QPcapPacket *packet = new QPcapPacket(frame, length);
    if (self->observer)
        self->observer->onPcapPacket(packet);
    packet->release();
}

void QPcapRecvThread::run()
{
    if (pcap->device->capture(&QPcap::onCapture, pcap) != 0 && !isStopRequested()) {
        // The interface went away or down, or the helper ended: let the
        // supervisor reopen.
        ORB_LOG("capture on %s ended: %s\n", pcap->adapter.name, pcap->device->error().constData());
        pcap->captureFailed.store(true);
    }
}
