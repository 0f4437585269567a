// SPDX-License-Identifier: GPL-3.0-or-later
// The link end to end: FenwaSDK in one network namespace, fenwa-sim in
// another, a veth pair between them. Every test starts its own simulator with
// the faults it needs and reads back what the simulator received (command
// log) and what it became (state file).
#include "FenwaSDK.h"
#include "QPcapAdapterList.h"
#include "e2e_segment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

class SegmentEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (geteuid() != 0) {
            skipReason = "end-to-end tests make network namespaces and need root; skipped";
            return;
        }
        error = segment.create();
    }
    void TearDown() override { segment.destroy(); }

    E2eSegment segment;
    QByteArray skipReason, error;
};

SegmentEnvironment *env = nullptr;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QByteArray md5Hex(const char *text)
{
    return QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Md5).toHex();
}

bool macFromText(const QString &text, uint8_t mac[6])
{
    unsigned v[6];
    if (std::sscanf(text.toLatin1().constData(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(v[i]);
    return true;
}

class LinkE2e : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!env->skipReason.isEmpty())
            GTEST_SKIP() << env->skipReason.constData();
        ASSERT_TRUE(env->error.isEmpty()) << "running as root but the test segment cannot be made: "
                                          << env->error.constData();
    }

    void TearDown() override
    {
        sdk.close();
        for (FenwaDevice *d : owned)
            d->release();
        owned.clear();
        sim.stop();
        if (mtuChanged)
            env->segment.setMtu(1500);
        if (interfaceDown)
            env->segment.setToolInterfaceUp(true);
    }

    void startSim(const QStringList &args = {})
    {
        const QByteArray error = sim.start(env->segment, args);
        ASSERT_TRUE(error.isEmpty()) << error.constData();
    }

    // Opens the SDK on the tool-side veth as the workbench would find it.
    void openSdk(int replyTimeoutMs = 3000)
    {
        QPcapAdapterList *list = FenwaSDK::adapters();
        const QPcapAdapter *adapter = findAdapter(list, env->segment.toolIf.constData());
        ASSERT_NE(adapter, nullptr);
        ASSERT_STREQ(adapter->name, env->segment.toolIf.constData());
        sdk.open(adapter);
        delete list;
        sdk.setReplyTimeout(replyTimeoutMs);
        ASSERT_TRUE(waitTransportOpen(3000)) << sdk.transport()->lastError().constData();
    }

    bool waitTransportOpen(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!sdk.transport()->isDeviceOpen() && t.elapsed() < ms)
            sleepMs(5);
        return sdk.transport()->isDeviceOpen();
    }

    // The record a search would give for terminal i, without searching.
    FenwaDevice *record(int index)
    {
        const QJsonObject t = sim.terminal(index);
        uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
        uint8_t ip[4] = {0, 0, 0, 0};
        macFromText(t.value("mac").toString(), mac);
        std::sscanf(t.value("ip").toString().toLatin1().constData(), "%hhu.%hhu.%hhu.%hhu", &ip[0], &ip[1], &ip[2],
                    &ip[3]);
        FenwaDevice *d = FenwaDevice::fromSearchReply(mac, ip, nullptr);
        owned.append(d);
        return d;
    }

    QList<FenwaDevice *> search(int ms)
    {
        QList<FenwaDevice *> found;
        sdk.search(&found, ms);
        owned += found;
        return found;
    }

    FenwaDevice *findByMac(const QList<FenwaDevice *> &list, const QString &macText)
    {
        for (FenwaDevice *d : list)
            if (d->macText == macText)
                return d;
        return nullptr;
    }

    SimProcess sim;
    FenwaSDK sdk;
    QList<FenwaDevice *> owned;
    bool mtuChanged = false;
    bool interfaceDown = false;
};

// ---- search -----------------------------------------------------------------

struct SearchCase {
    const char *label;
    int count;
    QStringList args;
    int copies;
};

class Search : public LinkE2e, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(Search, FindsEveryTerminalOncePerReplyWithWhatItReports)
{
    const SearchCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(startSim(QStringList{"--count", QString::number(c.count)} + c.args));
    ASSERT_NO_FATAL_FAILURE(openSdk());
    const int searchId = sdk.peekNextId();
    const QList<FenwaDevice *> found = search(1000);
    EXPECT_EQ(found.size(), c.count * c.copies);

