// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QVector>
#include <memory>

class FenwaDevice;
class FenwaSDK;

// One field of a terminal that went from before to after between two rounds.
struct FenwaLiveChange {
    QString field; // "name", "ipMode", "ip", "netmask", "gateway", "version"
    QString before, after;
};

// Records on their way to another thread: a reference to each is held until
// the last copy of the pointer goes, whether or not the call that carries it
// is ever made.
using FenwaHeldDevices = std::shared_ptr<const QList<FenwaDevice *>>;
FenwaHeldDevices holdDevices(const QList<FenwaDevice *> &devices);

// What one round of searching showed about one terminal.
struct FenwaLiveEvent {
    enum Kind { Appeared, Changed, Offline, Back };
    Kind kind = Appeared;
    FenwaDevice *device = nullptr; // the row's record, held by the list
    QList<FenwaLiveChange> changes; // Changed (and Back, when it came back changed)
    QDateTime at;                   // when the round began
};

// The terminals of a site as search rounds find them: rows that keep their
// place and their record while terminals come and go. The workbench's table
// and fenwa-cli watch both keep one, so they agree on what appeared,
// changed, went offline and came back.
//
// - start() is a search by hand: the rows become exactly its terminals, in
//   its order, with no marks.
// - round() matches a later search's terminals to the rows by the one rule
//   (FenwaTerminal::sameTerminal: the link MAC and the identity): two
//   terminals that answer from one MAC stay two rows. A match updates the
//   row's record in place (FenwaTerminal::reportedAgain), so whoever holds
//   the record (a page, a tick) keeps it; a terminal never seen before is
//   appended, marked new until the next start(). Nothing is removed,
//   reordered or unticked.
// - A row that misses OFFLINE_AFTER rounds in a row is offline, since the
//   first round it missed: one lost frame does not flap it. When it answers
//   again it is back.
// - A watched field that differs from the row's value keeps the value it
//   had before its first change (was()), until the field returns to it or
//   the next start().
//
// The list holds one reference to each row's record. Not thread-safe: one
// thread owns it (the interface thread in the workbench), and no other
// thread may read the records while round() writes them.
class FenwaLiveList
{
public:
    struct Row {
        FenwaDevice *device = nullptr;
        bool online = true;
        bool isNew = false;
        bool cameBack = false; // answered again after being offline
        int missed = 0;        // rounds in a row without an answer
        QDateTime lastSeen, firstMissed, offlineSince, backAt;
        QMap<QString, QString> was; // watched field -> its value before it changed
    };

    enum { OFFLINE_AFTER = 2 };

    FenwaLiveList() = default;
    ~FenwaLiveList();

    // The rows become devices (a reference taken to each), none marked.
    void start(const QList<FenwaDevice *> &devices, const QDateTime &at);
    // Drops every row.
    void clear();
    // One round's terminals (supported ones, one record per terminal; the
    // caller keeps its references). Returns what changed, in row order.
    QList<FenwaLiveEvent> round(const QList<FenwaDevice *> &found, const QDateTime &at);

    const QVector<Row> &rows() const { return all; }
    // nullptr when device is no row's record.
    const Row *rowOf(const FenwaDevice *device) const;
    int online() const;
    int offline() const;
    int fresh() const;

    // The fields whose changes are events and marks, and a record's value of one.
    static const QStringList &watchedFields();
    static QString fieldValue(const FenwaDevice *device, const QString &field);

    // One light search, as rounds repeat it: ROUND_FRAMES frames over
    // ROUND_MS (a search by hand sends twelve over two seconds), so that a
    // site of a thousand terminals is asked again every few seconds without
    // flooding it. Fills found with the supported terminals, one record each
    // (the caller's), and returns what FenwaSDK::search returned (-1: not
    // sent). Call it on the link's issuing thread; FenwaSDK::cancel ends it.
    static int searchRound(FenwaSDK *sdk, QList<FenwaDevice *> *found, int collectMs = ROUND_MS);
    enum { ROUND_MS = 1000, ROUND_FRAMES = 4 };

private:
    QVector<Row> all;
    QHash<const FenwaDevice *, int> rowIndex; // the first row of each record

    FenwaLiveList(const FenwaLiveList &) = delete;
    FenwaLiveList &operator=(const FenwaLiveList &) = delete;
};
