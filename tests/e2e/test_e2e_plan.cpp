// SPDX-License-Identifier: GPL-3.0-or-later
// Site plans end to end: fenwa-cli's plan apply and backup against fenwa-sim
// on a segment of namespaces this process makes, checked against the
// simulator's state file and command log.
#include "e2e_segment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <unistd.h>

namespace {

E2eSegment *segment = nullptr;
QByteArray segmentError;

class PlanE2e : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "end-to-end tests make network namespaces and need root";
        ASSERT_TRUE(segmentError.isEmpty()) << segmentError.constData();
    }
    void TearDown() override { sim.stop(); }

    void startSim(const QStringList &args)
    {
        const QByteArray error = sim.start(*segment, args);
        ASSERT_TRUE(error.isEmpty()) << error.constData();
    }
    // fenwa-cli on the tool side; returns its exit status.
    int cli(const QStringList &args, QByteArray *output)
    {
        return runCommand(QStringList{FENWA_CLI_PATH, "--interface", segment->toolIf, "--time", "700"} + args, output);
    }
    QString write(const char *name, const QByteArray &text)
    {
        const QString path = QString::fromLocal8Bit(segment->dir) + QLatin1Char('/') + QLatin1String(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size());
        return path;
    }
    int setCommands() const
    {
        int n = 0;
        for (const QByteArray &c : sim.commands())
            n += c.contains("\"method\":\"Set") ? 1 : 0;
        return n;
    }

    SimProcess sim;
};

TEST_F(PlanE2e, EightTerminalsGetTheirOwnSettingsAndASecondApplySendsNothing)
{
    startSim({"--count", "8"});
    QByteArray sheet = "mac;name;ip;netmask;gateway;dns1;sip1_account;sip1_password;sip1_server_host;"
                       "sip1_server_port\r\n";
    for (int i = 1; i <= 8; ++i)
        sheet += QStringLiteral("02:fe:00:00:00:0%1;\"Room %1; east\";192.168.1.%2;255.255.255.0;192.168.1.1;"
                                "192.168.1.1;10%1;\"pw\"\"%1\";10.0.0.5;5060\r\n")
                     .arg(i)
                     .arg(20 + i)
                     .toUtf8();
    const QString plan = write("plan.csv", sheet);
    const QJsonObject before = sim.terminal(0);
    QByteArray out;
    ASSERT_EQ(cli({"plan", "apply", plan}, &out), 0) << out.constData();
    EXPECT_FALSE(out.contains("pw\"")) << "a password was printed";
    for (int i = 1; i <= 8; ++i) {
        const QJsonObject t = sim.terminal(i - 1);
        const QJsonObject sip = t.value("sip0").toObject();
        EXPECT_EQ(t.value("name").toString(), QStringLiteral("Room %1; east").arg(i));
        EXPECT_EQ(t.value("ip").toString(), QStringLiteral("192.168.1.%1").arg(20 + i));
        EXPECT_EQ(sip.value("account").toString(), QStringLiteral("10%1").arg(i));
        EXPECT_EQ(sip.value("password").toString(), QStringLiteral("pw\"%1").arg(i));
        EXPECT_EQ(sip.value("serverHost").toString(), QStringLiteral("10.0.0.5"));
        // What the plan does not name stays as it was.
        EXPECT_EQ(t.value("sip1"), before.value("sip1"));
        EXPECT_EQ(t.value("micVolume"), before.value("micVolume"));
        EXPECT_EQ(t.value("rtp0"), before.value("rtp0"));
    }
    const int sets = setCommands();
    EXPECT_EQ(sets, 8 * 3); // name, SIP accounts, address
    ASSERT_EQ(cli({"plan", "apply", plan}, &out), 0) << out.constData();
    EXPECT_EQ(setCommands(), sets) << "the second apply changed something";
}

TEST_F(PlanE2e, BackupRestoresOntoAReplacement)
{
    startSim({"--count", "1"});
    QByteArray out;
    const QString setup = write("setup.csv", "mac,name,sip2_account,sip2_server_host,rtp3,mic_volume,auto_mute\n"
                                             "02:fe:00:00:00:01,Gate,2002,10.0.0.9,239.1.1.3:7000,33,1\n");
    ASSERT_EQ(cli({"plan", "apply", setup}, &out), 0) << out.constData();
    ASSERT_EQ(cli({"backup", "--all"}, &out), 0) << out.constData();
    const QJsonObject original = sim.terminal(0);
    const QString site = write("site.json", out.left(out.lastIndexOf('}') + 1));

    // The failed terminal is gone; its replacement has another MAC and address.
    startSim({"--count", "1", "--base-mac", "02:fe:00:00:00:07", "--base-ip", "192.168.1.107"});
    ASSERT_EQ(cli({"plan", "apply", site, "--from", "02:fe:00:00:00:01", "--onto", "02:fe:00:00:00:07"}, &out), 0)
        << out.constData();
    const QJsonObject replaced = sim.terminal(0);
    for (const char *key : {"name", "sip0", "sip1", "micVolume", "outVolume", "autoMute", "ip", "account", "password"})
        EXPECT_EQ(replaced.value(key), original.value(key)) << key;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(replaced.value(QStringLiteral("rtp%1").arg(i)), original.value(QStringLiteral("rtp%1").arg(i))) << i;
    EXPECT_EQ(replaced.value("mac").toString(), QStringLiteral("02:fe:00:00:00:07"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    E2eSegment seg;
    segment = &seg;
    if (geteuid() == 0 && !::testing::GTEST_FLAG(list_tests))
        segmentError = seg.create();
    const int rc = RUN_ALL_TESTS();
    seg.destroy();
    return rc;
}
