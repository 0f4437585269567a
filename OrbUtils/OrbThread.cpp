// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbThread.h"

#include <QThread>

class OrbThreadPrivate : public QThread
{
public:
    explicit OrbThreadPrivate(OrbThread *owner) : owner(owner) {}

protected:
    void run() override
    {
        owner->run();
        // The owner may already have been released; the last use deletes it.
        owner->dropUse();
    }

private:
    OrbThread *owner;
};

OrbThread::OrbThread() : d(new OrbThreadPrivate(this)) {}

OrbThread::~OrbThread()
{
    // Deleting a running QThread aborts the process; owners join first.
    if (d->isRunning() && QThread::currentThread() != d)
        d->wait();
    if (QThread::currentThread() == d) {
        // Last use dropped on the worker itself: let Qt clean the object up
        // once the thread has really finished.
        QObject::connect(d, &QThread::finished, d, &QObject::deleteLater);
        d->setParent(nullptr);
        return;
    }
    delete d;
}

int OrbThread::start()
{
    addUse();
    stopRequested.store(false);
    d->start(QThread::InheritPriority);
    return 0;
}

void OrbThread::stop()
{
    stopRequested.store(true);
}

void OrbThread::join()
{
    d->quit();
    d->wait();
}

bool OrbThread::shouldStop(const OrbThread *thread)
{
    return thread == nullptr || thread->isStopRequested();
}

void OrbThread::msleep(unsigned long ms)
{
    QThread::msleep(ms);
}

void OrbThread::releaseThread(OrbThread **place)
{
    if (place == nullptr || *place == nullptr)
        return;
    OrbThread *thread = *place;
    *place = nullptr;
    thread->stop();
    thread->join();
    thread->dropUse();
}

void OrbThread::addUse()
{
    uses.fetch_add(1, std::memory_order_relaxed);
}

void OrbThread::dropUse()
{
    if (uses.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}
