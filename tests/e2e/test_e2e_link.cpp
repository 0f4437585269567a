// SPDX-License-Identifier: GPL-3.0-or-later
// The link end to end: FenwaSDK in one network namespace, fenwa-sim in
// another, a veth pair between them. Every test starts its own simulator with
// the faults it needs and reads back what the simulator received (command
// log) and what it became (state file).
#include "FenwaAddressProbe.h"
#include "FenwaBatch.h"
#include "FenwaFirmware.h"
#include "FenwaSDK.h"
#include "QPcapAdapterList.h"
#include "e2e_segment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <signal.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int JsonId(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object().value("id").toInt(-1);
}

// Whether every copy of command `first` in the log came before any of `second`.
bool allBefore(const QList<QByteArray> &log, int first, int second)
{
    int lastFirst = -1, firstSecond = log.size();
    for (int k = 0; k < log.size(); ++k) {
        lastFirst = JsonId(log[k]) == first ? k : lastFirst;
        firstSecond = JsonId(log[k]) == second ? std::min(firstSecond, k) : firstSecond;
    }
    return lastFirst < firstSecond;
}

QString ipText(const uint8_t *a)
{
    return QString::asprintf("%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
}

// Runs its function when it goes: a test's undoing, whichever way it ends.
struct Cleanup {
    std::function<void()> run;
    ~Cleanup() { run(); }
};

class LinkE2e : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "end-to-end tests make network namespaces and need root";
        ASSERT_TRUE(e2eSegmentError.isEmpty()) << "running as root but the test segment cannot be made: "
                                            << e2eSegmentError.constData();
    }
    void TearDown() override
    {
        sdk.close();
        for (FenwaDevice *d : owned)
            d->release();
        sim.stop();
        // A terminal moved to another MAC leaves its address pointing at the
        // old one in this side's kernel: the next test's HTTP would wait out
        // the neighbour's probes.
        runCommand({"ip", "-n", e2eSegment->toolNs, "neigh", "flush", "all"});
        if (mtuChanged)
            e2eSegment->setMtu(1500);
        if (interfaceDown)
            e2eSegment->setToolInterfaceUp(true);
    }

    void startSim(const QStringList &args)
    {
        // Command replies are ARP frames: the tool side's kernel learns from
        // them where an address was, and a new simulator may put it elsewhere.
        runCommand({"ip", "-n", e2eSegment->toolNs, "neigh", "flush", "dev", e2eSegment->toolIf});
        const QByteArray error = sim.start(*e2eSegment, args);
        ASSERT_TRUE(error.isEmpty()) << error.constData();
    }

    // Opens the SDK on the tool-side veth as the workbench would find it.
    void openSdk(int replyTimeoutMs)
    {
        std::unique_ptr<QPcapAdapterList> list(FenwaSDK::adapters());
        const QPcapAdapter *adapter = findAdapter(list.get(), e2eSegment->toolIf.constData());
        ASSERT_STREQ(adapter ? adapter->name : "", e2eSegment->toolIf.constData());
        sdk.open(adapter);
        sdk.setReplyTimeout(replyTimeoutMs);
        ASSERT_TRUE(waitTransportOpen()) << sdk.transport()->lastError().constData();
    }

    bool waitTransportOpen()
    {
        for (int i = 0; i < 600 && !sdk.transport()->isDeviceOpen(); ++i)
            sleepMs(5);
        return sdk.transport()->isDeviceOpen();
    }

    // The record a search would give for terminal i, without searching.
    FenwaDevice *record(int index)
    {
        const QJsonObject t = sim.terminal(index);
        uint8_t mac[6] = {0}, ip[4] = {0};
        FenwaDevice::parseMac(t.value("mac").toString(), mac);
        std::sscanf(t.value("ip").toString().toLatin1().constData(), "%hhu.%hhu.%hhu.%hhu", &ip[0], &ip[1], &ip[2],
                    &ip[3]);
        owned.append(FenwaDevice::fromSearchReply(mac, ip, nullptr));
        return owned.last();
    }

    // One command, as a batch of one: 0 when accepted.
    int run(FenwaDevice *d, const FenwaRequest &request)
    {
        return FenwaBatch::runOne(&sdk, d, request).accepted() ? 0 : -1;
    }

    QList<FenwaDevice *> search(int ms)
    {
        QList<FenwaDevice *> found;
        sdk.search(&found, ms);
        owned += found;
        return found;
    }

    SimProcess sim;
    FenwaSDK sdk;
    QList<FenwaDevice *> owned;
    bool mtuChanged = false;
    bool interfaceDown = false;
};


} // namespace

