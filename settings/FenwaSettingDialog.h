// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbDialog.h"
#include "OrbUtils/widgets/OrbProgressDialog.h"
#include "link/FenwaSDK.h"

#include <QElapsedTimer>
#include <QList>
#include <functional>
#include <QVector>
#include <memory>

class FenwaBatch;
class FenwaDevice;
class FenwaDeviceModel;

// What one terminal of a batch did.
struct FenwaBatchResult {
    FenwaDevice *device = nullptr; // not owned
    QString label;                 // its name and MAC when the batch started
    bool reached = false;          // something went out to it before the batch ended
    bool accepted = false;
    bool unknown = false; // in flight when the batch was stopped: may have changed
    QString detail;       // why it failed, or what a step with several parts did
};

// The base of every batch dialog: one command per terminal through the
// link's windowed batch (FenwaBatch: many in flight, resent while
// unanswered), from the dialog's job thread, under a bar that shows how
// many are done. A subclass supplies only the command (requestFor), what an
// answer holds when it reads (replied), and what an accepted command writes
// into the record (acceptedBy). Work that is not a link command (firmware
// over HTTP) replaces runJobs and fills the results itself.
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
    // Returns exec()'s result.
    int runBatch(FenwaDeviceModel *model, QWidget *noticeOn, bool setAll);

    // A read of one terminal (setDevices with it first): runs modally, no
    // write-back, no notice. True when the terminal answered "success";
    // otherwise *why says what happened instead.
    bool runRead(QString *why);

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
    virtual FenwaRequest requestFor(int i) = 0;
    // What terminal i answered, whatever its result (reads take their
    // values here).
    virtual void replied(int i, const FenwaReply &reply);
    // What the accepted command changes in devices()[i].
    virtual void acceptedBy(int i);
    // The job: the link batch over every terminal. An override fills
    // results() through outcomes() and reports with reportDone.
    virtual void runJobs();
    // A job for work of several commands per terminal (a plan's steps, a
    // read of SIP and RTP): terminal after terminal, each through step(i,
    // &detail), 0 when all of it was accepted, until the end or a stop; the
    // terminal the stop cut short is "unknown: may have changed". Such a
    // dialog's requestFor is never asked.
    void runEachInTurn(const std::function<int(int i, QString *detail)> &step);
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

    QList<FenwaDevice *> batch;
    QVector<FenwaBatchResult> outcome;
    std::unique_ptr<FenwaBatch> linkBatch;
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
};
