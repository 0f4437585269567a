// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbDialog.h"
#include "OrbUtils/widgets/OrbProgressDialog.h"
#include "link/FenwaBatch.h"
#include "link/FenwaReturnWait.h"
#include "link/FenwaSDK.h"

#include <QElapsedTimer>
#include <QList>
#include <functional>
#include <QVector>
#include <memory>

class FenwaDevice;
class FenwaDeviceModel;
class QAbstractButton;

// What one terminal of a batch did.
struct FenwaBatchResult {
    FenwaDevice *device = nullptr; // not owned
    QString label;                 // its name and MAC when the batch started
    bool reached = false;          // something went out to it before the batch ended
    bool accepted = false;
    bool unknown = false; // in flight when the batch was stopped, or sent once unanswered: may have changed
    bool seen = false;    // accepted as a search showed, its answers lost
    QString detail;       // why it failed, or what a step with several parts did
};

// The base of every batch dialog: the terminals' commands through the link's
// windowed batch (FenwaBatch: many in flight, resent while unanswered), from
// the dialog's job thread, under a bar that shows how many terminals are
// done. A subclass supplies only the command (requestFor; or requestsFor,
// several per terminal, each sent once the one before it was accepted),
// what an answer holds when it reads (replied), and what an accepted command
// writes into the record (acceptedBy). Work that is not a link command
// (firmware over HTTP) replaces runJobs and fills the results itself.
//
// Threads: requestFor runs on the interface thread before the job starts;
// replied and runJobs on the job thread, which may read the records but
// never writes them while the table paints them. acceptedBy runs on the
// interface thread once the job is over, when exec() has returned.
// Closing the dialog raises the stop flag and cancels the batch
// (interrupt); the batch exists before the job starts, so a close that
// comes before the first send is not lost either. Teardown: the destructor
// stops the job before the subclass's lists go.
class FenwaSettingDialog : public OrbProgressDialog
{
    Q_OBJECT
public:
    FenwaSettingDialog(QWidget *parent, FenwaSDK *sdk, const QString &title);
    ~FenwaSettingDialog() override;

    // The terminals of the batch, in order; the table keeps them alive while
    // the dialog runs.
    void setDevices(const QList<FenwaDevice *> &devices);
    const QList<FenwaDevice *> &devices() const { return batch; }

    // Runs the batch modally over the main window and settles it: the
    // accepted commands are written back and shown, each terminal's result
    // goes into the table's last column, for "Set All" exactly the rows
    // that did not accept stay ticked, and the operator is told how many
    // accepted and which did not (by name and MAC, with the reason). After a
    // stop the report also says how many were not tried and names every
    // terminal whose command was in flight as "unknown: may have changed".
    // After a batch that restarts its terminals the report is a box that
    // offers to wait for them (FenwaReturnDialog). Returns exec()'s result.
    int runBatch(FenwaDeviceModel *model, QWidget *noticeOn, bool setAll);

    // A read of one terminal (setDevices with it first): runs modally, no
    // write-back, no notice. True when the terminal answered "success";
    // otherwise *why says what happened instead.
    bool runRead(QString *why);
    // Runs the batch modally with no write-back, no notice and no report
    // (reads whose results the caller takes): false when it was stopped.
    bool runQuietly();

    // The batch whose runBatch is under way, if any (interface thread).
    static FenwaSettingDialog *running();
    // Stops the batch as closing the dialog does, without the report that
    // would follow: the window is going away.
    void stopWithoutReport();
    // Lines the report adds whatever the outcome, such as the addresses a
    // batch stepped over; with any, the report is a box even when every
    // terminal accepted.
    void setNote(const QStringList &lines) { note = lines; }

    const QVector<FenwaBatchResult> &results() const { return outcome; }
    int acceptedCount() const;

    void run() final;
    void interrupt() override;

protected:
    // The command for devices()[i].
    virtual FenwaRequest requestFor(int i);
    // Its commands in order, when it takes several: a terminal stops at the
    // first that is not accepted, and is accepted when all of them are.
    virtual QList<FenwaRequest> requestsFor(int i);
    // What terminal i answered to its command step, whatever its result
    // (reads take their values here).
    virtual void replied(int i, int step, const FenwaReply &reply);
    // Why terminal i is not done, its command step having ended as result.
    virtual QString failureOf(int i, int step, const FenwaBatch::Result &result) const;
    // What the accepted command changes in devices()[i].
    virtual void acceptedBy(int i);
    // Writes what the terminals accepted into their records once the job is
    // over: acceptedBy for each terminal that accepted.
    virtual void writeBack();
    // False for a batch that only reads: it changes no terminal.
    virtual bool changesTerminals() const { return true; }
    // A batch after which its terminals restart (a reboot, a factory reset,
    // firmware) says so, and of what kind the wait for them is.
    virtual bool restartsTerminals(FenwaReturnWait::Kind *) const { return false; }
    // Whether terminal i may be restarting: every one the batch reached (an
    // answer may be lost after the terminal acted on the command).
    virtual bool restarted(int i) const { return outcome.at(i).reached; }
    // What the table's last column shows for terminal i, and the report's
    // first line.
    virtual QString resultText(int i) const;
    virtual QString summaryLine(bool stopped, int accepted, int untried) const;
    // The job: the link batch over every terminal. An override fills
    // results() through outcomes() and reports with reportDone.
    virtual void runJobs();
    // After the job: how terminal i's command step ended.
    const FenwaBatch::Result &stepResult(int i, int step) const;
    int stepCount(int i) const { return entries.value(i).size(); }
    QVector<FenwaBatchResult> &outcomes() { return outcome; }
    // From the job: done of N are over, what shows under the count (one
    // line per terminal being worked on, or nothing), and how far those
    // under way have come together (in terminals). A few times a second at
    // most, unless done is N.
    void reportDone(int done, const QString &under = QString(), float partial = 0.0f);

    FenwaSDK *sdk;

private:
    void prepare();
    QString report(bool stopped) const;
    // Whether terminal i may hold other values now: it accepted a command
    // of the batch, or one was in flight when the batch stopped.
    bool mayHaveChanged(int i) const;
    // The offer's answer: a modal wait for terminals to come back.
    void waitForReturn(FenwaDeviceModel *model, QWidget *noticeOn, FenwaReturnWait::Kind kind,
                       const QList<FenwaDevice *> &restarting);

    QList<FenwaDevice *> batch;
    QVector<FenwaBatchResult> outcome;
    std::unique_ptr<FenwaBatch> linkBatch;
    QVector<QVector<int>> entries; // per terminal, its commands' entries in linkBatch
    QElapsedTimer sinceReport; // the job, or its workers one at a time
    QStringList note;
    bool quiet = false;
};

// The outcome of a batch in which some terminals did not accept: stays until
// the operator closes it.
class FenwaBatchResultDialog : public OrbDialog
{
    Q_OBJECT
public:
    FenwaBatchResultDialog(QWidget *parent, const QString &text);
    QString text() const;
    // A second way to close the box, beside OK: a button that takes what
    // the text offers. taken() tells whether it closed the box.
    QAbstractButton *offer(const QString &action);
    bool taken() const { return offerTaken; }

private:
    bool offerTaken = false;
};
