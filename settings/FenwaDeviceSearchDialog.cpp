// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaDeviceSearchDialog.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"

#include <QSet>
#include <algorithm>

FenwaDeviceSearchDialog::FenwaDeviceSearchDialog(QWidget *parent, FenwaSDK *sdk)
    : OrbProgressDialog(parent), sdk(sdk)
{
    setWindowTitle(translate("Searching for terminals"));
    resize(300, 100);
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

bool FenwaDeviceSearchDialog::isSupportedType(const QString &type)
{
    return type.compare(QLatin1String("VQ40"), Qt::CaseInsensitive) == 0 ||
           type.compare(QLatin1String("VQT40"), Qt::CaseInsensitive) == 0;
}

int FenwaDeviceSearchDialog::keepSupported(QList<FenwaDevice *> *replies, QList<FenwaDevice *> *found)
{
    QSet<QString> others;
    for (FenwaDevice *device : *replies) {
        if (!isSupportedType(device->type))
            others.insert(device->macText);
        const bool duplicate = std::any_of(found->cbegin(), found->cend(), [device](const FenwaDevice *kept) {
            return kept->macText == device->macText;
        });
        if (isSupportedType(device->type) && !duplicate)
            found->append(device);
        else
            device->release();
    }
    replies->clear();
    std::stable_sort(found->begin(), found->end(), [](const FenwaDevice *a, const FenwaDevice *b) {
        return a->macText.compare(b->macText, Qt::CaseInsensitive) < 0;
    });
    return others.size();
}

void FenwaDeviceSearchDialog::run()
{
    releaseFound();
    if (sdk) {
        QList<FenwaDevice *> replies;
        sdk->search(&replies, COLLECTION_MS);
        otherTypeCount = keepSupported(&replies, &foundDevices);
    }
    finish();
}