// Eight terminals, and a thousand back to back: terminals behind a switch
// answer a broadcast within microseconds of each other, and the whole burst
// must fit the capture ring.
TEST_F(LinkE2e, SearchFindsEveryTerminalOnceWithWhatItReports)
{
    for (const int count : {8, 1000}) {
        SCOPED_TRACE(count);
        ASSERT_NO_FATAL_FAILURE(
            startSim(QStringList{"--count", QString::number(count)} + (count > 8 ? QStringList{"--spread-us", "0"} : QStringList())));
        ASSERT_NO_FATAL_FAILURE(openSdk(3000));
        const int searchId = sdk.peekNextId();
        const QList<FenwaDevice *> found = search(1000);
        EXPECT_EQ(found.size(), count);
        const QJsonArray terminals = sim.terminals();
        ASSERT_EQ(terminals.size(), count);
        for (const QJsonValue &v : terminals) {
            const QJsonObject t = v.toObject();
            const QString mac = t.value("mac").toString();
            int seen = 0;
            for (FenwaDevice *d : found) {
                if (d->macText != mac)
                    continue;
                ++seen;
                uint8_t expected[6];
                ASSERT_TRUE(FenwaDevice::parseMac(mac, expected));
                EXPECT_EQ(std::memcmp(d->mac, expected, 6), 0) << "commands go to the frame's sender MAC";
                EXPECT_EQ(ipText(d->address), t.value("ip").toString());
                const QList<QPair<const char *, QString>> texts = {
                    {"ip", d->ip}, {"name", d->name}, {"type", d->type}, {"ipMode", d->ipMode},
                    {"version", d->version}, {"gateway", d->gateway}, {"netmask", d->netmask}, {"dns1", d->dns1},
                    {"dns2", d->dns2}, {"sn", d->sn}, {"uid", d->uid}, {"account", d->account()},
                    {"password", d->password()}, {"micVolume", d->extra("micVolume")},
                    {"outVolume", d->extra("outVolume")}, {"autoMute", QString::number(d->autoMute())}};
                for (const auto &text : texts)
                    EXPECT_EQ(text.second, t.value(text.first).toVariant().toString()) << text.first;
                EXPECT_EQ(d->extra("method"), "search");
            }
            EXPECT_EQ(seen, 1) << mac.toStdString();
        }
        // The frame and its repeats: one text, one id.
        const QList<QByteArray> commands = sim.commands();
        EXPECT_GE(commands.size(), 2);
        for (const QByteArray &command : commands)
            EXPECT_EQ(command, "{\"id\":" + QByteArray::number(searchId) + ",\"method\":\"search\",\"user\":\"Windows Wendtix\"}");
    }
}


namespace {

QByteArray md5Hex(const char *text)
{
    return QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Md5).toHex();
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

RtpSettings gRtpRead[10];
SipSettings gSipRead[2];

using R = FenwaRequest;

} // namespace

