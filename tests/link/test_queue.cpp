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

// The order every end-to-end exchange shows; here the bound.
TEST(PacketQueue, RefusesAndReleasesWhatIsBeyondItsCapacity)
{
    QPcapPacketQueue q;
    EXPECT_FALSE(q.push(nullptr));
    q.setCapacity(2);
    EXPECT_TRUE(q.push(tagged(1)) && q.push(tagged(2)));
    EXPECT_FALSE(q.push(tagged(3))); // released (ASan checks)
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
