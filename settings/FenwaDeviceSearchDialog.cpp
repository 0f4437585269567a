// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaDeviceSearchDialog.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"

FenwaDeviceSearchDialog::FenwaDeviceSearchDialog(QWidget *parent, FenwaSDK *sdk)
    : OrbProgressDialog(parent), sdk(sdk)
{
    setWindowTitle(translate("Searching for terminals"));
    resize(300, 100 + buttonRowHeight);
}

FenwaDeviceSearchDialog::~FenwaDeviceSearchDialog()
{
    stopJob(); // the job writes found; it must be over first
    releaseFound();
}

void FenwaDeviceSearchDialog::releaseFound()
{
    for (FenwaDevice *device : foundDevices)
        device->release();
    foundDevices.clear();
}

void FenwaDeviceSearchDialog::interrupt()
{
    if (sdk)
        sdk->cancel();
}

void FenwaDeviceSearchDialog::run()
{
    releaseFound();
    if (sdk) {
        QList<FenwaDevice *> replies;
        FenwaSearchReport report;
        sdk->search(&replies, COLLECTION_MS, &report);
        repeatOnlyCount = report.repeatOnly;
        otherTypeCount = FenwaTerminal::keepSupported(&replies, &foundDevices);
    }
    finish();
}