    const QJsonArray terminals = sim.state().value("terminals").toArray();
    ASSERT_EQ(terminals.size(), c.count);
    for (const QJsonValue &v : terminals) {
        const QJsonObject t = v.toObject();
        const QString mac = t.value("mac").toString();
        int seen = 0;
        for (FenwaDevice *d : found) {
            if (d->macText != mac)
                continue;
            ++seen;
            uint8_t expected[6];
            ASSERT_TRUE(macFromText(mac, expected));
            EXPECT_EQ(std::memcmp(d->mac, expected, 6), 0) << "commands go to the frame's sender MAC";
            EXPECT_EQ(d->ip, t.value("ip").toString());
            EXPECT_EQ(QString::asprintf("%d.%d.%d.%d", d->address[0], d->address[1], d->address[2], d->address[3]),
                      t.value("ip").toString());
            const QList<QPair<const char *, QString>> texts = {
                {"name", d->name}, {"type", d->type}, {"ipMode", d->ipMode}, {"version", d->version},
                {"gateway", d->gateway}, {"netmask", d->netmask}, {"dns1", d->dns1}, {"dns2", d->dns2},
                {"sn", d->sn}, {"uid", d->uid}, {"account", d->account()}, {"password", d->password()}};
            for (const auto &text : texts)
                EXPECT_EQ(text.second, t.value(text.first).toString()) << text.first;
            EXPECT_EQ(d->extraInt("micVolume"), t.value("micVolume").toInt());
            EXPECT_EQ(d->extraInt("outVolume"), t.value("outVolume").toInt());
            EXPECT_EQ(d->autoMute(), t.value("autoMute").toInt());
            EXPECT_EQ(d->extra("method"), "search");
        }
        EXPECT_EQ(seen, c.copies) << mac.toStdString();
    }
    EXPECT_EQ(sim.commands(), QList<QByteArray>{"{\"id\":" + QByteArray::number(searchId)
                                                + ",\"method\":\"search\",\"user\":\"Windows Wendtix\"}"});
}

INSTANTIATE_TEST_SUITE_P(
    Segments, Search,
    ::testing::Values(SearchCase{"EightTerminals", 8, {}, 1},
                      SearchCase{"EveryReplyTwice", 8, {"--duplicate"}, 2},
                      SearchCase{"FiftyOfThreeTypes", 50, {"--types", "VQ40,VQT40,XT9"}, 1},
                      // Terminals behind a switch answer a broadcast within
                      // microseconds of each other: the whole burst must fit
                      // the capture ring.
                      SearchCase{"ThousandBackToBack", 1000, {"--spread-us", "0"}, 1}),
    [](const ::testing::TestParamInfo<SearchCase> &info) { return std::string(info.param.label); });

// ---- every command ----------------------------------------------------------

struct CommandCase {
    const char *label;
    std::function<int(FenwaSDK &, FenwaDevice *)> run;
    QByteArray text;  // exact text, written with id 0
    QByteArray state; // what the addressed terminal's state must hold after it (JSON, a subset)
    // For the reading commands: compares what was read with the terminal.
    std::function<void(const QJsonObject &)> checkRead = nullptr;
};

class Command : public LinkE2e, public ::testing::WithParamInterface<CommandCase> {};

void expectSubset(const QJsonObject &want, const QJsonObject &have, const QString &path = QString())
{
    for (auto it = want.begin(); it != want.end(); ++it) {
        if (it->isObject()) {
            expectSubset(it->toObject(), have.value(it.key()).toObject(), path + it.key() + '.');
            continue;
        }
        const QJsonValue got = have.value(it.key());
        EXPECT_TRUE(got == it.value()) << (path + it.key()).toStdString() << " is "
                                       << QJsonDocument(QJsonArray{got}).toJson(QJsonDocument::Compact).constData();
    }
}

QByteArray rtpEntry(int i, int enable, const char *ip, int port)
{
    // cJSON's formatted print, written out by hand.
    return QByteArray("\"rtp") + QByteArray::number(i) + "\":{\n\t\"enable\":\t" + QByteArray::number(enable)
        + ",\n\t\"rtpIP\":\t\"" + ip + "\",\n\t\"rtpPort\":\t" + QByteArray::number(port) + "\n}";
}

SipSettings sipAccount(const char *account, const char *display)
{
    SipSettings s;
    s.serverHost = "sip.lan";
    s.serverPort = "5062";
    s.account = account;
    s.password = "pw";
    s.displayName = display;
    return s;
}

RtpSettings rtpChannel(int i)
{
    RtpSettings r;
    r.enable = i % 2;
    r.rtpIP = QString::asprintf("239.1.0.%d", i + 1);
    r.rtpPort = 7000 + 2 * i;
    return r;
}