// The terminal's state after each command is the simulator's business; what
// the tool owes is the exact text, to that terminal alone, and what it reads.
TEST_F(LinkE2e, EveryCommandReachesTheTerminalAsTheTemplateText)
{
    const struct {
        const char *label;
        std::function<FenwaRequest()> request;
        QByteArray text; // exact text, written with id 0
    } cases[] = {
        {"GetRtpSettings", &R::getRtpSettings, "{\"id\":0,\"method\":\"GetRtpSettings\"}"},
        {"GetSipSettings", &R::getSipSettings, "{\"id\":0,\"method\":\"GetSipSettings\"}"},
        {"Reboot", &R::reboot, "{\"id\":0,\"method\":\"reboot\"}"},
        {"ResetDefault", &R::resetDefault, "{\"id\":0,\"method\":\"ResetDefault\"}"},
        {"PlayVolume", &R::playVolume, "{\"id\":0,\"method\":\"PlayVolume\"}"},
        {"SetIpDhcp", &R::setIpDhcp, "{\"id\":0,\"method\":\"SetIp\",\"IpMode\":\"dhcp\"}"},
        {"SetIpStatic", [] { return R::setIpStatic("10.1.2.3", "10.1.2.1", "255.255.0.0", "10.1.2.53", ""); },
         "{\"id\":0,\"method\":\"SetIp\",\"IpMode\":\"static\",\"ip\":\"10.1.2.3\",\"gateway\":\"10.1.2.1\","
         "\"netmask\":\"255.255.0.0\",\"dns1\":\"10.1.2.53\",\"dns2\":\"\"}"},
        {"SetName", [] { return R::setName("Lobby \"East\""); },
         "{\"id\":0,\"method\":\"SetName\",\"name\":\"Lobby \\\"East\\\"\"}"},
        {"SetMac", [] { return R::setMac("02:aa:bb:cc:dd:ee"); },
         "{\"id\":0,\"method\":\"SetMac\",\"mac\":\"02:aa:bb:cc:dd:ee\"}"},
        {"SetSN", [] { return R::setSn("SN-X-42"); }, "{\"id\":0,\"method\":\"SetSN\",\"sn\":\"SN-X-42\"}"},
        {"SetAccountPassword", [] { return R::setAccountPassword("installer", md5Hex("s3cret")); },
         "{\"id\":0,\"method\":\"SetAccountPassword\", \"account\":\"installer\", \"password\":\""
             + md5Hex("s3cret") + "\"}"},
        {"SetServer", [] { return R::setServer("10.0.0.9", 8080); },
         "{\"id\":0,\"method\":\"SetServer\",\"serverIp\":\"10.0.0.9\",\"serverPort\":8080}"},
        {"SetDeviceVolume", [] { return R::setDeviceVolume(40, 70, 1); },
         "{\"id\":0,\"method\":\"SetDeviceVolume\", \"micVolume\":40, \"outVolume\":70, \"autoMute\":1}"},
        {"SetDeviceInfo", [] { return R::setDeviceInfo("0571", "88", "Gate", 3, "A1", "B2", "C3", "D4"); },
         "{\"id\":0,\"method\":\"SetDeviceInfo\",\"areaCode\":\"0571\",\"number\":\"88\",\"name\":\"Gate\","
         "\"powerLevel\":3,\"resourceTypeSequenceCode\":\"A1\",\"resourceSonTypeSequenceCode\":\"B2\","
         "\"resourceTypeCode\":\"C3\",\"resourceSonTypeCode\":\"D4\"}"},
        {"SetSipSettings", [] { return R::setSipSettings(sipAccount("101", "Desk"), sipAccount("102", "")); },
         "{\"id\":0,\"method\":\"SetSipSettings\",\"sip0\":{\"serverHost\" : \"sip.lan\",\"serverPort\" : "
         "\"5062\", \"account\" : \"101\",\"password\" : \"pw\",\"displayName\" : \"Desk\"},\"sip1\":{"
         "\"serverHost\" : \"sip.lan\",\"serverPort\" : \"5062\", \"account\" : \"102\",\"password\" : "
         "\"pw\",\"displayName\" : \"\"}}"},
        {"SetRtpSettings",
         [] {
             QVector<RtpSettings> list(2);
             list[0].rtpIP = QStringLiteral("239.1.0.1");
             list[1].enable = 1;
             list[1].rtpPort = 7002;
             return R::setRtpSettings(list);
         },
         // cJSON's formatted print, written out by hand.
         "{\"id\":0,\"method\":\"SetRtpSettings\",\"rtp0\":{\n\t\"enable\":\t0,\n\t\"rtpIP\":\t\"239.1.0.1\","
         "\n\t\"rtpPort\":\t0\n},\"rtp1\":{\n\t\"enable\":\t1,\n\t\"rtpIP\":\t\"\",\n\t\"rtpPort\":\t7002\n}}"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_NO_FATAL_FAILURE(startSim({"--count", "3"}));
        ASSERT_NO_FATAL_FAILURE(openSdk(3000));
        const QJsonObject before0 = sim.terminal(0), before1 = sim.terminal(1), before2 = sim.terminal(2);
        const QByteArray id = QByteArray::number(sdk.peekNextId());
        const FenwaBatch::Result result = FenwaBatch::runOne(&sdk, record(1), c.request());
        EXPECT_TRUE(result.accepted()) << result.failure().toStdString();
        if (result.reply) {
            FenwaRequest::readRtp(*result.reply, gRtpRead, 10);
            FenwaRequest::readSip(*result.reply, &gSipRead[0], &gSipRead[1]);
        }
        const QList<QByteArray> received = sim.commands();
        ASSERT_EQ(received.size(), 1);
        // The log escapes raw line breaks; the template's only ones are in the
        // RTP entries, which cJSON prints with them.
        QByteArray expected = c.text;
        EXPECT_EQ(received[0], expected.replace('\n', "\\n").replace("{\"id\":0,", "{\"id\":" + id + ","));
        EXPECT_EQ(sim.terminal(0), before0) << "only the addressed terminal acts";
        EXPECT_EQ(sim.terminal(2), before2) << "only the addressed terminal acts";
        if (c.text.contains("Get")) {
            const QJsonObject t = sim.terminal(1);
            EXPECT_EQ(t, before1);
            for (int i = 0; c.text.contains("Rtp") && i < 10; ++i) {
                const QJsonObject r = t.value(QString::asprintf("rtp%d", i)).toObject();
                EXPECT_TRUE(gRtpRead[i].rtpIP == r.value("rtpIP").toString() && gRtpRead[i].rtpPort == r.value("rtpPort").toInt()
                            && gRtpRead[i].enable == r.value("enable").toInt()) << i;
            }
            for (int i = 0; c.text.contains("Sip") && i < 2; ++i) {
                const QJsonObject account = t.value(QString::asprintf("sip%d", i)).toObject();
                EXPECT_EQ(gSipRead[i].serverPort, account.value("serverPort").toString());
                EXPECT_EQ(gSipRead[i].account, account.value("account").toString());
            }
        }
    }
}


// A command whose reply never comes is ended the same way offscreen, when
// the operator closes the batch's dialog.
TEST_F(LinkE2e, CancelEndsAnOpenEndedSearch)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "8"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(60000));
    std::thread operatorClosesDialog([this] {
        sleepMs(300);
        sdk.cancel();
    });
    EXPECT_EQ(search(-1).size(), 8); // an open-ended search ends only on the cancel
    operatorClosesDialog.join();
}


