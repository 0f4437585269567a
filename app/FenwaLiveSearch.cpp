// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaLiveSearch.h"

#include "OrbUtils/OrbLog.h"
#include "OrbUtils/widgets/OrbWaitDialog.h"
#include "link/FenwaDevice.h"
#include "link/FenwaLiveList.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"
#include "table/FenwaDeviceModel.h"

#include <QElapsedTimer>
#include <memory>

namespace {
QByteArray label(const FenwaDevice *d)
{
    return FenwaTerminal::terminalLabel(d).toUtf8();
}
} // namespace

FenwaLiveSearch::FenwaLiveSearch(QObject *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : QObject(parent), sdk(sdk), model(model)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &FenwaLiveSearch::tick);
}

FenwaLiveSearch::~FenwaLiveSearch()
{
    stopRound();
}

void FenwaLiveSearch::setEnabled(bool on)
{
    if (on == enabled)
        return;
    enabled = on;
    ORB_LOG("keep searching %s\n", on ? "on" : "off");
    if (on)
        timer.start(intervalMs);
    else {
        timer.stop();
        stopRound();
    }
}

void FenwaLiveSearch::restartInterval()
{
    if (enabled)
        timer.start(intervalMs);
}

void FenwaLiveSearch::stopRound()
{
    ++generation; // whatever it brings is dropped
    if (!worker.joinable())
        return;
    // A cancel lands only while the search is under way: repeat it until
    // the round has returned (a round is a second long at most).
    QElapsedTimer waited;
    waited.start();
    while (!workerDone.load() && waited.elapsed() < 5000) {
        sdk->cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    worker.join();
    if (enabled)
        timer.start(intervalMs);
}

void FenwaLiveSearch::tick()
{
    if (!enabled)
        return;
    // The round's result can arrive before its thread has said it is done
    // (the call is queued first): reap a finished thread here.
    if (worker.joinable() && workerDone.load())
        worker.join();
    if (worker.joinable() || OrbWaitDialog::runningJobs() > 0 || !sdk->isOpen()) {
        timer.start(BUSY_RETRY_MS); // a batch or search under way: after it
        return;
    }
    const quint64 round = generation;
    workerDone.store(false);
    searching.store(true);
    worker = std::thread([this, round] {
        const QDateTime at = QDateTime::currentDateTime();
        QList<FenwaDevice *> found;
        const int sent = FenwaLiveList::searchRound(sdk, &found);
        searching.store(false);
        // Released whether or not the call is made (the window may close first).
        const FenwaHeldDevices held = holdDevices(found);
        for (FenwaDevice *d : found)
            d->release();
        QMetaObject::invokeMethod(
            this, [this, round, held, at, sent] { roundDone(round, *held, at, sent); }, Qt::QueuedConnection);
        workerDone.store(true);
    });
}

void FenwaLiveSearch::roundDone(quint64 round, const QList<FenwaDevice *> &found, const QDateTime &at, int sent)
{
    if (worker.joinable() && workerDone.load())
        worker.join();
    // Cancelled (a job began, the link closed), or the table was started
    // afresh meanwhile: the round says nothing.
    if (round != generation || !enabled || sent != 0 || OrbWaitDialog::runningJobs() > 0) {
        if (enabled && !timer.isActive())
            timer.start(intervalMs);
        return;
    }
    const QList<FenwaLiveEvent> events = model->mergeRound(found, at);
    ++merged;
    for (const FenwaLiveEvent &e : events) {
        switch (e.kind) {
        case FenwaLiveEvent::Appeared:
            ORB_LOG("live: %s appeared\n", label(e.device).constData());
            break;
        case FenwaLiveEvent::Offline:
            ORB_LOG("live: %s offline\n", label(e.device).constData());
            break;
        case FenwaLiveEvent::Back:
            ORB_LOG("live: %s back\n", label(e.device).constData());
            break;
        case FenwaLiveEvent::Changed:
            for (const FenwaLiveChange &c : e.changes)
                ORB_LOG("live: %s %s %s -> %s\n", label(e.device).constData(), qPrintable(c.field),
                        c.before.toUtf8().constData(), c.after.toUtf8().constData());
            break;
        }
    }
    emit roundMerged(events.size());
    timer.start(intervalMs);
}
