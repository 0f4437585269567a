// SPDX-License-Identifier: GPL-3.0-or-later
// The packet queue between the capture thread and the reply wait.
#include "QPcapPacket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

QPcapPacket *tagged(uint8_t tag)
{
    return new QPcapPacket(&tag, 1);
}

uint8_t tagOf(QPcapPacket *p)
{
    const uint8_t t = p->frame()[0];
    p->release();
    return t;
}

} // namespace

TEST(PacketQueue, PopsInPushOrderAndCountsWhatIsQueued)
{
    QPcapPacketQueue q;
    EXPECT_EQ(q.pop(), nullptr);
    for (uint8_t i = 1; i <= 5; ++i)
        q.push(tagged(i));
    EXPECT_EQ(q.size(), 5);
    for (uint8_t i = 1; i <= 3; ++i)
        EXPECT_EQ(tagOf(q.pop()), i);
    q.push(tagged(9));
    EXPECT_EQ(tagOf(q.pop()), 4);
    EXPECT_EQ(tagOf(q.pop()), 5);
    EXPECT_EQ(tagOf(q.pop()), 9);
    EXPECT_EQ(q.pop(), nullptr);
    EXPECT_EQ(q.size(), 0);
    q.push(nullptr);
    EXPECT_EQ(q.size(), 0);
    // At its capacity it refuses, and releases what it refused.
    q.setCapacity(2);
    EXPECT_TRUE(q.push(tagged(1)) && q.push(tagged(2)));
    EXPECT_FALSE(q.push(tagged(3)));
    EXPECT_EQ(tagOf(q.pop()), 1);
    EXPECT_TRUE(q.push(tagged(4)));
    q.clear();
}

TEST(PacketQueue, PopWaitTakesAQueuedPacketAtOnceElseGivesUpAtTheDeadline)
{
    QPcapPacketQueue q;
    q.push(tagged(1));
    const qint64 start = QPcapPacketQueue::now();
    QPcapPacket *p = q.popWait(start + 5000, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_LT(QPcapPacketQueue::now() - start, 1000);
    tagOf(p);
    const qint64 empty = QPcapPacketQueue::now();
    EXPECT_EQ(q.popWait(empty + 50, nullptr), nullptr);
    EXPECT_GE(QPcapPacketQueue::now() - empty, 50);
    EXPECT_EQ(q.popWait(empty, nullptr), nullptr) << "a past deadline returns at once";
}

TEST(PacketQueue, PushWakesAWaiterWithoutDeadline)
{
    QPcapPacketQueue q;
    std::atomic<int> got{0};
    std::thread waiter([&] {
        if (QPcapPacket *p = q.popWait(-1, nullptr))
            got.store(tagOf(p));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    q.push(tagged(42));
    waiter.join();
    EXPECT_EQ(got.load(), 42);
}

TEST(PacketQueue, WakeWithFlagClearedEndsTheWait)
{
    QPcapPacketQueue q;
    std::atomic<bool> keepWaiting{true};
    std::atomic<bool> returned{false};
    QPcapPacket *result = tagged(0);
    std::thread waiter([&] {
        result->release();
        result = q.popWait(-1, &keepWaiting);
        returned.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(returned.load());
    keepWaiting.store(false);
    q.wake();
    waiter.join();
    EXPECT_EQ(result, nullptr);
}

TEST(PacketQueue, ManyProducersLoseNothing)
{
    QPcapPacketQueue q;
    constexpr int kPerThread = 2000;
    std::thread a([&] { for (int i = 0; i < kPerThread; ++i) q.push(tagged(1)); });
    std::thread b([&] { for (int i = 0; i < kPerThread; ++i) q.push(tagged(2)); });
    int seen = 0;
    while (seen < 2 * kPerThread) {
        QPcapPacket *p = q.popWait(QPcapPacketQueue::now() + 2000, nullptr);
        ASSERT_NE(p, nullptr) << "after " << seen;
        tagOf(p);
        ++seen;
    }
    a.join();
    b.join();
    EXPECT_EQ(q.size(), 0);
}