// Three in ten frames lost each way and every reply sent twice: what the
// batch calls accepted is what the terminals hold, each command has one
// result, and one terminal's two commands never overlap (the first is slow
// to answer, so it goes out several times).
TEST_F(LinkE2e, LossyBatchReportsOnlyWhatTheTerminalsDidOnceEach)
{
    ASSERT_NO_FATAL_FAILURE(startSim(
        {"--count", "48", "--drop", "30", "--drop-commands", "30", "--duplicate", "--seed", "7", "--process-ms", "300:1"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(3000));
    FenwaBatch batch(&sdk);
    for (int i = 0; i < 40; ++i) // 40 to 47 are not asked
        batch.add(record(i), FenwaRequest::setDeviceVolume(i, 100 - i, 1));
    const int second = batch.add(record(0), FenwaRequest::setName("second"));
    QVector<int> settled(batch.size());
    batch.setSettled([&](int i) { ++settled[i]; });
    sdk.takeIgnoredFrames();
    const int accepted = batch.run();
    EXPECT_EQ(settled, QVector<int>(batch.size(), 1));
    EXPECT_GE(accepted, 36) << "resends make up for the loss";
    EXPECT_GT(sdk.takeIgnoredFrames(), 0) << "the second copies answered nothing";
    for (int i = 0; i < 48; ++i) {
        const QJsonObject t = sim.terminal(i);
        const bool changed = t.value("micVolume").toInt() == i && t.value("outVolume").toInt() == 100 - i;
        if (i < 40 && batch.result(i).accepted()) {
            EXPECT_TRUE(changed) << i << " reported accepted";
        } else if (i >= 40) {
            EXPECT_EQ(t.value("micVolume").toInt(), 50) << i << " was never asked";
        }
    }
    EXPECT_EQ(batch.result(second).accepted(), sim.terminal(0).value("name").toString() == "second");
    EXPECT_TRUE(allBefore(sim.commands(), batch.result(0).id, batch.result(second).id))
        << "terminal 1's second command waited for its first";
}

// Each terminal's two commands chained under loss: the second goes out only
// after the first was accepted, a refused first leaves the second unsent,
// and every terminal's chain runs beside the others.
TEST_F(LinkE2e, ChainedCommandsRunInOrderAndStopAtARefusal)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "25", "--drop", "20", "--drop-commands", "20", "--seed", "3"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(3000));
    FenwaBatch batch(&sdk);
    QList<FenwaDevice *> devices;
    QVector<QList<FenwaRequest>> requests;
    for (int i = 0; i < 24; ++i) {
        devices << record(i);
        requests << QList<FenwaRequest>{FenwaRequest::setDeviceVolume(i % 8 == 3 ? 200 : 40, 40, 0),
                                        FenwaRequest::setName(QString("n%1").arg(i))};
    }
    const QVector<QVector<int>> chain = batch.addEach(devices, requests);
    EXPECT_EQ(batch.add(record(0), FenwaRequest::setName("twice"), chain[0][0]), -1) << "one waits for each";
    // A command may wait for another terminal's: this one for a chain that ends at a refusal.
    const int waiter = batch.add(record(24), FenwaRequest::setName("waited"), chain[3][1]);
    batch.run();
    EXPECT_EQ(batch.result(waiter).state, FenwaBatch::NotTried);
    EXPECT_NE(sim.terminal(24).value("name").toString(), "waited");
    const QList<QByteArray> log = sim.commands();
    for (int i = 0; i < 24; ++i) {
        const FenwaBatch::Result &first = batch.result(chain[i][0]), &second = batch.result(chain[i][1]);
        const bool named = sim.terminal(i).value("name").toString() == QString("n%1").arg(i);
        if (i % 8 == 3) {
            EXPECT_EQ(first.state, FenwaBatch::Answered) << i;
            EXPECT_EQ(second.state, FenwaBatch::NotTried) << i;
        }
        EXPECT_EQ(second.accepted(), named) << i;
        EXPECT_TRUE(!named || first.accepted()) << i << " named before its volume was accepted";
        EXPECT_TRUE(allBefore(log, first.id, second.id)) << i;
    }
    EXPECT_GE(batch.accepted(), 36) << "resends make up for the loss";
}

