// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliPlan.h"

#include "link/FenwaAddressProbe.h"
#include "link/FenwaBatch.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"
#include "site/FenwaPlanCheck.h"
#include "site/FenwaSheet.h"

#include <QDateTime>
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

// The segment as fenwa-cli reaches it: straight on the link.
class CliSegment : public Segment
{
public:
    CliSegment(FenwaSDK *sdk, int window) : sdk(sdk), window(window) {}
    bool read(const QList<FenwaDevice *> &devices, QVector<Reading> *readings, QStringList *why) override
    {
        readAll(sdk, window, devices, readings, why);
        return true;
    }
    bool probe(const QStringList &addresses, QList<FenwaTerminal::AddressHolder> *answers) override
    {
        FenwaAddressProbe probe(sdk);
        return probe.probe(addresses, answers) == 0;
    }

private:
    FenwaSDK *sdk;
    int window;
};

void addList(cJSON *o, const char *key, const QStringList &texts)
{
    if (texts.isEmpty())
        return;
    cJSON *list = cJSON_AddArrayToObject(o, key);
    for (const QString &t : texts)
        cJSON_AddItemToArray(list, cJSON_CreateString(t.toUtf8().constData()));
}

cJSON *itemJson(const Plan &plan, const Item &item)
{
    cJSON *o = cJSON_CreateObject();
    cJSON_AddNumberToObject(o, plan.siteFile ? "terminal" : "line", plan.rows[item.row].line);
    addText(o, "mac", item.mac);
    if (item.device)
        addText(o, "name", item.device->name);
    addText(o, "status", QLatin1String(outcomeKey(statusOf(item).outcome)));
    cJSON *changes = cJSON_AddObjectToObject(o, "changes");
    for (const Change &c : item.changes) {
        cJSON *pair = cJSON_AddObjectToObject(changes, columnName(c.field).toUtf8().constData());
        addText(pair, "current", printed(c.field, c.current));
        addText(pair, "planned", printed(c.field, c.planned));
    }
    addList(o, "problems", item.problems);
    addList(o, "doubts", item.doubts);
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
    for (const QString &shared : sharedMacs(terminals))
        err << "fenwa-cli: backup: warning: these terminals share a MAC, the file tells them apart by UID "
               "(plan apply FILE --from UID --onto MAC restores one): "
            << shared << "\n";
    const QByteArray file = siteFile(terminals, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), !r.noPasswords);
    QString error;
    if (r.outputFile.isEmpty()) {
        out << QString::fromUtf8(file);
    } else if (!FenwaSheet::writeFile(r.outputFile, file, true, &error)) {
        err << "fenwa-cli: backup: " << error << "\n";
        return 1;
    }
    err << "fenwa-cli: backup: " << terminals.size() << (terminals.size() == 1 ? " terminal" : " terminals") << " written"
        << (r.outputFile.isEmpty() ? QString() : QStringLiteral(" to ") + r.outputFile) << "\n";
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
        CliSegment segment(sdk, r.window);
        Check check;
        if (FenwaPlan::check(plan, devices, thisPcAddresses(sdk->currentAdapter()), &segment, !r.noProbe, &check)
            != CheckResult::Done) {
            err << "fenwa-cli: plan: the addresses could not be probed (--no-probe skips the probe)\n";
            for (FenwaDevice *d : devices)
                d->release();
            return 1;
        }
        for (const QString &unread : check.unread)
            err << "fenwa-cli: plan: " << unread << "\n";
        const Preview &p = check.preview;
        // What may go out: ready rows, rows with nothing to change, and
        // with --as-written the rows in doubt.
        auto sendable = [&r](const Item &item) {
            const Outcome o = statusOf(item).outcome;
            return o == Outcome::Ready || o == Outcome::Unchanged || (o == Outcome::Doubtful && r.asWritten);
        };
        int held = 0;
        for (const Item &item : p.items) {
            const Outcome o = statusOf(item).outcome;
            held += o == Outcome::Refused || (o == Outcome::Doubtful && !r.asWritten) ? 1 : 0;
        }
        const bool apply = r.args.value(0) == QLatin1String("apply") && !r.dryRun;
        const bool blocked = apply && held > 0 && !r.skipRefused;
        // Every terminal's steps in one batch, before anything is printed.
        QList<FenwaDevice *> sent;
        QVector<QList<FenwaRequest>> commands;
        QVector<int> sentAs(p.items.size(), -1);
        for (int k = 0; apply && !blocked && k < p.items.size(); ++k) {
            if (!sendable(p.items[k]))
                continue;
            sentAs[k] = sent.size();
            sent << p.items[k].device;
            commands << requests(steps(p.items[k]));
        }
        FenwaBatch batch(sdk);
        useWindow(&batch, r.window);
        const QVector<QVector<int>> entries = batch.addEach(sent, commands);
        batch.run();
        QStringList outcomes;
        for (int k = 0; k < p.items.size(); ++k) {
            const Item &item = p.items[k];
            cJSON *o = itemJson(plan, item);
            const QList<Step> list = steps(item);
            Status result = statusOf(item);
            if (sentAs[k] < 0) {
                if (result.outcome != Outcome::Ready && result.outcome != Outcome::Unchanged)
                    status = 1;
                QStringList names;
                for (const Step &s : list)
                    names << stepName(s.kind);
                if (sendable(item))
                    addList(o, "commands", names);
            } else {
                QList<FenwaBatch::Result> results;
                for (int e : entries[sentAs[k]])
                    results << batch.result(e);
                cJSON *list_ = cJSON_AddArrayToObject(o, "commands");
                for (int i = 0; i < list.size(); ++i) {
                    cJSON *c = cJSON_CreateObject();
                    addText(c, "command", stepName(list[i].kind));
                    if (results[i].state != FenwaBatch::NotTried)
                        cJSON_AddNumberToObject(c, "result", results[i].accepted() ? 0 : -1);
                    else
                        addText(c, "result", QStringLiteral("not tried"));
                    cJSON_AddItemToArray(list_, c);
                }
                settle(item.device, list, results);
                result = applied(list, results);
                const bool ok = result.outcome == Outcome::Done || result.outcome == Outcome::Unchanged;
                cJSON_AddNumberToObject(o, "result", ok ? 0 : -1);
                addText(o, "outcome", statusText(result));
                if (!ok)
                    status = 1;
            }
            outcomes << statusText(result);
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
            err << "fenwa-cli: plan: " << held << (held == 1 ? " row has" : " rows have")
                << " problems or values a spreadsheet may have rewritten: nothing was sent "
                   "(--skip-refused applies the others, --as-written sends such values as they stand)\n";
        if (!apply && p.notFound() > 0)
            status = 1;
        if (apply && !blocked && !r.resultFile.isEmpty()) {
            QByteArray sheet;
            QString error;
            const FenwaSheet::Form form =
                FenwaSheet::formFor(r.resultFile, plan.siteFile || plan.form.workbook ? FenwaSheet::Form() : plan.form);
            if (!resultSheet(plan, outcomes, form, &sheet, &error)
                || !FenwaSheet::writeFile(r.resultFile, sheet, true, &error)) {
                err << "fenwa-cli: " << error << "\n";
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
