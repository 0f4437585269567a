// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "QPcapFrame.h"
#include "QPcapPacket.h"
#include "OrbUtils/OrbThread.h"

#include <QByteArray>
#include <atomic>

typedef struct pcap pcap_t;

// Receives every frame captured on the adapter, the tool's own included.
// Called on the capture thread; the packet is only lent for the call.
class QPcapObserver
{
public:
    virtual ~QPcapObserver() = default;
    virtual void onPcapPacket(QPcapPacket *packet) { (void)packet; }
};

class QPcap;

// Supervisor: opens the capture handle, reopens it after a failed send or a
// capture loop that died (interface down), closes it on stop.
class QPcapThread : public OrbThread
{
public:
    explicit QPcapThread(QPcap *pcap) : pcap(pcap) {}
protected:
    void run() override;
private:
    QPcap *pcap;
};

// Sender: takes frames off the send queue and hands them to the driver. It
// sleeps on the queue, so stop() also wakes the queue.
class QPcapSendThread : public OrbThread
{
public:
    explicit QPcapSendThread(QPcap *pcap) : pcap(pcap) {}
    void stop() override;
protected:
    void run() override;
private:
    QPcap *pcap;
};

// Capture loop: blocks in pcap_loop; stop() breaks it.
class QPcapRecvThread : public OrbThread
{
public:
    explicit QPcapRecvThread(QPcap *pcap) : pcap(pcap) {}
    void stop() override;
protected:
    void run() override;
private:
    QPcap *pcap;
};

// Moves raw Ethernet frames between the tool and one adapter.
//
// Threads: open/close/setObserver come from the owner's thread and never
// concurrently; send() may come from any thread. Between open and close the
// supervisor runs; while the handle is open the sender and the capture loop run
// too. close() stops the supervisor, which stops the sender, then the capture
// loop, then closes the handle; when close() returns nothing of this object
// runs any more.
class QPcap
{
public:
    QPcap();
    ~QPcap();

    void setObserver(QPcapObserver *observer) { this->observer = observer; }
    // Starts the supervisor on a copy of adapter (all zero when none). Returns 0.
    int open(const QPcapAdapter *adapter);
    void close();
    // Queues a frame; the queue takes over the caller's reference. Never blocks.
    void send(QPcapPacket *packet);

    // True while a capture handle is open (for diagnostics and tests).
    bool isDeviceOpen() const { return deviceOpen.load(); }
    // Times the handle has been (re)opened since construction.
    int openCount() const { return opens.load(); }
    const QPcapAdapter &currentAdapter() const { return adapter; }
    // Text of the last failed open, empty when the last open succeeded.
    QByteArray lastError() const;

private:
    friend class QPcapThread;
    friend class QPcapSendThread;
    friend class QPcapRecvThread;

    int openDevice();
    void closeDevice();
    static bool installFilter(pcap_t *h, uint32_t netmask);
    static void onCapture(unsigned char *user, const struct pcap_pkthdr *header, const unsigned char *bytes);

    QPcapAdapter adapter;
    bool hasAdapter = false;
    pcap_t *handle = nullptr;
    std::atomic<bool> sendFailed{false};
    std::atomic<bool> captureFailed{false};
    std::atomic<bool> deviceOpen{false};
    bool captureReady = false; // filter set on the open handle; read by the capture thread after its start
    std::atomic<int> opens{0};
    QPcapObserver *observer = nullptr;
    QPcapThread *supervisor = nullptr;
    QPcapSendThread *sender = nullptr;
    QPcapPacketQueue sendQueue;
    QPcapRecvThread *receiver = nullptr;
    mutable QMutex errorMutex;
    QByteArray error;

    QPcap(const QPcap &) = delete;
    QPcap &operator=(const QPcap &) = delete;
};
