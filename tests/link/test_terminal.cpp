// SPDX-License-Identifier: GPL-3.0-or-later
// The rules about terminals that the workbench and fenwa-cli share: what a
// search keeps, MAC and IPv4 values per terminal of a batch, write-backs.
#include "FenwaDevice.h"
#include "FenwaTerminal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

using namespace FenwaTerminal;

void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

struct ValuesCase {
    const char *label;
    QStringList typed; // MAC: one text; IP: ip, gateway, netmask, dns1, dns2
    int count;
    QStringList values;  // empty: refused
    const char *notice;  // part of the refusal
};

TEST(MacValues, CountUpOrRefuseWithANotice)
{
    const ValuesCase cases[] = {
        {"carryIntoTheFifthPair", {"00:11:22:33:44:fe"}, 4,
         {"00:11:22:33:44:fe", "00:11:22:33:44:ff", "00:11:22:33:45:00", "00:11:22:33:45:01"}, ""},
        {"nineThenA", {"00:11:22:33:44:09"}, 2, {"00:11:22:33:44:09", "00:11:22:33:44:0a"}, ""},
        {"severalInLowerCase", {"AA-BB-CC-DD-EE-FE"}, 2, {"aa:bb:cc:dd:ee:fe", "aa:bb:cc:dd:ee:ff"}, ""},
        {"oneAsTyped", {"AA:BB:CC:DD:EE:FE"}, 1, {"AA:BB:CC:DD:EE:FE"}, ""},
        {"carryIntoAGroupMac", {"02:ff:ff:ff:ff:ff"}, 2, {}, "03:00:00:00:00:00"},
        {"neverPastTheLast", {"fe:ff:ff:ff:ff:ff"}, 2, {}, "ff:00:00:00:00:00"},
        {"groupMac", {"01:00:5e:00:00:01"}, 1, {}, "group"},
        {"broadcast", {"ff:ff:ff:ff:ff:ff"}, 1, {}, "broadcast"},
        {"allZero", {"00:00:00:00:00:00"}, 1, {}, "all-zero"},
        {"fivePairs", {"00:11:22:33:44"}, 1, {}, "six hexadecimal pairs"},
        {"blank", {" 00:11:22:33:44:55"}, 1, {}, "six hexadecimal pairs"},
        {"empty", {""}, 1, {}, "Please input device mac"},
    };
    for (const ValuesCase &c : cases) {
        QString notice;
        EXPECT_EQ(macValues(c.typed.value(0), c.count, &notice), c.values) << c.label;
        EXPECT_TRUE(notice.contains(QLatin1String(c.notice))) << c.label << ": " << notice.toStdString();
        EXPECT_EQ(notice.isEmpty(), !c.values.isEmpty()) << c.label;
    }
}

const char *const kMask24 = "255.255.255.0";

