// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "site/FenwaPlanCheck.h"

#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstring>

using namespace FenwaPlan;

namespace {

QString described(const Row &r, const char *column)
{
    return QStringLiteral("%1|%2|%3=%4|%5")
        .arg(r.line)
        .arg(r.mac, QLatin1String(column), r.values.value(fieldOf(QLatin1String(column))))
        .arg(r.problems.size());
}

TEST(PlanRead, RefusesWholeOrKeepsRowProblems)
{
    const struct {
        const char *name;
        QByteArray file;
        const char *error;              // a refusal holds this, or nullptr: read
        const char *expected = nullptr; // "line|mac|column=value|problems" of the last row
    } cases[] = {
        {"bomSemicolons", "\xEF\xBB\xBFmac;name\r\n02-FE-00-00-00-01;Hall\r\n", nullptr,
         "2|02:fe:00:00:00:01|name=Hall|0"},
        {"quotedSeparatorAndQuote", "mac,name\n02:fe:00:00:00:01,\"A, \"\"b\"\"\"\n", nullptr,
         "2|02:fe:00:00:00:01|name=A, \"b\"|0"},
        // Control characters are refused where they stand; the rest of the row reads.
        {"lineBreakInName", "mac,name,mic_volume\n02:fe:00:00:00:01,\"A\r\nc\",7\n", nullptr,
         "2|02:fe:00:00:00:01|mic_volume=7|1"},
        {"nulInName", QByteArray("mac,name\n02:fe:00:00:00:01,ab\0cd\n", 31), nullptr,
         "2|02:fe:00:00:00:01|name=|1"},
        {"siteFileNul", "{\"version\":1,\n\"terminals\":[{\"mac\":\"02:fe:00:00:00:05\",\"name\":\"a\\u0000b\"}]}",
         "line 2: a text holds a NUL character"},
        {"siteFileEscapedBackslashIsNoNul",
         "{\"version\":1,\"terminals\":[{\"mac\":\"02:fe:00:00:00:05\",\"name\":\"a\\\\u0000b\"}]}", nullptr,
         "1|02:fe:00:00:00:05|name=a\\u0000b|0"},
        {"guardTakenOff", "mac,name\n02:fe:00:00:00:01,'=1+1\n", nullptr, "2|02:fe:00:00:00:01|name==1+1|0"},
        {"rowAfterQuotedNewlineKeepsItsLine", "mac,name\n02:fe:00:00:00:01,\"a\nb\"\n02:fe:00:00:00:02,c\n",
         nullptr, "4|02:fe:00:00:00:02|name=c|0"},
        {"emptyCellLeavesField", "mac,name,mic_volume\n02:fe:00:00:00:01,,7\n", nullptr,
         "2|02:fe:00:00:00:01|name=|0"},
        {"clearWebPasswordKeptAsDigest", "mac,web_password\n02:fe:00:00:00:01,admin\n", nullptr,
         "2|02:fe:00:00:00:01|web_password_md5=21232f297a57a5a743894a0e4a801fc3|0"},
        {"channelOff", "mac,rtp2\n02:fe:00:00:00:01,239.1.1.1:6000 off\n", nullptr,
         "2|02:fe:00:00:00:01|rtp2=239.1.1.1:6000 off|0"},
        {"badValueIsARowProblem", "mac,ip,mic_volume,rtp1\n02:fe:00:00:00:01,10.0.0.300,101,1.2.3.4:70000\n",
         nullptr, "2|02:fe:00:00:00:01|ip=10.0.0.300|3"},
        {"siteFile",
         "{\"version\":1,\"terminals\":[{\"mac\":\"02:fe:00:00:00:05\",\"found\":{\"sn\":\"x\"},"
         "\"sip2_account\":\"\",\"mic_volume\":40}]}",
         nullptr, "1|02:fe:00:00:00:05|mic_volume=40|0"},
        {"unknownColumn", "mac,name,nmae\n02:fe:00:00:00:01,a,b\n", "line 1: unknown column \"nmae\""},
        {"noMacColumn", "name\nHall\n", "no column \"mac\""},
        {"malformedMac", "mac,name\n02:fe:00:00:00:01,a\n02:fe:00:00:01,b\n", "line 3: mac \"02:fe:00:00:01\""},
        {"groupMac", "mac\n03:fe:00:00:00:01\n", "line 2: mac"},
        {"missingMac", "mac,name\n,Hall\n", "line 2: mac \"\""},
        {"duplicateMac", "mac\n02:fe:00:00:00:01\n02-FE-00-00-00-01\n", "line 3: mac 02:fe:00:00:00:01 is planned twice (also line 2)"},
        {"siteFileSharedMacReads",
         "{\"version\":1,\"terminals\":[{\"mac\":\"02:fe:00:00:00:05\"},{\"mac\":\"02:fe:00:00:00:05\",\"name\":\"B\"}]}",
         nullptr, "2|02:fe:00:00:00:05|name=B|0"},
        {"unclosedQuote", "mac,name\n02:fe:00:00:00:01,\"Hall\n", "line 2:"},
        {"notUtf8", "mac,name\n02:fe:00:00:00:01,H\xE9llo\n", "line 2: not UTF-8"},
        {"siteFileUnknownKey", "{\"version\":1,\"terminals\":[{\"mac\":\"02:fe:00:00:00:05\",\"nmae\":\"x\"}]}",
         "terminal 1: unknown column \"nmae\""},
        {"siteFileTerminalWithoutMac", "{\"version\":1,\"terminals\":[{\"name\":\"x\"}]}", "terminal 1: no mac"},
        {"siteFileOtherVersion", "{\"version\":2,\"terminals\":[]}", "version 1"},
    };
    for (const auto &c : cases) {
        Plan plan;
        QString error;
        const bool ok = read(c.file, &plan, &error);
        if (c.error) {
            EXPECT_FALSE(ok) << c.name;
            EXPECT_TRUE(error.contains(QLatin1String(c.error))) << c.name << ": " << error.toStdString();
            continue;
        }
        EXPECT_TRUE(ok) << c.name << ": " << error.toStdString();
        const QString want = QString::fromUtf8(c.expected);
        const QString column = want.section(QLatin1Char('|'), 2, 2).section(QLatin1Char('='), 0, 0);
        if (ok) {
            EXPECT_EQ(described(plan.rows.last(), column.toUtf8().constData()).toStdString(), want.toStdString()) << c.name;
        }
    }
    Plan plan;
    QString error;
    ASSERT_TRUE(read("mac,name\n02:fe:00:00:00:01,a\x1f" "b\n", &plan, &error));
    EXPECT_TRUE(plan.rows[0].problems.join(QString()).contains(QLatin1String("(U+001f)"))) << plan.rows[0].problems.join(QString()).toStdString();
}

FenwaDevice *terminal(int last, const char *ip)
{
    const uint8_t mac[6] = {0x02, 0xfe, 0, 0, 0, uint8_t(last)};
    const uint8_t address[4] = {192, 168, 1, uint8_t(last)};
    cJSON *json = cJSON_Parse("{\"type\":\"VQ40\",\"ipMode\":\"static\",\"netmask\":\"255.255.255.0\","
                              "\"gateway\":\"192.168.1.1\",\"dns1\":\"192.168.1.1\",\"name\":\"T\","
                              "\"micVolume\":50,\"outVolume\":60,\"autoMute\":0}");
    FenwaDevice *d = FenwaDevice::fromSearchReply(mac, address, json);
    d->ip = QLatin1String(ip);
    cJSON_Delete(json);
    return d;
}

TEST(PlanPreview, ShowsChangesAndSiteProblems)
{
    const struct {
        const char *name;
        QByteArray plan;     // terminals 1 to 3 are found at .11 to .13, the PC is .2
        const char *changes; // the first row's "column:current>planned" joined by ' '
        const char *problem; // in the first row's problems, or nullptr: none
    } cases[] = {
        {"unchangedLeftOut", "mac,name,mic_volume\n02:fe:00:00:00:01,T,50\n", "", nullptr},
        {"oneVolumeKeepsTheOthers", "mac,speaker_volume\n02:fe:00:00:00:01,80\n",
         "speaker_volume:60>80", nullptr},
        {"addressAloneMeansStatic", "mac,ip\n02:fe:00:00:00:01,192.168.1.50\n",
         "ip:192.168.1.11>192.168.1.50", nullptr},
        {"dhcpIgnoresAddress", "mac,ip_mode,ip\n02:fe:00:00:00:01,dhcp,192.168.1.50\n",
         "ip_mode:static>dhcp", nullptr},
        {"sameAddressTwiceInPlan", "mac,ip\n02:fe:00:00:00:01,192.168.1.50\n02:fe:00:00:00:02,192.168.1.50\n",
         "ip:192.168.1.11>192.168.1.50", "192.168.1.50 is planned for line 3 too"},
        {"addressOfTerminalOutsidePlan", "mac,ip\n02:fe:00:00:00:01,192.168.1.13\n",
         "ip:192.168.1.11>192.168.1.13", "192.168.1.13 is not free: in use by T (02:fe:00:00:00:03)"},
        {"addressSwapInsidePlan", "mac,ip\n02:fe:00:00:00:01,192.168.1.12\n02:fe:00:00:00:02,192.168.1.11\n",
         "ip:192.168.1.11>192.168.1.12", nullptr},
        {"thePcsAddress", "mac,ip\n02:fe:00:00:00:01,192.168.1.2\n", "ip:192.168.1.11>192.168.1.2",
         "192.168.1.2 is not free: this PC"},
        {"answersArp", "mac,ip\n02:fe:00:00:00:01,192.168.1.60\n", "ip:192.168.1.11>192.168.1.60",
         "answers ARP from 3c:00:00:00:00:01"},
        {"gatewayAsAddress", "mac,ip\n02:fe:00:00:00:01,192.168.1.1\n", "ip:192.168.1.11>192.168.1.1",
         "gateway's"},
        {"newMacAfterTheAddress", "mac,new_mac,ip\n02:fe:00:00:00:01,02:fe:00:00:00:09,192.168.1.50\n",
         "ip:192.168.1.11>192.168.1.50 new_mac:02:fe:00:00:00:01>02:fe:00:00:00:09", nullptr},
        {"macOfTerminalOutsidePlan", "mac,new_mac\n02:fe:00:00:00:01,02:fe:00:00:00:03\n",
         "new_mac:02:fe:00:00:00:01>02:fe:00:00:00:03", "MAC 02:fe:00:00:00:03 is held by"},
        {"sipNotRead", "mac,sip1_account\n02:fe:00:00:00:01,1001\n", "", "SIP accounts: the terminal's current values were not read"},
        {"webAccount", "mac,web_account\n02:fe:00:00:00:01,installer\n", "web_account:>installer", nullptr},
        {"oneAddressForEveryRow",
         "mac,ip\n02:fe:00:00:00:01,192.168.1.50\n02:fe:00:00:00:02,192.168.1.50\n02:fe:00:00:00:03,192.168.1.50\n"
         "02:fe:00:00:00:04,192.168.1.50\n02:fe:00:00:00:05,192.168.1.50\n",
         "ip:192.168.1.11>192.168.1.50", "192.168.1.50 is planned for line 3, line 4, line 5 and 1 more too"},
    };
    QList<Found> found;
    for (int i = 1; i <= 3; ++i) {
        FenwaDevice *d = terminal(i, QStringLiteral("192.168.1.1%1").arg(i).toLatin1().constData());
        found << Found{d, currentValues(d)};
    }
    // This PC is .2; something that is no terminal answers ARP for .60 and
    // for terminal 1's .11 (a row that keeps its address is not held to it),
    // and terminal 2 answers for its own .12.
    const QList<FenwaTerminal::AddressHolder> held =
        FenwaTerminal::addressHolders({}, {QStringLiteral("192.168.1.2")})
        << FenwaTerminal::probeAnswer(QStringLiteral("192.168.1.60"), QStringLiteral("3c:00:00:00:00:01"))
        << FenwaTerminal::probeAnswer(QStringLiteral("192.168.1.11"), QStringLiteral("3c:00:00:00:00:01"))
        << FenwaTerminal::probeAnswer(QStringLiteral("192.168.1.12"), QStringLiteral("02:fe:00:00:00:02"));
    for (const auto &c : cases) {
        Plan plan;
        QString error;
        EXPECT_TRUE(read(c.plan, &plan, &error)) << c.name << ": " << error.toStdString();
        const Preview p = preview(plan, found, held);
        QStringList changes;
        for (const Change &ch : p.items.first().changes)
            changes << QStringLiteral("%1:%2>%3").arg(columnName(ch.field), ch.current, ch.planned);
        EXPECT_EQ(changes.join(QLatin1Char(' ')).toStdString(), c.changes) << c.name;
        const QString problems = p.items.first().problems.join(QLatin1Char('|'));
        EXPECT_TRUE(c.problem ? problems.contains(QLatin1String(c.problem)) : problems.isEmpty())
            << c.name << ": " << problems.toStdString();
        // A row is one batch step per command, merged, the MAC last.
        const QList<Step> list = steps(p.items.first());
        for (int k = 0; k < list.size(); ++k)
            EXPECT_EQ(list[k].kind == Step::SetMac, k == list.size() - 1 && p.items.first().merged.contains(NewMac)) << c.name << " " << k;
    }
    for (const Found &f : found)
        f.device->release();
}

TEST(PlanPreview, ARefusedCellIsNamedOnce)
{
    FenwaDevice *d = terminal(1, "192.168.1.11");
    for (const auto &c : {std::make_pair("ip\n02:fe:00:00:00:01,192.168.1.300", "ip: 192.168.1.300 is not an IPv4 address"),
                          std::make_pair("new_mac\n02:fe:00:00:00:01,01:00:5e:00:00:01",
                                         "new_mac: A group (multicast) MAC cannot be a terminal's address")}) {
        Plan plan;
        QString error;
        ASSERT_TRUE(read(QByteArray("mac,") + c.first + "\n", &plan, &error)) << error.toStdString();
        const Preview p = preview(plan, {Found{d, currentValues(d)}}, {});
        EXPECT_EQ(p.items.first().problems.join(QLatin1Char('|')).toStdString(), c.second);
    }
    d->release();
}

TEST(PlanPreview, FieldsThatGoTogetherAreOneCommand)
{
    const struct {
        const char *sheet;
        Step::Kind kind;
        const char *text; // in the command, without white space
        const char *problem = ""; // in the row's problems
    } cases[] = {
        {"mac,web_account,web_password\n02:fe:00:00:00:01,installer,s3cret\n", Step::SetAccount, "\"installer\""},
        {"mac,rtp1,rtp2\n02:fe:00:00:00:01,239.1.1.1:6000,239.1.1.2:6002 off\n", Step::SetRtp,
         "\"rtp0\":{\"enable\":1,\"rtpIP\":\"239.1.1.1\",\"rtpPort\":6000},\"rtp1\":{\"enable\":0,"},
        {"mac,sip1_account,sip1_server_port\n02:fe:00:00:00:01,1001,99999\n", Step::SetSip, "\"account\":\"1001\"",
         "Sip Account 1: the server port must be"},
    };
    for (const auto &c : cases) {
        Plan plan;
        QString error;
        ASSERT_TRUE(read(c.sheet, &plan, &error)) << error.toStdString();
        FenwaDevice *d = terminal(1, "192.168.1.11");
        const SipSettings sip[2];
        const RtpSettings rtp[FENWA_RTP_CHANNELS]; // read: none in use
        const Item item = preview(plan, {Found{d, currentValues(d, sip, rtp)}}, {}).items.first();
        const QList<Step> list = steps(item);
        d->release();
        EXPECT_TRUE(item.problems.join(QLatin1Char('|')).contains(QLatin1String(c.problem))) << item.problems.join(QLatin1Char('|')).toStdString();
        ASSERT_EQ(list.size(), 1) << c.sheet;
        EXPECT_EQ(list.first().kind, c.kind);
        char text[FenwaRequest::COMMAND_BUFFER];
        ASSERT_GT(stepRequest(list.first()).textFor(text, 1), 0);
        EXPECT_TRUE(QByteArray(text).simplified().replace(' ', "").contains(c.text)) << text;
    }
}

// What an empty cell means: a sheet's leaves the field as it is, a site
// file's empty text is a value a terminal holds (an unused second account).
TEST(PlanRead, AnEmptyCellAndAnEmptySiteFileText)
{
    Plan sheet, site;
    QString error;
    ASSERT_TRUE(read("mac,sip2_account,name,dns2\n02:fe:00:00:00:01,,,\n", &sheet, &error));
    ASSERT_TRUE(read("{\"version\":1,\"terminals\":[{\"mac\":\"02:fe:00:00:00:01\",\"sip2_account\":\"\",\"dns2\":\"\","
                     "\"name\":\"\"}]}",
                     &site, &error));
    EXPECT_TRUE(sheet.rows[0].values.isEmpty());
    EXPECT_TRUE(site.rows[0].values.contains(Sip2Account) && site.rows[0].values.contains(Dns2));
    EXPECT_FALSE(site.rows[0].values.contains(Name)); // a terminal always has a name
}

// Only what a row sets is read first: a plan of channels reads no accounts.
TEST(PlanCheck, ReadsWhatEachRowNeeds)
{
    Plan plan;
    QString error;
    ASSERT_TRUE(read("mac,name,sip1_account,rtp2\n02:fe:00:00:00:01,A,,\n02:fe:00:00:00:02,,1002,\n"
                     "02:fe:00:00:00:03,,,239.1.1.1:6000\n02:fe:00:00:00:04,,1004,239.1.1.1:6000\n",
                     &plan, &error));
    QList<FenwaDevice *> found;
    for (int i = 1; i <= 5; ++i)
        found << terminal(i, "192.168.1.50");
    const QVector<Reading> wanted = readingsFor(plan, found);
    const char *expected[] = {"", "S", "R", "SR", ""};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(QStringLiteral("%1%2").arg(wanted[i].wantSip ? "S" : "", wanted[i].wantRtp ? "R" : "").toStdString(),
                  expected[i])
            << i;
        EXPECT_EQ(wanted[i].requests().size(), int(std::strlen(expected[i])));
    }
    for (FenwaDevice *d : found)
        d->release();
}

