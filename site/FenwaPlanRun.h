// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaPlan.h"
#include "link/FenwaBatch.h"
#include "link/FenwaTerminal.h"

#include <functional>

class FenwaSDK;

// From a plan and a search to what will be sent: the preview (per plan row
// each field that changes, and every problem: the pages' rules on the
// merged values, and the rules of a site) and the commands for one
// terminal. Widget-free; the workbench and fenwa-cli both show and run it.
namespace FenwaPlan {

// A terminal the search found, with what it holds now (currentValues; with
// its SIP accounts and channels when the plan sets any of them).
struct Found {
    FenwaDevice *device = nullptr; // not owned
    Values current;
};

struct Change {
    int field;
    QString current, planned;
};

// One row of the plan as it meets the site.
struct Item {
    int row = -1;                  // index into Plan::rows
    QString mac;                   // the plan's MAC for it
    FenwaDevice *device = nullptr; // the terminal; nullptr when not found
    QList<Change> changes;         // field order; empty when nothing changes
    QStringList problems;          // nothing is sent to a row with problems
    // Why the row may not be what the planner meant: a value that is the
    // terminal's current one as a spreadsheet rewrites numbers (0801 become
    // 801, 1000 become 1e+03 or 1000.0), a formula's last value. Sent only
    // when the operator asks for it on purpose.
    QStringList doubts;
    Values merged;                 // what the terminal holds after the plan
};

// Where a row stands, before and after an apply: a value, whatever the
// words that show it.
enum class Outcome {
    Ready,     // changes to send
    Unchanged, // nothing to send
    Refused,   // problems: never sent
    Doubtful,  // doubts: sent only when asked for on purpose
    NotFound,  // the search did not find its terminal
    LeftOut,   // could have been sent, was not asked for
    Done,      // every change accepted
    Failed,    // a change was not accepted (or some were not tried)
    NotTried,  // in the apply, but it stopped before this terminal
};
struct Status {
    Outcome outcome = Outcome::Ready;
    QString detail; // the problems, doubts or what failed
};
// Before an apply.
Status statusOf(const Item &item);
// The outcome column's and the preview's words for a status.
QString statusText(const Status &status);
// A word for scripts, the same in every language: "ok", "unchanged",
// "refused", "doubtful", "not found", "left out", "done", "failed",
// "not tried".
const char *outcomeKey(Outcome outcome);

struct Preview {
    QList<Item> items;               // plan order
    QList<FenwaDevice *> notInPlan;  // found, but not in the plan
    int problemRows() const;
    int doubtRows() const;
    int notFound() const;
};

// The preview's check of one value against what the terminal holds now:
// why planned looks like current rewritten by a spreadsheet, or empty.
QString numberRewritten(int field, const QString &current, const QString &planned);

// Compares every row with its terminal and checks it. Site rules: no two
// rows end with one address or one MAC, and no row's new MAC is held by a
// found terminal outside the plan. A row's new address (one its terminal
// does not hold now) goes through the address rules of every static
// address: free of the found terminals outside the plan and of held, what
// else holds one (this PC's addresses, the answers to an address probe; a
// probe answer from a terminal of the plan is that terminal's own, or one it
// moves away from).
Preview preview(const Plan &plan, const QList<Found> &found, const QList<FenwaTerminal::AddressHolder> &held);
// The addresses a preview hands out anew: what to probe before the preview
// is made again with the answers.
QStringList newAddresses(const Preview &preview);

// The commands for one row, each once, only for the fields that change:
// what one command writes together (both SIP accounts, the ten channels,
// the three volume values, the static address's five values) is taken from
// merged, so a plan that sets one of them never wipes the others. The
// address and the MAC come last: after a new MAC the terminal answers only
// there.
struct Step {
    enum Kind { SetName, SetAccount, SetVolume, SetSip, SetRtp, SetIp, SetMac };
    Kind kind;
    Values merged;
};
QList<Step> steps(const Item &item);
// "name", "SIP accounts", ... for results and progress.
QString stepName(Step::Kind kind);

// The command that sends one step.
FenwaRequest stepRequest(const Step &step);
// What the accepted step changes in the record: run it where the records
// are owned (the interface thread in the workbench).
void stepAccepted(FenwaDevice *device, const Step &step);
// A terminal's status from how each of its steps ended: Done, Unchanged
// (no steps), NotTried (none went out), or Failed with which step failed
// and why and which were not tried.
Status applied(const QList<Step> &steps, const QList<FenwaBatch::Result> &results);
// Every step's command, in order.
QList<FenwaRequest> requests(const QList<Step> &steps);
// Writes what the accepted steps changed into the record (see stepAccepted).
void settle(FenwaDevice *device, const QList<Step> &steps, const QList<FenwaBatch::Result> &results);

// A read of one terminal's SIP accounts and/or RTP channels, for a backup or
// for a plan that sets any of them: its commands (requests), what an answer
// to each fills in (take), and why a read that failed did (failure).
struct Reading {
    bool wantSip = false, wantRtp = false;
    SipSettings sip[2];
    RtpSettings rtp[FENWA_RTP_CHANNELS];
    bool sipRead = false, rtpRead = false;
    QList<FenwaRequest> requests() const;
    void take(int step, const FenwaBatch::Result &result);
    QString failure(int step, const FenwaBatch::Result &result) const;
};

} // namespace FenwaPlan
