// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimReplyScheduler.h"

void SimReplyScheduler::schedule(Clock::time_point due, std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.emplace(due, std::move(job));
    }
    cond.notify_one();
}

void SimReplyScheduler::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        OrbThread::stop();
    }
    cond.notify_one();
}

void SimReplyScheduler::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!isStopRequested()) {
        if (jobs.empty()) {
            cond.wait(lock);
            continue;
        }
        auto first = jobs.begin();
        if (Clock::now() < first->first) {
            cond.wait_until(lock, first->first);
            continue;
        }
        std::function<void()> job = std::move(first->second);
        jobs.erase(first);
        lock.unlock();
        job();
        lock.lock();
    }
    jobs.clear();
}