TEST(PlanDoubts, ANumberASpreadsheetRewroteIsCaught)
{
    const struct {
        const char *current, *planned;
        bool caught;
    } cases[] = {
        {"0801", "801", true},   {"1000", "1e+03", true}, {"1000", "1E3", true},   {"801", "801.0", true},
        {"0060", "60", true},    {"801", "0801", false},  {"0801", "00801", false}, {"801", "802", false},
        {"0801", "0801", false}, {"Hall", "Hall", false}, {"", "0", false},        {"08a", "8", false},
    };
    for (const auto &c : cases) {
        const QString why = numberRewritten(Sip1Account, QLatin1String(c.current), QLatin1String(c.planned));
        EXPECT_EQ(!why.isEmpty(), c.caught) << c.current << " -> " << c.planned;
    }
    // A password's values stay out of the reason.
    EXPECT_FALSE(numberRewritten(Sip1Password, QStringLiteral("0801"), QStringLiteral("801")).contains(QLatin1String("801")));

    // In the preview: the row is in doubt, not refused, and nothing else of it changes.
    FenwaDevice *d = terminal(1, "192.168.1.11");
    d->name = QStringLiteral("0801");
    Plan plan;
    QString error;
    ASSERT_TRUE(read("mac,name,mic_volume\n02:fe:00:00:00:01,801,50\n", &plan, &error));
    const Preview p = preview(plan, {Found{d, currentValues(d)}}, {});
    EXPECT_EQ(statusOf(p.items[0]).outcome, Outcome::Doubtful);
    EXPECT_EQ(p.problemRows(), 0);
    EXPECT_EQ(p.doubtRows(), 1);
    d->release();
}

