// SPDX-License-Identifier: GPL-3.0-or-later
// The packet queue between the capture thread and the reply wait.
#include "QPcapPacket.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
QPcapPacket *tagged(uint8_t tag)
{
    return new QPcapPacket(&tag, 1);
}

int tagOf(QPcapPacket *p)
{
    if (p == nullptr)
        return -1;
    const uint8_t t = p->frame()[0];
    p->release();
    return t;
}
} // namespace

TEST(PacketQueue, PopsInPushOrderUpToItsCapacity)
{
    QPcapPacketQueue q;
    EXPECT_EQ(q.pop(), nullptr);
    for (uint8_t i = 1; i <= 5; ++i)
        q.push(tagged(i));
    EXPECT_EQ(q.size(), 5);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(tagOf(q.pop()), i);
    q.push(tagged(9));
    for (int i : {4, 5, 9, -1})
        EXPECT_EQ(tagOf(q.pop()), i);
    EXPECT_FALSE(q.push(nullptr));
    EXPECT_EQ(q.size(), 0);
    // At its capacity it refuses, and releases what it refused (ASan checks).
    q.setCapacity(2);
    EXPECT_TRUE(q.push(tagged(1)) && q.push(tagged(2)));
    EXPECT_FALSE(q.push(tagged(3)));
    EXPECT_EQ(tagOf(q.pop()), 1);
    EXPECT_TRUE(q.push(tagged(4)));
    q.clear();
    EXPECT_EQ(q.size(), 0);
}

TEST(PacketQueue, PopWaitTakesWhatIsQueuedElseWaitsForTheDeadlineOrAPush)
{
    QPcapPacketQueue q;
    q.push(tagged(1));
    EXPECT_EQ(tagOf(q.popWait(-1, nullptr)), 1);
    const qint64 start = QPcapPacketQueue::now();
    EXPECT_EQ(q.popWait(start + 50, nullptr), nullptr);
    EXPECT_GE(QPcapPacketQueue::now() - start, 50) << "gave up before its deadline";
    EXPECT_EQ(q.popWait(start, nullptr), nullptr) << "a past deadline returns at once";
    std::thread pusher([&q] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        q.push(tagged(42));
    });
    EXPECT_EQ(tagOf(q.popWait(-1, nullptr)), 42);
    pusher.join();
}
