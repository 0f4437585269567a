// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliLink.h"

#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"

#include "link/FenwaTerminal.h"
#include "site/FenwaExport.h"

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
    return FenwaExport::recordValue(d, "linkMac");
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
            const char *key, *by;
            const QList<const FenwaDevice *> &others;
        } lists[] = {{"sameMac", "uid", conflicts.sameMac}, {"sameIp", "mac", conflicts.sameIp}};
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
        }
    }
    return printJson(o);
}

int runCliRequest(FenwaSDK *sdk, const CliRequest &r, QTextStream &out, QTextStream &err)
{
    const CliCommand *command = findCliCommand(r.command);
    if (r.timeoutMs >= 0) // parseCli has put the command's default in
        sdk->setReplyTimeout(r.timeoutMs);
    QList<FenwaDevice *> devices;
    sdk->search(&devices, r.searchMs);
    FenwaTerminal::keepOnePerTerminal(&devices);
    int status = 0;
    // Silence has many causes; the interface asked is the first to check.
    const QString where = QString::fromLocal8Bit(sdk->currentAdapter() ? sdk->currentAdapter()->name : "no interface");
    if (devices.isEmpty())
        err << "fenwa-cli: no terminal answered the search on " << where << " within " << r.searchMs << " ms\n";

    if (r.command == QLatin1String("search")) {
        const QHash<const FenwaDevice *, FenwaTerminal::Conflicts> conflicts = FenwaTerminal::conflictsOf(devices);
        int sharingMac = 0, sharingIp = 0;
        FenwaTerminal::countConflicts(conflicts, &sharingMac, &sharingIp);
        if (sharingMac > 0)
            err << "fenwa-cli: warning: " << sharingMac
                << " terminals share a MAC with another: a command to one reaches them all\n";
        if (sharingIp > 0)
            err << "fenwa-cli: warning: " << sharingIp << " terminals report an address another terminal reports\n";
        if (r.csv)
            out << FenwaExport::searchCsvHeader() << '\n';
        for (FenwaDevice *d : devices) {
            if (r.csv)
                out << FenwaExport::searchCsvLine(d) << '\n';
            else
                out << QString::fromUtf8(deviceJsonLine(d, conflicts.value(d))) << '\n';
        }
        out.flush();
    } else {
        // Targets in MAC order, whatever order --mac named them in.
        QList<FenwaDevice *> targets;
        QStringList missing = r.macs;
        for (FenwaDevice *d : devices) {
            const QString reported = FenwaTerminal::normalizeMac(d->macText);
            const QString link = linkMac(d);
            const bool named = r.macs.contains(link) || (!reported.isEmpty() && r.macs.contains(reported));
            if ((r.all && FenwaTerminal::isSupportedType(d->type)) || (!r.all && named)) {
                targets.append(d);
                missing.removeAll(link);
                missing.removeAll(reported);
            }
        }
        for (const QString &mac : missing) {
            cJSON *o = cJSON_CreateObject();
            addText(o, "mac", mac);
            cJSON_AddNumberToObject(o, "result", -1);
            addText(o, "error", QStringLiteral("not found by the search"));
            out << QString::fromUtf8(printJson(o)) << '\n';
            status = 1;
        }
        // Every value is derived before the first command: a batch that
        // cannot be handed out whole sends nothing.
        QString refusal;
        QStringList notes;
        const CliSite site{sdk, targets, devices, !r.noProbe, &notes};
        const CliRunner run = targets.isEmpty()        ? CliRunner()
                              : command->planOnSite ? command->planOnSite(r.args, site, &refusal)
                                                    : command->plan(r.args, targets.size(), &refusal);
        for (const QString &note : notes)
            err << "fenwa-cli: " << r.command << ": " << note << "\n";
        if (targets.isEmpty()) {
            if (r.all && !devices.isEmpty())
                err << "fenwa-cli: no terminal of a supported type answered the search on " << where << "\n";
            status = 1;
        } else if (!run) {
            err << "fenwa-cli: " << r.command << ": " << refusal << "\n";
            targets.clear();
            status = 1;
        }
        for (int i = 0; i < targets.size(); ++i) {
            FenwaDevice *d = targets.at(i);
            cJSON *o = cJSON_CreateObject();
            addText(o, "mac", d->macText);
            cJSON *data = cJSON_CreateObject();
            const int rc = run(sdk, d, i, data);
            cJSON_AddNumberToObject(o, "result", rc);
            // Fold what the command read or derived into the line.
            while (cJSON *item = data->child) {
                cJSON_DetachItemViaPointer(data, item);
                cJSON_AddItemToObject(o, item->string, item);
            }
            cJSON_Delete(data);
            out << QString::fromUtf8(printJson(o)) << '\n';
            out.flush();
            if (rc != 0)
                status = 1;
        }
    }
    err.flush();
    for (FenwaDevice *d : devices)
        d->release();
    return status;
}
