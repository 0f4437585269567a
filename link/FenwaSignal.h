// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

// One thread waking another that may be asleep, with a system call only when
// it is: the waker bumps a counter, and the sleeper sleeps on that counter
// (a futex) only while it still holds the value read before its last look at
// what it waits for. A mutex and a condition cost five futex calls for each
// reply a batch took, most of them while the waker still held the lock.
//
// The waiter: seen = current(); look (under the lock guarding the data); if
// nothing, wait(seen, ...). The waker: change the data (under that lock),
// then wake(). A wake between the look and the sleep moves the counter, and
// the sleep returns at once.
class FenwaSignal
{
public:
    uint32_t current() const { return counter.load(); }

    void wake()
    {
        counter.fetch_add(1);
        if (sleepers.load() > 0)
            futex(FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
    }

    // Sleeps until the counter leaves seen, a wake comes, or ms pass
    // (negative: no limit). Spurious returns are possible: look again.
    void wait(uint32_t seen, long long ms)
    {
        struct timespec timeout = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
        sleepers.fetch_add(1);
        if (counter.load() == seen)
            futex(FUTEX_WAIT_PRIVATE, static_cast<int>(seen), ms < 0 ? nullptr : &timeout);
        sleepers.fetch_sub(1);
    }

private:
    void futex(int op, int value, const struct timespec *timeout)
    {
        static_assert(sizeof counter == sizeof(uint32_t), "a futex is a 32-bit word");
        // EINTR, EAGAIN (the counter moved) and ETIMEDOUT all mean: look again.
        syscall(SYS_futex, reinterpret_cast<uint32_t *>(&counter), op, value, timeout, nullptr, 0);
    }

    std::atomic<uint32_t> counter{0};
    std::atomic<int> sleepers{0};
};