TEST_F(LinkE2e, CancelledBatchEndsWithin100MsAndSaysWhatMayHaveChanged)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "40", "--process-ms", "5000"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(10000));
    FenwaBatch batch(&sdk);
    for (int i = 0; i < 40; ++i)
        batch.add(record(i), FenwaRequest::setName("late"));
    QElapsedTimer sinceCancel;
    std::thread operatorStops([&] {
        sleepMs(400);
        sinceCancel.start();
        batch.cancel();
    });
    batch.run();
    const qint64 ms = sinceCancel.elapsed();
    operatorStops.join();
    EXPECT_LT(ms, 1000) << "not the terminals' 5 s";
    for (int i = 0; i < 40; ++i) {
        const bool sent = i < FenwaBatch::WINDOW;
        EXPECT_EQ(batch.result(i).state, sent ? FenwaBatch::InFlight : FenwaBatch::NotTried) << i;
        // Honest: the terminals in flight did change, they just had not said so.
        EXPECT_EQ(sim.terminal(i).value("name").toString() == "late", sent) << i;
    }
    EXPECT_EQ(batch.result(0).failure(), "unknown: may have changed");
    EXPECT_EQ(batch.settled(), 40) << "every one told, tried or not";
}

// Commands with a side effect go out once: at 70% reply loss each terminal
// acts exactly once per command, and a command whose answer was lost says
// so ("unknown: may have changed"), never "no answer".
TEST_F(LinkE2e, ActionsGoOutOnceAndAnUnansweredOneIsUnknown)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "12", "--drop", "70", "--seed", "11"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(1000));
    const struct {
        FenwaRequest (*request)();
        const char *counter;
    } actions[] = {{&FenwaRequest::reboot, "reboots"},
                   {&FenwaRequest::resetDefault, "factoryResets"},
                   {&FenwaRequest::playVolume, "testSounds"}};
    FenwaBatch batch(&sdk);
    for (int i = 0; i < 12; ++i)
        batch.add(record(i), actions[i % 3].request());
    batch.run();
    EXPECT_EQ(sim.commands().size(), 12) << "one frame per command";
    int unknown = 0;
    for (int i = 0; i < 12; ++i) {
        const FenwaBatch::Result &r = batch.result(i);
        EXPECT_EQ(r.sends, 1) << i;
        EXPECT_TRUE(r.accepted() || r.failure() == "unknown: may have changed") << i << ": " << r.failure().toStdString();
        unknown += r.state == FenwaBatch::Unknown ? 1 : 0;
        for (const auto &action : actions)
            EXPECT_EQ(sim.terminal(i).value(action.counter).toInt(), action.counter == actions[i % 3].counter ? 1 : 0)
                << i << " " << action.counter;
    }
    EXPECT_GT(unknown, 0) << "the seed loses some answers";
}

