// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaReturnDialog.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaLiveList.h"
#include "link/FenwaSDK.h"
#include "table/FenwaDeviceModel.h"

#include <QDateTime>
#include <QPointer>

namespace {
// Lines of terminals back, under the count and in the box.
const int kListedBack = 12;
const int kShownLately = 4;
} // namespace

FenwaReturnDialog::FenwaReturnDialog(QWidget *parent, FenwaSDK *sdk, FenwaReturnWait::Kind kind,
                                     FenwaDeviceModel *model)
    : FenwaSettingDialog(parent, sdk, translate("Waiting for the terminals to come back")), kind(kind), model(model),
      deadlineMs(deadlineFor(kind))
{
    resize(480, 70 + 20 * kShownLately);
}

FenwaReturnDialog::~FenwaReturnDialog()
{
    stopJob(); // the job uses wait
}

int FenwaReturnDialog::deadlineFor(FenwaReturnWait::Kind kind)
{
    return kind == FenwaReturnWait::Firmware ? FIRMWARE_DEADLINE_MS : RESTART_DEADLINE_MS;
}

void FenwaReturnDialog::interrupt()
{
    FenwaSettingDialog::interrupt();
    if (FenwaReturnWait *w = running.load())
        w->cancel();
    else if (sdk)
        sdk->cancel();
}

FenwaRequest FenwaReturnDialog::requestFor(int)
{
    return FenwaRequest(); // rounds of searching, not a command
}

QString FenwaReturnDialog::resultText(int i) const
{
    return results().at(i).detail;
}

QString FenwaReturnDialog::summaryLine(bool stopped, int accepted, int) const
{
    const int n = results().size();
    return stopped ? translate("Stopped: %1 of %2 terminal back", "Stopped: %1 of %2 terminals back", n).arg(accepted).arg(n)
                   : translate("%1 of %2 terminal back", "%1 of %2 terminals back", n).arg(accepted).arg(n);
}

void FenwaReturnDialog::runJobs()
{
    // The records are read here once, before the first round can change them.
    wait = std::make_unique<FenwaReturnWait>(sdk, kind, devices());
    running.store(wait.get());
    QStringList lately;
    const auto show = [&] {
        const int n = wait->size();
        emit _setMessage(lately.isEmpty() ? wait->progress()
                                          : wait->progress() + QLatin1Char('\n') + lately.join(QLatin1Char('\n')));
        emit _setProgress(n > 0 ? float(wait->backCount()) / float(n) : 1.0f);
    };
    show();
    const QPointer<FenwaDeviceModel> table(model);
    wait->run(
        deadlineMs, [this] { return isStopped(); },
        [this, table](const QList<FenwaDevice *> &found) {
            const FenwaHeldDevices held = holdDevices(found);
            const QDateTime at = QDateTime::currentDateTime();
            QMetaObject::invokeMethod(
                this,
                [table, held, at] {
                    if (table)
                        table->mergeRound(*held, at);
                },
                Qt::QueuedConnection);
        },
        [&](int i) {
            lately << QStringLiteral("%1: %2").arg(wait->target(i).label, wait->outcome(i));
            while (lately.size() > kShownLately)
                lately.removeFirst();
            show();
        });
    running.store(nullptr);
    QStringList back;
    int more = 0;
    for (int i = 0; i < wait->size(); ++i) {
        FenwaBatchResult &r = outcomes()[i];
        r.reached = true;
        r.accepted = wait->ok(i);
        r.detail = wait->outcome(i);
        if (!r.accepted)
            continue;
        if (back.size() < kListedBack)
            back << QStringLiteral("%1: %2").arg(r.label, r.detail);
        else
            ++more;
    }
    if (more > 0)
        back << translate("and %1 more").arg(more);
    if (!back.isEmpty())
        setNote(QStringList{translate("Back:")} + back);
}
