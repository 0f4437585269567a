// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaSettingDialog.h"
#include "link/FenwaReturnWait.h"

#include <atomic>
#include <memory>

// "Wait for them": after a reboot, factory reset or firmware batch, search
// rounds (FenwaReturnWait) until every terminal of it answers again or the
// deadline passes, under a bar that counts them ("12 of 41 back") and names
// the last ones back with their version. Each round goes into the table as a
// live round does (rows updated in place, offline marks), and at the end
// each terminal's outcome is its row's last result; the box names those that
// did not come back, or came back with the old version.
//
// Threads: as every batch dialog; the rounds reach the table through queued
// calls to the interface thread, which owns the records.
class FenwaReturnDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaReturnDialog(QWidget *parent, FenwaSDK *sdk, FenwaReturnWait::Kind kind, FenwaDeviceModel *model);
    ~FenwaReturnDialog() override;

    // How long it waits, from the first round (deadlineFor(kind) unless
    // changed).
    void setDeadline(int ms) { deadlineMs = ms; }
    static int deadlineFor(FenwaReturnWait::Kind kind);

    void interrupt() override;

    // A terminal takes a minute or two to restart, longer to write firmware.
    enum { RESTART_DEADLINE_MS = 180000, FIRMWARE_DEADLINE_MS = 300000 };

protected:
    FenwaRequest requestFor(int i) override;
    void runJobs() override;
    QString resultText(int i) const override;
    QString summaryLine(bool stopped, int accepted, int untried) const override;
    // Waiting changes nothing; the batch it follows says what may have.
    bool changesTerminals() const override { return false; }

private:
    FenwaReturnWait::Kind kind;
    FenwaDeviceModel *model;
    int deadlineMs;
    std::unique_ptr<FenwaReturnWait> wait;
    std::atomic<FenwaReturnWait *> running{nullptr};
};
