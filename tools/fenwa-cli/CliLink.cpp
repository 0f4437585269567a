// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliLink.h"

#include "link/FenwaBatch.h"
#include "link/FenwaDevice.h"
#include "link/FenwaFirmware.h"
#include "link/FenwaReturnWait.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"
#include "site/FenwaExport.h"
#include "site/FenwaSheet.h"

#include <QVector>
#include <algorithm>
#include <cJSON.h>

namespace {

QByteArray printJson(cJSON *obj)
{
    char *text = cJSON_PrintUnformatted(obj);
    QByteArray line(text ? text : "{}");
    cJSON_free(text);
    cJSON_Delete(obj);
    return line;
}

void addText(cJSON *obj, const char *key, const QString &value)
{
    cJSON_AddStringToObject(obj, key, value.toUtf8().constData());
}

QString linkMac(const FenwaDevice *d)
{
    return FenwaTerminal::linkMacText(d);
}

} // namespace

QByteArray deviceJsonLine(const FenwaDevice *d, const FenwaTerminal::Conflicts &conflicts)
{
    cJSON *o = cJSON_CreateObject();
    int count = 0;
    const FenwaExport::RecordField *fields = FenwaExport::recordFields(&count);
    for (int i = 0; i < count; ++i)
        addText(o, fields[i].key, fields[i].value(d));
    cJSON *extras = cJSON_CreateObject();
    for (auto it = d->extras.constBegin(); it != d->extras.constEnd(); ++it)
        addText(extras, it.key().toUtf8().constData(), it.value());
    cJSON_AddItemToObject(o, "extras", extras);
    if (!conflicts.isEmpty()) {
        // Terminals on one MAC differ by identity, terminals on one address by MAC.
        cJSON *c = cJSON_AddObjectToObject(o, "conflicts");
        const struct {
            const char *key, *moreKey, *by;
            const QList<const FenwaDevice *> &others;
            int more;
        } lists[] = {{"sameMac", "sameMacMore", "uid", conflicts.sameMac, conflicts.moreMac},
                     {"sameIp", "sameIpMore", "mac", conflicts.sameIp, conflicts.moreIp}};
        for (const auto &list : lists) {
            if (list.others.isEmpty())
                continue;
            cJSON *array = cJSON_AddArrayToObject(c, list.key);
            for (const FenwaDevice *other : list.others) {
                cJSON *item = cJSON_CreateObject();
                addText(item, "name", other->name);
                addText(item, list.by, FenwaExport::recordValue(other, list.by));
                cJSON_AddItemToArray(array, item);
            }
            if (list.more > 0) // named are the first few: the rest counted
                cJSON_AddNumberToObject(c, list.moreKey, list.more);
        }
    }
    return printJson(o);
}