// The ten channels written, as the command text (compact = false) or as the
// terminal's state.
QByteArray rtpChannels(bool compact)
{
    QByteArray t;
    for (int i = 0; i < 10; ++i) {
        const RtpSettings r = rtpChannel(i);
        if (compact)
            t += QString::asprintf("\"rtp%d\":{\"enable\":%d,\"rtpIP\":\"%s\",\"rtpPort\":%d}", i, r.enable,
                                   qPrintable(r.rtpIP), r.rtpPort).toLatin1();
        else
            t += rtpEntry(i, r.enable, r.rtpIP.toLatin1().constData(), r.rtpPort);
        t += i < 9 ? "," : "";
    }
    return t;
}

RtpSettings gRtpRead[10];
SipSettings gSipRead[2];

} // namespace

TEST_P(Command, ReachesTheTerminalAsTheTemplateTextAndChangesItsState)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "3"}));
    ASSERT_NO_FATAL_FAILURE(openSdk());
    const QJsonObject before0 = sim.terminal(0);
    const QJsonObject before2 = sim.terminal(2);
    FenwaDevice *device = record(1);
    const QByteArray id = QByteArray::number(sdk.peekNextId());

    EXPECT_EQ(GetParam().run(sdk, device), 0);
    const QList<QByteArray> received = sim.commands();
    ASSERT_EQ(received.size(), 1);
    // The log escapes raw line breaks; the template's only ones are in the
    // RTP entries, which cJSON prints with them.
    QByteArray expected = GetParam().text;
    expected.replace('\n', "\\n").replace("{\"id\":0,", "{\"id\":" + id + ",");
    EXPECT_EQ(received[0], expected);
    const QJsonDocument state = QJsonDocument::fromJson(GetParam().state);
    ASSERT_TRUE(state.isObject()) << GetParam().state.constData();
    expectSubset(state.object(), sim.terminal(1));
    if (GetParam().checkRead)
        GetParam().checkRead(sim.terminal(1));
    EXPECT_EQ(sim.terminal(0), before0) << "only the addressed terminal acts";
    EXPECT_EQ(sim.terminal(2), before2) << "only the addressed terminal acts";
}

using Sdk = FenwaSDK;
using Dev = FenwaDevice;

