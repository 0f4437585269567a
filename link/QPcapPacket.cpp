// SPDX-License-Identifier: GPL-3.0-or-later
#include "QPcapPacket.h"

#include <QElapsedTimer>
#include <cstring>

QPcapPacket::QPcapPacket()
{
    data[0] = 0;
}

QPcapPacket::QPcapPacket(const uint8_t *bytes, int length)
{
    if (length < 0)
        length = 0;
    if (length > QPCAP_PACKET_ROOM - 1)
        length = QPCAP_PACKET_ROOM - 1;
    if (length > 0 && bytes != nullptr)
        std::memcpy(data, bytes, static_cast<size_t>(length));
    data[length] = 0;
    len = length;
}

void QPcapPacket::release()
{
    if (refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

QPcapPacketQueue::~QPcapPacketQueue()
{
    clear();
}

qint64 QPcapPacketQueue::now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

bool QPcapPacketQueue::push(QPcapPacket *packet)
{
    if (packet == nullptr)
        return false;
    QMutexLocker lock(&mutex);
    const int most = capacity.load();
    if (most > 0 && count >= most) {
        lock.unlock();
        packet->release();
        return false;
    }
    Node *node = new Node{packet, nullptr};
    if (tail)
        tail->next = node;
    else
        head = node;
    tail = node;
    ++count;
    // Woken after the lock is let go: a waiter that wakes does not find it
    // still held. A waiter registers before it lets the lock go, so none
    // can miss this.
    lock.unlock();
    cond.wakeAll();
    return true;
}

QPcapPacket *QPcapPacketQueue::takeHeadLocked()
{
    Node *node = head;
    if (node == nullptr)
        return nullptr;
    head = node->next;
    if (head == nullptr)
        tail = nullptr;
    --count;
    QPcapPacket *packet = node->packet;
    delete node;
    return packet;
}

QPcapPacket *QPcapPacketQueue::pop()
{
    QMutexLocker lock(&mutex);
    return takeHeadLocked();
}

bool QPcapPacketQueue::waitLocked(qint64 deadline, const std::atomic<bool> *keepWaiting)
{
    for (;;) {
        if (head)
            return true;
        if (keepWaiting && !keepWaiting->load())
            return false;
        if (deadline < 0) {
            cond.wait(&mutex);
            continue;
        }
        const qint64 left = deadline - now();
        if (left <= 0)
            return false;
        cond.wait(&mutex, static_cast<unsigned long>(left));
    }
}

QPcapPacket *QPcapPacketQueue::popWait(qint64 deadline, const std::atomic<bool> *keepWaiting)
{
    QMutexLocker lock(&mutex);
    return waitLocked(deadline, keepWaiting) ? takeHeadLocked() : nullptr;
}

bool QPcapPacketQueue::waitNotEmpty(qint64 deadline, const std::atomic<bool> *keepWaiting)
{
    QMutexLocker lock(&mutex);
    return waitLocked(deadline, keepWaiting);
}

void QPcapPacketQueue::wake()
{
    // Taking the lock orders the caller's flag change before any waiter's
    // next check, so a wake-up cannot slip between check and wait.
    QMutexLocker lock(&mutex);
    cond.wakeAll();
}

void QPcapPacketQueue::clear()
{
    Node *node;
    {
        QMutexLocker lock(&mutex);
        node = head;
        head = tail = nullptr;
        count = 0;
    }
    while (node) {
        Node *next = node->next;
        node->packet->release();
        delete node;
        node = next;
    }
}

int QPcapPacketQueue::size() const
{
    QMutexLocker lock(&mutex);
    return count;
}