TEST(StaticIpValues, StayInsideTheSubnetOrSendNothing)
{
    const ValuesCase cases[] = {
        {"wrapsOverBroadcastAndNetworkAndGateway", {"192.168.1.253", "192.168.1.1", kMask24, "192.168.1.1", ""}, 4,
         {"192.168.1.253", "192.168.1.254", "192.168.1.2", "192.168.1.3"}, ""},
        {"slash23CarriesIntoTheThirdNumber", {"192.168.0.254", "192.168.1.1", "255.255.254.0", "8.8.8.8", "8.8.4.4"}, 3,
         {"192.168.0.254", "192.168.0.255", "192.168.1.0"}, ""},
        {"slash23SkipsItsOwnBroadcast", {"192.168.1.254", "192.168.0.1", "255.255.254.0", "192.168.0.1", ""}, 2,
         {"192.168.1.254", "192.168.0.2"}, ""},
        {"dnsServersAreNotHandedOut", {"10.0.0.5", "10.0.0.1", kMask24, "10.0.0.6", "10.0.0.7"}, 2, {"10.0.0.5", "10.0.0.8"}, ""},
        {"doesNotFit", {"10.0.0.1", "10.0.0.2", "255.255.255.252", "8.8.8.8", ""}, 2, {}, "for 1 of the 2"},
        {"typedBroadcast", {"10.0.0.255", "10.0.0.1", kMask24, "8.8.8.8", ""}, 1, {}, "broadcast"},
        {"typedNetwork", {"10.0.0.0", "10.0.0.1", kMask24, "8.8.8.8", ""}, 1, {}, "network"},
        {"typedGateway", {"10.0.0.1", "10.0.0.1", kMask24, "8.8.8.8", ""}, 1, {}, "gateway"},
        {"slash32OneAddress", {"10.0.0.9", "10.0.0.1", "255.255.255.255", "8.8.8.8", ""}, 1, {"10.0.0.9"}, ""},
        {"leadingZero", {"192.168.001.10", "10.0.0.1", kMask24, "8.8.8.8", ""}, 1, {}, "IP error"},
        {"badGateway", {"10.0.0.5", "10.0.0.256", kMask24, "8.8.8.8", ""}, 1, {}, "Gateway error"},
        {"maskWithAHole", {"10.0.0.5", "10.0.0.1", "255.0.255.0", "8.8.8.8", ""}, 1, {}, "Netmask error"},
        {"dns1CheckedForOneToo", {"10.0.0.5", "10.0.0.1", kMask24, "abc", ""}, 1, {}, "Dns1 error"},
        {"badDns2", {"10.0.0.5", "10.0.0.1", kMask24, "8.8.8.8", "8.8.8"}, 1, {}, "Dns2 error"},
    };
    for (const ValuesCase &c : cases) {
        const IpConfig typed{c.typed[0], c.typed[1], c.typed[2], c.typed[3], c.typed[4]};
        QString notice;
        QStringList ips;
        for (const IpConfig &v : staticIpValues(typed, c.count, &notice)) {
            ips << v.ip;
            EXPECT_EQ(v.gateway, typed.gateway) << c.label; // the rest is the same for every terminal
            EXPECT_EQ(v.dns2, typed.dns2) << c.label;
        }
        EXPECT_EQ(ips, c.values) << c.label;
        EXPECT_TRUE(notice.contains(QLatin1String(c.notice))) << c.label << ": " << notice.toStdString();
        EXPECT_EQ(notice.isEmpty(), !c.values.isEmpty()) << c.label;
    }
}

FenwaDevice *terminal(const char *macText, uint8_t last, const char *type = "VQ40")
{
    const uint8_t mac[6] = {0x02, 0xfe, 0, 0, 0, last}, ip[4] = {10, 0, 0, last};
    FenwaDevice *d = FenwaDevice::fromSearchReply(mac, ip, nullptr);
    d->macText = QString::fromLatin1(macText);
    d->type = QString::fromLatin1(type);
    return d;
}

// Terminal n of a table: link MAC 02:fe:00:00:00:0n, named Tn.
struct Table {
    explicit Table(int n)
    {
        for (int i = 1; i <= n; ++i) {
            devices << terminal("", uint8_t(i));
            devices.last()->name = QStringLiteral("T%1").arg(i);
            devices.last()->macText = linkMacText(devices.last());
            devices.last()->ip.clear();
        }
    }
    ~Table()
    {
        for (FenwaDevice *d : devices)
            d->release();
    }
    QList<FenwaDevice *> devices;
};

QString at(int last) { return QStringLiteral("10.0.0.%1").arg(last); }

} // namespace

