// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <thread>

class FenwaDevice;
class FenwaDeviceModel;
class FenwaSDK;

// "Keep searching": a light search round (FenwaLiveList::searchRound) every
// interval while it is on, each merged into the table (mergeRound), so that
// terminals coming and going show without a search by hand.
//
// The link has one issuing thread at a time. A round runs on a thread of
// its own only while no dialog's job runs: before any job starts
// (OrbWaitDialog's hook) the round under way is cancelled and joined, and
// its result dropped; a round that comes due while a batch, a plan apply or
// a firmware upload runs waits until it is over. A cancelled round counts
// as no round at all, so nobody is marked offline by a pause.
//
// Threads: interface thread, except inRound(), which the link's observer
// reads from the issuing thread.
class FenwaLiveSearch : public QObject
{
    Q_OBJECT
public:
    FenwaLiveSearch(QObject *parent, FenwaSDK *sdk, FenwaDeviceModel *model);
    ~FenwaLiveSearch() override;

    // On: the first round one interval from now. Off: a round under way is
    // cancelled.
    void setEnabled(bool on);
    bool isEnabled() const { return enabled; }
    void setInterval(int ms) { intervalMs = ms; }
    // A search by hand has just filled the table: the next round one
    // interval later.
    void restartInterval();
    // Cancels and joins a round under way; its terminals are dropped.
    void stopRound();
    // A round's search is under way (any thread).
    bool inRound() const { return searching.load(); }
    int rounds() const { return merged; }

    enum { INTERVAL_MS = 10000, BUSY_RETRY_MS = 1000 };

signals:
    // A round has been merged into the table.
    void roundMerged(int events);

private:
    void tick();
    void roundDone(quint64 generation, const QList<FenwaDevice *> &found, const QDateTime &at, int sent);

    FenwaSDK *sdk;
    FenwaDeviceModel *model;
    QTimer timer;
    std::thread worker;
    std::atomic<bool> searching{false};
    std::atomic<bool> workerDone{true};
    quint64 generation = 0;
    bool enabled = false;
    int intervalMs = INTERVAL_MS;
    int merged = 0;
};
