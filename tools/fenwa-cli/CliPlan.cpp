// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliPlan.h"

#include "link/FenwaAddressProbe.h"
#include "link/FenwaBatch.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"
#include "site/FenwaPlanRun.h"

#include <QDateTime>
#include <QFile>
#include <QVector>
#include <algorithm>
#include <cJSON.h>

namespace {
using namespace FenwaPlan;

QString printJson(cJSON *obj)
{
    char *text = cJSON_PrintUnformatted(obj);
    const QString line = QString::fromUtf8(text ? text : "{}");
    cJSON_free(text);
    cJSON_Delete(obj);
    return line;
}

void addText(cJSON *obj, const char *key, const QString &value)
{
    cJSON_AddStringToObject(obj, key, value.toUtf8().constData());
}

// A value as printed: secrets never in clear, on stdout as anywhere.
QString printed(int field, const QString &value)
{
    return isSecret(field) && !value.isEmpty() ? QStringLiteral("***") : value;
}

// Window 1 is the one-after-the-other way, with no resends: a benchmark's
// baseline.
void useWindow(FenwaBatch *batch, int window)
{
    if (window > 0)
        batch->setWindow(window);
    if (window == 1)
        batch->setResends(false);
}

// Reads every terminal's SIP accounts and/or channels, as readings[i] asks,
// in one batch. Returns 0 when every read was accepted; why[i] says what
// was not.
int readAll(FenwaSDK *sdk, int window, const QList<FenwaDevice *> &devices, QVector<Reading> *readings,
            QStringList *why)
{
    FenwaBatch batch(sdk);
    useWindow(&batch, window);
    QVector<QList<FenwaRequest>> requests;
    for (const Reading &r : qAsConst(*readings))
        requests << r.requests();
    const QVector<QVector<int>> entries = batch.addEach(devices, requests);
    batch.run();
    int status = 0;
    for (int i = 0; i < devices.size(); ++i) {
        why->append(QString());
        for (int s = 0; s < entries[i].size(); ++s) {
            const FenwaBatch::Result &result = batch.result(entries[i][s]);
            (*readings)[i].take(s, result);
            if (!result.accepted() && why->last().isEmpty()) {
                why->last() = (*readings)[i].failure(s, result);
                status = -1;
            }
        }
    }
    return status;
}

cJSON *itemJson(const Plan &plan, const Item &item)
{
    cJSON *o = cJSON_CreateObject();
    cJSON_AddNumberToObject(o, plan.siteFile ? "terminal" : "line", plan.rows[item.row].line);
    addText(o, "mac", item.mac);
    if (item.device)
        addText(o, "name", item.device->name);
    addText(o, "status", !item.problems.isEmpty() ? QStringLiteral("refused")
                         : !item.device           ? QStringLiteral("not found")
                         : item.changes.isEmpty() ? QStringLiteral("unchanged")
                                                  : QStringLiteral("ok"));
    cJSON *changes = cJSON_AddObjectToObject(o, "changes");
    for (const Change &c : item.changes) {
        cJSON *pair = cJSON_AddObjectToObject(changes, columnName(c.field).toUtf8().constData());
        addText(pair, "current", printed(c.field, c.current));
        addText(pair, "planned", printed(c.field, c.planned));
    }
    if (!item.problems.isEmpty()) {
        cJSON *problems = cJSON_AddArrayToObject(o, "problems");
        for (const QString &p : item.problems)
            cJSON_AddItemToArray(problems, cJSON_CreateString(p.toUtf8().constData()));
    }
    return o;
}

int backup(FenwaSDK *sdk, const CliRequest &r, const QList<FenwaDevice *> &devices, QTextStream &out,
           QTextStream &err)
{
    int status = 0;
    QStringList missing = r.macs;
    QList<FenwaDevice *> targets;
    for (FenwaDevice *d : devices) {
        const QString mac = FenwaTerminal::normalizeMac(d->macText);
        if (r.all ? !FenwaTerminal::isSupportedType(d->type) : !r.macs.contains(mac))
            continue;
        missing.removeAll(mac);
        targets << d;
    }
    Reading both;
    both.wantSip = both.wantRtp = true;
    QVector<Reading> readings(targets.size(), both);
    QStringList why;
    readAll(sdk, r.window, targets, &readings, &why);
    QList<SiteTerminal> terminals;
    for (int i = 0; i < targets.size(); ++i) {
        if (why[i].isEmpty()) {
            terminals << SiteTerminal{targets[i], readings[i].sip, readings[i].rtp};
        } else {
            err << "fenwa-cli: backup: " << targets[i]->name << " (" << targets[i]->macText << "): " << why[i] << "\n";
            status = 1;
        }
    }
    for (const QString &mac : missing) {
        err << "fenwa-cli: backup: " << mac << ": not found by the search\n";
        status = 1;
    }
    out << QString::fromUtf8(siteFile(terminals, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)));
    err << "fenwa-cli: backup: " << terminals.size() << (terminals.size() == 1 ? " terminal" : " terminals")
        << " written\n";
    if (terminals.isEmpty())
        status = 1;
    return status;
}
} // namespace

