// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "QPcapDevice.h"
#include "QPcapFrame.h"
#include "QPcapPacket.h"
#include "OrbUtils/OrbThread.h"

#include <QByteArray>
#include <QWaitCondition>
#include <atomic>
#include <mutex>

// Receives every frame captured on the adapter, the tool's own included.
// Called on the capture thread; the packet is only lent for the call.
class QPcapObserver
{
public:
    virtual ~QPcapObserver() = default;
    virtual void onPcapPacket(QPcapPacket *packet) { (void)packet; }
};

class QPcap;

// Supervisor: opens the device, reopens it after a failed send or a capture
// that died (interface down, helper gone), backing off while it keeps
// failing; closes it on stop. stop() wakes it from its pause at once, so
// that closing the link does not sit out a supervisor period.
class QPcapThread : public OrbThread
{
public:
    explicit QPcapThread(QPcap *pcap) : pcap(pcap) {}
    void stop() override;
protected:
    void run() override;
private:
    // Sleeps ms, or less when stop() comes first.
    void pause(unsigned long ms);

    QPcap *pcap;
    QMutex pauseMutex;
    QWaitCondition woken;
};

// Sender: takes the frames queued while the device was not open, or behind
// one still waiting, off the send queue and hands them to the driver. It
// sleeps on the queue, so stop() also wakes the queue and ends its wait.
class QPcapSendThread : public OrbThread
{
public:
    explicit QPcapSendThread(QPcap *pcap) : pcap(pcap) {}
    void stop() override;
protected:
    void run() override;
private:
    QPcap *pcap;
    std::atomic<bool> waiting{true};
};

// Capture loop: blocks in the device's capture; stop() breaks it.
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

// Moves raw Ethernet frames between the tool and one adapter, through
// libpcap in this process when it may capture, else through the capture
// helper (see QPcapDevice.h). Either way only ARP frames other hosts address
// to the adapter's MAC or to everyone come back (commands' replies, answers
// to an address probe, the requests an address probe listens for), and
// frames leave no faster than the send budget (QPcapHelperProtocol.h).
//
// Threads: open/close/setObserver/setDeviceFactory come from the owner's
// thread and never concurrently; send() and the state queries may come from
// any thread. Between open and close the supervisor runs; while the device is
// open the sender and the capture loop run too. close() stops the supervisor,
// which stops the sender, then the capture loop, then closes the device; when
// close() returns nothing of this object runs any more. Each worker is held by
// an OrbThreadPtr, whose reset is that stop, join and release.
class QPcap
{
public:
    // What an installer is told about the link.
    enum LinkState { NoAdapter, Opening, Up, Down, NoPermission };

    QPcap();
    ~QPcap();

    void setObserver(QPcapObserver *observer) { this->observer = observer; }
    // How devices are made (tests); createDefaultDevice unless set.
    void setDeviceFactory(QPcapDeviceFactory factory) { this->factory = std::move(factory); }
    // Starts the supervisor on a copy of adapter (all zero when none). Returns 0.
    int open(const QPcapAdapter *adapter);
    void close();
    // Takes over the caller's reference. When the device is open and no
    // frame queued before is still waiting, the frame goes to the device
    // from the caller's thread (waiting only for the send budget, or for a
    // helper that holds back what is beyond it); otherwise it is queued for
    // the send worker. Frames leave in the order they were given either way.
    void send(QPcapPacket *packet);

    // True while a device is open (for diagnostics and tests).
    bool isDeviceOpen() const { return deviceOpen.load(); }
    // Times the device has been (re)opened since construction.
    int openCount() const { return opens.load(); }
    const QPcapAdapter &currentAdapter() const { return adapter; }
    // Text of the last failed open, empty when the last open succeeded.
    QByteArray lastError() const;
    // Up only while the device is open and the interface is up with a
    // carrier; Opening until the first open has succeeded or failed.
    LinkState linkState() const;
    // Waits up to ms while the first open is pending; true when the device
    // is open.
    bool waitOpen(int ms) const;

private:
    friend class QPcapThread;
    friend class QPcapSendThread;
    friend class QPcapRecvThread;

    int openDevice();
    void closeDevice();
    // Hands one frame to the open device (sendMutex held) and releases it.
    void sendLocked(QPcapPacket *packet);
    static void onCapture(void *user, const uint8_t *frame, int length);

    QPcapAdapter adapter;
    bool hasAdapter = false;
    QPcapDeviceFactory factory;
    // Held while a frame goes to the device and while the device comes or
    // goes: a sender on any thread, and the send worker, one at a time.
    std::mutex sendMutex;
    std::unique_ptr<QPcapDevice> device;
    std::atomic<bool> sendFailed{false};
    std::atomic<bool> captureFailed{false};
    std::atomic<bool> deviceOpen{false};
    // The last open's QPcapDevice::Failure; -1 before the first attempt.
    std::atomic<int> openFailure{-1};
    std::atomic<int> opens{0};
    QPcapObserver *observer = nullptr;
    OrbThreadPtr<QPcapThread> supervisor;
    OrbThreadPtr<QPcapSendThread> sender;
    QPcapPacketQueue sendQueue;
    OrbThreadPtr<QPcapRecvThread> receiver;
    mutable QMutex errorMutex;
    QByteArray error;

    QPcap(const QPcap &) = delete;
    QPcap &operator=(const QPcap &) = delete;
};