INSTANTIATE_TEST_SUITE_P(
    Protocol, Command,
    ::testing::Values(
        CommandCase{"GetRtpSettings", [](Sdk &s, Dev *d) { return s.getRtpSettings(d, gRtpRead, 10); },
                    "{\"id\":0,\"method\":\"GetRtpSettings\"}", "{}",
                    [](const QJsonObject &t) {
                        for (int i = 0; i < 10; ++i) {
                            const QJsonObject r = t.value(QString::asprintf("rtp%d", i)).toObject();
                            EXPECT_EQ(gRtpRead[i].rtpIP, r.value("rtpIP").toString()) << i;
                            EXPECT_EQ(gRtpRead[i].rtpPort, r.value("rtpPort").toInt()) << i;
                            EXPECT_EQ(gRtpRead[i].enable, r.value("enable").toInt()) << i;
                        }
                    }},
        CommandCase{"GetSipSettings", [](Sdk &s, Dev *d) { return s.getSipSettings(d, &gSipRead[0], &gSipRead[1]); },
                    "{\"id\":0,\"method\":\"GetSipSettings\"}", "{}",
                    [](const QJsonObject &t) {
                        EXPECT_EQ(gSipRead[0].serverPort, t.value("sip0").toObject().value("serverPort").toString());
                        EXPECT_EQ(gSipRead[1].serverPort, t.value("sip1").toObject().value("serverPort").toString());
                        EXPECT_FALSE(gSipRead[0].serverPort.isEmpty());
                    }},
        CommandCase{"Reboot", [](Sdk &s, Dev *d) { return s.reboot(d); }, "{\"id\":0,\"method\":\"reboot\"}",
                    "{\"reboots\":1}"},
        CommandCase{"ResetDefault", [](Sdk &s, Dev *d) { return s.resetDefault(d); },
                    "{\"id\":0,\"method\":\"ResetDefault\"}", "{\"factoryResets\":1}"},
        CommandCase{"PlayVolume", [](Sdk &s, Dev *d) { return s.playVolume(d); },
                    "{\"id\":0,\"method\":\"PlayVolume\"}", "{\"testSounds\":1}"},
        CommandCase{"SetIpDhcp", [](Sdk &s, Dev *d) { return s.setIpDhcp(d); },
                    "{\"id\":0,\"method\":\"SetIp\",\"IpMode\":\"dhcp\"}", "{\"ipMode\":\"dhcp\"}"},
        CommandCase{"SetIpStatic",
                    [](Sdk &s, Dev *d) {
                        return s.setIpStatic(d, "10.1.2.3", "10.1.2.1", "255.255.0.0", "10.1.2.53", "10.1.2.54");
                    },
                    "{\"id\":0,\"method\":\"SetIp\",\"IpMode\":\"static\",\"ip\":\"10.1.2.3\",\"gateway\":\"10.1.2.1\","
                    "\"netmask\":\"255.255.0.0\",\"dns1\":\"10.1.2.53\",\"dns2\":\"10.1.2.54\"}",
                    "{\"ip\":\"10.1.2.3\",\"gateway\":\"10.1.2.1\",\"netmask\":\"255.255.0.0\",\"dns1\":\"10.1.2.53\","
                    "\"dns2\":\"10.1.2.54\"}"},
        CommandCase{"SetName", [](Sdk &s, Dev *d) { return s.setName(d, "Lobby \"East\""); },
                    "{\"id\":0,\"method\":\"SetName\",\"name\":\"Lobby \\\"East\\\"\"}",
                    "{\"name\":\"Lobby \\\"East\\\"\"}"},
        CommandCase{"SetMac", [](Sdk &s, Dev *d) { return s.setMac(d, "02:aa:bb:cc:dd:ee"); },
                    "{\"id\":0,\"method\":\"SetMac\",\"mac\":\"02:aa:bb:cc:dd:ee\"}", "{\"mac\":\"02:aa:bb:cc:dd:ee\"}"},
        CommandCase{"SetSN", [](Sdk &s, Dev *d) { return s.setSn(d, "SN-X-42"); },
                    "{\"id\":0,\"method\":\"SetSN\",\"sn\":\"SN-X-42\"}", "{\"sn\":\"SN-X-42\"}"},
        CommandCase{"SetAccountPassword",
                    [](Sdk &s, Dev *d) { return s.setAccountPassword(d, "installer", QString::fromLatin1(md5Hex("s3cret"))); },
                    "{\"id\":0,\"method\":\"SetAccountPassword\", \"account\":\"installer\", \"password\":\""
                        + md5Hex("s3cret") + "\"}",
                    "{\"account\":\"installer\",\"password\":\"" + md5Hex("s3cret") + "\"}"},
        CommandCase{"SetServer", [](Sdk &s, Dev *d) { return s.setServer(d, "10.0.0.9", 8080); },
                    "{\"id\":0,\"method\":\"SetServer\",\"serverIp\":\"10.0.0.9\",\"serverPort\":8080}",
                    "{\"serverIp\":\"10.0.0.9\",\"serverPort\":8080}"},
        CommandCase{"SetDeviceVolume", [](Sdk &s, Dev *d) { return s.setDeviceVolume(d, 40, 70, 1); },
                    "{\"id\":0,\"method\":\"SetDeviceVolume\", \"micVolume\":40, \"outVolume\":70, \"autoMute\":1}",
                    "{\"micVolume\":40,\"outVolume\":70,\"autoMute\":1}"},
        CommandCase{"SetDeviceInfo",
                    [](Sdk &s, Dev *d) { return s.setDeviceInfo(d, "0571", "88", "Gate", 3, "A1", "B2", "C3", "D4"); },
                    "{\"id\":0,\"method\":\"SetDeviceInfo\",\"areaCode\":\"0571\",\"number\":\"88\",\"name\":\"Gate\","
                    "\"powerLevel\":3,\"resourceTypeSequenceCode\":\"A1\",\"resourceSonTypeSequenceCode\":\"B2\","
                    "\"resourceTypeCode\":\"C3\",\"resourceSonTypeCode\":\"D4\"}",
                    // The device info's name is not the terminal's name.
                    "{\"deviceInfo\":{\"areaCode\":\"0571\",\"name\":\"Gate\",\"powerLevel\":3,"
                    "\"resourceSonTypeCode\":\"D4\"},\"name\":\"Terminal-002\"}"},
        CommandCase{"SetSipSettings",
                    [](Sdk &s, Dev *d) { return s.setSipSettings(d, sipAccount("101", "Desk"), sipAccount("102", "")); },
                    "{\"id\":0,\"method\":\"SetSipSettings\",\"sip0\":{\"serverHost\" : \"sip.lan\",\"serverPort\" : "
                    "\"5062\", \"account\" : \"101\",\"password\" : \"pw\",\"displayName\" : \"Desk\"},\"sip1\":{"
                    "\"serverHost\" : \"sip.lan\",\"serverPort\" : \"5062\", \"account\" : \"102\",\"password\" : "
                    "\"pw\",\"displayName\" : \"\"}}",
                    "{\"sip0\":{\"account\":\"101\",\"displayName\":\"Desk\"},"
                    "\"sip1\":{\"account\":\"102\",\"serverPort\":\"5062\"}}"},
        CommandCase{"SetRtpSettings",
                    [](Sdk &s, Dev *d) {
                        RtpSettings list[10];
                        for (int i = 0; i < 10; ++i)
                            list[i] = rtpChannel(i);
                        return s.setRtpSettings(d, list, 10);
                    },
                    "{\"id\":0,\"method\":\"SetRtpSettings\"," + rtpChannels(false) + "}",
                    "{" + rtpChannels(true) + "}"}),
    [](const ::testing::TestParamInfo<CommandCase> &info) { return std::string(info.param.label); });

