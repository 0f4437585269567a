// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog kit offscreen: wait-dialog job protocol, toast replacement,
// table copy.
#include "OrbUtils/widgets/OrbProgressDialog.h"
#include "OrbUtils/widgets/OrbTableView.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "OrbUtils/widgets/OrbWaitDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QtTest>
#include <atomic>

using Cells = QList<QPair<int, int>>;

namespace {
// A job of steps that each block until interrupted or their time is over,
// like a command waiting for its reply.
class StepDialog : public OrbProgressDialog
{
public:
    int steps = 1;
    int stepMs = 0;
    std::atomic<int> running{0}, maxRunning{0}, stepsDone{0}, interrupts{0};
    std::atomic<bool> returned{false};

    void run() override
    {
        maxRunning = std::max(maxRunning.load(), ++running);
        returned = false;
        cut = false;
        for (int i = 0; i < steps && !isStopped(); ++i) {
            emit _setMessage(QStringLiteral("step %1").arg(i + 1));
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < stepMs && !cut.load())
                QThread::msleep(1);
            cut = false;
            ++stepsDone;
        }
        --running;
        returned = true;
        finish();
    }
    void interrupt() override
    {
        ++interrupts;
        cut = true;
    }

private:
    std::atomic<bool> cut{false};
};
} // namespace

class WidgetsTest : public QObject
{
    Q_OBJECT
private slots:
    void jobFinishedBeforeExecIsAccepted();
    void escapeOrCloseCutsTheCurrentStepAndStops();
    void startJobStopsTheRunningJobFirst();
    void staleFinishDoesNotCloseTheNextJob();
    void secondToastReplacesFirstAndNoneOutlivesItsWidget();
    void copyCells();
};

void WidgetsTest::jobFinishedBeforeExecIsAccepted()
{
    for (const bool closeDelivered : {false, true}) {
        StepDialog dialog;
        dialog.startJob();
        // No event processing while waiting: the close stays queued, as between
        // the callers' startJob() and exec().
        while (!dialog.returned.load())
            QThread::msleep(1);
        if (closeDelivered)
            QCoreApplication::processEvents();
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(dialog.message(), QStringLiteral("step 1")); // the job's own message
    }
}

void WidgetsTest::escapeOrCloseCutsTheCurrentStepAndStops()
{
    for (const int how : {0, 1, 2}) { // Escape, a close, the Stop button
        StepDialog dialog;
        dialog.steps = 3;
        dialog.stepMs = 60000;
        bool returnedWhenRejected = false;
        QTimer::singleShot(100, &dialog, [&] {
            if (how == 0)
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else if (how == 1)
                dialog.close();
            else
                QTest::mouseClick(dialog.stopButton(), Qt::LeftButton);
            returnedWhenRejected = dialog.returned.load();
        });
        dialog.startJob();
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(returnedWhenRejected);
        QCOMPARE(dialog.interrupts.load(), 1);
        QCOMPARE(dialog.stepsDone.load(), 1); // the cut step, then the flag ended it
        QVERIFY(dialog.isStopped());
    }
}

void WidgetsTest::startJobStopsTheRunningJobFirst()
{
    StepDialog dialog;
    dialog.stepMs = 60000;
    dialog.startJob();
    QTRY_COMPARE(dialog.running.load(), 1);
    dialog.stepMs = 0;
    dialog.startJob();
    QCOMPARE(dialog.interrupts.load(), 1);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.maxRunning.load(), 1);
    QCOMPARE(dialog.stepsDone.load(), 2);
}

void WidgetsTest::staleFinishDoesNotCloseTheNextJob()
{
    StepDialog dialog;
    dialog.startJob();
    while (!dialog.returned.load())
        QThread::msleep(1); // its finish() is queued now
    dialog.stopJob();
    dialog.stepMs = 300;
    dialog.startJob();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY2(dialog.stepsDone.load() == 2, "the first job's finish closed the second job's dialog");
}

void WidgetsTest::secondToastReplacesFirstAndNoneOutlivesItsWidget()
{
    QWidget page;
    OrbToast toast;
    toast.showText(&page, QStringLiteral("first"), 33, 300);
    QPointer<OrbToastView> first = toast.view();
    toast.showText(&page, QStringLiteral("second"), 33, 300);
    QVERIFY(first.isNull()); // gone at once
    QCOMPARE(page.findChildren<OrbToastView *>().size(), 1);

    auto *gone = new QWidget;
    toast.showText(gone, QStringLiteral("x"), 0, 100);
    delete gone;
    QCOMPARE(toast.view(), nullptr);
    QTest::qWait(200); // the timeout must not touch the deleted view
    toast.hideToast();
}

void WidgetsTest::copyCells()
{
    QStandardItemModel model(2, 6);
    for (int r = 0; r < 2; ++r) {
        model.setData(model.index(r, 1), QString::number(r + 1));
        model.setData(model.index(r, 3), QStringLiteral("uid%1").arg(r));
        model.setData(model.index(r, 4), QStringLiteral("name%1").arg(r));
        model.setData(model.index(r, 5), QStringLiteral("mac%1").arg(r));
    }
    const int ctrl = Qt::ControlModifier;
    const struct {
        Cells cells;
        int modifiers;
        const char *text; // empty: the clipboard keeps what it had
    } cases[] = {
        {{{0, 3}, {0, 5}}, ctrl, "uid0\t\tmac0"},                  // uid and mac of one row
        {{{0, 4}, {1, 5}, {0, 3}}, ctrl, "uid0\tname0\n\t\tmac1"}, // rows start at the smallest column
        {{{0, 0}, {0, 1}}, ctrl, "!\t1"},                          // an empty check cell is no text
        {{}, ctrl, ""},                                            // nothing selected
        {{{0, 3}}, int(ctrl | Qt::ShiftModifier), ""},             // Ctrl+Shift+C is no copy
    };
    for (const auto &c : cases) {
        OrbTableView view;
        view.setModel(&model);
        view.setSelectionMode(QAbstractItemView::MultiSelection);
        QApplication::clipboard()->setText(QStringLiteral("before"));
        for (const auto &cell : c.cells)
            view.selectionModel()->select(model.index(cell.first, cell.second), QItemSelectionModel::Select);
        QTest::keyClick(&view, Qt::Key_C, Qt::KeyboardModifiers(c.modifiers));
        QCOMPARE(QApplication::clipboard()->text(), QLatin1String(*c.text ? c.text : "before"));
    }
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
