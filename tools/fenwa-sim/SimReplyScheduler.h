// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

// Runs reply sends at their due time. Delayed and spread replies must not hold
// up the receive thread, which keeps reading commands meanwhile.
//
// Threads: the constructor starts the worker; schedule() may come from any
// thread, the jobs run on the worker. The destructor wakes and joins the
// worker; jobs still pending then are dropped, so it must run before anything
// the jobs use (the segment's socket) goes away.
class SimReplyScheduler
{
public:
    using Clock = std::chrono::steady_clock;

    SimReplyScheduler();
    ~SimReplyScheduler();
    SimReplyScheduler(const SimReplyScheduler &) = delete;
    SimReplyScheduler &operator=(const SimReplyScheduler &) = delete;

    void schedule(Clock::time_point due, std::function<void()> job);

private:
    void run();

    std::mutex mutex;
    std::condition_variable cond;
    std::multimap<Clock::time_point, std::function<void()>> jobs;
    bool stopping = false;
    std::thread worker;
};
