// SPDX-License-Identifier: GPL-3.0-or-later
// The live list: search rounds matched to rows as the workbench's table and
// fenwa-cli watch see them, round after round.
#include "FenwaDevice.h"
#include "FenwaLiveList.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Terminals by letter: D and E answer from one MAC (a cloned address) but
// are two terminals.
FenwaDevice *terminal(const QString &spec)
{
    // "B" or "B ip=10.0.0.9 version=2.5.0"
    const QStringList parts = spec.split(QLatin1Char(' '));
    const QChar letter = parts[0][0];
    auto *d = new FenwaDevice;
    const uint8_t last = letter == QLatin1Char('E') ? 'D' : uint8_t(letter.toLatin1());
    const uint8_t mac[6] = {0x02, 0xfe, 0, 0, 0, last};
    std::memcpy(d->mac, mac, 6);
    d->macText = QString::asprintf("02:fe:00:00:00:%02x", last);
    d->name = parts[0];
    d->uid = QStringLiteral("UID-") + letter;
    d->sn = QStringLiteral("SN-") + letter;
    d->ip = QStringLiteral("192.168.1.%1").arg(int(letter.toLatin1()));
    d->version = QStringLiteral("2.4.1");
    for (const QString &change : parts.mid(1)) {
        const QString field = change.section(QLatin1Char('='), 0, 0), value = change.section(QLatin1Char('='), 1);
        if (field == QLatin1String("ip"))
            d->ip = value;
        else if (field == QLatin1String("version"))
            d->version = value;
        else if (field == QLatin1String("name"))
            d->name = value; // the letter stays the terminal's identity
    }
    return d;
}

// A row as a few characters: its letter (from the uid), then + new,
// - offline, ^ back, ~field for each changed field.
QString rowText(const FenwaLiveList::Row &row)
{
    QString text = row.device->uid.right(1);
    text += row.isNew ? QStringLiteral("+") : QString();
    text += !row.online ? QStringLiteral("-") : row.cameBack ? QStringLiteral("^") : QString();
    for (auto it = row.was.constBegin(); it != row.was.constEnd(); ++it)
        text += QLatin1Char('~') + it.key();
    return text;
}

QString eventText(const FenwaLiveEvent &e)
{
    static const char *const kinds[] = {"appeared", "changed", "offline", "back"};
    QString text = QStringLiteral("%1 %2").arg(QLatin1String(kinds[e.kind]), e.device->uid.right(1));
    for (const FenwaLiveChange &c : e.changes)
        text += QStringLiteral(" %1:%2>%3").arg(c.field, c.before, c.after);
    return text;
}

struct Round {
    QStringList answer; // the terminals that answer, as terminal() takes them
    QStringList rows;   // every row after the round, as rowText writes it
    QStringList events;
};

} // namespace

TEST(LiveList, RoundsKeepRowsTheirRecordsAndTicksAndMarkWhatChanged)
{
    const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1700000000);
    const QList<Round> rounds = {
        // C misses one round: one lost frame flaps nothing.
        {{"A", "B", "D", "E"}, {"A", "B", "C", "D", "E"}, {}},
        // A second round without C: offline.
        {{"A", "B", "D", "E"}, {"A", "B", "C-", "D", "E"}, {"offline C"}},
        // C returns, B moves, F is new and goes at the end.
        {{"F", "C", "A", "B ip=10.0.0.9", "D", "E"},
         {"A", "B~ip", "C^", "D", "E", "F+"},
         {"changed B ip:192.168.1.66>10.0.0.9", "back C", "appeared F"}},
        // E, on D's MAC, misses two rounds while D answers: only E goes offline.
        {{"A", "B ip=10.0.0.9", "C", "D", "F"}, {"A", "B~ip", "C^", "D", "E", "F+"}, {}},
        {{"A", "B ip=192.168.1.66", "C", "D", "F version=2.5.0"},
         {"A", "B", "C^", "D", "E-", "F+~version"},
         {"changed B ip:10.0.0.9>192.168.1.66", "offline E", "changed F version:2.4.1>2.5.0"}},
        // A terminal answering twice in a round is one row.
        {{"A", "B", "C", "D", "E", "F version=2.5.0", "A"},
         {"A", "B", "C^", "D", "E^", "F+~version"},
         {"back E"}},
    };

    QList<FenwaDevice *> searched;
    for (const char *t : {"A", "B", "C", "D", "E"})
        searched << terminal(QLatin1String(t));
    searched[0]->checked = true;
    FenwaLiveList live;
    live.start(searched, t0);
    for (FenwaDevice *d : searched)
        d->release(); // the list holds its own

    for (int r = 0; r < rounds.size(); ++r) {
        QList<FenwaDevice *> found;
        for (const QString &spec : rounds[r].answer)
            found << terminal(spec);
        const QList<FenwaLiveEvent> events = live.round(found, t0.addSecs(10 * (r + 1)));
        for (FenwaDevice *d : found)
            d->release();
        QStringList rows, said;
        for (const FenwaLiveList::Row &row : live.rows())
            rows << rowText(row);
        for (const FenwaLiveEvent &e : events)
            said << eventText(e);
        EXPECT_EQ(rows, rounds[r].rows) << "after round " << r + 1;
        EXPECT_EQ(said, rounds[r].events) << "after round " << r + 1;
    }
    // The first rows keep their records, updated in place, and their ticks;
    // C has been offline since the first round it missed.
    const QVector<FenwaLiveList::Row> &rows = live.rows();
    EXPECT_EQ(rows[0].device, searched[0]);
    EXPECT_TRUE(rows[0].device->checked);
    EXPECT_FALSE(rows[5].device->checked);
    EXPECT_EQ(rows[2].offlineSince, t0.addSecs(10));
    EXPECT_EQ(rows[5].device->version, QStringLiteral("2.5.0"));
    EXPECT_EQ(rows[5].was.value(QStringLiteral("version")), QStringLiteral("2.4.1"));
    EXPECT_EQ(live.online(), 6);
    EXPECT_EQ(live.fresh(), 1);

    // A search by hand starts afresh.
    QList<FenwaDevice *> again{terminal(QStringLiteral("B"))};
    live.start(again, t0.addSecs(100));
    again[0]->release();
    ASSERT_EQ(live.rows().size(), 1);
    EXPECT_EQ(rowText(live.rows()[0]), QStringLiteral("B"));
}
