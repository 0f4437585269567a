// SPDX-License-Identifier: GPL-3.0-or-later
// Waiting for terminals to come back, without a network: the SDK runs on a
// scripted device, and each search round is answered by the terminals a
// table names for that round, with the versions it gives them.
#include "FenwaReturnWait.h"
#include "FenwaSDK.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <QSet>
#include <cstring>

namespace {

const int kTerminals = 4;

QByteArray searchReply(int id, int terminal, const QString &version)
{
    const char letter = char('A' + terminal);
    return QString::asprintf("{\"id\":%d,\"method\":\"search\",\"result\":\"success\",\"type\":\"VQ40\",\"name\":\"%c\","
                             "\"uid\":\"U-%c\",\"sn\":\"S-%c\",\"version\":\"%s\"}",
                             id, letter, letter, letter, qPrintable(version))
        .toUtf8();
}

void addressOf(int terminal, uint8_t mac[6], uint8_t ip[4])
{
    const uint8_t m[6] = {0x02, 0xfe, 0, 0, 0, uint8_t(0x10 + terminal)};
    const uint8_t a[4] = {192, 168, 1, uint8_t(100 + terminal)};
    std::memcpy(mac, m, 6);
    std::memcpy(ip, a, 4);
}

// Answers each new search id with the next round of the script (the last
// one again once the script is over): "-" stays silent, anything else is
// the version the terminal reports.
class Rounds : public FenwaCommandObserver
{
public:
    explicit Rounds(const QList<QStringList> &script) : script(script) {}
    void onSendCommand(FenwaSDK *sdk, const char *text) override
    {
        const int id = cJSON_GetObjectItem(JsonDoc(text).j, "id")->valueint;
        if (seen.contains(id)) // a repeat of the round's frame
            return;
        seen.insert(id);
        const QStringList &round = script.at(std::min(int(seen.size()) - 1, int(script.size()) - 1));
        for (int t = 0; t < kTerminals; ++t) {
            if (round.at(t) == QLatin1String("-"))
                continue;
            uint8_t mac[6], ip[4];
            addressOf(t, mac, ip);
            sdk->onPcapPacket(craftFrame(mac, ip, kToolMac, kToolIp, searchReply(id, t, round.at(t))).get());
        }
    }
    void onRecvCommand(FenwaSDK *, const char *) override {}
    int rounds() const { return seen.size(); }

private:
    QList<QStringList> script;
    QSet<int> seen;
};

TEST(ReturnWait, TellsWhoCameBackAndHow)
{
    const struct {
        const char *label;
        FenwaReturnWait::Kind kind;
        QList<QStringList> rounds;
        int stopAfter;        // rounds, or 0: the deadline ends it
        QStringList outcomes; // a part of each terminal's outcome
        int back;
    } cases[] = {
        // A goes and comes back; B never goes; C never comes back; D is gone
        // from the first round on and returns.
        {"restart",
         FenwaReturnWait::Restart,
         {{"2.4.1", "2.4.1", "-", "-"}, {"-", "2.4.1", "-", "2.4.1"}, {"2.4.1", "2.4.1", "-", "2.4.1"}},
         0,
         {"back after", "answered throughout: did not restart", "did not come back within 1 s", "back after"},
         2},
        // A answers with the new version at once; B goes and comes back on
        // the old one; C keeps answering with the old one; D goes and comes
        // back upgraded.
        {"firmware",
         FenwaReturnWait::Firmware,
         {{"2.4.1", "2.4.1", "2.4.1", "-"}, {"2.5.0", "-", "2.4.1", "-"}, {"2.5.0", "2.4.1", "2.4.1", "2.5.0"}},
         0,
         {": 2.4.1 → 2.5.0", "back with the old version 2.4.1", "still answering with 2.4.1: did not restart",
          ": 2.4.1 → 2.5.0"},
         2},
        // Stopped in the second round: those gone are not back yet.
        {"stopped",
         FenwaReturnWait::Restart,
         {{"2.4.1", "-", "-", "-"}, {"-", "-", "-", "-"}},
         2,
         {"not back yet", "not back yet", "not back yet", "not back yet"},
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        DeviceScript script;
        Rounds rounds(c.rounds);
        FenwaSDK sdk;
        sdk.setCommandObserver(&rounds);
        ASSERT_EQ(openScripted(&sdk, &script), 0);

        // The batch's terminals as the table held them: version 2.4.1.
        QList<FenwaDevice *> targets;
        for (int t = 0; t < kTerminals; ++t) {
            uint8_t mac[6], ip[4];
            addressOf(t, mac, ip);
            JsonDoc json(searchReply(0, t, QStringLiteral("2.4.1")));
            targets << FenwaDevice::fromSearchReply(mac, ip, json.j);
        }
        FenwaReturnWait wait(&sdk, c.kind, targets);
        for (FenwaDevice *d : targets)
            d->release(); // the wait keeps what it needs
        wait.setRounds(60, 0);
        QList<int> settled;
        int heard = 0;
        wait.run(
            1000, [&] { return c.stopAfter > 0 && heard >= c.stopAfter; },
            [&](const QList<FenwaDevice *> &found) {
                ++heard;
                EXPECT_LE(found.size(), kTerminals);
            },
            [&](int i) { settled << i; });
        sdk.close();

        for (int t = 0; t < kTerminals; ++t)
            EXPECT_TRUE(wait.outcome(t).contains(c.outcomes.at(t))) << t << ": " << wait.outcome(t).toStdString();
        EXPECT_EQ(wait.backCount(), c.back);
        EXPECT_EQ(wait.progress(), QStringLiteral("%1 of 4 back").arg(c.back));
        EXPECT_EQ(wait.wasStopped(), c.stopAfter > 0);
        for (int t = 0; t < kTerminals; ++t)
            EXPECT_EQ(settled.count(t), wait.isSettled(t) ? 1 : 0) << t; // once each, when it settled
    }
}

} // namespace
