// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbDialog.h"
#include "OrbUtils/widgets/OrbProgressDialog.h"

#include <QList>
#include <QVector>

class FenwaDevice;
class FenwaDeviceModel;
class FenwaSDK;

// What one terminal of a batch did.
struct FenwaBatchResult {
    FenwaDevice *device = nullptr; // not owned
    QString label;                 // its name and MAC when the batch started
    bool reached = false;          // the batch got to it before it was stopped
    bool accepted = false;
    QString detail; // why it failed, or what a step with several parts did
};

// The base of every batch dialog: one command per terminal, in order, from
// the dialog's job thread, under a bar that shows "i of N" and the terminal
// being set. A subclass supplies only the command (sendTo) and what an
// accepted command writes into the record (acceptedBy).
//
// Threads: sendTo runs on the job thread and may read the records but never
// writes them; the table paints them meanwhile. acceptedBy runs on the
// interface thread once the job is over, when exec() has returned, so no
// record is written while the table may paint it. Closing the dialog raises
// the stop flag and cancels the reply wait (interrupt), so it returns at
// once. Teardown: the destructor stops the job before the subclass's lists
// go.
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

    // Runs the batch modally over the main window and settles it: write-backs
    // of the accepted commands; then, when the batch ran to its end, the
    // table is refreshed, for "Set All" exactly the rows that failed stay
    // ticked, and the operator is told how many terminals accepted and which
    // did not (by name and MAC). A batch the operator stopped leaves the
    // table unrefreshed and only says how far it got. Returns exec()'s
    // result.
    int runBatch(FenwaDeviceModel *model, QWidget *noticeOn, bool setAll);

    // A read of one terminal (setDevices with it first): runs modally, no
    // write-back, no notice. True when the terminal answered "success";
    // otherwise *why says what happened instead.
    bool runRead(QString *why);

    // Lines the report adds whatever the outcome, such as the addresses a
    // batch stepped over; with any, the report is a box even when every
    // terminal accepted.
    void setNote(const QStringList &lines) { note = lines; }

    const QVector<FenwaBatchResult> &results() const { return outcome; }
    int acceptedCount() const;

    void run() final;
    void interrupt() override;

protected:
    // The command for devices()[i]; 0 when the terminal accepted. A step that
    // has more to say than the link's reason puts it in *detail.
    virtual int sendTo(int i, QString *detail) = 0;
    // What the accepted command changes in devices()[i].
    virtual void acceptedBy(int i);
    // From sendTo: how far the step for devices()[i] has come (0 to 1), and
    // what it is doing, under the batch's "i of N".
    void reportStep(int i, float within, const QString &what);

    FenwaSDK *sdk;

private:
    QList<FenwaDevice *> batch;
    QVector<FenwaBatchResult> outcome;
    QStringList note;
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
