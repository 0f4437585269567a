// SPDX-License-Identifier: GPL-3.0-or-later
// The command protocol without a network: the SDK's transport runs on a
// scripted device that puts nothing on a wire, records what it is given and
// answers each send with the frames the test scripted, on the capture thread.
#include "FenwaSDK.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <ostream>

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <cJSON.h>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

class Recorder : public FenwaCommandObserver
{
public:
    void onSendCommand(FenwaSDK *, const char *text) override
    {
        QMutexLocker lock(&mutex);
        sent.append(QByteArray(text));
    }
    void onRecvCommand(FenwaSDK *, const char *text) override
    {
        QMutexLocker lock(&mutex);
        received.append(QByteArray(text));
    }
    int receivedCount()
    {
        QMutexLocker lock(&mutex);
        return received.size();
    }
    QList<QByteArray> sentTexts()
    {
        QMutexLocker lock(&mutex);
        return sent;
    }
    QMutex mutex;
    QList<QByteArray> sent, received;
};

struct Json {
    explicit Json(const QByteArray &text) : j(cJSON_ParseWithLength(text.constData(), size_t(text.size()))) {}
    ~Json() { cJSON_Delete(j); }
    std::string str(const char *key) const
    {
        const cJSON *i = cJSON_GetObjectItemCaseSensitive(j, key);
        return cJSON_IsString(i) ? i->valuestring : std::string("<absent>");
    }
    cJSON *j;
};

class OfflineSdk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::memset(&adapter, 0, sizeof adapter);
        std::snprintf(adapter.name, sizeof adapter.name, "scripted0");
        std::memcpy(adapter.hardwareAddress, kToolMac, 6);
        std::memcpy(adapter.address, kToolIp, 4);
        sdk.setCommandObserver(&recorder);
        sdk.transport()->setDeviceFactory([this] { return std::make_unique<ScriptedDevice>(&script); });
        sdk.open(&adapter);
        sdk.setReplyTimeout(3000);
        device = FenwaDevice::fromSearchReply(kTermMac, kTermIp, nullptr);
    }
    void TearDown() override
    {
        device->release();
        sdk.close();
    }
    // A frame captured after the next send.
    void answer(const QByteArray &text, const uint8_t *src = kTermMac, const uint8_t *srcIp = kTermIp)
    {
        QPcapPacket *p = craftFrame(src, srcIp, kToolMac, kToolIp, text);
        QMutexLocker lock(&script.mutex);
        script.answers.append(QByteArray(reinterpret_cast<const char *>(p->frame()), p->length()));
        p->release();
    }
    // A reply for the command about to be sent.
    void answerReply(const char *format, const uint8_t *src = kTermMac)
    {
        answer(QByteArray(QString::asprintf(format, sdk.peekNextId()).toUtf8()), src);
    }

    QPcapAdapter adapter;
    DeviceScript script;
    FenwaSDK sdk;
    Recorder recorder;
    FenwaDevice *device = nullptr;
};

struct MatchCase {
    const char *label;
    const char *reply; // %d: the command's id
    int expected;
};
// ctest lists the case by its label rather than its bytes.
void PrintTo(const MatchCase &c, std::ostream *os) { *os << c.label; }


class ReplyMatching : public OfflineSdk, public ::testing::WithParamInterface<MatchCase> {};

} // namespace

