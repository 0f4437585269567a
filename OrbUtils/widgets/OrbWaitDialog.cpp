// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbWaitDialog.h"

#include <QCloseEvent>
#include <QtDebug>

namespace {
std::atomic<int> jobsRunning{0};
std::function<void()> beforeJob; // interface thread only
} // namespace

void OrbWaitThread::run()
{
    dialog->run();
    jobsRunning.fetch_sub(1);
}

int OrbWaitDialog::runningJobs()
{
    return jobsRunning.load();
}

void OrbWaitDialog::setBeforeJob(std::function<void()> hook)
{
    beforeJob = std::move(hook);
}

OrbWaitDialog::OrbWaitDialog(QWidget *parent) : OrbDialog(parent)
{
    connect(this, &OrbWaitDialog::_close, this, &OrbWaitDialog::onClose, Qt::AutoConnection);
}

OrbWaitDialog::~OrbWaitDialog()
{
    stopJob();
}

void OrbWaitDialog::startJob()
{
    stopJob();
    if (beforeJob)
        beforeJob();
    auto *t = new OrbWaitThread(this, currentJob.load());
    thread.store(t);
    jobsRunning.fetch_add(1);
    t->start(QThread::InheritPriority);
}

void OrbWaitDialog::stopJob()
{
    OrbWaitThread *t = thread.load();
    if (t == nullptr)
        return;
    t->requestStop();
    interrupt();
    t->wait();
    thread.store(nullptr);
    currentJob.fetch_add(1);
    acceptWhenShown = false;
    delete t;
}

bool OrbWaitDialog::isStopped() const
{
    const OrbWaitThread *t = thread.load();
    return t == nullptr || t->isStopRequested();
}

void OrbWaitDialog::finish()
{
    // The job thread is the current one; its number says which job ends.
    auto *t = qobject_cast<OrbWaitThread *>(QThread::currentThread());
    emit _close(t ? t->jobNumber() : currentJob.load());
}

void OrbWaitDialog::run()
{
    qDebug("OrbWaitDialog run");
}

void OrbWaitDialog::interrupt()
{
}

void OrbWaitDialog::onClose(quint64 job)
{
    if (job != currentJob.load())
        return;
    // Events processed between startJob() and exec() can deliver the close
    // before the dialog is up; exec() would then wait for ever.
    if (!isVisible()) {
        acceptWhenShown = true;
        return;
    }
    accept();
}

void OrbWaitDialog::reject()
{
    stopJob();
    QDialog::reject();
}

void OrbWaitDialog::showEvent(QShowEvent *event)
{
    OrbDialog::showEvent(event);
    if (acceptWhenShown) {
        acceptWhenShown = false;
        QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
    }
}

void OrbWaitDialog::closeEvent(QCloseEvent *event)
{
    stopJob();
    QDialog::closeEvent(event);
}
