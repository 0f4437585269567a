// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "site/FenwaPlan.h"

#include <QObject>
#include <QPointer>

class FenwaDeviceModel;
class FenwaPlanDialog;
class FenwaSDK;
class QMenu;
class QWidget;

// The site menu of the main window: the table as a sheet, a backup of the
// terminals into a site file, a plan's preview and apply, and a backup row
// put onto a replacement. Each action asks for its file and then calls the
// function of the same name, which tests call directly.
//
// Threads: interface thread; batches run modally as every batch does.
class FenwaSiteActions : public QObject
{
    Q_OBJECT
public:
    FenwaSiteActions(QWidget *window, FenwaSDK *sdk, FenwaDeviceModel *model);
    QMenu *menu() const { return siteMenu; }

    // The table's rows as fenwa-cli search --csv writes them: a workbook
    // for a path ending in .xlsx, else CSV.
    bool exportTo(const QString &path, QString *error);
    // Reads the ticked terminals (every shown one when none is ticked) in
    // one batch and writes those that answered into a site file only its
    // owner may read (withPasswords false: without the SIP passwords and
    // the web password's digest). Returns how many were written, -1 when
    // the file could not be written or nothing was read. *shared names the
    // terminals that share a MAC, if any.
    int backupTo(const QString &path, QString *error, bool withPasswords = true, QStringList *shared = nullptr);
    // Reads the plan (on a job thread, under a progress dialog), the
    // current SIP accounts and channels its rows set, and shows the preview
    // (not modal: planDialog()). False with *error when the plan is refused.
    bool openPlan(const QString &path, QString *error);
    // restore: the plan is one backed-up terminal put onto its replacement.
    bool previewPlan(const FenwaPlan::Plan &plan, bool restore = false);
    FenwaPlanDialog *planDialog() const;
    // The handover report of the table, as PDF or (for a path ending in
    // .html or .htm) HTML: the SIP accounts and RTP channels of every row
    // that answers are read in one batch first; offline rows are listed as
    // the live view marks them, each row with its last batch result. The
    // site's name and the author are the remembered ones. False with *error.
    bool reportTo(const QString &path, QString *error);

private:
    void askExport();
    void askBackup();
    void askPlan();
    void askRestore();
    void askReport();
    void tell(const QString &text);

    QWidget *window;
    FenwaSDK *sdk;
    FenwaDeviceModel *model;
    QMenu *siteMenu;
    QPointer<FenwaPlanDialog> dialog;
    class OrbToast *toast = nullptr;
};
