// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/QPcap.h"

#include <QDateTime>
#include <QLabel>

class FenwaSDK;
class QTimer;

// The line in the window's status bar that says where the link stands: the
// adapter, its state (up, down, no permission), how many terminals the last
// search found and how many replies of other types it ignored, and when it
// ran. After a search that found nothing it says why, when that can be told,
// so that an empty table is never the only answer.
//
// Threads: interface thread only; it reads the link's state once a second.
class FenwaLinkStatus : public QLabel
{
    Q_OBJECT
public:
    FenwaLinkStatus(QWidget *parent, FenwaSDK *sdk);

    // After each search: what it kept, the terminals of other types it
    // dropped, and whether the operator cancelled it.
    void searchEnded(int found, int otherTypes, bool cancelled);
    // Another adapter was opened: the last search was on the old one.
    void adapterChanged();
    // After searchEnded: how many terminals were heard only after the search
    // frame had gone out again (a lossy segment shows here first).
    void setRepeatOnly(int terminals);
    // How many terminals of the table share a MAC, and how many an address,
    // with another: said only when there are any.
    void setConflicts(int sharingMac, int sharingIp);
    // The live view's counts: said while it runs, or while any terminal is
    // marked offline or new.
    void setLive(bool running, int online, int offline, int fresh);

    QSize minimumSizeHint() const override;

    static QString stateText(QPcap::LinkState state);
    // Why a search found nothing, or an empty text when it cannot be told.
    static QString emptySearchReason(QPcap::LinkState state, int otherTypes);

public slots:
    void refresh();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Sets the text: the parts joined, a new row where one would not fit.
    void breakLines();

    FenwaSDK *sdk;
    QStringList shown; // the line's parts
    QTimer *timer;
    QDateTime lastSearch; // invalid: no search on this adapter yet
    int found = 0;
    int otherTypes = 0;
    int repeatOnly = 0;
    int sharingMac = 0, sharingIp = 0;
    bool liveRunning = false;
    int liveOnline = 0, liveOffline = 0, liveNew = 0;
    bool cancelled = false;
    QPcap::LinkState stateAtSearch = QPcap::Opening;
};
