// SPDX-License-Identifier: GPL-3.0-or-later
// The plan's preview at site scale (a thousand rows), and a large plan read
// without stopping the window; offscreen, without any network.
#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "settings/FenwaPlanDialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cJSON.h>

using namespace FenwaPlan;

class PlanDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { loadLanguage(QStringLiteral("/nonexistent/en")); }
    void aThousandRowsOneLineEachProblemsFirst();
    void aLargePlanIsReadWhileTheWindowGoesOn();
};

namespace {
FenwaDevice *terminal(int i)
{
    const uint8_t mac[6] = {0x02, 0xfe, 0, 0, uint8_t(i >> 8), uint8_t(i)};
    const uint8_t address[4] = {10, 1, uint8_t(i >> 8), uint8_t(i)};
    cJSON *json = cJSON_Parse("{\"type\":\"VQ40\",\"ipMode\":\"static\",\"netmask\":\"255.255.0.0\","
                              "\"gateway\":\"10.1.0.1\",\"dns1\":\"10.1.0.1\",\"name\":\"0801\"}");
    FenwaDevice *d = FenwaDevice::fromSearchReply(mac, address, json);
    d->ip = QStringLiteral("10.1.%1.%2").arg(i >> 8).arg(i & 0xff);
    cJSON_Delete(json);
    return d;
}
} // namespace

void PlanDialogTest::aThousandRowsOneLineEachProblemsFirst()
{
    // Every 100th row is refused (an address that is no address), four are
    // in doubt (801 for the terminal's 0801), the last nine not found.
    QByteArray sheet = "mac;name;ip\n";
    QSet<int> refused, doubtful;
    for (int i = 1; i <= 1000; ++i) {
        const bool bad = i % 100 == 0, doubt = i % 250 == 5;
        if (bad)
            refused.insert(i - 1);
        else if (doubt)
            doubtful.insert(i - 1);
        sheet += QStringLiteral("02:fe:00:00:%1:%2;%3;%4\n")
                     .arg(i >> 8, 2, 16, QLatin1Char('0'))
                     .arg(i & 0xff, 2, 16, QLatin1Char('0'))
                     .arg(doubt ? QStringLiteral("801") : QStringLiteral("Room %1").arg(i))
                     .arg(bad ? QStringLiteral("10.1.999.1") : QStringLiteral("10.1.%1.%2").arg(i >> 8).arg(i & 0xff))
                     .toUtf8();
    }
    Plan plan;
    QString error;
    QVERIFY2(read(sheet, &plan, &error), qPrintable(error));
    plan.path = QStringLiteral("/site/plans/hall.csv");
    QList<Found> found;
    for (int i = 1; i <= 990; ++i) {
        FenwaDevice *d = terminal(i);
        found << Found{d, currentValues(d)};
    }
    FenwaDevice *outside = terminal(2000);
    found << Found{outside, currentValues(outside)};
    const Preview preview = FenwaPlan::preview(plan, found, {});

    for (const bool restore : {false, true}) {
        FenwaPlanDialog dialog(nullptr, nullptr, nullptr, plan, preview, restore);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.rowCount(), 1000);
        // One line a row: forty rows fit where three did.
        QTableView *view = dialog.view();
        QVERIFY(view->verticalHeader()->defaultSectionSize() < 2 * view->fontMetrics().height());
        QVERIFY2(view->rowAt(view->viewport()->height() - 1) > 10,
                 qPrintable(QStringLiteral("%1 px: row %2").arg(view->viewport()->height()).arg(view->rowAt(view->viewport()->height() - 1))));
        // What needs a look first: refused, in doubt, not found.
        const QList<int> shown = dialog.shownRows();
        QCOMPARE(shown.size(), 1000);
        const int looks = refused.size() + doubtful.size() + 9;
        for (int k = 0; k < shown.size(); ++k) {
            const Outcome o = dialog.status(shown[k]).outcome;
            const Outcome want = k < refused.size()                      ? Outcome::Refused
                                 : k < refused.size() + doubtful.size() ? Outcome::Doubtful
                                 : k < looks                            ? Outcome::NotFound
                                                                        : Outcome::Ready;
            QCOMPARE(int(o), int(want));
        }
        dialog.setProblemsOnly(true);
        QCOMPARE(dialog.shownRows().size(), looks);
        dialog.setProblemsOnly(false);
        // A row in doubt starts unticked and can be ticked on purpose; a
        // refused one cannot.
        const int doubt = *doubtful.begin(), bad = *refused.begin();
        QVERIFY(!dialog.isTicked(doubt) && !dialog.isTicked(bad) && dialog.isTicked(0));
        dialog.setTicked(doubt, true);
        dialog.setTicked(bad, true);
        QVERIFY(dialog.isTicked(doubt) && !dialog.isTicked(bad) && dialog.canApply());
        // The changes and the reason, in the pane below as in the tooltip.
        dialog.select(doubt);
        const QString details = dialog.findChild<QPlainTextEdit *>()->toPlainText();
        QCOMPARE(details, dialog.detailsText(doubt));
        QVERIFY2(details.contains(QStringLiteral("name: 0801 -> 801")) && details.contains(QStringLiteral("lost zeros")),
                 qPrintable(details));
        QVERIFY(dialog.detailsText(bad).contains(QStringLiteral("10.1.999.1")));
        QVERIFY2(dialog.summaryText().startsWith(QStringLiteral("Terminals in the plan: 1000 · ready: ")),
                 qPrintable(dialog.summaryText()));
        // A restore shows its row, not the rest of the site.
        const bool others = dialog.findChild<QLabel *>()->text().contains(QStringLiteral("Found but not in the plan: 1"));
        QCOMPARE(others, !restore);
        QCOMPARE(dialog.suggestedResultPath(), QStringLiteral("/site/plans/hall-result.csv"));
    }
    for (const Found &f : found)
        f.device->release();
}

void PlanDialogTest::aLargePlanIsReadWhileTheWindowGoesOn()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // Large enough that reading takes a while, small enough for a sanitized build.
    QByteArray sheet = "mac,name\n";
    for (int i = 1; i <= 20000; ++i)
        sheet += QByteArray("02:fe:00:") + QByteArray::number(0x10000000 + i, 16).right(6).insert(4, ':').insert(2, ':')
                 + ",T\n";
    file.write(sheet);
    file.close();
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    FenwaPlanReadDialog dialog(nullptr, path);
    Plan plan;
    QString error;
    QVERIFY2(dialog.readPlan(&plan, &error), qPrintable(error));
    QCOMPARE(plan.rows.size(), 20000);
    QVERIFY2(ticks > 1, "the window's events waited for the read");
    // A refusal comes back with its reason.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("name\nx\n") > 0);
    file.close();
    FenwaPlanReadDialog again(nullptr, path);
    QVERIFY(!again.readPlan(&plan, &error));
    QVERIFY2(error.contains(QStringLiteral("no column \"mac\"")), qPrintable(error));
}

QTEST_MAIN(PlanDialogTest)
#include "tst_plan_dialog.moc"