TEST(AddressChoice, NothingHeldByAnotherIsHandedOutAndEverySkipIsNamed)
{
    // Addresses of 10.0.0.0/24 by their last number; gateway and DNS are .1.
    const struct {
        const char *label;
        int typed, count;                // targets are terminals 1 to count of a table of 6
        QList<int> pc;                   // this PC's addresses
        QList<QPair<int, int>> reported; // (address, terminal) as the search saw them
        QList<int> answersArp;           // answered a probe from 3c:00:00:00:00:01
        QList<int> values, skipped;
        const char *notice;
        const char *mask = kMask24;
    } cases[] = {
        {"thisPcWrappingWithinTheNetmask", 253, 4, {2}, {}, {}, {253, 254, 3, 4}, {2}, ""},
        {"otherTerminalsSkippedTheTargetKeepsItsOwn", 105, 2, {}, {{105, 1}, {106, 5}, {107, 6}}, {}, {105, 108}, {106, 107}, ""},
        {"targetsDoNotTakeEachOthers", 20, 2, {}, {{21, 1}}, {}, {20, 22}, {21}, ""},
        {"probeAnswersSkipped", 10, 2, {}, {}, {11, 12}, {10, 13}, {11, 12}, ""},
        {"nothingFits", 250, 4, {253}, {{254, 6}}, {252}, {}, {}, "for 3 of the 4", "255.255.255.248"},
        {"setToAnotherTerminalsAddress", 106, 1, {}, {{106, 6}}, {}, {}, {}, "in use by T6 (02:fe:00:00:00:06)"},
        {"setToAnAddressThatAnswers", 50, 1, {}, {}, {50}, {}, {}, "answers ARP from 3c:00:00:00:00:01"},
        {"setKeepsItsOwnAddress", 105, 1, {}, {{105, 1}}, {}, {105}, {}, ""},
    };
    const auto addresses = [](const QList<int> &lasts) {
        QStringList out;
        for (int a : lasts)
            out << at(a);
        return out;
    };
    for (const auto &c : cases) {
        Table table(6);
        QStringList targets;
        for (const auto &r : c.reported)
            table.devices[r.second - 1]->ip = at(r.first);
        for (int i = 0; i < c.count; ++i)
            targets << linkMacText(table.devices[i]);
        QList<AddressHolder> held = addressHolders(table.devices, addresses(c.pc));
        for (int a : c.answersArp)
            held << probeAnswer(at(a), QStringLiteral("3c:00:00:00:00:01"));
        QList<SkippedAddress> skipped;
        QString notice;
        QStringList values, skips;
        for (const IpConfig &v : staticIpValues({at(c.typed), at(1), c.mask, at(1), ""}, targets, held, &skipped, &notice))
            values << v.ip;
        for (const SkippedAddress &s : skipped) {
            skips << s.ip;
            EXPECT_EQ(s.why, addressRefusal(s.ip, QString(), held)) << c.label << ": each skip says why";
        }
        EXPECT_EQ(values, addresses(c.values)) << c.label;
        EXPECT_EQ(skips, addresses(c.skipped)) << c.label;
        EXPECT_TRUE(notice.contains(QLatin1String(c.notice))) << c.label << ": " << notice.toStdString();
        EXPECT_EQ(notice.isEmpty(), !c.values.isEmpty()) << c.label;
    }
}

// Rows of a table of three, 02:fe:00:00:00:01 to :03; the third reports 02:fe:00:00:00:33.
TEST(MacConflicts, AMacAnotherTerminalHoldsIsRefused)
{
    const struct {
        const char *label, *typed;
        QList<int> targets;
        const char *notice; // empty: accepted
    } cases[] = {
        {"anotherTerminalsLinkMac", "02-FE-00-00-00-02", {0}, "is the MAC of T2 (02:fe:00:00:00:02)"},
        {"theMacAnotherReports", "02:fe:00:00:00:33", {0}, "the MAC of T3"},
        {"itsOwn", "02:fe:00:00:00:01", {0}, ""},
        {"aRangeOverItsOwnTargets", "02:fe:00:00:00:01", {0, 1}, ""},
        {"aRangeReachingAnother", "02:fe:00:00:00:01", {0, 2}, "reaches 02:fe:00:00:00:02, the MAC of T2"},
        {"aRangeSwappingTargets", "02:fe:00:00:00:01", {1, 0}, "the MAC of T1"},
    };
    for (const auto &c : cases) {
        Table table(3);
        table.devices[2]->macText = QStringLiteral("02:FE:00:00:00:33");
        QList<FenwaDevice *> targets;
        for (int row : c.targets)
            targets << table.devices[row];
        QString notice;
        const QStringList values = macValues(QString::fromLatin1(c.typed), targets, table.devices, &notice);
        EXPECT_EQ(values.size(), *c.notice ? 0 : targets.size()) << c.label;
        EXPECT_TRUE(notice.contains(QLatin1String(c.notice))) << c.label << ": " << notice.toStdString();
    }
}

TEST(SearchKeeps, SupportedTypesWithoutCaseOncePerTerminalInMacOrder)
{
    QList<FenwaDevice *> replies{terminal("02:FE:00:00:00:0B", 1, "vqt40"), terminal("02:fe:00:00:00:0a", 2),
                                terminal("02:fe:00:00:00:09", 3, "VQ99"), terminal("again", 1),
                                terminal("02-fe-00-00-00-0c", 4, "Vq40"), terminal("not a mac", 5),
                                terminal("clone", 4)};
    FenwaDevice *again = replies[3];
    again->addRef();
    replies[6]->uid = QStringLiteral("another terminal on the same MAC");
    QList<FenwaDevice *> found;
    keepSupported(&replies, &found);
    QStringList macs;
    for (FenwaDevice *d : found)
        macs << d->macText;
    EXPECT_EQ(macs, QStringList({"02:fe:00:00:00:0a", "02:FE:00:00:00:0B", "02-fe-00-00-00-0c", "clone", "not a mac"}));
    EXPECT_EQ(again->refCount.load(), 1) << "the second answer of one terminal is released";
    EXPECT_TRUE(replies.isEmpty());
    again->release();
    // The marks of terminals on one MAC or one address: the table's test.
    for (FenwaDevice *d : found)
        d->release();
}

