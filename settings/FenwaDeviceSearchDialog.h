// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbProgressDialog.h"

#include <QList>

class FenwaDevice;
class FenwaSDK;

// The progress dialog a search runs under. Its job broadcasts the search
// (its frame repeated while it collects), collects replies for two seconds
// and keeps each terminal of a supported model once, ordered by MAC.
//
// Threads: run() executes on the job thread and alone writes found; the
// interface thread reads found only after exec() has returned, when the job
// is over. Closing the dialog cuts the collection short (interrupt() cancels
// the link's wait), and the dialog then ends rejected.
class FenwaDeviceSearchDialog : public OrbProgressDialog
{
    Q_OBJECT
public:
    FenwaDeviceSearchDialog(QWidget *parent, FenwaSDK *sdk);
    ~FenwaDeviceSearchDialog() override;

    // The terminals kept by the last run; the dialog holds one reference
    // to each until it is destroyed.
    const QList<FenwaDevice *> &found() const { return foundDevices; }
    // Terminals of other models that answered the last run (one per MAC).
    int otherTypes() const { return otherTypeCount; }
    // Terminals (of any model) heard only after the search frame went out
    // again.
    int repeatOnly() const { return repeatOnlyCount; }

    void run() override;
    void interrupt() override;

    // How long replies are collected.
    enum { COLLECTION_MS = 2000 };

private:
    void releaseFound();

    FenwaSDK *sdk;
    QList<FenwaDevice *> foundDevices;
    int otherTypeCount = 0;
    int repeatOnlyCount = 0;
};
