// SPDX-License-Identifier: GPL-3.0-or-later
// The device table at site scale, offscreen and without a network: a
// thousand records (as a search of a thousand terminals gives them) filled
// into the workbench's table, sorted by every column that sorts, both ways,
// and filtered as an installer types, and live search rounds merged into it
// (a tenth of the terminals silent, a few moved, a few new); each step timed
// until the table has painted it. A step under 100 ms is no visible pause.
// The round's baseline is filling the table afresh with the same records.
// Usage: bench_table [--terminals 1000] [--rounds 5]
#include "OrbUtils/widgets/OrbTableView.h"
#include "link/FenwaDevice.h"
#include "table/FenwaDeviceModel.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPixmap>
#include <algorithm>
#include <cJSON.h>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

QList<FenwaDevice *> records(int count)
{
    QList<FenwaDevice *> out;
    for (int i = 0; i < count; ++i) {
        const uint8_t mac[6] = {0x02, 0xfe, 0, 0, uint8_t(i >> 8), uint8_t(i)};
        const uint8_t ip[4] = {10, uint8_t(i >> 8), uint8_t(i), 1};
        cJSON *json = cJSON_CreateObject();
        cJSON_AddStringToObject(json, "name", QString::asprintf("Terminal-%04d", (i * 7919) % count).toUtf8());
        cJSON_AddStringToObject(json, "mac", QString::asprintf("02:fe:00:00:%02x:%02x", i >> 8, i & 0xff).toUtf8());
        cJSON_AddStringToObject(json, "ip", QString::asprintf("10.%d.%d.1", i >> 8, i & 0xff).toUtf8());
        cJSON_AddStringToObject(json, "type", i % 2 ? "VQ40" : "VQT40");
        cJSON_AddStringToObject(json, "version", i % 3 ? "2.4.1" : "2.5.0");
        cJSON_AddStringToObject(json, "uid", QString::asprintf("FW5A%06d", (i * 104729) % 1000003).toUtf8());
        cJSON_AddStringToObject(json, "account", "admin");
        out << FenwaDevice::fromSearchReply(mac, ip, json);
        cJSON_Delete(json);
    }
    return out;
}

// Runs step, then lets the view lay out and paint; the whole in ms.
template <typename Step>
double timed(OrbTableView *view, Step step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    QApplication::processEvents();
    view->viewport()->grab();
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Series {
    const char *what;
    std::vector<double> ms;
};

void print(const Series &s)
{
    std::vector<double> v = s.ms;
    std::sort(v.begin(), v.end());
    if (v.empty())
        return;
    std::printf("  %-34s median %7.1f ms   max %7.1f ms   (%zu steps)\n", s.what, v[v.size() / 2], v.back(), v.size());
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    int count = 1000, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--terminals") == 0)
            count = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    OrbTableView view;
    view.resize(1600, 900);
    FenwaDeviceModel *model = new FenwaDeviceModel(&view);
    view.setSortingEnabled(true);
    view.show();
    QApplication::processEvents();

    Series fill{"fill with a search's records", {}}, sort{"sort by a column, either way", {}},
        filter{"filter, per key typed or erased", {}}, merge{"merge a live round", {}};
    for (int r = 0; r < rounds; ++r) {
        // Rounds on the table as the last search left it: a tenth silent,
        // ten at a new address, ten new terminals.
        for (int live = 0; live < 3; ++live) {
            QList<FenwaDevice *> round = records(count + 10);
            for (int i = 0; i < round.size(); ++i) {
                if (i % 10 == live)
                    round[i]->release(), round[i] = nullptr;
                else if (i < 10)
                    round[i]->ip = QStringLiteral("10.200.0.%1").arg(i + live);
            }
            round.removeAll(nullptr);
            merge.ms.push_back(timed(&view, [&] { model->mergeRound(round, QDateTime::currentDateTime()); }));
            for (FenwaDevice *d : round)
                d->release();
        }
        QList<FenwaDevice *> found = records(count);
        fill.ms.push_back(timed(&view, [&] { model->setDevices(found); }));
        for (FenwaDevice *d : found)
            d->release(); // the model holds them
        for (int column = 0; column < FenwaDeviceModel::ColumnCount; ++column) {
            if (!FenwaDeviceModel::isSortable(column))
                continue;
            for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder})
                sort.ms.push_back(timed(&view, [&] { view.sortByColumn(column, order); }));
        }
        for (const QString &typed : {QStringLiteral("Terminal-04"), QStringLiteral("02:fe:00:00:01"),
                                     QStringLiteral("2.5.0")}) {
            for (int n = 1; n <= typed.size(); ++n)
                filter.ms.push_back(timed(&view, [&] { model->setFilter(typed.left(n)); }));
            for (int n = typed.size() - 1; n >= 0; --n)
                filter.ms.push_back(timed(&view, [&] { model->setFilter(typed.left(n)); }));
        }
    }
    std::printf("table of %d terminals, offscreen, %d rounds (each step until painted)\n", count, rounds);
    print(fill);
    print(sort);
    print(filter);
    print(merge);
    return 0;
}
