// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaExport.h"

#include "FenwaCsv.h"
#include "link/FenwaDevice.h"
#include "link/FenwaTerminal.h"

#include <QStringList>
#include <cstring>

namespace FenwaExport {

namespace {
QString linkMac(const FenwaDevice *d)
{
    return FenwaTerminal::linkMacText(d);
}

QString linkAddress(const FenwaDevice *d)
{
    return QString::asprintf("%d.%d.%d.%d", d->address[0], d->address[1], d->address[2], d->address[3]);
}

const RecordField kRecordFields[] = {
    {"mac", [](const FenwaDevice *d) { return d->macText; }},
    {"name", [](const FenwaDevice *d) { return d->name; }},
    {"type", [](const FenwaDevice *d) { return d->type; }},
    {"ipMode", [](const FenwaDevice *d) { return d->ipMode; }},
    {"version", [](const FenwaDevice *d) { return d->version; }},
    {"ip", [](const FenwaDevice *d) { return d->ip; }},
    {"gateway", [](const FenwaDevice *d) { return d->gateway; }},
    {"netmask", [](const FenwaDevice *d) { return d->netmask; }},
    {"dns1", [](const FenwaDevice *d) { return d->dns1; }},
    {"dns2", [](const FenwaDevice *d) { return d->dns2; }},
    {"sn", [](const FenwaDevice *d) { return d->sn; }},
    {"uid", [](const FenwaDevice *d) { return d->uid; }},
    {"linkMac", linkMac},
    {"linkAddress", linkAddress},
};

// CSV keeps a fixed set of columns: the record's fields with the reply items
// installers look at most placed before the link addresses.
const char *const kCsvColumns[] = {"mac",     "name",    "type", "ipMode", "version",   "ip",        "gateway",
                                   "netmask", "dns1",    "dns2", "sn",     "uid",       "account",   "micVolume",
                                   "outVolume", "autoMute", "linkMac", "linkAddress"};
} // namespace

const RecordField *recordFields(int *count)
{
    *count = int(sizeof kRecordFields / sizeof kRecordFields[0]);
    return kRecordFields;
}

QString recordValue(const FenwaDevice *d, const char *key)
{
    for (const RecordField &f : kRecordFields)
        if (std::strcmp(f.key, key) == 0)
            return f.value(d);
    return d->extra(QLatin1String(key));
}

QStringList searchColumns()
{
    QStringList cols;
    for (const char *c : kCsvColumns)
        cols << QLatin1String(c);
    return cols;
}

QStringList searchRow(const FenwaDevice *d)
{
    QStringList cols;
    for (const char *c : kCsvColumns)
        cols << recordValue(d, c);
    return cols;
}

QString searchCsvHeader()
{
    return FenwaCsv::line(searchColumns());
}

QString searchCsvLine(const FenwaDevice *d)
{
    return FenwaCsv::line(searchRow(d));
}

QList<QStringList> searchSheet(const QList<FenwaDevice *> &devices)
{
    QList<QStringList> rows{searchColumns()};
    for (const FenwaDevice *d : devices)
        rows << searchRow(d);
    return rows;
}

} // namespace FenwaExport
