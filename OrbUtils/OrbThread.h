// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <atomic>
#include <memory>

class OrbThreadPrivate;

// Cooperative worker thread. A subclass supplies run(); the owner starts it,
// raises the stop flag with stop() and joins it. run() polls isStopRequested()
// between units of work; a body that blocks overrides stop() to unblock itself
// (call the base first).
//
// Threading contract: start, stop, join and releaseThread are called from the
// owner's thread; run() executes on the private thread. The use count is
// shared by both, so an object released by its owner while its body still runs
// is deleted by the private thread once run() returns. Teardown order for an
// owned worker: stop(), join(), then delete (or releaseThread, which does all
// three).
class OrbThread
{
public:
    OrbThread();
    virtual ~OrbThread();

    int start();
    virtual void stop();
    bool isStopRequested() const { return stopRequested.load(std::memory_order_relaxed); }
    void join();

    static bool shouldStop(const OrbThread *thread);
    static void msleep(unsigned long ms);
    // Stops, joins and drops the owner's use of *place, then clears it.
    static void releaseThread(OrbThread **place);

protected:
    virtual void run() = 0;

private:
    friend class OrbThreadPrivate;
    void addUse();
    void dropUse();

    OrbThreadPrivate *d;
    std::atomic<bool> stopRequested{false};
    std::atomic<int> uses{1};

    OrbThread(const OrbThread &) = delete;
    OrbThread &operator=(const OrbThread &) = delete;
};

// Owns a worker: resetting or destroying the pointer releases the thread
// (stop, join, drop the owner's use), so an owner never stops, joins and
// deletes by hand.
struct OrbThreadReleaser {
    void operator()(OrbThread *thread) const { OrbThread::releaseThread(&thread); }
};
template <typename T>
using OrbThreadPtr = std::unique_ptr<T, OrbThreadReleaser>;

// Owns one non-recursive mutex. lock/unlock return 0.
class OrbThreadLocker
{
public:
    OrbThreadLocker() = default;
    virtual ~OrbThreadLocker() = default;
    int lock() { mutex.lock(); return 0; }
    int unlock() { mutex.unlock(); return 0; }

private:
    QMutex mutex;
};
