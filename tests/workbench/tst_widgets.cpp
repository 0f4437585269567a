// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog kit offscreen: wait-dialog job protocol, toast placement and
// replacement, table copy.
#include "OrbUtils/widgets/OrbProgressDialog.h"
#include "OrbUtils/widgets/OrbTableView.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "OrbUtils/widgets/OrbWaitDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QStandardItemModel>
#include <QTimer>
#include <QtTest>
#include <atomic>

using Cells = QList<QPair<int, int>>;
Q_DECLARE_METATYPE(Cells)

namespace {
// A job of steps that each block until interrupted or their time is over,
// like a command waiting for its reply.
class StepDialog : public OrbProgressDialog
{
public:
    int steps = 1;
    int stepMs = 0;
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    std::atomic<int> stepsDone{0};
    std::atomic<int> interrupts{0};
    std::atomic<bool> returned{false};
    QString messageFromJob;

    void run() override
    {
        const int now = ++running;
        int seen = maxRunning.load();
        while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
        }
        returned = false;
        cut = false;
        for (int i = 0; i < steps; ++i) {
            if (isStopped())
                break;
            if (!messageFromJob.isEmpty())
                emit _setMessage(messageFromJob);
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

QModelIndexList select(QTableView *view, const Cells &cells)
{
    QModelIndexList list;
    view->selectionModel()->clearSelection();
    for (const auto &cell : cells) {
        const QModelIndex index = view->model()->index(cell.first, cell.second);
        view->selectionModel()->select(index, QItemSelectionModel::Select);
        list << index;
    }
    return list;
}
} // namespace

class WidgetsTest : public QObject
{
    Q_OBJECT
private slots:
    void jobFinishedBeforeExecIsAccepted_data();
    void jobFinishedBeforeExecIsAccepted();
    void escapeCutsTheCurrentStepShort();
    void closeStopsTheJob();
    void startJobStopsTheRunningJobFirst();
    void staleFinishDoesNotCloseTheNextJob();
    void progressMessageFromTheJob();
    void toastPlacement_data();
    void toastPlacement();
    void secondToastReplacesFirst();
    void toastSurvivesItsWidget();
    void copyCells_data();
    void copyCells();
};

void WidgetsTest::jobFinishedBeforeExecIsAccepted_data()
{
    QTest::addColumn<bool>("closeDelivered");
    QTest::newRow("close still queued") << false;
    QTest::newRow("close delivered") << true;
}

void WidgetsTest::jobFinishedBeforeExecIsAccepted()
{
    QFETCH(bool, closeDelivered);
    StepDialog dialog;
    dialog.steps = 1;
    dialog.startJob();
    // No event processing while waiting: the close stays queued, as between
    // the callers' startJob() and exec().
    while (!dialog.returned.load())
        QThread::msleep(1);
    if (closeDelivered)
        QCoreApplication::processEvents();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
}

void WidgetsTest::escapeCutsTheCurrentStepShort()
{
    StepDialog dialog;
    dialog.steps = 3;
    dialog.stepMs = 3000;
    bool returnedWhenRejected = false;
    QTimer::singleShot(100, &dialog, [&] {
        QTest::keyClick(&dialog, Qt::Key_Escape);
        returnedWhenRejected = dialog.returned.load();
    });
    QElapsedTimer clock;
    clock.start();
    dialog.startJob();
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(returnedWhenRejected);
    QCOMPARE(dialog.interrupts.load(), 1);
    QCOMPARE(dialog.stepsDone.load(), 1); // the cut step, then the flag ended it
    QVERIFY(clock.elapsed() < 2500);
    QVERIFY(dialog.isStopped());
}

void WidgetsTest::closeStopsTheJob()
{
    StepDialog dialog;
    dialog.steps = 1000;
    dialog.stepMs = 5;
    QTimer::singleShot(50, &dialog, [&] { dialog.close(); });
    dialog.startJob();
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(dialog.returned.load());
    QVERIFY(dialog.stepsDone.load() < 1000);
}

void WidgetsTest::startJobStopsTheRunningJobFirst()
{
    StepDialog dialog;
    dialog.steps = 1;
    dialog.stepMs = 3000;
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
    dialog.steps = 1;
    dialog.startJob();
    while (!dialog.returned.load())
        QThread::msleep(1); // its finish() is queued now
    dialog.stopJob();
    dialog.steps = 1;
    dialog.stepMs = 300;
    QElapsedTimer clock;
    clock.start();
    dialog.startJob();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY2(clock.elapsed() >= 250, "the first job's finish closed the second job's dialog");
}

void WidgetsTest::progressMessageFromTheJob()
{
    StepDialog dialog;
    dialog.messageFromJob = QStringLiteral("step");
    dialog.startJob();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.message(), QStringLiteral("step"));
    QCOMPARE(dialog.size(), QSize(300, 60));
}

void WidgetsTest::toastPlacement_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("x"); // l = margin, r = right margin, c = centre
    QTest::addColumn<QString>("y"); // t = top margin, m = middle, b = bottom margin
    QTest::newRow("pages: top centre") << 33 << "c" << "t";
    QTest::newRow("none: bottom centre") << 0 << "c" << "b";
    QTest::newRow("left top") << (8 | 1) << "l" << "t";
    QTest::newRow("right middle") << (16 | 4) << "r" << "m";
    QTest::newRow("left wins over right") << (8 | 16) << "l" << "b";
    QTest::newRow("top wins over middle") << (1 | 4) << "c" << "t";
    QTest::newRow("untested bits ignored") << (2 | 64) << "c" << "b";
}