bool loadCliPlan(const CliRequest &r, Plan *plan, QString *error)
{
    if (!readFile(r.args.value(1), plan, error))
        return false;
    if (!r.restoreFrom.isEmpty())
        return restoreOnto(plan, r.restoreFrom, r.restoreOnto, r.takeMac, error);
    return true;
}

int runCliSite(FenwaSDK *sdk, const CliRequest &r, const Plan &plan, QTextStream &out, QTextStream &err)
{
    if (r.timeoutMs >= 0)
        sdk->setReplyTimeout(r.timeoutMs);
    QList<FenwaDevice *> devices;
    sdk->search(&devices, r.searchMs);
    FenwaTerminal::keepOnePerTerminal(&devices);
    if (devices.isEmpty())
        err << "fenwa-cli: no terminal answered the search on "
            << (sdk->currentAdapter() ? sdk->currentAdapter()->name : "no interface") << " within " << r.searchMs
            << " ms\n";
    int status = 0;
    if (r.command == QLatin1String("backup")) {
        status = backup(sdk, r, devices, out, err);
    } else {
        // The terminals' SIP accounts and channels are read only where the
        // plan sets any of them.
        QVector<Reading> readings(devices.size());
        for (int i = 0; i < devices.size(); ++i)
            for (const Row &row : plan.rows)
                if (rowIsFor(row, devices[i])) {
                    readings[i].wantSip = readings[i].wantSip || needsSip(row);
                    readings[i].wantRtp = readings[i].wantRtp || needsRtp(row);
                }
        QStringList why;
        readAll(sdk, r.window, devices, &readings, &why);
        QList<Found> found;
        for (int i = 0; i < devices.size(); ++i) {
            FenwaDevice *d = devices[i];
            if (!why[i].isEmpty())
                err << "fenwa-cli: plan: " << d->name << " (" << d->macText << "): " << why[i] << "\n";
            const Reading &r = readings[i];
            found << Found{d, currentValues(d, r.sipRead ? r.sip : nullptr, r.rtpRead ? r.rtp : nullptr)};
        }
        // This PC's addresses, then whatever answers a probe for the
        // addresses the plan hands out anew.
        QList<FenwaTerminal::AddressHolder> held =
            FenwaTerminal::addressHolders({}, thisPcAddresses(sdk->currentAdapter()));
        Preview p = preview(plan, found, held);
        const QStringList fresh = newAddresses(p);
        if (!r.noProbe && !fresh.isEmpty()) {
            FenwaAddressProbe probe(sdk);
            QList<FenwaTerminal::AddressHolder> answers;
            if (probe.probe(fresh, &answers) != 0) {
                err << "fenwa-cli: plan: the addresses could not be probed (--no-probe skips the probe)\n";
                for (FenwaDevice *d : devices)
                    d->release();
                return 1;
            }
            p = preview(plan, found, held + answers);
        }
        const bool apply = r.args.value(0) == QLatin1String("apply") && !r.dryRun;
        const bool blocked = apply && p.problemRows() > 0 && !r.skipRefused;
        // Every terminal's steps in one batch, before anything is printed.
        QList<FenwaDevice *> sent;
        QVector<QList<FenwaRequest>> requests;
        QVector<int> sentAs(p.items.size(), -1);
        if (apply && !blocked) {
            for (int k = 0; k < p.items.size(); ++k) {
                const Item &item = p.items[k];
                if (!item.problems.isEmpty() || !item.device)
                    continue;
                QList<FenwaRequest> list;
                for (const Step &s : steps(item))
                    list << stepRequest(s);
                sentAs[k] = sent.size();
                sent << item.device;
                requests << list;
            }
        }
        FenwaBatch batch(sdk);
        useWindow(&batch, r.window);
        const QVector<QVector<int>> entries = batch.addEach(sent, requests);
        batch.run();
        QStringList outcomes;
        for (int k = 0; k < p.items.size(); ++k) {
            const Item &item = p.items[k];
            cJSON *o = itemJson(plan, item);
            const QList<Step> list = steps(item);
            QString outcome;
            if (!item.problems.isEmpty() || !item.device) {
                outcome = item.device ? QStringLiteral("refused: ") + item.problems.join(QStringLiteral("; "))
                                      : QStringLiteral("not found");
                status = 1;
            } else if (!apply || blocked) {
                cJSON *commands = cJSON_AddArrayToObject(o, "commands");
                for (const Step &s : list)
                    cJSON_AddItemToArray(commands, cJSON_CreateString(stepName(s.kind).toUtf8().constData()));
            } else {
                QList<FenwaBatch::Result> results;
                for (int e : entries[sentAs[k]])
                    results << batch.result(e);
                const int rc = std::all_of(results.cbegin(), results.cend(),
                                           [](const FenwaBatch::Result &x) { return x.accepted(); }) ? 0 : -1;
                cJSON *commands = cJSON_AddArrayToObject(o, "commands");
                for (int i = 0; i < list.size(); ++i) {
                    cJSON *c = cJSON_CreateObject();
                    addText(c, "command", stepName(list[i].kind));
                    if (results[i].state != FenwaBatch::NotTried)
                        cJSON_AddNumberToObject(c, "result", results[i].accepted() ? 0 : -1);
                    else
                        addText(c, "result", QStringLiteral("not tried"));
                    cJSON_AddItemToArray(commands, c);
                    if (results[i].accepted())
                        stepAccepted(item.device, list[i]);
                }
                cJSON_AddNumberToObject(o, "result", rc);
                outcome = outcomeText(list, results);
                addText(o, "outcome", outcome);
                if (rc != 0)
                    status = 1;
            }
            outcomes << outcome;
            out << printJson(o) << '\n';
            out.flush();
        }
        for (const FenwaDevice *d : p.notInPlan) {
            cJSON *o = cJSON_CreateObject();
            addText(o, "mac", d->macText);
            addText(o, "name", d->name);
            addText(o, "status", QStringLiteral("not in the plan"));
            out << printJson(o) << '\n';
        }
        if (blocked)
            err << "fenwa-cli: plan: " << p.problemRows() << (p.problemRows() == 1 ? " row has" : " rows have")
                << " problems: nothing was sent (--skip-refused applies the others)\n";
        if (!apply && (p.problemRows() > 0 || p.notFound() > 0))
            status = 1;
        if (apply && !blocked && !r.resultFile.isEmpty()) {
            QFile file(r.resultFile);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || file.write(resultSheet(plan, outcomes)) < 0 || !file.flush()) {
                err << "fenwa-cli: cannot write " << r.resultFile << ": " << file.errorString() << "\n";
                status = 1;
            }
        }
    }
    out.flush();
    err.flush();
    for (FenwaDevice *d : devices)
        d->release();
    return status;
}