// Every answer lost: what a search can show is looked up in one search after
// the batch, the rest stays open.
TEST_F(LinkE2e, UnansweredCommandsAreLookedUpInTheNextSearch)
{
    ASSERT_NO_FATAL_FAILURE(
        startSim({"--count", "7", "--unanswered", "SetName,SetMac,SetSipSettings,reboot,SetDeviceVolume"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(500));
    QList<FenwaDevice *> found = search(300);
    ASSERT_EQ(found.size(), 7);
    std::sort(found.begin(), found.end(), [](const FenwaDevice *a, const FenwaDevice *b) { return a->macText < b->macText; });
    const struct {
        FenwaRequest request;
        FenwaBatch::State state;
    } cases[] = {
        {FenwaRequest::setName("Seen"), FenwaBatch::Seen},
        {FenwaRequest::setMac("02:fe:00:00:01:02"), FenwaBatch::Seen},
        {FenwaRequest::setMac("03:00:00:00:00:09"), FenwaBatch::NoAnswer}, // refused: found where it was
        {FenwaRequest::setSipSettings(sipAccount("7", "x"), sipAccount("8", "y")), FenwaBatch::NoAnswer},
        {FenwaRequest::reboot(), FenwaBatch::Unknown},
        {FenwaRequest::setDeviceVolume(51, 61, 1), FenwaBatch::Seen},
        {FenwaRequest::setDeviceVolume(150, 61, 1), FenwaBatch::NoAnswer}, // refused: found without the value
    };
    FenwaBatch batch(&sdk);
    for (int i = 0; i < 7; ++i)
        batch.add(found[i], cases[i].request);
    batch.run();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(batch.result(i).state, cases[i].state) << i << ": " << batch.result(i).outcome().toStdString();
    EXPECT_EQ(batch.result(0).outcome(), "accepted (seen in search)");
    EXPECT_EQ(sim.terminals().at(1).toObject().value("mac").toString(), "02:fe:00:00:01:02");
    EXPECT_EQ(sim.terminal(4).value("reboots").toInt(), 1);
}

// Four uploads at once to terminals that read them slowly; a stop once all
// four are sending aborts them, and the two not begun are never begun.
TEST_F(LinkE2e, ParallelFirmwareStopAbortsEveryUploadUnderWay)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "6", "--web-fault", "slow", "--reboot-ms", "300"}));
    const QString path = QString::fromLocal8Bit(e2eSegment->dir) + "/fw-9.9.9.bin";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(400000, 'f')) == 400000);
    file.close();
    QVector<FenwaFirmware::Target> targets;
    for (int i = 0; i < 6; ++i) {
        const QJsonObject t = sim.terminal(i);
        targets.append({t.value("ip").toString(), 80, t.value("account").toString(), t.value("password").toString()});
    }
    std::atomic<bool> stop{false};
    std::atomic<int> sending{0};
    QVector<bool> counted(6, false); // the callbacks come one at a time
    QElapsedTimer sinceStop;
    std::thread operatorStops([&] {
        for (int i = 0; i < 3000 && sending.load() < 4; ++i)
            sleepMs(10);
        sinceStop.start();
        stop.store(true);
    });
    QVector<FenwaFirmware::Outcome> outcomes(6);
    QVector<bool> started;
    const int upgraded = FenwaFirmware::upgradeAll(
        targets, path, FenwaFirmware::Limits(), 4, [&] { return stop.load(); },
        [&](int i, qint64 sent, qint64 total) {
            if (total > 0 && sent > 0 && !counted[i])
                counted[i] = true, sending.fetch_add(1);
        },
        [&](int i, const FenwaFirmware::Outcome &o) { outcomes[i] = o; }, &started);
    const qint64 ms = sinceStop.elapsed();
    operatorStops.join();
    EXPECT_EQ(sending.load(), 4) << "all four uploads were under way when the operator stopped";
    EXPECT_LT(ms, 500);
    EXPECT_EQ(upgraded, 0);
    EXPECT_EQ(started, QVector<bool>({true, true, true, true, false, false}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(outcomes[i].loggedIn && outcomes[i].stopped && !outcomes[i].uploaded) << i;
        const QJsonObject web = sim.terminal(i).value("web").toObject();
        EXPECT_EQ(web.value("logins").toInt(), 1) << i << ": a session of its own";
        EXPECT_EQ(web.value("uploads").toInt(), 0) << i;
    }
}