void WidgetsTest::toastPlacement()
{
    QFETCH(int, flags);
    QFETCH(QString, x);
    QFETCH(QString, y);
    QWidget page;
    page.resize(640, 300);
    OrbToast toast;
    toast.showText(&page, QStringLiteral("Please input a valid IP address"), flags, 2000);
    OrbToastView *view = toast.view();
    QVERIFY(view);
    QCOMPARE(view->parentWidget(), &page);
    const int vw = view->width(), vh = view->height();
    const int ex = x == QLatin1String("l") ? 10 : x == QLatin1String("r") ? 640 - 10 - vw : (640 - vw) / 2;
    const int ey = y == QLatin1String("t") ? 10 : y == QLatin1String("m") ? (300 - vh) / 2 : 300 - 10 - vh;
    QCOMPARE(view->pos(), QPoint(ex, ey));
}

void WidgetsTest::secondToastReplacesFirst()
{
    QWidget page;
    page.resize(400, 200);
    OrbToast toast;
    toast.showText(&page, QStringLiteral("first"), 33, 300);
    QPointer<OrbToastView> first = toast.view();
    QTest::qWait(150);
    toast.showText(&page, QStringLiteral("second"), 33, 300);
    QVERIFY(first.isNull()); // gone at once
    QPointer<OrbToastView> second = toast.view();
    QCOMPARE(second->text(), QStringLiteral("second"));
    QCOMPARE(page.findChildren<OrbToastView *>().size(), 1);
    // The first notice's time would be over now; the second stays.
    QTest::qWait(200);
    QVERIFY(!second.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(second.isNull(), 1000);
    QCOMPARE(toast.view(), nullptr);
}

void WidgetsTest::toastSurvivesItsWidget()
{
    OrbToast toast;
    auto *page = new QWidget;
    page->resize(200, 100);
    toast.showText(page, QStringLiteral("x"), 0, 100);
    delete page;
    QCOMPARE(toast.view(), nullptr);
    QTest::qWait(200); // the timeout must not touch the deleted view
    toast.hideToast();
}

void WidgetsTest::copyCells_data()
{
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text"); // empty: the clipboard keeps what it had
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("uid and mac of one row") << Cells{{0, 3}, {0, 5}} << ctrl << "uid0\t\tmac0";
    QTest::newRow("two rows, no final line feed") << Cells{{1, 3}, {0, 3}} << ctrl << "uid0\nuid1";
    QTest::newRow("rows start at the smallest column") << Cells{{0, 4}, {1, 5}, {0, 3}} << ctrl
                                                       << "uid0\tname0\n\t\tmac1";
    QTest::newRow("empty check cell is not text") << Cells{{0, 0}, {0, 1}} << ctrl << "!\t1";
    QTest::newRow("nothing selected") << Cells{} << ctrl << "";
    QTest::newRow("ctrl+shift+c is not copy") << Cells{{0, 3}} << int(ctrl | Qt::ShiftModifier) << "";
}

void WidgetsTest::copyCells()
{
    QFETCH(Cells, cells);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QStandardItemModel model(2, 6);
    for (int r = 0; r < 2; ++r) {
        model.setData(model.index(r, 1), QString::number(r + 1));
        model.setData(model.index(r, 3), QStringLiteral("uid%1").arg(r));
        model.setData(model.index(r, 4), QStringLiteral("name%1").arg(r));
        model.setData(model.index(r, 5), QStringLiteral("mac%1").arg(r));
    }
    OrbTableView view;
    view.setModel(&model);
    view.setSelectionMode(QAbstractItemView::MultiSelection);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    select(&view, cells);
    QTest::keyClick(&view, Qt::Key_C, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(QApplication::clipboard()->text(), text.isEmpty() ? QStringLiteral("before") : text);
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
