// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/OrbThread.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

// Runs reply sends at their due time. Delayed and spread replies must not hold
// up the capture thread, which keeps reading commands meanwhile.
//
// Threads: schedule() comes from the capture thread, the jobs run on this
// worker. stop() wakes the worker; jobs still pending at stop are dropped.
class SimReplyScheduler : public OrbThread
{
public:
    using Clock = std::chrono::steady_clock;

    void schedule(Clock::time_point due, std::function<void()> job);
    void stop() override;

protected:
    void run() override;

private:
    std::mutex mutex;
    std::condition_variable cond;
    std::multimap<Clock::time_point, std::function<void()>> jobs;
};