TEST_P(ReplyMatching, OtherFramesAreSkippedAndTheMatchingReplyDecidesAtOnce)
{
    const int id = sdk.peekNextId();
    // Frames the wait must consume and drop before it reaches the reply.
    answer("not json at all");
    answer(QByteArray());
    answer(QByteArray("{\"id\":") + QByteArray::number(id + 1) + ",\"result\":\"success\"}");
    answer(QByteArray("{\"id\":\"x") + QByteArray::number(id) + "\",\"result\":\"success\"}");
    answer("{\"result\":\"success\"}");
    // The right id from another terminal: another program's command.
    answerReply("{\"id\":%d,\"result\":\"success\"}", kOtherMac);
    answerReply(GetParam().reply);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(sdk.reboot(device), GetParam().expected);
    EXPECT_LT(timer.elapsed(), 1500) << "the wait ended on the reply, not at the time-out";
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyMatching,
    ::testing::Values(MatchCase{"NumberId", "{\"id\":%d,\"result\":\"success\"}", 0},
                      MatchCase{"TextId", "{\"id\":\"%d\",\"result\":\"success\"}", 0},
                      MatchCase{"KeysInCapitals", "{\"ID\":%d,\"RESULT\":\"success\"}", 0},
                      MatchCase{"ExtraItems", "{\"result\":\"success\",\"x\":[1,2],\"id\":%d}", 0},
                      MatchCase{"CapitalisedValue", "{\"id\":%d,\"result\":\"Success\"}", -1},
                      MatchCase{"OtherResult", "{\"id\":%d,\"result\":\"failed\"}", -1},
                      MatchCase{"NoResult", "{\"id\":%d}", -1},
                      MatchCase{"ResultNotText", "{\"id\":%d,\"result\":0}", -1}),
    [](const ::testing::TestParamInfo<MatchCase> &info) { return std::string(info.param.label); });

TEST_F(OfflineSdk, FramesThatAreNotRepliesNeverAnswer)
{
    sdk.setReplyTimeout(200);
    const QByteArray good = QByteArray("{\"id\":") + QByteArray::number(sdk.peekNextId()) + ",\"result\":\"success\"}";
    answer(good, kToolMac); // our own transmission, captured back
    QPcapPacket *ipv4 = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, good);
    putBigEndian16(ipv4->frame() + 12, 0x0800);
    QPcapPacket *noMagic = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, good);
    noMagic->frame()[42] = 0;
    for (QPcapPacket *p : {ipv4, noMagic}) {
        script.answers.append(QByteArray(reinterpret_cast<const char *>(p->frame()), p->length()));
        p->release();
    }
    EXPECT_EQ(sdk.reboot(device), -1);
    EXPECT_TRUE(recorder.received.isEmpty());
}

TEST_F(OfflineSdk, AReplyThatCameWhileNothingWaitedAnswersNothing)
{
    // Captured before the command: a late reply of another program that
    // happens to carry the id this command will have.
    sdk.setReplyTimeout(200);
    answerReply("{\"id\":%d,\"result\":\"success\"}");
    ASSERT_EQ(sdk.send(kTermMac, kTermIp, "{}", 2), 0);
    QElapsedTimer timer;
    timer.start();
    while (recorder.receivedCount() == 0 && timer.elapsed() < 2000)
        QThread::msleep(5);
    ASSERT_EQ(recorder.receivedCount(), 1);
    EXPECT_EQ(sdk.reboot(device), -1);
}

TEST_F(OfflineSdk, SetMacReplyMayComeFromTheNewMac)
{
    answerReply("{\"id\":%d,\"result\":\"success\"}", kOtherMac);
    EXPECT_EQ(sdk.setMac(device, "02:fe:00:00:00:02"), 0);
}

TEST_F(OfflineSdk, NothingIsSentOrLoggedWithoutAnOpenLink)
{
    sdk.close();
    sdk.open(nullptr);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(sdk.reboot(device), -1);
    QList<FenwaDevice *> found;
    EXPECT_EQ(sdk.search(&found, 2000), -1);
    EXPECT_LT(timer.elapsed(), 1000) << "nothing was sent, so nothing is awaited";
    EXPECT_TRUE(recorder.sentTexts().isEmpty());
    EXPECT_TRUE(script.sent.isEmpty());
    EXPECT_FALSE(sdk.isOpen());
}

TEST_F(OfflineSdk, IdsStartApartInEachInstanceAndCountOnAcrossReopen)
{
    FenwaSDK other;
    EXPECT_NE(other.peekNextId(), sdk.peekNextId());
    const int first = sdk.peekNextId();
    sdk.setReplyTimeout(0);
    sdk.reboot(device);
    sdk.close();
    sdk.open(&adapter);
    EXPECT_EQ(sdk.peekNextId(), first == INT_MAX - 1 ? 0 : first + 1);
}

