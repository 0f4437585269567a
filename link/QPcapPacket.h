// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QWaitCondition>
#include <atomic>
#include <cstdint>

// Largest Ethernet frame the link carries (no FCS), and the command text that
// fits in it behind the 42-byte Ethernet/ARP part and the 18-byte command header.
enum {
    QPCAP_FRAME_MAX = 1514,
    QPCAP_PACKET_ROOM = 1516,
    QPCAP_ARP_END = 42,
    QPCAP_HEADER_SIZE = 18,
    QPCAP_TEXT_OFFSET = QPCAP_ARP_END + QPCAP_HEADER_SIZE,
    QPCAP_TEXT_MAX = QPCAP_FRAME_MAX - QPCAP_TEXT_OFFSET // 1454
};

// One frame, shared between threads by an atomic reference count. Whoever
// creates a packet or takes a reference releases it.
class QPcapPacket
{
public:
    QPcapPacket();
    // Copies length bytes (clamped to the room) and puts a zero byte behind them.
    QPcapPacket(const uint8_t *bytes, int length);

    void addRef() { refCount.fetch_add(1, std::memory_order_relaxed); }
    void release();

    uint8_t *frame() { return data; }
    const uint8_t *frame() const { return data; }
    int length() const { return len; }
    void setLength(int length) { len = length; }

private:
    ~QPcapPacket() = default;
    std::atomic<uint32_t> refCount{1};
    uint8_t data[QPCAP_PACKET_ROOM];
    int len = 0;
};

// First-in first-out queue of packet references, guarded by one mutex. The
// queue owns the reference of every queued packet; pop hands it to the caller.
// Consumers that have nothing else to do sleep in popWait until push (or
// wake) signals them, instead of polling. A capacity, when set, bounds it.
class QPcapPacketQueue
{
public:
    QPcapPacketQueue() = default;
    ~QPcapPacketQueue();

    // Takes over the caller's reference. A queue at its capacity releases
    // the packet instead and returns false.
    bool push(QPcapPacket *packet);
    // Most packets held at once; unlimited (the default) when 0 or less.
    void setCapacity(int packets) { capacity = packets; }
    QPcapPacket *pop();
    // Waits until a packet is queued, the deadline passes (a monotonic time in
    // ms from QPcapPacketQueue::now(); negative: no deadline), or *keepWaiting
    // turns false (when given). Returns the packet or nullptr.
    QPcapPacket *popWait(qint64 deadline, const std::atomic<bool> *keepWaiting);
    // The same wait, leaving the packet queued: true when one is.
    bool waitNotEmpty(qint64 deadline, const std::atomic<bool> *keepWaiting);
    // Wakes every popWait so that it re-checks its flag.
    void wake();
    void clear();
    int size() const;

    static qint64 now();

private:
    struct Node {
        QPcapPacket *packet;
        Node *next;
    };
    QPcapPacket *takeHeadLocked();
    // True once a packet is queued; false at the deadline or when
    // *keepWaiting turns false.
    bool waitLocked(qint64 deadline, const std::atomic<bool> *keepWaiting);

    mutable QMutex mutex;
    QWaitCondition cond;
    Node *head = nullptr;
    Node *tail = nullptr;
    int count = 0;
    std::atomic<int> capacity{0};
};