// ---- ids and reply matching ---------------------------------------------------

TEST_F(LinkE2e, EveryReplyTwiceStillGivesEachCommandItsOwnAcrossAReopen)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "2", "--duplicate"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(1000));
    const int first = sdk.peekNextId();
    const QList<FenwaDevice *> found = search(300);
    ASSERT_EQ(found.size(), 4);
    FenwaDevice *d = findByMac(found, "02:fe:00:00:00:02");
    ASSERT_NE(d, nullptr);
    // The second copy of each reply must not answer the next command.
    EXPECT_EQ(sdk.setName(d, "one"), 0);
    EXPECT_EQ(sdk.setName(d, "two"), 0);
    sdk.close();
    ASSERT_NO_FATAL_FAILURE(openSdk(1000));
    EXPECT_EQ(sdk.setName(d, "three"), 0);
    const QList<QByteArray> commands = sim.commands();
    ASSERT_EQ(commands.size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(commands[i].startsWith("{\"id\":" + QByteArray::number(first + i) + ",")) << commands[i].constData();
    EXPECT_EQ(sim.terminal(1).value("name").toString(), "three");
}

TEST_F(LinkE2e, LateReplyToAnEarlierCommandDoesNotAnswerTheNextOne)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "1", "--delay", "400"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(150));
    FenwaDevice *d = record(0);
    EXPECT_EQ(sdk.reboot(d), -1) << "its reply comes after 400 ms";
    sdk.setReplyTimeout(2000);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(sdk.playVolume(d), 0);
    // The reboot's reply lands about 250 ms into this wait; taking it would
    // end the wait before this command's own reply could exist.
    EXPECT_GE(timer.elapsed(), 350);
}

// ---- cancel -------------------------------------------------------------------

TEST_F(LinkE2e, CancelEndsACommandWaitingForAReplyThatNeverComes)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "1", "--drop", "100"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(3000));
    FenwaDevice *d = record(0);
    std::thread operatorClosesDialog([this] {
        sleepMs(200);
        sdk.cancel();
    });
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(sdk.setName(d, "never"), -1);
    operatorClosesDialog.join();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(sim.commands().size(), 1) << "the command itself went out";
}

TEST_F(LinkE2e, CancelEndsAnOpenEndedSearchWithWhatItFound)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "8"}));
    ASSERT_NO_FATAL_FAILURE(openSdk());
    std::thread canceller([this] {
        sleepMs(500);
        sdk.cancel();
    });
    QElapsedTimer timer;
    timer.start();
    const QList<FenwaDevice *> found = search(-1);
    canceller.join();
    EXPECT_EQ(found.size(), 8);
    EXPECT_LT(timer.elapsed(), 2000);
}

// ---- lost and bad replies -----------------------------------------------------

TEST_F(LinkE2e, EveryDroppedReplyIsOneFailureAndNoneMore)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "1", "--drop", "40", "--seed", "7"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(200));
    FenwaDevice *d = record(0);
    int succeeded = 0;
    constexpr int kCommands = 20;
    for (int i = 0; i < kCommands; ++i)
        succeeded += sdk.playVolume(d) == 0 ? 1 : 0;
    sleepMs(50);
    const int dropped = sim.stats().value("dropped").toInt();
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(succeeded, kCommands - dropped);
}

