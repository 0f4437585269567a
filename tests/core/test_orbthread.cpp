// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/OrbThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Counts its runs and destructions; loops until stopped.
class CountingThread : public OrbThread
{
public:
    explicit CountingThread(std::atomic<int> *destroyed = nullptr) : destroyed(destroyed) {}
    ~CountingThread() override
    {
        if (destroyed)
            destroyed->fetch_add(1);
    }
    std::atomic<int> runs{0};
    std::atomic<bool> running{false}, finished{false};

protected:
    void run() override
    {
        runs.fetch_add(1);
        running.store(true);
        while (!isStopRequested())
            OrbThread::msleep(1);
        OrbThread::msleep(20); // the owner must wait for this too
        running.store(false);
        finished.store(true);
    }

private:
    std::atomic<int> *destroyed;
};

bool waitFor(const std::atomic<bool> &flag, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!flag.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag.load();
}

} // namespace

TEST(OrbThread, ReleaseThreadReturnsAfterRunAndDeletesTheWorker)
{
    std::atomic<int> destroyed{0};
    auto *worker = new CountingThread(&destroyed);
    worker->start();
    ASSERT_TRUE(waitFor(worker->running, 2000));
    OrbThread *place = worker;
    OrbThread::releaseThread(&place);
    EXPECT_EQ(place, nullptr);
    EXPECT_EQ(destroyed.load(), 1) << "the last use went with the release";
}

TEST(OrbThread, StartStopJoinStartRunsTheBodyAgain)
{
    CountingThread t;
    for (int round = 1; round <= 2; ++round) {
        t.start();
        ASSERT_TRUE(waitFor(t.running, 2000)) << "round " << round;
        EXPECT_FALSE(t.isStopRequested());
        t.stop();
        t.join();
        EXPECT_TRUE(t.finished && !t.running);
        EXPECT_EQ(t.runs.load(), round);
        t.finished.store(false);
    }
}