TEST_F(OfflineSdk, CancelWithNoWaitDoesNotSpoilTheNextCommand)
{
    sdk.cancel();
    answerReply("{\"id\":%d,\"result\":\"success\"}");
    EXPECT_EQ(sdk.reboot(device), 0);
}

TEST_F(OfflineSdk, SearchKeepsRepliesWithItsIdAndExactMethodOnly)
{
    const int id = sdk.peekNextId();
    auto reply = [&](const char *method, int replyId) {
        return QByteArray(QString::asprintf("{\"id\":%d,\"method\":\"%s\",\"name\":\"n\"}", replyId, method).toUtf8());
    };
    answer(reply("search", id), kTermMac, kTermIp);
    answer(reply("Search", id), kOtherMac, kOtherIp);
    answer(reply("search", id + 1), kOtherMac, kOtherIp);
    answer("garbage", kOtherMac, kOtherIp);
    answer(reply("search", id), kOtherMac, kOtherIp);
    answer(reply("search", id), kTermMac, kTermIp); // answered twice: listed twice
    QList<FenwaDevice *> found;
    ASSERT_EQ(sdk.search(&found, 200), 0);
    ASSERT_EQ(found.size(), 3);
    EXPECT_EQ(found[0]->macText, "02:fe:00:00:00:01");
    EXPECT_EQ(found[1]->macText, "02:fe:00:00:00:02");
    EXPECT_EQ(std::memcmp(found[1]->address, kOtherIp, 4), 0);
    EXPECT_EQ(found[2]->macText, "02:fe:00:00:00:01");
    for (FenwaDevice *d : found)
        d->release();
    EXPECT_EQ(recorder.sentTexts().value(0),
              QByteArray("{\"id\":" + QByteArray::number(id) + ",\"method\":\"search\",\"user\":\"Windows Wendtix\"}"));
}

TEST_F(OfflineSdk, ReadingCommandsFillRecordsWhateverTheResult)
{
    RtpSettings rtp[10];
    for (RtpSettings &r : rtp) {
        r.enable = 1;
        r.rtpIP = "1.1.1.1";
        r.rtpPort = 1;
    }
    answerReply("{\"id\":%d,\"result\":\"busy\",\"rtp0\":{\"enable\":1,\"rtpIP\":\"239.0.0.9\",\"rtpPort\":7000},"
                "\"rtp2\":{\"enable\":0,\"rtpIP\":\"239.0.0.3\",\"rtpPort\":7004}}");
    EXPECT_EQ(sdk.getRtpSettings(device, rtp, 10), -1);
    EXPECT_EQ(rtp[0].rtpIP, "239.0.0.9");
    EXPECT_EQ(rtp[0].rtpPort, 7000);
    EXPECT_EQ(rtp[1].rtpIP, "") << "a missing channel is reset";
    EXPECT_EQ(rtp[1].enable, 0);
    EXPECT_EQ(rtp[2].rtpPort, 7004);

    SipSettings sip0, sip1;
    sip1.account = "kept";
    answerReply("{\"id\":%d,\"result\":\"success\",\"sip0\":{\"serverHost\":\"h\",\"serverPort\":\"5060\","
                "\"account\":\"100\",\"password\":\"p\",\"displayName\":\"d\"}}");
    EXPECT_EQ(sdk.getSipSettings(device, &sip0, &sip1), 0);
    EXPECT_EQ(sip0.account, "100");
    EXPECT_EQ(sip0.serverPort, "5060");
    EXPECT_EQ(sip1.account, "kept") << "a missing account leaves its record";

    sdk.setReplyTimeout(50);
    RtpSettings untouched[2];
    untouched[0].rtpIP = "x";
    EXPECT_EQ(sdk.getRtpSettings(device, untouched, 2), -1);
    EXPECT_EQ(untouched[0].rtpIP, "x") << "no reply: nothing is read";
}

// ---- text arguments ---------------------------------------------------------