TEST(PlanOutcome, ATerminalPartlyTried)
{
    auto answered = [](const char *result) {
        FenwaBatch::Result r;
        r.state = FenwaBatch::Answered;
        auto reply = std::make_shared<FenwaReply>();
        reply->json = cJSON_Parse(result);
        r.reply = reply;
        return r;
    };
    FenwaBatch::Result noAnswer, notTried;
    noAnswer.state = FenwaBatch::NoAnswer;
    const FenwaBatch::Result ok = answered("{\"result\":\"success\"}"), busy = answered("{\"result\":\"busy\"}");
    const QList<Step> three{{Step::SetName, {}}, {Step::SetSip, {}}, {Step::SetIp, {}}};
    const struct {
        QList<FenwaBatch::Result> results;
        Outcome outcome;
        const char *text;
    } cases[] = {
        {{ok, ok, ok}, Outcome::Done, "done"},
        {{ok, noAnswer, notTried}, Outcome::Failed, "failed: SIP accounts: no answer; not tried: address"},
        {{ok, busy, notTried}, Outcome::Failed, "failed: SIP accounts: refused: busy; not tried: address"},
        {{ok, ok, notTried}, Outcome::Failed, "failed: stopped; not tried: address"},
        {{notTried, notTried, notTried}, Outcome::NotTried, "not tried"},
    };
    for (const auto &c : cases) {
        const Status s = applied(three, c.results);
        EXPECT_EQ(s.outcome, c.outcome) << c.text;
        EXPECT_EQ(statusText(s).toStdString(), c.text);
    }
    EXPECT_EQ(applied({}, {}).outcome, Outcome::Unchanged);
}

