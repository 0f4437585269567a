// SPDX-License-Identifier: GPL-3.0-or-later
// bench_plan_check [ROWS]: how long a large plan takes to read and check,
// with no network: a sheet of ROWS rows (default 400,000; the file stays
// under the 8 MiB cap) read as "Open plan..." and fenwa-cli read it, then
// compared with 1000 found terminals. Two sheets: names only, and static
// addresses (two thirds as many rows; every row goes through the address
// rules). Prints the median
// of three runs of each step, the CSV parse alone as the baseline in the
// same run, and the time for an eighth of the rows: a check that grows with
// the rows takes about eight times as long for eight times as many.
#include "link/FenwaDevice.h"
#include "site/FenwaCsv.h"
#include "site/FenwaPlanRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cJSON.h>
#include <cstdio>
#include <functional>

namespace {
QString macOf(int i)
{
    return QString::asprintf("02:fe:%02x:%02x:%02x:%02x", (i >> 24) & 0xff, (i >> 16) & 0xff, (i >> 8) & 0xff, i & 0xff);
}

QByteArray sheet(int rows, bool addresses)
{
    QByteArray out = addresses ? "mac,ip\n" : "mac,name\n";
    out.reserve(rows * 32);
    for (int i = 1; i <= rows; ++i) {
        out += macOf(i).toLatin1();
        out += addresses ? QString::asprintf(",10.%d.%d.%d\n", (i >> 16) & 0xff, (i >> 8) & 0xff, i & 0xff).toLatin1()
                         : QByteArray(",T\n");
    }
    return out;
}

double medianMs(const std::function<void()> &run)
{
    QList<double> ms;
    for (int k = 0; k < 3; ++k) {
        QElapsedTimer t;
        t.start();
        run();
        ms << t.nsecsElapsed() / 1e6;
    }
    std::sort(ms.begin(), ms.end());
    return ms[1];
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 400000;
    if (rows < 8 || rows > 1000000) {
        std::fprintf(stderr, "usage: bench_plan_check [ROWS 8-1000000]\n");
        return 2;
    }
    // The terminals a search found: the plan's first thousand.
    QList<FenwaPlan::Found> found;
    cJSON *json = cJSON_Parse("{\"type\":\"VQ40\",\"ipMode\":\"static\",\"netmask\":\"255.0.0.0\","
                              "\"gateway\":\"10.0.0.1\",\"dns1\":\"10.0.0.1\",\"name\":\"T\"}");
    for (int i = 1; i <= 1000; ++i) {
        const uint8_t mac[6] = {0x02, 0xfe, uint8_t(i >> 24), uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
        const uint8_t address[4] = {10, 200, uint8_t(i >> 8), uint8_t(i)};
        FenwaDevice *d = FenwaDevice::fromSearchReply(mac, address, json);
        d->ip = QString::asprintf("10.200.%d.%d", i >> 8, i & 0xff);
        found << FenwaPlan::Found{d, FenwaPlan::currentValues(d)};
    }
    cJSON_Delete(json);
    for (const bool addresses : {false, true}) {
        double eighth = 0;
        // Addresses make longer lines: two thirds of the rows stay under the cap.
        const int most = addresses ? rows * 2 / 3 : rows;
        for (const int n : {most / 8, most}) {
            const QByteArray bytes = sheet(n, addresses);
            QList<FenwaCsv::Record> records;
            char separator;
            QString error;
            const double parse = medianMs([&] { FenwaCsv::read(bytes, &records, &separator, &error); });
            FenwaPlan::Plan plan;
            bool ok = true;
            const double read = medianMs([&] { ok = FenwaPlan::read(bytes, &plan, &error); });
            if (!ok) {
                std::fprintf(stderr, "plan refused: %s\n", error.toLocal8Bit().constData());
                return 1;
            }
            FenwaPlan::Preview preview;
            const double check = medianMs([&] { preview = FenwaPlan::preview(plan, found, {}); });
            if (n == most / 8)
                eighth = read + check;
            std::printf("%-15s %7d rows %5.2f MiB: parse %7.1f ms (baseline), read %7.1f ms (%.1fx the parse), "
                        "preview %7.1f ms, read+preview %7.1f ms%s\n",
                        addresses ? "static addresses" : "names", n, bytes.size() / 1048576.0, parse, read, read / parse,
                        check, read + check,
                        n == most ? QString::asprintf(" (%.1fx the eighth)", (read + check) / eighth).toLatin1().constData()
                                  : "");
            if (preview.items.size() != n)
                return 1;
        }
    }
    for (const FenwaPlan::Found &f : found)
        f.device->release();
    return 0;
}