struct BadReplyCase {
    const char *label;
    QStringList args;
    int mtu; // 0: leave it
};

class BadReply : public LinkE2e, public ::testing::WithParamInterface<BadReplyCase> {};

TEST_P(BadReply, IsNeverTakenForTheAnswer)
{
    if (GetParam().mtu) {
        mtuChanged = true;
        ASSERT_TRUE(env->segment.setMtu(GetParam().mtu));
    }
    ASSERT_NO_FATAL_FAILURE(startSim(QStringList{"--count", "1"} + GetParam().args));
    ASSERT_NO_FATAL_FAILURE(openSdk(400));
    FenwaDevice *d = record(0);
    // Each of these replies claims "success" in its own way.
    EXPECT_EQ(sdk.setName(d, "x"), -1);
    EXPECT_EQ(sim.stats().value("replies").toInt(), 1) << "the simulator did answer";
    EXPECT_EQ(sim.commands().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BadReply,
    ::testing::Values(BadReplyCase{"WrongId", {"--wrong-id"}, 0}, BadReplyCase{"NotJson", {"--garbage"}, 0},
                      BadReplyCase{"FrameOver1514", {"--oversized"}, 2000},
                      BadReplyCase{"TextCutAt1514", {"--oversized"}, 0}),
    [](const ::testing::TestParamInfo<BadReplyCase> &info) { return std::string(info.param.label); });

// ---- transport life -------------------------------------------------------------

TEST_F(LinkE2e, RefusedSendIsFollowedByAReopenAndWorkingCommands)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "1"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(300));
    FenwaDevice *d = record(0);
    ASSERT_EQ(sdk.playVolume(d), 0);
    const int opensBefore = sdk.transport()->openCount();

    interfaceDown = true;
    ASSERT_TRUE(env->segment.setToolInterfaceUp(false));
    EXPECT_EQ(sdk.playVolume(d), -1);
    ASSERT_TRUE(env->segment.setToolInterfaceUp(true));
    interfaceDown = false;

    // The supervisor reopens on its own; the operator just tries again.
    QElapsedTimer timer;
    timer.start();
    while (sdk.transport()->openCount() == opensBefore && timer.elapsed() < 5000)
        sleepMs(20);
    EXPECT_GT(sdk.transport()->openCount(), opensBefore) << "the driver was reopened";
    ASSERT_TRUE(waitTransportOpen(3000));
    sdk.setReplyTimeout(1000);
    EXPECT_EQ(sdk.playVolume(d), 0);
    EXPECT_EQ(sdk.setName(d, "after"), 0);
    EXPECT_EQ(sim.terminal(0).value("name").toString(), "after");
}

// ---- the host's adapter list -------------------------------------------------------

TEST_F(LinkE2e, AdapterListCarriesTheInterfacesMacAddressMaskAndGateway)
{
    ASSERT_EQ(runCommand({"ip", "-n", env->segment.toolNs, "route", "replace", "default", "via", "192.168.1.1"}), 0);
    QByteArray link;
    ASSERT_EQ(runCommand({"ip", "-n", env->segment.toolNs, "-o", "link", "show", env->segment.toolIf}, &link), 0);
    const int at = link.indexOf("link/ether ");
    ASSERT_GE(at, 0) << link.constData();
    uint8_t mac[6];
    ASSERT_TRUE(macFromText(QString::fromLatin1(link.mid(at + 11, 17)), mac));

    QPcapAdapterList *list = FenwaSDK::adapters();
    runCommand({"ip", "-n", env->segment.toolNs, "route", "del", "default"});
    // The namespace holds lo and the veth end; loopback carries no Ethernet.
    ASSERT_EQ(list->count(), 1);
    const QPcapAdapter *a = list->at(0);
    EXPECT_STREQ(a->name, env->segment.toolIf.constData());
    EXPECT_EQ(std::memcmp(a->hardwareAddress, mac, 6), 0);
    char text[16];
    formatIpv4(a->address, text);
    EXPECT_STREQ(text, "192.168.1.2");
    formatIpv4(a->netmask, text);
    EXPECT_STREQ(text, "255.255.255.0");
    formatIpv4(a->gateway, text);
    EXPECT_STREQ(text, "192.168.1.1");
    EXPECT_EQ(list->at(1), nullptr);
    delete list;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    env = static_cast<SegmentEnvironment *>(::testing::AddGlobalTestEnvironment(new SegmentEnvironment));
    return RUN_ALL_TESTS();
}