// Two terminals of a site shared a MAC when it was backed up.
TEST(SiteFile, ASharedMacRefusesOnlyItsOwnRows)
{
    FenwaDevice *a = terminal(5, "192.168.1.15"), *b = terminal(5, "192.168.1.16"), *c = terminal(7, "192.168.1.17");
    a->uid = QStringLiteral("UID-A");
    b->uid = QStringLiteral("UID-B");
    c->uid = QStringLiteral("UID-C");
    c->dns2 = QStringLiteral("10.0.0.53");
    SipSettings sip[2];
    sip[0].account = QStringLiteral("0801");
    sip[0].password = QStringLiteral("pw");
    QStringList shared = sharedMacs({{a, sip, nullptr}, {b, sip, nullptr}, {c, sip, nullptr}});
    ASSERT_EQ(shared.size(), 1);
    EXPECT_TRUE(shared[0].contains(QLatin1String("UID-A")) && shared[0].contains(QLatin1String("UID-B")));
    const QByteArray file = siteFile({{a, sip, nullptr}, {b, sip, nullptr}, {c, sip, nullptr}}, QStringLiteral("now"));
    const QByteArray bare = siteFile({{a, sip, nullptr}}, QStringLiteral("now"), false);
    EXPECT_TRUE(!bare.contains("password") && bare.contains("0801")) << bare.constData();
    EXPECT_TRUE(file.contains("\"pw\"") && file.contains("10.0.0.53")) << "a backup keeps every value it was asked for";
    Plan site;
    QString error;
    ASSERT_TRUE(read(file, &site, &error)) << error.toStdString();
    const Preview p = preview(site, {Found{c, currentValues(c, sip)}}, {});
    EXPECT_EQ(statusOf(p.items[0]).outcome, Outcome::Refused);
    EXPECT_TRUE(p.items[1].problems.join(QLatin1Char(' ')).contains(QLatin1String("UID-B")));
    EXPECT_EQ(statusOf(p.items[2]).outcome, Outcome::Unchanged);

    const struct {
        const char *from;
        bool takeMac;
        const char *error;   // or nullptr
        const char *newMac;  // the restored row's new_mac, "" for none
    } cases[] = {
        {"02:fe:00:00:00:05", false, "2 terminals of the file share mac 02:fe:00:00:00:05", ""},
        {"UID-B", false, nullptr, ""},
        {"UID-B", true, nullptr, "02:fe:00:00:00:05"},
        {"02:FE:00:00:00:07", false, nullptr, ""},
        {"02:fe:00:00:00:07", true, nullptr, "02:fe:00:00:00:07"},
        {"UID-X", false, "no terminal UID-X", ""},
    };
    for (const auto &k : cases) {
        Plan plan = site;
        const bool ok = restoreOnto(&plan, QLatin1String(k.from), QStringLiteral("02:fe:00:00:00:09"), k.takeMac, &error);
        if (k.error) {
            EXPECT_FALSE(ok) << k.from;
            EXPECT_TRUE(error.contains(QLatin1String(k.error))) << error.toStdString();
            continue;
        }
        ASSERT_TRUE(ok) << k.from << ": " << error.toStdString();
        ASSERT_EQ(plan.rows.size(), 1);
        EXPECT_EQ(plan.rows[0].mac, QStringLiteral("02:fe:00:00:00:09"));
        EXPECT_EQ(plan.rows[0].values.value(NewMac).toStdString(), k.newMac) << k.from;
        EXPECT_EQ(plan.rows[0].values.value(Sip1Account), QStringLiteral("0801"));
        // The replacement is found, and nothing stands against it.
        FenwaDevice *replacement = terminal(9, "192.168.1.19");
        const Preview r = preview(plan, {Found{replacement, currentValues(replacement, sip)}}, {});
        EXPECT_TRUE(r.items[0].problems.isEmpty()) << k.from << ": " << r.items[0].problems.join(QLatin1Char(' ')).toStdString();
        replacement->release();
    }
    for (FenwaDevice *d : {a, b, c})
        d->release();
}

} // namespace