namespace {

// One line per target, in target order, each as soon as it and every
// target before it have their result: a script sees progress, in order.
class OrderedLines
{
public:
    OrderedLines(QTextStream &out, int count) : out(out), lines(count) {}
    void put(int index, QByteArray line)
    {
        lines[index] = std::move(line);
        for (; next < lines.size() && !lines[next].isNull(); ++next) {
            out << QString::fromUtf8(lines[next]) << '\n';
            out.flush();
        }
    }

private:
    QTextStream &out;
    QVector<QByteArray> lines;
    int next = 0;
};

// A target's line: its MAC, 0 or -1, the failure for an operator, and what
// the command adds.
QByteArray targetLine(const FenwaDevice *d, bool ok, const QString &failure, cJSON *data)
{
    cJSON *o = cJSON_CreateObject();
    addText(o, "mac", d->macText);
    cJSON_AddNumberToObject(o, "result", ok ? 0 : -1);
    // Fold what the command read or derived into the line.
    while (cJSON *item = data->child) {
        cJSON_DetachItemViaPointer(data, item);
        cJSON_AddItemToObject(o, item->string, item);
    }
    cJSON_Delete(data);
    if (!ok)
        addText(o, "error", failure);
    return printJson(o);
}

// The search's lines, each terminal that shares a MAC or an address marked,
// and a warning on err when any does.
void printSearch(const QList<FenwaDevice *> &devices, bool csv, QTextStream &out, QTextStream &err)
{
    const QHash<const FenwaDevice *, FenwaTerminal::Conflicts> conflicts = FenwaTerminal::conflictsOf(devices);
    int sharingMac = 0, sharingIp = 0;
    FenwaTerminal::countConflicts(conflicts, &sharingMac, &sharingIp);
    if (sharingMac > 0)
        err << "fenwa-cli: warning: " << sharingMac
            << " terminals share a MAC with another: a command to one reaches them all\n";
    if (sharingIp > 0)
        err << "fenwa-cli: warning: " << sharingIp << " terminals report an address another terminal reports\n";
    if (csv)
        out << FenwaExport::searchCsvHeader() << '\n';
    for (FenwaDevice *d : devices)
        out << (csv ? FenwaExport::searchCsvLine(d) : QString::fromUtf8(deviceJsonLine(d, conflicts.value(d)))) << '\n';
    out.flush();
}

// The targets in MAC order, whatever order --mac named them in, and the
// named MACs the search did not find.
QList<FenwaDevice *> pickTargets(const QList<FenwaDevice *> &devices, const CliRequest &r, QStringList *missing)
{
    QList<FenwaDevice *> targets;
    *missing = r.macs;
    for (FenwaDevice *d : devices) {
        const QString reported = FenwaTerminal::normalizeMac(d->macText);
        const QString link = linkMac(d);
        const bool named = r.macs.contains(link) || (!reported.isEmpty() && r.macs.contains(reported));
        if ((r.all && FenwaTerminal::isSupportedType(d->type)) || (!r.all && named)) {
            targets.append(d);
            missing->removeAll(link);
            missing->removeAll(reported);
        }
    }
    return targets;
}

// Every target's command through one windowed batch. Returns the number of
// targets that did not accept; reached[i] says whether target i's command
// went out (a terminal may act on it though its answer is lost).
int runOnLink(FenwaSDK *sdk, const QList<FenwaDevice *> &targets, const CliPlan &plan, QTextStream &out,
              QVector<bool> *reached)
{
    FenwaBatch batch(sdk);
    QVector<CliStep> steps;
    for (int i = 0; i < targets.size(); ++i) {
        steps.append(plan(i));
        batch.add(targets.at(i), steps.last().request);
    }
    OrderedLines lines(out, targets.size());
    int failed = 0;
    batch.setSettled([&](int i) {
        const FenwaBatch::Result &result = batch.result(i);
        cJSON *data = cJSON_CreateObject();
        if (steps[i].after)
            steps[i].after(targets.at(i), result.reply.get(), result.accepted(), data);
        if (result.state == FenwaBatch::Seen)
            cJSON_AddTrueToObject(data, "seenInSearch"); // every answer lost, the value found held
        failed += result.accepted() ? 0 : 1;
        (*reached)[i] = result.sends > 0;
        lines.put(i, targetLine(targets.at(i), result.accepted(), result.failure(), data));
    });
    batch.run();
    return failed;
}

// Firmware: each target's web side, parallel at once. Returns the number of
// targets that were not upgraded; uploaded[i] says whether target i took
// the file.
int runOverWeb(FenwaSDK *sdk, const QList<FenwaDevice *> &targets, const CliRequest &r, QTextStream &out,
               QVector<bool> *uploaded)
{
    OrderedLines lines(out, targets.size());
    QVector<FenwaFirmware::Target> reachable;
    QVector<int> of;
    int failed = 0;
    const auto print = [&](int i, const FenwaFirmware::Outcome &o) {
        cJSON *data = cJSON_CreateObject();
        cJSON_AddBoolToObject(data, "loggedIn", o.loggedIn);
        cJSON_AddBoolToObject(data, "uploaded", o.uploaded);
        cJSON_AddNumberToObject(data, "httpStatus", o.status);
        failed += o.ok() ? 0 : 1;
        (*uploaded)[i] = o.ok();
        lines.put(i, targetLine(targets.at(i), o.ok(), FenwaFirmware::describe(o), data));
    };
    for (int i = 0; i < targets.size(); ++i) {
        FenwaFirmware::Target target;
        FenwaFirmware::Outcome o;
        if (FenwaFirmware::targetOf(targets.at(i), &target, &o.error)) {
            reachable.append(target);
            of.append(i);
        } else {
            print(i, o);
        }
    }
    // The SDK's silence limit is the HTTP one.
    FenwaFirmware::Limits limits;
    limits.connectMs = std::min(limits.connectMs, sdk->replyTimeout());
    limits.idleMs = sdk->replyTimeout();
    FenwaFirmware::upgradeAll(reachable, r.args.value(0), limits, r.parallel, {}, {},
                              [&](int k, const FenwaFirmware::Outcome &o) { print(of.at(k), o); });
    return failed;
}

// --wait: rounds until the targets that restart answer again. A line per
// target as it settles, then one for each that did not by the deadline;
// the count on err as it grows. Returns how many did not come back as they
// should.
int waitForReturn(FenwaSDK *sdk, FenwaReturnWait::Kind kind, const QList<FenwaDevice *> &restarting, int seconds,
                  QTextStream &out, QTextStream &err)
{
    if (restarting.isEmpty())
        return 0;
    FenwaReturnWait wait(sdk, kind, restarting);
    err << "fenwa-cli: waiting up to " << seconds << " s for " << restarting.size() << " terminals to come back\n";
    err.flush();
    QVector<bool> printed(restarting.size(), false);
    const auto print = [&](int i) {
        const FenwaReturnWait::Target &t = wait.target(i);
        cJSON *o = cJSON_CreateObject();
        addText(o, "mac", t.macText);
        const char *state = t.state == FenwaReturnWait::Back         ? "back"
                            : t.state == FenwaReturnWait::OldVersion ? "old version"
                            : t.state == FenwaReturnWait::Gone       ? "not back"
                                                                     : "not restarted";
        addText(o, "wait", QString::fromLatin1(state));
        cJSON_AddNumberToObject(o, "result", wait.ok(i) ? 0 : -1);
        addText(o, "version", t.version);
        addText(o, "oldVersion", t.oldVersion);
        if (t.backMs >= 0)
            cJSON_AddNumberToObject(o, "seconds", double((t.backMs + 500) / 1000));
        if (!wait.ok(i))
            addText(o, "error", wait.outcome(i));
        out << QString::fromUtf8(printJson(o)) << '\n';
        out.flush();
        printed[i] = true;
    };
    wait.run(seconds * 1000, {}, {}, [&](int i) {
        print(i);
        err << "fenwa-cli: " << wait.progress() << "\n";
        err.flush();
    });
    int failed = 0;
    for (int i = 0; i < wait.size(); ++i) {
        if (!printed[i])
            print(i);
        failed += wait.ok(i) ? 0 : 1;
    }
    return failed;
}

} // namespace

