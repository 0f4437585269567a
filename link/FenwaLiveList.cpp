// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaLiveList.h"

#include "FenwaDevice.h"
#include "FenwaSDK.h"
#include "FenwaTerminal.h"

#include <QHash>

FenwaHeldDevices holdDevices(const QList<FenwaDevice *> &devices)
{
    for (FenwaDevice *d : devices)
        d->addRef();
    return FenwaHeldDevices(new QList<FenwaDevice *>(devices), [](const QList<FenwaDevice *> *list) {
        for (FenwaDevice *d : *list)
            d->release();
        delete list;
    });
}

FenwaLiveList::~FenwaLiveList()
{
    clear();
}

void FenwaLiveList::clear()
{
    for (Row &row : all)
        row.device->release();
    all.clear();
    rowIndex.clear();
}

void FenwaLiveList::start(const QList<FenwaDevice *> &devices, const QDateTime &at)
{
    // References first: a record may be in both the old rows and the new.
    for (FenwaDevice *device : devices)
        device->addRef();
    clear();
    all.reserve(devices.size());
    for (FenwaDevice *device : devices) {
        Row row;
        row.device = device;
        row.lastSeen = at;
        if (!rowIndex.contains(device))
            rowIndex.insert(device, all.size());
        all.append(row);
    }
}

int FenwaLiveList::searchRound(FenwaSDK *sdk, QList<FenwaDevice *> *found, int collectMs)
{
    QList<FenwaDevice *> replies;
    sdk->setSearchFrames(ROUND_FRAMES);
    const int sent = sdk->search(&replies, collectMs);
    sdk->setSearchFrames(FenwaSDK::SEARCH_FRAMES);
    found->clear();
    FenwaTerminal::keepSupported(&replies, found);
    return sent;
}

const QStringList &FenwaLiveList::watchedFields()
{
    static const QStringList fields = {QStringLiteral("name"),    QStringLiteral("ipMode"),
                                       QStringLiteral("ip"),      QStringLiteral("netmask"),
                                       QStringLiteral("gateway"), QStringLiteral("version")};
    return fields;
}

QString FenwaLiveList::fieldValue(const FenwaDevice *d, const QString &field)
{
    if (field == QLatin1String("name"))
        return d->name;
    if (field == QLatin1String("ipMode"))
        return d->ipMode;
    if (field == QLatin1String("ip"))
        return d->ip;
    if (field == QLatin1String("netmask"))
        return d->netmask;
    if (field == QLatin1String("gateway"))
        return d->gateway;
    if (field == QLatin1String("version"))
        return d->version;
    return QString();
}

QList<FenwaLiveEvent> FenwaLiveList::round(const QList<FenwaDevice *> &found, const QDateTime &at)
{
    // Rows by terminal; two rows of one terminal (a table filled by hand)
    // are matched in row order.
    QMultiHash<QString, int> byTerminal;
    byTerminal.reserve(all.size());
    for (int i = all.size() - 1; i >= 0; --i)
        byTerminal.insert(FenwaTerminal::terminalKey(all[i].device), i);
    QVector<bool> answered(all.size(), false);
    QVector<QList<FenwaLiveChange>> changes(all.size());
    QVector<bool> wasOffline(all.size(), false);
    QList<FenwaLiveEvent> appeared;

    for (FenwaDevice *fresh : found) {
        int match = -1;
        bool again = false; // a second answer of a terminal already matched
        const QString key = FenwaTerminal::terminalKey(fresh);
        for (auto it = byTerminal.find(key); it != byTerminal.end() && it.key() == key; ++it) {
            again = true;
            if (!answered[it.value()]) {
                match = it.value();
                break;
            }
        }
        if (match < 0 && again)
            continue;
        if (match < 0) {
            fresh->addRef();
            Row row;
            row.device = fresh;
            row.isNew = true;
            row.lastSeen = at;
            if (!rowIndex.contains(fresh))
                rowIndex.insert(fresh, all.size());
            all.append(row);
            byTerminal.insert(key, all.size() - 1);
            answered.append(true);
            changes.append(QList<FenwaLiveChange>());
            wasOffline.append(false);
            FenwaLiveEvent e;
            e.kind = FenwaLiveEvent::Appeared;
            e.device = fresh;
            e.at = at;
            appeared << e;
            continue;
        }
        Row &row = all[match];
        answered[match] = true;
        for (const QString &field : watchedFields()) {
            const QString before = fieldValue(row.device, field), after = fieldValue(fresh, field);
            if (before == after)
                continue;
            changes[match] << FenwaLiveChange{field, before, after};
            // The mark keeps the value from before the first change, and
            // goes when the terminal reports that value again.
            if (!row.was.contains(field))
                row.was.insert(field, before);
            else if (row.was.value(field) == after)
                row.was.remove(field);
        }
        FenwaTerminal::reportedAgain(row.device, fresh);
        wasOffline[match] = !row.online;
        if (!row.online) {
            row.online = true;
            row.cameBack = true;
            row.backAt = at;
        }
        row.missed = 0;
        row.lastSeen = at;
    }

    QList<FenwaLiveEvent> events;
    for (int i = 0; i < all.size(); ++i) {
        Row &row = all[i];
        FenwaLiveEvent e;
        e.device = row.device;
        e.at = at;
        if (!answered[i]) {
            if (++row.missed == 1)
                row.firstMissed = at;
            if (row.online && row.missed >= OFFLINE_AFTER) {
                row.online = false;
                row.offlineSince = row.firstMissed;
                e.kind = FenwaLiveEvent::Offline;
                events << e;
            }
            continue;
        }
        if (wasOffline[i]) {
            e.kind = FenwaLiveEvent::Back;
            e.changes = changes[i];
            events << e;
        } else if (!changes[i].isEmpty()) {
            e.kind = FenwaLiveEvent::Changed;
            e.changes = changes[i];
            events << e;
        }
    }
    return events + appeared;
}

const FenwaLiveList::Row *FenwaLiveList::rowOf(const FenwaDevice *device) const
{
    const auto it = rowIndex.constFind(device);
    return it == rowIndex.constEnd() ? nullptr : &all[it.value()];
}

int FenwaLiveList::online() const
{
    int n = 0;
    for (const Row &row : all)
        n += row.online ? 1 : 0;
    return n;
}

int FenwaLiveList::offline() const
{
    return all.size() - online();
}

int FenwaLiveList::fresh() const
{
    int n = 0;
    for (const Row &row : all)
        n += row.isNew ? 1 : 0;
    return n;
}