// Twenty terminals on one address: each names the first few others and
// counts the rest, so that a flood of replies from one address costs rows,
// not rows squared.
TEST(SearchKeeps, ConflictsNameAFewOthersAndCountTheRest)
{
    QList<FenwaDevice *> devices;
    for (int i = 0; i < 20; ++i) {
        devices << terminal("", uint8_t(i));
        devices.last()->ip = QStringLiteral("192.168.1.9");
    }
    const QHash<const FenwaDevice *, Conflicts> conflicts = conflictsOf(devices);
    ASSERT_EQ(conflicts.size(), 20);
    for (const FenwaDevice *d : devices) {
        const Conflicts &c = conflicts[d];
        EXPECT_EQ(c.sameIp.size(), int(CONFLICTS_NAMED));
        EXPECT_EQ(c.moreIp, 19 - int(CONFLICTS_NAMED));
        EXPECT_FALSE(c.sameIp.contains(d));
        EXPECT_TRUE(c.sameMac.isEmpty() && c.moreMac == 0);
    }
    int sharingMac = 0, sharingIp = 0;
    countConflicts(conflicts, &sharingMac, &sharingIp);
    EXPECT_EQ(sharingIp, 20);
    for (FenwaDevice *d : devices)
        d->release();
}

// Accepted volumes and account reach the table in the end-to-end suites.
TEST(WriteBack, AcceptedMacAddressesLaterCommandsAndBadValuesAreRefused)
{
    FenwaDevice *d = terminal("02:fe:00:00:00:01", 1);
    macAccepted(d, QStringLiteral("02-FE-00-00-00-51"));
    const uint8_t moved[6] = {0x02, 0xfe, 0, 0, 0, 0x51};
    EXPECT_EQ(std::memcmp(d->mac, moved, 6), 0);
    EXPECT_EQ(d->macText, "02-FE-00-00-00-51");
    d->release();
    // Both ends of each range, and one past the top of each volume.
    const std::pair<Volume, bool> volumes[] = {
        {{100, 100, 1}, true}, {{0, 0, 0}, true}, {{101, 0, 0}, false}, {{0, 101, 0}, false}};
    for (const auto &v : volumes) {
        QString why;
        EXPECT_EQ(volumeValue(v.first, &why), v.second) << v.first.mic << " " << v.first.out << " " << v.first.autoMute;
    }
    QString notice;
    Account a;
    EXPECT_FALSE(accountValue("admin", "", &a, &notice));
    EXPECT_EQ(passwordDigest(QStringLiteral("Pässwort")), "e813a7f3d4bbf7de22effd07ae2944d1");
}

TEST(RtpChannelText, AddressAndPortOrRefused)
{
    const struct {
        const char *label, *typed;
        bool accepted;
        const char *address;
        int port;
    } cases[] = {
        {"addressAndPort", "239.1.1.1:6000", true, "239.1.1.1", 6000},
        {"addressAlone", "239.1.1.1", true, "239.1.1.1", 0},
        {"colonWithoutPort", "239.1.1.1:", true, "239.1.1.1", 0},
        {"emptyIsStillWrittenEnabled", "", true, "", 0},
        {"blanksAround", " 239.1.1.1:6000 ", true, "239.1.1.1", 6000},
        {"portWithoutAddressIsNoAddress", ":6000", false, "", 0},
        {"lettersInThePort", "239.1.1.1:6OOO", false, "", 0},
        {"signedPort", "239.1.1.1:+6000", false, "", 0},
        {"portPastRange", "239.1.1.1:65536", false, "", 0},
        {"hostName", "rtp.example:6000", false, "", 0},
        {"longTextCannotOverflowTheCommand", "239.1.1.1111111111111111111111111111111111:1", false, "", 0},
    };
    for (const auto &c : cases) {
        RtpSettings channel;
        channel.rtpIP = QStringLiteral("untouched");
        QString why;
        EXPECT_EQ(rtpChannelFromText(QString::fromUtf8(c.typed), &channel, &why), c.accepted) << c.label << ": " << why.toStdString();
        EXPECT_EQ(why.isEmpty(), c.accepted) << c.label;
        if (c.accepted) {
            EXPECT_EQ(channel.enable, 1) << c.label;
            EXPECT_EQ(channel.rtpIP, QString::fromUtf8(c.address)) << c.label;
            EXPECT_EQ(channel.rtpPort, c.port) << c.label;
        } else {
            EXPECT_EQ(channel.rtpIP, "untouched") << c.label;
        }
    }
}