namespace {

// The command on every target of the search's terminals; the exit status.
int runOnTargets(FenwaSDK *sdk, const CliRequest &r, const QList<FenwaDevice *> &devices, const QString &where,
                 QTextStream &out, QTextStream &err)
{
    const CliCommand *command = findCliCommand(r.command);
    int status = 0;
    QStringList missing;
    const QList<FenwaDevice *> targets = pickTargets(devices, r, &missing);
    for (const QString &mac : missing) {
        cJSON *o = cJSON_CreateObject();
        addText(o, "mac", mac);
        cJSON_AddNumberToObject(o, "result", -1);
        addText(o, "error", QStringLiteral("not found by the search"));
        out << QString::fromUtf8(printJson(o)) << '\n';
        status = 1;
    }
    // Every value is derived before the first command: a batch that cannot
    // be handed out whole sends nothing.
    QString refusal;
    QStringList notes;
    const CliSite site{sdk, targets, devices, !r.noProbe, &notes};
    const CliPlan plan = targets.isEmpty()       ? CliPlan()
                         : command->planOnSite ? command->planOnSite(r.args, site, &refusal)
                                               : command->plan(r.args, targets.size(), &refusal);
    for (const QString &note : notes)
        err << "fenwa-cli: " << r.command << ": " << note << "\n";
    if (targets.isEmpty()) {
        if (r.all && !devices.isEmpty())
            err << "fenwa-cli: no terminal of a supported type answered the search on " << where << "\n";
        return 1;
    }
    if (!plan) {
        err << "fenwa-cli: " << r.command << ": " << refusal << "\n";
        return 1;
    }
    QVector<bool> restarted(targets.size(), false);
    int failed = command->overWeb ? runOverWeb(sdk, targets, r, out, &restarted)
                                  : runOnLink(sdk, targets, plan, out, &restarted);
    if (r.waitS >= 0 && command->restarts) {
        QList<FenwaDevice *> restarting;
        for (int i = 0; i < targets.size(); ++i)
            if (restarted[i])
                restarting << targets[i];
        failed += waitForReturn(sdk, command->overWeb ? FenwaReturnWait::Firmware : FenwaReturnWait::Restart,
                                restarting, r.waitS, out, err);
    }
    return failed > 0 ? 1 : status;
}

} // namespace

int runCliRequest(FenwaSDK *sdk, const CliRequest &r, QTextStream &out, QTextStream &err)
{
    if (r.timeoutMs >= 0) // parseCli has put the command's default in
        sdk->setReplyTimeout(r.timeoutMs);
    QList<FenwaDevice *> devices;
    FenwaSearchReport report;
    sdk->search(&devices, r.searchMs, &report);
    FenwaTerminal::keepOnePerTerminal(&devices);
    // Silence has many causes; the interface asked is the first to check.
    const QString where = QString::fromLocal8Bit(sdk->currentAdapter() ? sdk->currentAdapter()->name : "no interface");
    if (devices.isEmpty())
        err << "fenwa-cli: no terminal answered the search on " << where << " within " << r.searchMs << " ms\n";
    if (report.repeatOnly > 0)
        err << "fenwa-cli: " << report.repeatOnly << " of " << devices.size()
            << (devices.size() == 1 ? " terminal" : " terminals")
            << " answered only a repeat of the search frame (frames lost, or slow terminals, on " << where
            << ")\n";
    int status = 0;
    if (r.command == QLatin1String("search")) {
        printSearch(devices, r.csv, out, err);
        QByteArray sheet;
        QString why;
        FenwaSheet::Form workbook;
        workbook.workbook = true;
        if (!r.xlsxFile.isEmpty()
            && !(FenwaSheet::bytes(FenwaExport::searchSheet(devices), workbook, &sheet, &why)
                 && FenwaSheet::writeFile(r.xlsxFile, sheet, false, &why))) {
            err << "fenwa-cli: " << why << "\n";
            status = 1;
        }
    } else
        status = runOnTargets(sdk, r, devices, where, out, err);
    err.flush();
    for (FenwaDevice *d : devices)
        d->release();
    return status;
}
