// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a site plan (a sheet or a site file): read or refused, never
// a crash; a plan that reads has a valid MAC per row, one per row unless a
// site file's terminals shared it (those rows are marked), no value with a
// control character, and its result sheet reads back to the same rows and
// values.
#include "link/FenwaTerminal.h"
#include "site/FenwaPlan.h"

#include <QSet>
#include <cstdlib>

using namespace FenwaPlan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Plan plan;
    QString error;
    if (!read(QByteArray(reinterpret_cast<const char *>(data), int(size)), &plan, &error)) {
        if (error.isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    QSet<QString> macs;
    for (const Row &row : plan.rows) {
        if (!FenwaTerminal::macRefusal(row.mac).isEmpty() || (macs.contains(row.mac) && row.sameMac.isEmpty()))
            std::abort();
        macs.insert(row.mac);
        for (const QString &v : row.values)
            for (const QChar c : v)
                if (c.category() == QChar::Other_Control)
                    std::abort();
    }
    Plan again;
    if (!read(resultSheet(plan, {}), &again, &error) || again.rows.size() != plan.rows.size())
        std::abort();
    for (int i = 0; i < plan.rows.size(); ++i) {
        const Row &a = plan.rows[i], &b = again.rows[i];
        if (a.mac != b.mac)
            std::abort();
        if (!a.problems.isEmpty())
            continue;
        for (auto it = a.values.constBegin(); it != a.values.constEnd(); ++it)
            if (!it.value().isEmpty() && b.values.value(it.key()) != it.value())
                std::abort();
    }
    return 0;
}