namespace {

const QString kHostile = QString::fromUtf8("q\"b\\s/\n\r\t\x01\x1f \xc3\xa9nd");

struct TextCase {
    const char *label;
    const char *method;
    std::function<int(FenwaSDK &, FenwaDevice *)> run;
    std::vector<const char *> keys; // items that must read back as kHostile; "sip0.x" for nested
};
// ctest lists the case by its label rather than its bytes.
void PrintTo(const TextCase &c, std::ostream *os) { *os << c.label; }


class TextArguments : public OfflineSdk, public ::testing::WithParamInterface<TextCase> {};

SipSettings hostileSip()
{
    SipSettings s;
    s.account = s.password = s.displayName = s.serverHost = s.serverPort = kHostile;
    return s;
}

} // namespace

TEST_P(TextArguments, AreEscapedSoTheTextParsesBackToWhatWasTyped)
{
    answerReply("{\"id\":%d,\"result\":\"success\"}");
    EXPECT_EQ(GetParam().run(sdk, device), 0);
    const QList<QByteArray> texts = recorder.sentTexts();
    ASSERT_EQ(texts.size(), 1);
    Json sent(texts[0]);
    ASSERT_TRUE(cJSON_IsObject(sent.j)) << texts[0].constData();
    EXPECT_EQ(sent.str("method"), GetParam().method);
    for (const char *key : GetParam().keys) {
        std::string k(key);
        const cJSON *item;
        const size_t dot = k.find('.');
        if (dot == std::string::npos)
            item = cJSON_GetObjectItemCaseSensitive(sent.j, key);
        else
            item = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(sent.j, k.substr(0, dot).c_str()),
                                                    k.substr(dot + 1).c_str());
        ASSERT_TRUE(cJSON_IsString(item)) << key;
        EXPECT_EQ(QString::fromUtf8(item->valuestring), kHostile) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, TextArguments,
    ::testing::Values(
        TextCase{"SetName", "SetName", [](FenwaSDK &s, FenwaDevice *d) { return s.setName(d, kHostile); }, {"name"}},
        TextCase{"SetMac", "SetMac", [](FenwaSDK &s, FenwaDevice *d) { return s.setMac(d, kHostile); }, {"mac"}},
        TextCase{"SetSN", "SetSN", [](FenwaSDK &s, FenwaDevice *d) { return s.setSn(d, kHostile); }, {"sn"}},
        TextCase{"SetAccountPassword", "SetAccountPassword",
                 [](FenwaSDK &s, FenwaDevice *d) { return s.setAccountPassword(d, kHostile, kHostile); },
                 {"account", "password"}},
        TextCase{"SetServer", "SetServer", [](FenwaSDK &s, FenwaDevice *d) { return s.setServer(d, kHostile, 5060); },
                 {"serverIp"}},
        TextCase{"SetIpStatic", "SetIp",
                 [](FenwaSDK &s, FenwaDevice *d) {
                     return s.setIpStatic(d, kHostile, kHostile, kHostile, kHostile, kHostile);
                 },
                 {"ip", "gateway", "netmask", "dns1", "dns2"}},
        TextCase{"SetDeviceInfo", "SetDeviceInfo",
                 [](FenwaSDK &s, FenwaDevice *d) {
                     return s.setDeviceInfo(d, kHostile, kHostile, kHostile, 3, kHostile, kHostile, kHostile,
                                            kHostile);
                 },
                 {"areaCode", "number", "name", "resourceTypeSequenceCode", "resourceSonTypeSequenceCode",
                  "resourceTypeCode", "resourceSonTypeCode"}},
        TextCase{"SetSipSettings", "SetSipSettings",
                 [](FenwaSDK &s, FenwaDevice *d) { return s.setSipSettings(d, hostileSip(), hostileSip()); },
                 {"sip0.account", "sip0.serverPort", "sip1.displayName", "sip1.serverHost", "sip1.password"}}),
    [](const ::testing::TestParamInfo<TextCase> &info) { return std::string(info.param.label); });

