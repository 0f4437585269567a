// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimReplyScheduler.h"

SimReplyScheduler::SimReplyScheduler() : worker([this] { run(); }) {}

SimReplyScheduler::~SimReplyScheduler()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    cond.notify_one();
    worker.join();
}

void SimReplyScheduler::schedule(Clock::time_point due, std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.emplace(due, std::move(job));
    }
    cond.notify_one();
}

void SimReplyScheduler::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
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