TEST(WriteBack, SipAndRtpInfoNameWhatTheTerminalNowUses)
{
    FenwaDevice *d = terminal("02:fe:00:00:00:01", 1);
    SipSettings first, second;
    second.account = QStringLiteral("2001");
    second.password = QStringLiteral("pw");
    second.serverHost = QStringLiteral("pbx.local");
    second.serverPort = QStringLiteral("5060");
    first = second;
    first.password.clear(); // incomplete: the second account is shown
    sipAccepted(d, first, second);
    EXPECT_EQ(d->extra("sipInfo"), "2001@pbx.local");
    sipAccepted(d, first, first);
    EXPECT_EQ(d->extra("sipInfo"), "");

    QString notice;
    QList<RtpSettings> channels = rtpValues({"", "239.1.1.1", "239.1.1.3:6004", "239.1.1.4:6006"}, &notice);
    ASSERT_EQ(channels.size(), 4);
    rtpAccepted(d, channels);
    EXPECT_EQ(d->extra("rtpInfo"), "239.1.1.3:6004"); // the first with address and port
    EXPECT_TRUE(rtpValues({"239.1.1.1", ":6000"}, &notice).isEmpty());
    EXPECT_TRUE(notice.startsWith("Channel 2")) << notice.toStdString();
    d->release();
}

TEST(Masking, SipPasswordsNeverShowTheAccountDigestStays)
{
    const struct {
        const char *label, *text, *shown;
    } cases[] = {
        {"setSip", R"({"id":1,"sip0":{"account":"8","password":"p\"w"},"sip1":{"password":""}})",
         R"({"id":1,"sip0":{"account":"8","password":"***"},"sip1":{"password":"***"}})"},
        {"accountDigestUntouched", R"({"id":2, "password":"33e1b232"})", R"({"id":2, "password":"33e1b232"})"},
        {"notJson", R"({"sip0":{"password" : "p\"w", "x")", R"({"sip0":{"password" : "***", "x")"},
        {"nothingToMask", R"({"id":3,  "name":"a"})", R"({"id":3,  "name":"a"})"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(maskedText(c.text).toStdString(), c.shown) << c.label;
}

TEST(SipFields, CheckedBeforeAnythingIsSent)
{
    const struct {
        const char *label, *account, *host, *port, *password;
        const char *notice; // empty: accepted
    } cases[] = {
        {"unusedWithItsDefaultPort", "", "", "5060", "", ""},
        {"unused", "", "", "", "", ""},
        {"ipv4Host", "7", "10.0.0.5", "65535", "x", ""},
        {"portWithLetters", "7", "10.0.0.5", "70000x", "", "server port"},
        {"portZero", "7", "10.0.0.5", "0", "", "server port"},
        {"portMissing", "7", "pbx.local", "", "", "server port"},
        {"numberHost", "7", "3", "5060", "", "server host"},
        {"underscoreHost", "7", "pbx_1.local", "5060", "", "server host"},
        {"accountWithoutHost", "7", "", "5060", "", "server host"},
        {"maskFromALog", "7", "pbx.local", "5060", "***", "***"},
    };
    SipSettings good;
    good.account = "1001", good.serverHost = "pbx.local", good.serverPort = "5060", good.password = "pw";
    for (const auto &c : cases) {
        SipSettings second;
        second.account = c.account, second.serverHost = c.host, second.serverPort = c.port, second.password = c.password;
        QString notice;
        EXPECT_EQ(sipValue(good, second, &notice), !*c.notice) << c.label << ": " << notice.toStdString();
        EXPECT_EQ(notice.startsWith("Sip Account 2"), *c.notice != 0) << c.label << ": " << notice.toStdString();
        EXPECT_TRUE(notice.contains(QLatin1String(c.notice))) << c.label << ": " << notice.toStdString();
    }
}
