// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSettingDialog.h"

#include "OrbUtils/widgets/OrbToast.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "table/FenwaDeviceModel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Failures listed by name; beyond that a count, so the box fits a screen.
const int kListedFailures = 12;

void showNotice(QWidget *on, const QString &text)
{
    if (on == nullptr)
        return;
    auto *toast = on->findChild<OrbToast *>(QStringLiteral("batchNotice"), Qt::FindDirectChildrenOnly);
    if (toast == nullptr) {
        toast = new OrbToast(on);
        toast->setObjectName(QStringLiteral("batchNotice"));
    }
    toast->showText(on, text, OrbToast::Top | OrbToast::HCenter, 2000);
}
} // namespace

FenwaSettingDialog::FenwaSettingDialog(QWidget *parent, FenwaSDK *sdk, const QString &title)
    : OrbProgressDialog(parent), sdk(sdk)
{
    setWindowTitle(title);
    setBusy(false);
    resize(420, 60);
}

FenwaSettingDialog::~FenwaSettingDialog()
{
    stopJob(); // run() reads the subclass's lists
}

void FenwaSettingDialog::setDevices(const QList<FenwaDevice *> &devices)
{
    batch = devices;
    outcome.clear();
    for (FenwaDevice *device : devices) {
        FenwaBatchResult r;
        r.device = device;
        r.label = QStringLiteral("%1 (%2)").arg(device->name, device->macText);
        outcome.append(r);
    }
}

int FenwaSettingDialog::acceptedCount() const
{
    int n = 0;
    for (const FenwaBatchResult &r : outcome)
        n += r.accepted ? 1 : 0;
    return n;
}

void FenwaSettingDialog::acceptedBy(int) {}

void FenwaSettingDialog::interrupt()
{
    OrbProgressDialog::interrupt();
    if (sdk)
        sdk->cancel();
}

void FenwaSettingDialog::reportStep(int i, float within, const QString &what)
{
    const int n = outcome.size();
    QString message = translate("%1 of %2: %3").arg(i + 1).arg(n).arg(outcome.at(i).label);
    if (!what.isEmpty())
        message += QStringLiteral(" - ") + what;
    emit _setMessage(message);
    emit _setProgress((float(i) + within) / float(n));
}

void FenwaSettingDialog::run()
{
    const int n = outcome.size();
    for (int i = 0; i < n && !isStopped(); ++i) {
        FenwaBatchResult &r = outcome[i];
        reportStep(i, 0.0f, QString());
        QString detail;
        const int rc = sendTo(i, &detail);
        r.reached = true;
        r.accepted = rc == 0;
        if (!r.accepted && isStopped())
            detail = translate("stopped");
        else if (!r.accepted && detail.isEmpty() && sdk)
            detail = sdk->lastFailure(); // read on the thread that sent, before the next command
        r.detail = detail;
    }
    emit _setProgress(1.0f);
    finish();
}

bool FenwaSettingDialog::runRead(QString *why)
{
    if (parentWidget())
        moveToCenter(parentWidget()->window());
    startJob();
    const bool answered = exec() == QDialog::Accepted && !outcome.isEmpty() && outcome[0].accepted;
    if (!answered)
        *why = outcome.isEmpty() || !outcome[0].reached ? translate("stopped") : outcome[0].detail;
    return answered;
}

int FenwaSettingDialog::runBatch(FenwaDeviceModel *model, QWidget *noticeOn, bool setAll)
{
    if (parentWidget())
        moveToCenter(parentWidget()->window());
    startJob();
    const int result = exec();

    // The job is over: the records are ours to write.
    for (int i = 0; i < outcome.size(); ++i)
        if (outcome[i].accepted)
            acceptedBy(i);
    const int n = outcome.size(), accepted = acceptedCount();
    if (result != QDialog::Accepted) {
        showNotice(noticeOn, translate("Stopped: %1 of %2 terminals accepted").arg(accepted).arg(n));
        return result;
    }
    if (setAll) {
        // What is left ticked is what "Set All" will retry.
        for (const FenwaBatchResult &r : outcome)
            r.device->checked = !r.accepted;
    }
    if (model)
        model->refresh();
    const QString count = translate("%1 of %2 terminals accepted").arg(accepted).arg(n);
    if (accepted == n && note.isEmpty()) {
        showNotice(noticeOn, count);
        return result;
    }
    QStringList lines{count};
    if (accepted < n)
        lines << QString() << translate("Not done:");
    int listed = 0;
    for (const FenwaBatchResult &r : outcome) {
        if (r.accepted)
            continue;
        if (listed++ == kListedFailures) {
            lines << translate("and %1 more").arg(n - accepted - kListedFailures);
            break;
        }
        lines << QStringLiteral("%1: %2").arg(r.label, r.detail);
    }
    if (!note.isEmpty())
        lines << QString() << note;
    FenwaBatchResultDialog box(parentWidget(), lines.join(QLatin1Char('\n')));
    box.setWindowTitle(windowTitle());
    if (parentWidget())
        box.moveToCenter(parentWidget()->window());
    box.exec();
    return result;
}

FenwaBatchResultDialog::FenwaBatchResultDialog(QWidget *parent, const QString &text) : OrbDialog(parent)
{
    auto *label = new QLabel(text, this);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse); // names and MACs to copy
    auto *ok = new QPushButton(translate("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 12);
    layout->setSpacing(12);
    layout->addWidget(label);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    ok->setMinimumWidth(100);
    adjustSize();
    setMinimumWidth(360);
}

QString FenwaBatchResultDialog::text() const
{
    return findChild<QLabel *>()->text();
}