// A real web server from Debian in the terminals' namespace: lighttpd with
// the CGI of tests/e2e/web, which checks the login form, hands out a
// session, wants it back with the upload and keeps the upload as it
// arrived. Its answers come chunked; a file named "refuse-..." is answered
// {"result":1}.
TEST_F(LinkE2e, FirmwareToARealWebServer)
{
    const char *lighttpd = "/usr/sbin/lighttpd";
    if (access(lighttpd, X_OK) != 0)
        GTEST_SKIP() << "lighttpd is not installed (scripts/setup.sh installs it): no firmware case against a real web server";
    const QString dir = QString::fromLocal8Bit(e2eSegment->dir), ns = e2eSegment->simNs, simIf = e2eSegment->simIf;
    // The kernel of the terminals' side answers ARP for the server (a
    // simulator with a web side may have told it not to).
    runCommand({"ip", "netns", "exec", ns, "sysctl", "-qw", "net.ipv4.conf." + simIf + ".arp_ignore=0"});
    ASSERT_EQ(runCommand({"ip", "-n", ns, "addr", "add", "192.168.1.80/24", "dev", simIf}), 0);
    pid_t server = 0;
    const Cleanup cleanup{[&] {
        if (server > 0)
            kill(server, SIGTERM);
        runCommand({"ip", "-n", ns, "addr", "del", "192.168.1.80/24", "dev", simIf});
    }};
    QByteArray output;
    const int started = runCommand({"env", "FENWA_WEB_WORK=" + dir, "FENWA_WEB_ROOT=" FENWA_WEB_DIR, "ip", "netns", "exec",
                                    ns, lighttpd, "-f", FENWA_WEB_DIR "/lighttpd.conf"},
                                   &output);
    QFile pidFile(dir + "/lighttpd.pid");
    for (int i = 0; i < 100 && !pidFile.exists(); ++i)
        sleepMs(20);
    server = pidFile.open(QIODevice::ReadOnly) ? pid_t(pidFile.readAll().trimmed().toInt()) : 0;
    ASSERT_TRUE(started == 0 && server > 0) << "lighttpd did not start: " << output.constData();

    ASSERT_EQ(runCommand({"curl", "-si", "--noproxy", "*", "-m", "5", "-H", "Connection: close", "-d",
                          "username=admin&password=p%26w%3Dd", "http://192.168.1.80/cgi-bin/CGI?login"},
                         &output),
              0);
    EXPECT_TRUE(output.contains("Transfer-Encoding: chunked\r\n") && output.endsWith("{\"result\":0}")) << output.constData();

    QByteArray image = QByteArray("\x7f" "ELF\0\r\n--window-iptool-upload\r\n", 29);
    for (int i = 0; i < 300000; ++i)
        image += char((i * 37) ^ (i >> 8));
    const FenwaFirmware::Target target{"192.168.1.80", 80, "admin", "p&w=d"};
    for (const char *name : {"fw-2.5.0.bin", "refuse-2.5.0.bin"}) {
        QFile file(dir + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();
        const FenwaFirmware::Outcome o = FenwaFirmware::upgrade(target, dir + "/" + name, FenwaFirmware::Limits());
        const bool refuse = name[0] == 'r';
        EXPECT_EQ(FenwaFirmware::describe(o), refuse ? "logged in; upload refused: result 1" : "logged in; uploaded (HTTP 200)");
        QFile body(dir + "/upload.body");
        EXPECT_TRUE(body.open(QIODevice::ReadOnly)
                    && body.readAll()
                           == "--window-iptool-upload-1\r\nContent-Disposition: form-data; name=\"file\"; filename=\""
                                  + QByteArray(name) + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + image
                                  + "\r\n--window-iptool-upload-1--\r\n")
            << name << ": the part as it arrived differs";
    }
}


// A frame over 1514 bytes on a link that carries it, and a text cut at 1514:
// each reply claims "success" in its own way; the command goes out again
// meanwhile, as it would after a lost reply.
TEST_F(LinkE2e, AnOversizedReplyIsNeverTakenForTheAnswer)
{
    for (const int mtu : {2000, 1500}) {
        SCOPED_TRACE(mtu);
        ASSERT_TRUE(mtuChanged = e2eSegment->setMtu(mtu));
        ASSERT_NO_FATAL_FAILURE(startSim({"--count", "1", "--oversized"}));
        ASSERT_NO_FATAL_FAILURE(openSdk(400));
        FenwaBatch batch(&sdk);
        batch.setChecks(false); // the copies of the command alone, no search after them
        batch.add(record(0), FenwaRequest::setName("x"));
        EXPECT_EQ(batch.run(), 0);
        const QList<QByteArray> commands = sim.commands();
        ASSERT_GE(commands.size(), 1);
        EXPECT_EQ(commands.count(commands.first()), commands.size()) << "copies of one command";
        EXPECT_EQ(sim.stats().value("replies").toInt(), commands.size()) << "the simulator did answer every copy";
    }
}


TEST_F(LinkE2e, RefusedSendIsFollowedByAReopenAndWorkingCommands)
{
    ASSERT_NO_FATAL_FAILURE(startSim({"--count", "1"}));
    ASSERT_NO_FATAL_FAILURE(openSdk(300));
    FenwaDevice *d = record(0);
    ASSERT_EQ(run(d, FenwaRequest::playVolume()), 0);
    const int opensBefore = sdk.transport()->openCount();
    ASSERT_TRUE(interfaceDown = e2eSegment->setToolInterfaceUp(false));
    EXPECT_EQ(run(d, FenwaRequest::playVolume()), -1);
    ASSERT_TRUE(e2eSegment->setToolInterfaceUp(true));
    interfaceDown = false;
    // The supervisor reopens on its own; the operator just tries again.
    for (int i = 0; i < 250 && sdk.transport()->openCount() == opensBefore; ++i)
        sleepMs(20);
    EXPECT_GT(sdk.transport()->openCount(), opensBefore) << "the driver was reopened";
    ASSERT_TRUE(waitTransportOpen());
    sdk.setReplyTimeout(1000);
    EXPECT_EQ(run(d, FenwaRequest::playVolume()), 0);
    EXPECT_EQ(run(d, FenwaRequest::setName("after")), 0);
    EXPECT_EQ(sim.terminal(0).value("name").toString(), "after");
}

// Plain kernel hosts on the far side, no simulator: one uses .245 and sends
// ARP from it but answers no probe, one probes for .246 as it is about to
// take it, one answers for .247 as a host holding it does. Each keeps its
// address from a terminal; .248 is free.
TEST_F(LinkE2e, AddressProbeHearsHostsThatUseClaimOrAnswerForAnAddress)
{
    QByteArray version;
    ASSERT_EQ(runCommand({"arping", "-V"}, &version), 0) << "arping is missing (iputils-arping: scripts/setup.sh)";
    const QString ns = e2eSegment->simNs, dev = e2eSegment->simIf;
    const auto sh = [&](const QString &command) { return runCommand({"ip", "netns", "exec", ns, "sh", "-c", command}); };
    const auto macOf = [&](const QString &name) {
        QByteArray link;
        runCommand({"ip", "-n", ns, "-o", "link", "show", name}, &link);
        return QString::fromLatin1(link.mid(link.indexOf("link/ether ") + 11, 17));
    };
    const Cleanup cleanup{[&] {
        sh(QStringLiteral("ip link del fwans; ip addr flush dev %1; sysctl -qw net.ipv4.conf.%1.arp_ignore=0").arg(dev));
    }};
    ASSERT_EQ(sh(QStringLiteral("sysctl -qw net.ipv4.conf.%1.arp_ignore=8 && ip addr add 192.168.1.245/24 dev %1"
                                " && ip link add fwans link %1 type macvlan mode bridge"
                                " && sysctl -qw net.ipv4.conf.fwans.arp_ignore=1"
                                " && ip addr add 192.168.1.247/24 dev fwans && ip link set fwans up")
                     .arg(dev)),
              0);
    // arping waits a second for an answer: cut short, every 50 ms or so.
    QList<QProcess *> hosts;
    for (const QString &args : {QStringLiteral("-s 192.168.1.245 192.168.1.1"), QStringLiteral("-D 192.168.1.246")}) {
        hosts << new QProcess;
        hosts.last()->start("ip", {"netns", "exec", ns, "sh", "-c",
                                   QStringLiteral("while :; do timeout -s KILL 0.05 arping -q -c 1 -I %1 %2; done")
                                       .arg(dev, args)});
        ASSERT_TRUE(hosts.last()->waitForStarted());
    }
    ASSERT_NO_FATAL_FAILURE(openSdk(3000));
    sleepMs(100);
    FenwaAddressProbe probe(&sdk);
    QList<FenwaTerminal::AddressHolder> answers;
    ASSERT_EQ(probe.probe({"192.168.1.245", "192.168.1.246", "192.168.1.247", "192.168.1.248"}, &answers), 0);
    for (QProcess *p : hosts) {
        p->kill();
        p->waitForFinished();
        delete p;
    }
    QStringList heard;
    for (const FenwaTerminal::AddressHolder &h : answers)
        heard << h.ip + " " + h.why;
    heard.sort();
    const QString host = macOf(dev), answering = macOf("fwans");
    EXPECT_EQ(heard.join(", ").toStdString(), QStringList({"192.168.1.245 sends ARP from " + host,
                                                           "192.168.1.246 probes for it from " + host,
                                                           "192.168.1.247 answers ARP from " + answering})
                                                  .join(", ")
                                                  .toStdString());
    // The rule that hands out addresses steps past all three.
    QList<FenwaTerminal::SkippedAddress> skipped;
    QString notice;
    const QList<FenwaTerminal::IpConfig> values = FenwaTerminal::staticIpValues(
        {"192.168.1.245", "192.168.1.1", "255.255.255.0", "192.168.1.1", ""}, {"02:fe:00:00:00:01", "02:fe:00:00:00:02"},
        answers, &skipped, &notice);
    ASSERT_EQ(values.size(), 2) << notice.toStdString();
    EXPECT_EQ((values[0].ip + " " + values[1].ip).toStdString(), "192.168.1.248 192.168.1.249");
}

TEST_F(LinkE2e, AdapterListCarriesTheInterfacesMacAddressMaskAndGateway)
{
    const QString ns = e2eSegment->toolNs;
    ASSERT_EQ(runCommand({"ip", "-n", ns, "route", "replace", "default", "via", "192.168.1.1"}), 0);
    QByteArray link;
    ASSERT_EQ(runCommand({"ip", "-n", ns, "-o", "link", "show", e2eSegment->toolIf}, &link), 0);
    uint8_t mac[6];
    ASSERT_TRUE(FenwaDevice::parseMac(QString::fromLatin1(link.mid(link.indexOf("link/ether ") + 11, 17)), mac))
        << link.constData();
    std::unique_ptr<QPcapAdapterList> list(FenwaSDK::adapters());
    runCommand({"ip", "-n", ns, "route", "del", "default"});
    // The namespace holds lo and the veth end; loopback carries no Ethernet.
    ASSERT_EQ(list->count(), 1);
    const QPcapAdapter *a = list->at(0);
    EXPECT_STREQ(a->name, e2eSegment->toolIf.constData());
    EXPECT_EQ(std::memcmp(a->hardwareAddress, mac, 6), 0);
    EXPECT_EQ(ipText(a->address) + ipText(a->netmask) + ipText(a->gateway), "192.168.1.2255.255.255.0192.168.1.1");
}
