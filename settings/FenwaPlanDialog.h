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


// Reads what each terminal of the batch is asked for (its SIP accounts,
// its RTP channels or both): for a backup, or for a plan that sets any of
// them. Results stay in the dialog.
class FenwaSettingsReadDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    // wanted: per terminal of setDevices, what to read.
    FenwaSettingsReadDialog(QWidget *parent, FenwaSDK *sdk, const QVector<FenwaPlan::Reading> &wanted);
    // Valid once the batch is over, for the terminals that answered.
    const FenwaPlan::Reading &read(int i) const { return reads[i]; }

protected:
    QList<FenwaRequest> requestsFor(int i) override;
    void replied(int i, int step, const FenwaReply &reply) override;
    QString failureOf(int i, int step, const FenwaBatch::Result &result) const override;
    bool changesTerminals() const override { return false; }

private:
    QVector<FenwaPlan::Reading> reads;
};

// "Reading the plan...": the file read and checked on the dialog's job
// thread, so that a large plan leaves the window responsive.
class FenwaPlanReadDialog : public OrbProgressDialog
{
    Q_OBJECT
public:
    FenwaPlanReadDialog(QWidget *parent, const QString &path);
    ~FenwaPlanReadDialog() override;
    // Runs modally; false with *error when the plan is refused, or the
    // dialog was closed (then *error is empty).
    bool readPlan(FenwaPlan::Plan *plan, QString *error);

    void run() override;

private:
    const QString path;
    FenwaPlan::Plan plan;
    QString error;
    std::atomic<bool> read{false};
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
// preview listed them, beside the others.
class FenwaPlanApplyDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaPlanApplyDialog(QWidget *parent, FenwaSDK *sdk, const QList<QList<FenwaPlan::Step>> &steps);
    // Per terminal, after the batch.
    FenwaPlan::Status outcome(int i) const;
    // Steps a terminal accepted go into its record, also when a later one
    // failed (runBatch calls it before it announces the change).
    void writeBack() override;

protected:
    QList<FenwaRequest> requestsFor(int i) override;
    QString failureOf(int i, int step, const FenwaBatch::Result &result) const override;

private:
    QList<FenwaBatch::Result> stepResults(int i) const;
    QList<QList<FenwaPlan::Step>> steps;
};

class FenwaPlanModel;
class QCheckBox;
class QPlainTextEdit;
class QTableView;

// The preview of a plan, for a few rows or a thousand: one line per plan
// terminal (tick, line, MAC, name, status, the changes in short), the rows
// that need a look first (refused, to check, not found; after an apply what
// failed), "Show problems only" to see just those, and the selected row's
// changes as current -> planned with its problems in the pane below (and in
// the tooltip). Refused rows cannot be ticked; a row in doubt (a value a
// spreadsheet may have rewritten) can, on purpose, and starts unticked.
// "Apply" sends only the ticked rows; afterwards the rows show their
// outcome, the summary counts done, failed and left out, and "Save
// result..." writes the plan with an outcome column, in the plan's folder
// and form unless told otherwise. A restore shows its one row and nothing
// of the rest of the site.
//
// Threads: interface thread; the apply runs as every batch, modally. The
// dialog holds a reference to every terminal of its preview. Rows are
// addressed by their index in the plan (the preview's order) whatever the
// order shown.
class FenwaPlanDialog : public OrbDialog
{
    Q_OBJECT
public:
    FenwaPlanDialog(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model, const FenwaPlan::Plan &plan,
                    const FenwaPlan::Preview &preview, bool restore = false);
    ~FenwaPlanDialog() override;

    int rowCount() const;
    bool isTicked(int row) const;
    void setTicked(int row, bool ticked);
    bool canApply() const;
    FenwaPlan::Status status(int row) const;
    QString statusText(int row) const;
    QString summaryText() const;
    // The rows as shown, top to bottom (after the filter), and the filter.
    QList<int> shownRows() const;
    void setProblemsOnly(bool only);
    // The pane's text for a row, as selecting it shows it.
    QString detailsText(int row) const;
    void select(int row);
    QTableView *view() const { return table; }
    // Runs the batch over the ticked rows; false when nothing could be sent.
    bool apply();
    // Writes the plan with an outcome column: a workbook for .xlsx, else
    // CSV with the plan's separator. Readable by the owner alone.
    bool saveResult(const QString &path, QString *error) const;
    // Where "Save result..." proposes to write: beside the plan.
    QString suggestedResultPath() const;

private:
    void updateButtons();
    void showDetails();

    FenwaSDK *sdk;
    FenwaDeviceModel *model;
    FenwaPlan::Plan plan;
    FenwaPlanModel *rows;
    QTableView *table;
    QPlainTextEdit *details;
    QCheckBox *problemsOnly;
    QLabel *summary, *written;
    QPushButton *applyButton, *saveButton;
    bool restore;
};
