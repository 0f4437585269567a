// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaLiveList.h"

#include <QList>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>

class FenwaDevice;
class FenwaSDK;

// Waits for terminals that were told to restart (a reboot, a factory reset,
// a firmware upload) to answer again, by search rounds until every one is
// back or a deadline passes. The workbench's "Wait for them" and fenwa-cli's
// --wait both run it.
//
// A terminal is back once it has missed a round (it went away) and answers
// again: one that answers every round has not been seen to restart. After
// firmware it is back when it answers with another version than before,
// whether or not a round saw it gone; one that went away and answers with
// the old version took no upgrade, and is a failure. Back and "back with
// the old version" are final; the rounds go on for the others.
//
// Threads: build it on the thread that owns the records (it copies what it
// needs from them and never reads them again); run() on the link's issuing
// thread; cancel() from any thread.
class FenwaReturnWait
{
public:
    enum Kind { Restart, Firmware };
    enum State {
        Waiting,    // answering, not seen to go away (yet)
        Gone,       // missed a round since the restart
        Back,       // answered again (firmware: with another version)
        OldVersion, // went away and came back with the version it had
    };
    struct Target {
        QString label;      // name and MAC, as the batch named it
        QString macText;    // the MAC it reports
        QString oldVersion; // its version before the restart
        State state = Waiting;
        QString version; // what it reports now
        qint64 backMs = -1;
    };

    FenwaReturnWait(FenwaSDK *sdk, Kind kind, const QList<FenwaDevice *> &devices);
    ~FenwaReturnWait();

    // Rounds until every target has settled (Back or OldVersion), deadlineMs
    // has passed since the start, cancel() or stop. After each round, round
    // hears of its terminals (supported ones, one record each; take a
    // reference to keep one) and settled of each target that settled in it.
    // Returns how many came back as they should. Runs once.
    int run(int deadlineMs, const std::function<bool()> &stop = {},
            const std::function<void(const QList<FenwaDevice *> &found)> &round = {},
            const std::function<void(int index)> &settled = {});
    void cancel();

    int size() const { return targets.size(); }
    const Target &target(int i) const { return targets.at(i); }
    // Back as it should be: answered again (firmware: with another version).
    bool ok(int i) const { return targets.at(i).state == Back; }
    bool isSettled(int i) const { return targets.at(i).state == Back || targets.at(i).state == OldVersion; }
    int backCount() const;
    // For an operator: "back after 14 s", "back after 40 s: 2.4.1 → 2.5.0",
    // "back with the old version 2.4.1", "did not come back within 120 s",
    // "answered throughout: did not restart", "not back yet" after a stop.
    QString outcome(int i) const;
    // "12 of 41 back".
    QString progress() const;
    bool wasStopped() const { return stopped; }
    // How long a round collects and rests (FenwaLiveList::ROUND_MS and
    // ROUND_GAP_MS unless changed; tests make them short).
    void setRounds(int collectMs, int gapMs)
    {
        roundMs = collectMs;
        restMs = gapMs;
    }

    // A round: a light search (FenwaLiveList::searchRound), then
    // ROUND_GAP_MS of rest, so that a terminal silent for a few seconds
    // misses at least one round.
    enum { ROUND_GAP_MS = 1000, STOP_POLL_MS = 50 };

private:
    void judge(const QList<FenwaDevice *> &found, qint64 elapsedMs, const std::function<void(int)> &settled);

    FenwaSDK *sdk;
    Kind kind;
    QVector<Target> targets;
    QVector<FenwaDevice *> identities; // copies of the targets' identities (link MAC, uid, serial)
    int deadlineS = 0;
    int roundMs = FenwaLiveList::ROUND_MS, restMs = ROUND_GAP_MS;
    bool stopped = false;
    bool ran = false;
    std::atomic<bool> cancelled{false};

    FenwaReturnWait(const FenwaReturnWait &) = delete;
    FenwaReturnWait &operator=(const FenwaReturnWait &) = delete;
};
