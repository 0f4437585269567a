// SPDX-License-Identifier: GPL-3.0-or-later
// Site plans end to end: fenwa-cli's plan apply and backup against fenwa-sim
// on a segment of namespaces this process makes, checked against the
// simulator's state file and command log.
#include "e2e_segment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <sys/stat.h>
#include <unistd.h>

#include "site/FenwaPlan.h"
#include "site/FenwaXlsx.h"

namespace {

class PlanE2e : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "end-to-end tests make network namespaces and need root";
        ASSERT_TRUE(e2eSegmentError.isEmpty()) << e2eSegmentError.constData();
    }
    void TearDown() override { sim.stop(); }

    void startSim(const QStringList &args)
    {
        const QByteArray error = sim.start(*e2eSegment, args);
        ASSERT_TRUE(error.isEmpty()) << error.constData();
    }
    // fenwa-cli on the tool side; returns its exit status.
    int cli(const QStringList &args, QByteArray *output)
    {
        return runCommand(QStringList{FENWA_CLI_PATH, "--interface", e2eSegment->toolIf, "--time", "700"} + args, output);
    }
    QString write(const char *name, const QByteArray &text)
    {
        const QString path = QString::fromLocal8Bit(e2eSegment->dir) + QLatin1Char('/') + QLatin1String(name);
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
                                "192.168.1.53;10%1;\"pw\"\"%1\";10.0.0.5;5060\r\n")
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
        EXPECT_EQ(t.value("dns1").toString(), QStringLiteral("192.168.1.53"));
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

mode_t modeOf(const QString &path)
{
    struct stat st;
    return stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// planner -> workbook -> tool -> result -> the same tool again: no value
// changes, no cell runs, and a number the spreadsheet rewrote is caught.
TEST_F(PlanE2e, AWorkbookPlanRoundTripsAndLostZerosAreCaught)
{
    startSim({"--count", "2"});
    QByteArray book, out;
    QString error;
    ASSERT_TRUE(FenwaXlsx::write({{"mac", "name", "sip1_account", "sip1_server_host"},
                                  {"02:fe:00:00:00:01", "=1+1", "0801", "10.0.0.5"},
                                  {"02:fe:00:00:00:02", "Hall B", "0802", "10.0.0.5"}},
                                 &book, &error));
    const QString plan = write("plan.xlsx", book), result = e2eSegment->dir + QStringLiteral("/result.xlsx");
    ASSERT_EQ(cli({"plan", "apply", plan, "--result", result}, &out), 0) << out.constData();
    EXPECT_EQ(sim.terminal(0).value("name").toString(), QStringLiteral("=1+1"));
    EXPECT_EQ(sim.terminal(0).value("sip0").toObject().value("account").toString(), QStringLiteral("0801"));
    EXPECT_EQ(modeOf(result), 0600u);
    QFile file(result);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<FenwaCsv::Record> records;
    ASSERT_TRUE(FenwaXlsx::read(file.readAll(), &records, &error)) << error.toStdString();
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[0].fields.join(QLatin1Char(',')), QStringLiteral("mac,name,sip1_account,sip1_server_host,outcome"));
    EXPECT_EQ(records[1].fields.join(QLatin1Char(',')), QStringLiteral("02:fe:00:00:00:01,=1+1,0801,10.0.0.5,done"));
    const int sets = setCommands();
    ASSERT_EQ(cli({"plan", "check", result}, &out), 0) << out.constData();
    EXPECT_FALSE(out.contains("fenwa-cli: plan:")) << "both were read: " << out.constData();

    // The result as a spreadsheet saves it back without types: 0801 is 801.
    const QString rewritten = write("rewritten.csv", "mac,name,sip1_account\r\n02:fe:00:00:00:01,Hall A,801\r\n");
    EXPECT_EQ(cli({"plan", "check", rewritten}, &out), 1);
    EXPECT_TRUE(out.contains("\"status\":\"doubtful\"")) << out.constData();
    EXPECT_EQ(cli({"plan", "apply", rewritten}, &out), 1);
    EXPECT_EQ(setCommands(), sets) << "a value in doubt was sent";
    ASSERT_EQ(cli({"plan", "apply", rewritten, "--as-written"}, &out), 0) << out.constData();
    EXPECT_EQ(sim.terminal(0).value("sip0").toObject().value("account").toString(), QStringLiteral("801"));
}

// A site where two terminals share a MAC: the backup notes it, and every
// terminal of it can be restored onto a replacement, the clones by UID.
TEST_F(PlanE2e, ABackupWithAClonedMacRestoresAnyTerminal)
{
    startSim({"--count", "3"});
    SimProcess clone;
    ASSERT_EQ(clone.start(*e2eSegment, {"--count", "1", "--base-mac", "02:fe:00:00:00:02", "--base-ip", "192.168.1.150",
                                     "--number-from", "50"},
                          "-clone"),
              QByteArray());
    const QString site = e2eSegment->dir + QStringLiteral("/site.json");
    QByteArray out;
    ASSERT_EQ(cli({"backup", "--all", "--output", site}, &out), 0) << out.constData();
    EXPECT_TRUE(out.contains("share a MAC")) << out.constData();
    EXPECT_EQ(modeOf(site), 0600u);
    FenwaPlan::Plan plan;
    QString error;
    ASSERT_TRUE(FenwaPlan::readFile(site, &plan, &error)) << error.toStdString();
    ASSERT_EQ(plan.rows.size(), 4);
    QString cloneUid, cloneName;
    for (const FenwaPlan::Row &row : plan.rows)
        if (row.mac == QLatin1String("02:fe:00:00:00:02") && row.values.value(FenwaPlan::Ip) == QLatin1String("192.168.1.150")) {
            cloneUid = row.uid;
            cloneName = row.values.value(FenwaPlan::Name);
        }
    ASSERT_FALSE(cloneUid.isEmpty());
    // The clone fails and goes; the others are still there, unchanged.
    clone.stop();
    EXPECT_EQ(cli({"plan", "check", site}, &out), 1);
    EXPECT_EQ(out.count("\"status\":\"refused\""), 2) << out.constData();
    EXPECT_EQ(out.count("\"status\":\"unchanged\""), 2) << out.constData();
    EXPECT_EQ(cli({"plan", "apply", site, "--from", "02:fe:00:00:00:02", "--onto", "02:fe:00:00:00:03"}, &out), 2);
    ASSERT_EQ(cli({"plan", "apply", site, "--from", cloneUid, "--onto", "02:fe:00:00:00:03"}, &out), 0) << out.constData();
    EXPECT_EQ(sim.terminal(2).value("name").toString(), cloneName);
    EXPECT_EQ(sim.terminal(2).value("ip").toString(), QStringLiteral("192.168.1.150"));
}

} // namespace
