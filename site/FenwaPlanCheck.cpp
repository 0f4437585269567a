// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaPlanCheck.h"

#include "link/FenwaDevice.h"

#include <QHash>

namespace FenwaPlan {

QVector<Reading> readingsFor(const Plan &plan, const QList<FenwaDevice *> &found)
{
    QHash<QString, int> rowOf;
    for (int r = 0; r < plan.rows.size(); ++r)
        rowOf.insert(plan.rows[r].mac, r);
    QVector<Reading> out(found.size());
    for (int i = 0; i < found.size(); ++i)
        for (const QString &mac : {FenwaTerminal::normalizeMac(found[i]->macText), FenwaTerminal::linkMacText(found[i])}) {
            const int r = rowOf.value(mac, -1);
            if (r < 0)
                continue;
            out[i].wantSip = out[i].wantSip || needsSip(plan.rows[r]);
            out[i].wantRtp = out[i].wantRtp || needsRtp(plan.rows[r]);
        }
    return out;
}

CheckResult check(const Plan &plan, const QList<FenwaDevice *> &found, const QStringList &own, Segment *segment,
                  bool probe, Check *out)
{
    const QVector<Reading> wanted = readingsFor(plan, found);
    QList<FenwaDevice *> toRead;
    QVector<Reading> readings;
    QVector<int> readAt(found.size(), -1);
    for (int i = 0; i < found.size(); ++i)
        if (wanted[i].wantSip || wanted[i].wantRtp) {
            readAt[i] = toRead.size();
            toRead << found[i];
            readings << wanted[i];
        }
    QStringList why;
    if (!toRead.isEmpty() && !segment->read(toRead, &readings, &why))
        return CheckResult::Stopped;
    QList<Found> current;
    out->unread.clear();
    for (int i = 0; i < found.size(); ++i) {
        const int k = readAt[i];
        if (k < 0) {
            current << Found{found[i], currentValues(found[i])};
            continue;
        }
        const Reading &r = readings[k];
        if (!why.value(k).isEmpty())
            out->unread << QStringLiteral("%1 (%2): %3").arg(found[i]->name, found[i]->macText, why[k]);
        current << Found{found[i], currentValues(found[i], r.sipRead ? r.sip : nullptr, r.rtpRead ? r.rtp : nullptr)};
    }
    const QList<FenwaTerminal::AddressHolder> held = FenwaTerminal::addressHolders({}, own);
    out->preview = preview(plan, current, held);
    const QStringList fresh = newAddresses(out->preview);
    if (!probe || fresh.isEmpty())
        return CheckResult::Done;
    QList<FenwaTerminal::AddressHolder> answers;
    if (!segment->probe(fresh, &answers))
        return CheckResult::ProbeFailed;
    out->preview = preview(plan, current, held + answers);
    return CheckResult::Done;
}

} // namespace FenwaPlan