TEST_F(OfflineSdk, TextFillingTheBufferExactlyIsSentOneMoreByteIsRefused)
{
    // The room a name has beside the template and the next command's id.
    const auto room = [this] {
        return FenwaSDK::COMMAND_BUFFER - 1
            - QString::asprintf("{\"id\":%d,\"method\":\"SetName\",\"name\":\"\"}", sdk.peekNextId()).size();
    };
    answerReply("{\"id\":%d,\"result\":\"success\"}");
    EXPECT_EQ(sdk.setName(device, QString(room(), 'n')), 0);
    ASSERT_EQ(recorder.sentTexts().size(), 1);
    EXPECT_EQ(recorder.sentTexts()[0].size(), FenwaSDK::COMMAND_BUFFER - 1);

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(sdk.setName(device, QString(room() + 1, 'n')), -1);
    EXPECT_LT(timer.elapsed(), 1000) << "refused at once, no reply wait";
    EXPECT_EQ(recorder.sentTexts().size(), 1) << "nothing of a refused command leaves";
}

TEST_F(OfflineSdk, EscapingCountsTowardsTheLimit)
{
    // 600 quotes fit unescaped, not escaped.
    EXPECT_EQ(sdk.setName(device, QString(600, '"')), -1);
    SipSettings longSip = hostileSip();
    longSip.serverHost = QString(250, 'h');
    EXPECT_EQ(sdk.setSipSettings(device, longSip, longSip), -1);
    EXPECT_TRUE(recorder.sentTexts().isEmpty());
}

TEST_F(OfflineSdk, RawSendRefusesTextsTheFrameCannotCarry)
{
    const QByteArray most(QPCAP_TEXT_MAX, 'x');
    EXPECT_EQ(sdk.send(kTermMac, kTermIp, most.constData(), most.size()), 0);
    const QByteArray over(QPCAP_TEXT_MAX + 1, 'x');
    EXPECT_EQ(sdk.send(kTermMac, kTermIp, over.constData(), over.size()), -1);
    EXPECT_EQ(sdk.send(kTermMac, kTermIp, nullptr, 3), -1);
    EXPECT_EQ(recorder.sentTexts().size(), 1);
}

// ---- SetRtpSettings ---------------------------------------------------------

class RtpList : public OfflineSdk, public ::testing::WithParamInterface<int> {};

TEST_P(RtpList, CommasOnlyBetweenEntriesForAnyLength)
{
    const int count = GetParam();
    RtpSettings list[12];
    for (int i = 0; i < 12; ++i) {
        list[i].enable = i % 2;
        list[i].rtpIP = QString::asprintf("239.0.0.%d", i + 1);
        list[i].rtpPort = 6000 + i;
    }
    answerReply("{\"id\":%d,\"result\":\"success\"}");
    ASSERT_EQ(sdk.setRtpSettings(device, list, count), 0);
    const QByteArray text = recorder.sentTexts().value(0);
    ASSERT_TRUE(text.contains(",\"method\":\"SetRtpSettings\",\"rtp0\":{")) << text.constData();
    EXPECT_FALSE(text.contains(",}"));
    Json sent(text);
    ASSERT_TRUE(cJSON_IsObject(sent.j)) << text.constData();
    const int written = std::min(count, 10);
    EXPECT_EQ(cJSON_GetArraySize(sent.j), 2 + written);
    for (int i = 0; i < written; ++i) {
        RtpSettings back;
        back.fromJson(cJSON_GetObjectItemCaseSensitive(sent.j, QByteArray("rtp" + QByteArray::number(i)).constData()));
        EXPECT_EQ(back.rtpIP, list[i].rtpIP);
        EXPECT_EQ(back.rtpPort, list[i].rtpPort);
        EXPECT_EQ(back.enable, list[i].enable);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, RtpList, ::testing::Values(1, 2, 9, 10, 12));

TEST_F(OfflineSdk, RtpWriteWithNothingToWriteOrTooMuchIsRefused)
{
    RtpSettings list[10];
    EXPECT_EQ(sdk.setRtpSettings(device, list, 0), -1);
    EXPECT_EQ(sdk.setRtpSettings(device, nullptr, 10), -1);
    for (RtpSettings &r : list)
        r.rtpIP = QString(80, '9');
    EXPECT_EQ(sdk.setRtpSettings(device, list, 10), -1);
    EXPECT_TRUE(recorder.sentTexts().isEmpty());
}
