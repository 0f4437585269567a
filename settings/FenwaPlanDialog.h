// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaSettingDialog.h"
#include "OrbUtils/widgets/OrbDialog.h"
#include "link/FenwaAddressProbe.h"
#include "link/FenwaDevice.h"
#include "site/FenwaPlanRun.h"

#include <QVector>
#include <atomic>

class QLabel;
class QPushButton;
class QTableWidget;

// Reads the SIP accounts and/or RTP channels of each terminal of the batch,
// for a backup or for a plan that sets any of them. Results stay in the
// dialog.
class FenwaSettingsReadDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaSettingsReadDialog(QWidget *parent, FenwaSDK *sdk, bool sip, bool rtp);
    // Valid once the batch is over, for the terminals that answered.
    const FenwaPlan::Reading &read(int i) const { return reads[i]; }

protected:
    QList<FenwaRequest> requestsFor(int i) override;
    void replied(int i, int step, const FenwaReply &reply) override;
    QString failureOf(int i, int step, const FenwaBatch::Result &result) const override;
    bool changesTerminals() const override { return false; }

private:
    bool sip, rtp;
    QVector<FenwaPlan::Reading> reads;
};

// "Checking addresses...": the address probe of the addresses a plan hands
// out anew, on the dialog's job thread; closing the dialog cancels it.
class FenwaPlanProbeDialog : public OrbProgressDialog
{
    Q_OBJECT
public:
    FenwaPlanProbeDialog(QWidget *parent, FenwaSDK *sdk, const QStringList &addresses);
    ~FenwaPlanProbeDialog() override;
    // Runs modally; false when the probe could not be sent or was stopped.
    bool runProbe();
    // Valid after runProbe returned true.
    const QList<FenwaTerminal::AddressHolder> &answers() const { return heard; }

    void run() override;
    void interrupt() override;

private:
    FenwaAddressProbe probe;
    const QStringList addresses;
    QList<FenwaTerminal::AddressHolder> heard;
    std::atomic<bool> probed{false};
};

// One batch over the plan's terminals: each gets its steps in order, as the
// preview listed them, beside the others. Steps a terminal accepted are
// written into its record after the batch, also when a later step failed.
class FenwaPlanApplyDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaPlanApplyDialog(QWidget *parent, FenwaSDK *sdk, const QList<QList<FenwaPlan::Step>> &steps);
    // Per terminal, after the batch: the outcome column's text.
    QString outcome(int i) const;
    // Every step a terminal accepted, also where a later one failed.
    void writeBack() override;

protected:
    QList<FenwaRequest> requestsFor(int i) override;
    QString failureOf(int i, int step, const FenwaBatch::Result &result) const override;

private:
    QList<FenwaBatch::Result> stepResults(int i) const;
    QList<QList<FenwaPlan::Step>> steps;
};

// The preview of a plan: one row per plan terminal with each change as
// current -> planned and its problems, the plan's terminals the search did
// not find and the found terminals the plan does not name. Rows with
// problems cannot be ticked; "Apply" sends only the ticked rows, and stays
// disabled while a row with problems is ticked (it never can be) or nothing
// would change. After the apply the rows show their outcome and "Save
// result..." writes the plan with an outcome column.
//
// Threads: interface thread; the apply runs as every batch, modally. The
// dialog holds a reference to every terminal of its preview.
class FenwaPlanDialog : public OrbDialog
{
    Q_OBJECT
public:
    FenwaPlanDialog(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model, const FenwaPlan::Plan &plan,
                    const FenwaPlan::Preview &preview);
    ~FenwaPlanDialog() override;

    int rowCount() const;
    bool isTicked(int row) const;
    void setTicked(int row, bool ticked);
    bool canApply() const;
    QString statusText(int row) const;
    QString summaryText() const;
    // Runs the batch over the ticked rows; false when nothing could be sent.
    bool apply();
    bool saveResult(const QString &path, QString *error) const;

private:
    void fill();
    void updateButtons();

    FenwaSDK *sdk;
    FenwaDeviceModel *model;
    FenwaPlan::Plan plan;
    FenwaPlan::Preview preview;
    QStringList outcomes; // per plan row, after an apply
    QTableWidget *table;
    QLabel *summary;
    QPushButton *applyButton, *saveButton;
};
