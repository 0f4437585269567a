// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSettingDialog.h"

#include "OrbUtils/widgets/OrbToast.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaBatch.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "table/FenwaDeviceModel.h"
#include "FenwaReturnDialog.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Failures listed by name; beyond that a count, so the box fits a screen.
const int kListedFailures = 12;
// The one batch running over the main window (interface thread only).
FenwaSettingDialog *runningBatch = nullptr;

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
    resize(420, 60 + buttonRowHeight);
}

FenwaSettingDialog::~FenwaSettingDialog()
{
    stopJob(); // run() reads the subclass's lists
    if (runningBatch == this)
        runningBatch = nullptr;
}

void FenwaSettingDialog::setDevices(const QList<FenwaDevice *> &devices)
{
    batch = devices;
    outcome.clear();
    for (FenwaDevice *device : devices) {
        FenwaBatchResult r;
        r.device = device;
        r.label = QStringLiteral("%1 (%2)").arg(device->name, device->macText);
        r.detail = translate("not tried");
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

FenwaRequest FenwaSettingDialog::requestFor(int)
{
    return FenwaRequest(); // a dialog supplies this or requestsFor
}

QList<FenwaRequest> FenwaSettingDialog::requestsFor(int i)
{
    return {requestFor(i)};
}

void FenwaSettingDialog::replied(int, int, const FenwaReply &) {}

QString FenwaSettingDialog::failureOf(int, int, const FenwaBatch::Result &result) const
{
    return result.failure();
}

const FenwaBatch::Result &FenwaSettingDialog::stepResult(int i, int step) const
{
    return linkBatch->result(entries.at(i).at(step));
}

void FenwaSettingDialog::acceptedBy(int) {}

void FenwaSettingDialog::writeBack()
{
    for (int i = 0; i < outcome.size(); ++i)
        if (outcome[i].accepted)
            acceptedBy(i);
}

bool FenwaSettingDialog::mayHaveChanged(int i) const
{
    const FenwaBatchResult &r = outcome.at(i);
    if (r.accepted || r.unknown)
        return true;
    for (int s = 0; s < stepCount(i); ++s) {
        const FenwaBatch::Result &step = stepResult(i, s);
        if (step.accepted() || step.mayHaveChanged())
            return true;
    }
    return false;
}

QString FenwaSettingDialog::resultText(int i) const
{
    const FenwaBatchResult &r = outcome.at(i);
    return !r.accepted ? r.detail : r.seen ? translate("accepted (seen in search)") : translate("accepted");
}

QString FenwaSettingDialog::summaryLine(bool stopped, int accepted, int untried) const
{
    const int n = outcome.size();
    return stopped ? translate("Stopped: %1 of %2 terminal accepted, %3 not tried",
                               "Stopped: %1 of %2 terminals accepted, %3 not tried", n)
                         .arg(accepted)
                         .arg(n)
                         .arg(untried)
                   : translate("%1 of %2 terminal accepted", "%1 of %2 terminals accepted", n).arg(accepted).arg(n);
}

FenwaSettingDialog *FenwaSettingDialog::running()
{
    return runningBatch;
}

void FenwaSettingDialog::stopWithoutReport()
{
    quiet = true;
    if (isVisible())
        reject(); // stops the job; a batch that has finished keeps its result
}

void FenwaSettingDialog::interrupt()
{
    OrbProgressDialog::interrupt();
    if (linkBatch)
        linkBatch->cancel();
}

void FenwaSettingDialog::prepare()
{
    // Built here, before the job starts: a close that comes before the
    // first send cancels a batch that already exists.
    linkBatch = std::make_unique<FenwaBatch>(sdk);
    QVector<QList<FenwaRequest>> requests;
    for (int i = 0; i < batch.size(); ++i)
        requests << requestsFor(i);
    entries = linkBatch->addEach(batch, requests);
}

void FenwaSettingDialog::reportDone(int done, const QString &under, float partial)
{
    const int n = outcome.size();
    if (done < n && sinceReport.isValid() && sinceReport.elapsed() < 100)
        return;
    sinceReport.start();
    // One terminal: its name, or the line that names it with what it does.
    QString message = n == 1 ? outcome.at(0).label : translate("%1 of %2 done").arg(done).arg(n);
    if (!under.isEmpty())
        message = n == 1 ? under : message + QLatin1Char('\n') + under;
    emit _setMessage(message);
    emit _setProgress(n > 0 ? (float(done) + partial) / float(n) : 1.0f);
}

void FenwaSettingDialog::runJobs()
{
    FenwaBatch &b = *linkBatch;
    // A terminal is done when its last command is settled: accepted, or
    // left untried by one before it that was not.
    QVector<bool> isLast(b.size(), false);
    int done = 0;
    for (const QVector<int> &e : qAsConst(entries))
        if (e.isEmpty())
            ++done;
        else
            isLast[e.last()] = true;
    b.setSettled([this, &isLast, &done](int index) {
        if (isLast[index])
            reportDone(++done);
    });
    reportDone(done);
    b.run([this] { return isStopped(); });
    b.setSettled({}); // it held this function's counters
    for (int i = 0; i < outcome.size(); ++i) {
        FenwaBatchResult &r = outcome[i];
        const QVector<int> &e = entries.at(i);
        r.reached = e.isEmpty() || b.result(e.first()).state != FenwaBatch::NotTried;
        r.accepted = true;
        for (int s = 0; s < e.size(); ++s) {
            const FenwaBatch::Result &result = b.result(e[s]);
            if (result.reply)
                replied(i, s, *result.reply);
            r.unknown = r.unknown || result.mayHaveChanged();
            r.seen = r.seen || result.state == FenwaBatch::Seen;
            if (r.accepted && !result.accepted()) {
                r.accepted = false;
                r.detail = failureOf(i, s, result);
            }
        }
    }
}

void FenwaSettingDialog::run()
{
    runJobs();
    emit _setProgress(1.0f);
    finish();
}

bool FenwaSettingDialog::runRead(QString *why)
{
    if (parentWidget())
        moveToCenter(parentWidget()->window());
    prepare();
    startJob();
    const bool answered = exec() == QDialog::Accepted && !outcome.isEmpty() && outcome[0].accepted;
    if (!answered)
        *why = outcome.isEmpty() || !outcome[0].reached ? translate("stopped") : outcome[0].detail;
    return answered;
}

bool FenwaSettingDialog::runQuietly()
{
    if (parentWidget())
        moveToCenter(parentWidget()->window());
    prepare();
    startJob();
    return exec() == QDialog::Accepted;
}

QString FenwaSettingDialog::report(bool stopped) const
{
    const int accepted = acceptedCount();
    int untried = 0;
    for (const FenwaBatchResult &r : outcome)
        untried += r.reached ? 0 : 1;
    QStringList lines{summaryLine(stopped, accepted, untried)};
    QStringList notDone;
    int more = 0;
    // Those that may have changed first: they are what a stop leaves in doubt.
    for (bool unknown : {true, false}) {
        for (const FenwaBatchResult &r : outcome) {
            if (r.accepted || !r.reached || r.unknown != unknown)
                continue;
            if (notDone.size() == kListedFailures)
                ++more;
            else
                notDone << QStringLiteral("%1: %2").arg(r.label, r.detail);
        }
    }
    if (!notDone.isEmpty())
        lines << QString() << translate("Not done:") << notDone;
    if (more > 0)
        lines << translate("and %1 more").arg(more);
    if (!note.isEmpty())
        lines << QString() << note;
    return lines.join(QLatin1Char('\n'));
}

int FenwaSettingDialog::runBatch(FenwaDeviceModel *model, QWidget *noticeOn, bool setAll)
{
    if (parentWidget())
        moveToCenter(parentWidget()->window());
    prepare();
    FenwaSettingDialog *outer = runningBatch;
    runningBatch = this;
    startJob();
    const int result = exec();
    runningBatch = outer;

    // The job is over: the records are ours to write.
    writeBack();
    const bool stopped = result != QDialog::Accepted;
    QList<FenwaDevice *> changed;
    for (int i = 0; i < outcome.size(); ++i)
        if (changesTerminals() && mayHaveChanged(i))
            changed << outcome[i].device;
    if (setAll) {
        // What is left ticked is what "Set All" will retry: also after a
        // stop, the rows that did not accept, in doubt or untried included.
        for (const FenwaBatchResult &r : outcome)
            r.device->checked = !r.accepted;
    }
    if (model) {
        for (int i = 0; i < outcome.size(); ++i)
            model->setLastResult(outcome[i].device, resultText(i));
        model->setLastBatch(QStringLiteral("%1, %2").arg(windowTitle(),
                                                         QDateTime::currentDateTime().toString(QStringLiteral("HH:mm"))));
        model->refresh();
    }
    if (quiet) // the window is closing: no page reads again
        return result;
    FenwaReturnWait::Kind kind = FenwaReturnWait::Restart;
    QList<FenwaDevice *> restarting;
    if (restartsTerminals(&kind))
        for (int i = 0; i < outcome.size(); ++i)
            if (restarted(i))
                restarting << outcome[i].device;
    bool waitAsked = false;
    if (!stopped && acceptedCount() == outcome.size() && note.isEmpty() && restarting.isEmpty()) {
        showNotice(noticeOn, report(false));
    } else {
        QString text = report(stopped);
        if (!restarting.isEmpty())
            text += QStringLiteral("\n\n")
                    + translate("%1 of them restarts. Wait until it answers again, to see whether it comes back and with which version?",
                                "%1 of them restart. Wait until they answer again, to see which come back and with which version?",
                                restarting.size())
                          .arg(restarting.size());
        FenwaBatchResultDialog box(parentWidget(), text);
        box.setWindowTitle(windowTitle());
        if (!restarting.isEmpty())
            box.offer(translate("Wait for them"));
        if (parentWidget())
            box.moveToCenter(parentWidget()->window());
        box.exec();
        waitAsked = box.taken();
    }
    if (waitAsked)
        waitForReturn(model, noticeOn, kind, restarting);
    // Last: a page that reads its terminal again does so once the operator
    // has seen the outcome (and the terminals are back).
    if (model)
        model->announceChanged(changed);
    return result;
}

void FenwaSettingDialog::waitForReturn(FenwaDeviceModel *model, QWidget *noticeOn, FenwaReturnWait::Kind kind,
                                       const QList<FenwaDevice *> &restarting)
{
    FenwaReturnDialog wait(parentWidget(), sdk, kind, model);
    wait.setDevices(restarting);
    wait.runBatch(model, noticeOn, false);
}

FenwaBatchResultDialog::FenwaBatchResultDialog(QWidget *parent, const QString &text) : OrbDialog(parent)
{
    auto *label = new QLabel(text, this);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse); // names and MACs to copy
    auto *ok = new QPushButton(translate("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 12);
    layout->setSpacing(12);
    layout->addWidget(label);
    auto *buttons = new QHBoxLayout;
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();
    layout->addLayout(buttons);
    ok->setMinimumWidth(100);
    adjustSize();
    setMinimumWidth(360);
}

QString FenwaBatchResultDialog::text() const
{
    return findChild<QLabel *>()->text();
}

QAbstractButton *FenwaBatchResultDialog::offer(const QString &action)
{
    auto *button = new QPushButton(action, this);
    button->setMinimumWidth(100);
    connect(button, &QPushButton::clicked, this, [this] {
        offerTaken = true;
        accept();
    });
    auto *buttons = findChild<QHBoxLayout *>(QStringLiteral("buttons"));
    buttons->insertWidget(1, button); // before OK
    // What the box is there for: Return takes it, Escape closes the box.
    findChild<QPushButton *>(QStringLiteral("ok"))->setDefault(false);
    button->setDefault(true);
    button->setFocus();
    adjustSize();
    return button;
}
