// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaSDK.h"

#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>

// Runs one command to each of many terminals with several in flight at once,
// which is what makes a site of a thousand terminals a matter of seconds.
//
// - At most window() commands are in flight; never two to one link MAC (a
//   terminal has one command in flight at a time, and two terminals that
//   share a MAC are reached one after the other).
// - Each reply is matched by id and sender as every command's is; the first
//   answer settles the command, answers to its other copies are only
//   counted by the SDK.
// - A command goes out again with the same id only when acting on it twice
//   changes nothing (FenwaRequest::mayResend: reads and settings). Then an
//   unanswered one is resent, same id and same text, after the link's try
//   time (FenwaRoundTrip) until the SDK's reply time, counted from its first
//   copy, ends it. A terminal acts on every copy it receives, so a reboot, a
//   factory reset, the test sound and a MAC change go out exactly once.
// - A command whose reply time ended without an answer:
//   - when a search can show its effect (FenwaRequest::isCheckable: a name,
//     an address, volumes, the web account, a new MAC), the batch searches
//     once everything else has settled, and the command is Seen, "accepted
//     (seen in search)", when its terminal (same link MAC, or the new one of
//     a MAC change, and same uid) reports the value; otherwise NoAnswer,
//     or Unknown for a command that went out once and whose terminal the
//     search did not find where it was;
//   - else NoAnswer when it was resendable ("no answer": it did not act, or
//     acting again is harmless), Unknown when it went out once ("unknown:
//     may have changed": the terminal may have acted on it).
// - One result per entry; accepted() only when the terminal said "success"
//   or the search showed the value. What an answer said is the caller's to
//   read.
// - An entry may wait for an earlier one (add's after): it goes out once
//   that one is accepted, and is NotTried when that one ends any other way.
//   A terminal's several commands chained so run in order while every
//   other terminal's go on beside them.
// - cancel() or the stop test ends the run within a few milliseconds: the
//   commands in flight (or waiting for the search) are InFlight ("unknown:
//   may have changed": the terminal may have acted on a copy whose answer
//   never came), the ones not sent yet NotTried.
//
// Threads: build the batch and add() on one thread; run() blocks the thread
// that calls it (a job thread, or the CLI's main thread) and is the SDK's
// one issuing thread meanwhile; the settled callback and the results belong
// to that thread until run() returns. cancel() may come from any thread at
// any time, before run() too, and sticks: a cancelled batch sends nothing
// more. Entries keep the terminal's MAC, address and uid as add() saw them;
// the records themselves are not touched.
class FenwaBatch
{
public:
    enum State {
        NotTried, // never sent (stopped before its turn)
        InFlight, // sent, unanswered when the batch was stopped
        Answered, // the terminal answered; see accepted() and reply
        NoAnswer, // the reply time ended with no answer
        NotSent,  // the link would not send it
        Refused,  // its text could not be built within a command's bytes
        Unknown,  // sent once, unanswered: the terminal may have acted on it
        Seen,     // unanswered, but the next search showed the value held
    };
    struct Result {
        State state = NotTried;
        int sends = 0;                       // copies that went out
        int id = -1;                         // the id it carried
        std::shared_ptr<const FenwaReply> reply; // when Answered
        bool accepted() const;
        // In flight when stopped, or sent once and unanswered.
        bool mayHaveChanged() const { return state == InFlight || state == Unknown; }
        // For an operator: empty when accepted, else "no answer", "refused:
        // <the terminal's result>", "unknown: may have changed", ...
        QString failure() const;
        // For an operator, whatever the outcome: "accepted", "accepted (seen
        // in search)", or the failure.
        QString outcome() const;
    };

    // Runs one command to one terminal, as a batch of one.
    static Result runOne(FenwaSDK *sdk, const FenwaDevice *device, const FenwaRequest &request);

    explicit FenwaBatch(FenwaSDK *sdk);
    ~FenwaBatch();

    // Adds a command for device and returns its index; with after (an index
    // add returned before, which no other entry waits for yet) the command
    // waits for that one to be accepted. -1 for an after that cannot be.
    int add(const FenwaDevice *device, const FenwaRequest &request, int after = -1);
    // Adds each terminal's commands, every one waiting for the one before
    // it, and returns their indexes per terminal. They are added every
    // terminal's first command first, then every second one: the order in
    // which the batch looks for the next to send.
    QVector<QVector<int>> addEach(const QList<FenwaDevice *> &devices, const QVector<QList<FenwaRequest>> &requests);
    int size() const;

    // Commands in flight at once (WINDOW unless changed; 1 and no resends
    // is the one-after-the-other way of old, for comparisons).
    void setWindow(int commands);
    void setResends(bool on) { resends = on; }
    // Whether a search looks for the effect of unanswered commands (on
    // unless changed).
    void setChecks(bool on) { checks = on; }
    // Told, on the running thread, of each entry as its result is final
    // (those left NotTried by a failure before them included).
    void setSettled(std::function<void(int index)> settled) { onSettled = std::move(settled); }

    // Runs every entry; stop is polled at least every STOP_POLL_MS. Returns
    // how many were accepted. Runs once.
    int run(const std::function<bool()> &stop = {});
    void cancel();
    bool isCancelled() const { return cancelled.load(); }

    const Result &result(int index) const;
    int accepted() const;
    int settled() const { return settledCount; }

    // How long the search that looks for the effect of unanswered commands
    // collects (the search dialog's time, with its repeated frames).
    enum { WINDOW = 32, STOP_POLL_MS = 50, CHECK_SEARCH_MS = 2000 };

private:
    struct Entry;
    struct Flight;
    void launch(FenwaSDK::Operation &operation, int index, qint64 now);
    void settle(int index, State state);
    void take(FenwaSDK::Operation &operation, FenwaReply *reply, qint64 now);
    void sweep(FenwaSDK::Operation &operation, qint64 now);
    // Settles the unanswered commands a search can check, by one search.
    void check(FenwaSDK::Operation &operation, const std::function<bool()> &stopping);
    qint64 nextWake(FenwaSDK::Operation &operation) const;
    int nextSendable();

    FenwaSDK *sdk;
    QVector<Entry> entries;
    QVector<Flight> flights;
    QVector<int> unchecked; // unanswered, for the search to decide
    int window = WINDOW;
    bool resends = true;
    bool checks = true;
    bool ran = false;
    int settledCount = 0;
    int unsent = 0; // every entry before it has been sent (or settled)
    std::function<void(int)> onSettled;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> running{false};

    FenwaBatch(const FenwaBatch &) = delete;
    FenwaBatch &operator=(const FenwaBatch &) = delete;
};
