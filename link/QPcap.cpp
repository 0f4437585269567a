// SPDX-License-Identifier: GPL-3.0-or-later
#include "QPcap.h"

#include "OrbUtils/OrbLog.h"

#include <QtDebug>
#include <cstdio>
#include <cstring>
#include <pcap/pcap.h>

namespace {
// Linux sizes every slot of the capture ring for the snap length (immediate
// mode uses fixed-size slots). With 65536-byte slots a 16 MB ring holds ~250
// frames and a search answered by a thousand terminals at once loses most
// replies; 2048 bytes hold any frame the link accepts. Longer frames are still
// recognised, and ignored, by their wire length.
constexpr int kSnapLength = 2048;
constexpr int kReadTimeoutMs = 1000;
constexpr unsigned long kSupervisorPeriodMs = 100;
constexpr unsigned long kSenderIdleMs = 100;
// A search answered by a thousand terminals arrives as one burst; the default
// 2 MB ring would overflow and silently drop replies.
constexpr int kCaptureBufferBytes = 16 * 1024 * 1024;
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
    if (newAdapter) {
        adapter = *newAdapter;
        adapter.name[sizeof adapter.name - 1] = 0;
        adapter.description[sizeof adapter.description - 1] = 0;
        hasAdapter = true;
    } else {
        std::memset(&adapter, 0, sizeof adapter);
        hasAdapter = false;
    }
    supervisor = new QPcapThread(this);
    supervisor->start();
    return 0;
}

void QPcap::close()
{
    if (supervisor) {
        supervisor->stop();
        supervisor->join();
        delete supervisor;
        supervisor = nullptr;
    }
    sendQueue.clear();
}

void QPcap::send(QPcapPacket *packet)
{
    sendQueue.push(packet);
}

QByteArray QPcap::lastError() const
{
    QMutexLocker lock(&errorMutex);
    return error;
}

int QPcap::openDevice()
{
    // With no adapter (an all-zero name) there is nothing to open: nothing is
    // sent or captured until the owner opens a real adapter.
    if (!hasAdapter || adapter.name[0] == 0)
        return -1;
    char errbuf[PCAP_ERRBUF_SIZE];
    std::memset(errbuf, 0, sizeof errbuf);
    pcap_t *h = pcap_create(adapter.name, errbuf);
    int rc = -1;
    if (h) {
        pcap_set_snaplen(h, kSnapLength);
        pcap_set_promisc(h, 1);
        pcap_set_timeout(h, kReadTimeoutMs);
        // Without immediate mode the kernel holds small frames back until the
        // read timeout, which would delay every reply by up to a second.
        pcap_set_immediate_mode(h, 1);
        pcap_set_buffer_size(h, kCaptureBufferBytes);
        rc = pcap_activate(h);
        if (rc < 0) {
            std::snprintf(errbuf, sizeof errbuf, "%s", pcap_geterr(h));
            pcap_close(h);
            h = nullptr;
        }
    }
    if (h == nullptr) {
        QByteArray text(errbuf);
        bool changed;
        {
            QMutexLocker lock(&errorMutex);
            changed = text != error;
            error = text;
        }
        // Retried every 100 ms: log a reason once, not every cycle.
        if (changed)
            ORB_LOG("cannot open %s: %s\n", adapter.name, errbuf);
        return -1;
    }
    {
        QMutexLocker lock(&errorMutex);
        error.clear();
    }
    handle = h;
    // The filter goes on before anything is sent: while libpcap swaps a
    // filter in, the socket drops every frame for a moment, and a reply
    // landing then (the first replies after a send) would be lost.
    captureReady = installFilter(h, hasAdapter ? getBigEndian32(adapter.netmask) : 0x00FFFFFF);
    deviceOpen.store(true);
    opens.fetch_add(1);
    captureFailed.store(false);
    sender = new QPcapSendThread(this);
    sender->start();
    receiver = new QPcapRecvThread(this);
    receiver->start();
    return 0;
}

void QPcap::closeDevice()
{
    if (sender) {
        sender->stop();
        sender->join();
        delete sender;
        sender = nullptr;
    }
    if (receiver) {
        receiver->stop();
        receiver->join();
        delete receiver;
        receiver = nullptr;
    }
    if (handle) {
        pcap_close(handle);
        handle = nullptr;
    }
    deviceOpen.store(false);
}

bool QPcap::installFilter(pcap_t *h, uint32_t netmask)
{
    struct bpf_program program;
    if (pcap_compile(h, &program, "", 1, netmask) < 0) {
        std::fprintf(stderr, "[ERROR] Unable to compile the packet filter. Check the syntax.\n");
        return false;
    }
    const int rc = pcap_setfilter(h, &program);
    pcap_freecode(&program);
    return rc == 0;
}

void QPcapThread::run()
{
    while (!isStopRequested()) {
        if (pcap->handle == nullptr) {
            if (pcap->openDevice() != 0) {
                pcap->closeDevice();
                OrbThread::msleep(kSupervisorPeriodMs);
                continue;
            }
        }
        if (pcap->sendFailed.load() || pcap->captureFailed.load()) {
            pcap->closeDevice();
            if (pcap->openDevice() == 0)
                pcap->sendFailed.store(false);
            else
                pcap->closeDevice();
        }
        OrbThread::msleep(kSupervisorPeriodMs);
    }
    pcap->closeDevice();
}

void QPcapSendThread::stop()
{
    OrbThread::stop();
    pcap->sendQueue.wake();
}

void QPcapSendThread::run()
{
    while (!isStopRequested()) {
        QPcapPacket *packet = pcap->sendQueue.popWait(QPcapPacketQueue::now() + kSenderIdleMs, nullptr);
        if (packet == nullptr)
            continue;
        const int rc = pcap_sendpacket(pcap->handle, packet->frame(), packet->length());
        packet->release();
        if (rc < 0) {
            ORB_LOG("send refused on %s: %s\n", pcap->adapter.name, pcap_geterr(pcap->handle));
            pcap->sendFailed.store(true);
        }
    }
}

void QPcapRecvThread::stop()
{
    OrbThread::stop();
    if (pcap->handle)
        pcap_breakloop(pcap->handle);
}

void QPcap::onCapture(unsigned char *user, const struct pcap_pkthdr *header, const unsigned char *bytes)
{
    QPcap *self = reinterpret_cast<QPcap *>(user);
    if (header->caplen > QPCAP_FRAME_MAX || header->len > QPCAP_FRAME_MAX)
        return;
    QPcapPacket *packet = new QPcapPacket(bytes, static_cast<int>(header->caplen));
    if (self->observer)
        self->observer->onPcapPacket(packet);
    packet->release();
}

void QPcapRecvThread::run()
{
    if (!pcap->captureReady)
        return; // no filter for this opening: captures stop, sending goes on
    qDebug("listening on %s...", pcap->adapter.description);
    while (!isStopRequested()) {
        const int r = pcap_loop(pcap->handle, -1, &QPcap::onCapture, reinterpret_cast<unsigned char *>(pcap));
        if (r == PCAP_ERROR_BREAK || isStopRequested())
            break;
        if (r == PCAP_ERROR) {
            // The interface went away or down: let the supervisor reopen.
            ORB_LOG("capture on %s ended: %s\n", pcap->adapter.name, pcap_geterr(pcap->handle));
            pcap->captureFailed.store(true);
            break;
        }
    }
}
