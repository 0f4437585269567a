// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbDialog.h"

#include <QThread>
#include <atomic>
#include <functional>

class OrbWaitDialog;

// Runs one job of its dialog. Created by startJob, joined and deleted by
// stopJob on the interface thread.
class OrbWaitThread : public QThread
{
    Q_OBJECT
public:
    OrbWaitThread(OrbWaitDialog *dialog, quint64 job) : dialog(dialog), job(job) {}

    void requestStop() { stopFlag.store(true); }
    bool isStopRequested() const { return stopFlag.load(); }
    quint64 jobNumber() const { return job; }

protected:
    void run() override;

private:
    OrbWaitDialog *dialog;
    const quint64 job;
    std::atomic<bool> stopFlag{false};
};

// A modal dialog whose job runs on its own thread and that closes itself when
// the job ends.
//
// Protocol: the caller builds the dialog, centres it, calls startJob() and
// then exec(). run() works step by step, checks isStopped() before each step
// and calls finish() as its last action in every case. Closing or escaping
// the dialog stops the job first: the stop flag is set, interrupt() cuts a
// blocking wait short, and the interface thread waits until run() has
// returned; exec() then returns Rejected. A finish() that comes after that is
// dropped.
//
// Threads: run() executes on the job thread; everything else on the
// interface thread, except isStopped() and finish(), which the job calls. A
// job must not touch widgets: it talks to the dialog through queued signals.
// Teardown: a subclass whose run() uses the subclass's own members calls
// stopJob() in its own destructor; by the time this class's destructor
// stops the job, those members are gone.
class OrbWaitDialog : public OrbDialog
{
    Q_OBJECT
public:
    explicit OrbWaitDialog(QWidget *parent = nullptr);
    ~OrbWaitDialog() override;

    // Stops a job still running, then starts a new one.
    void startJob();
    // Sets the stop flag, interrupts, waits for the job to return and frees
    // its thread. Safe to call without a job.
    void stopJob();
    // True when there is no job or it has been asked to stop.
    bool isStopped() const;
    // Closes the dialog as accepted, from the job thread.
    void finish();

    // The job; runs on the job thread.
    virtual void run();
    // Called on the interface thread when the job is asked to stop; a job
    // that blocks overrides it to cut the wait short.
    virtual void interrupt();

    // Jobs whose run() has not returned yet, of every dialog (any thread).
    static int runningJobs();
    // Called on the interface thread before any job starts, so that work of
    // the same kind running outside a dialog (a search repeated in the
    // background) can end first. One hook; nullptr removes it.
    static void setBeforeJob(std::function<void()> hook);

public slots:
    void onClose(quint64 job);
    void reject() override;

signals:
    void _close(quint64 job);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    std::atomic<OrbWaitThread *> thread{nullptr};
    // Numbers the jobs so that a finish() from a job that was stopped cannot
    // close the dialog under a later job.
    std::atomic<quint64> currentJob{0};
    bool acceptWhenShown = false;
};
