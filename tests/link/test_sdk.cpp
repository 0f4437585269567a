// SPDX-License-Identifier: GPL-3.0-or-later
// The command protocol without a network: the SDK's transport runs on a
// scripted device that puts nothing on a wire, records what it is given and
// answers each send with the frames the test scripted, on the capture thread.
#include "FenwaAddressProbe.h"
#include "FenwaBatch.h"
#include "FenwaSDK.h"
#include "QPcapFrame.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSet>
#include <QThread>
#include <climits>
#include <functional>
#include <thread>

namespace {

RtpSettings channel(int enable, const QString &ip, int port)
{
    RtpSettings r;
    r.enable = enable;
    r.rtpIP = ip;
    r.rtpPort = port;
    return r;
}

class Recorder : public FenwaCommandObserver
{
public:
    void onSendCommand(FenwaSDK *, const char *text) override
    {
        add(&sent, text);
        if (afterSend)
            afterSend();
    }
    void onRecvCommand(FenwaSDK *, const char *text) override { add(&received, text); }
    QList<QByteArray> texts(const QList<QByteArray> &list)
    {
        QMutexLocker lock(&mutex);
        return list;
    }
    QList<QByteArray> sent, received;
    std::function<void()> afterSend;

private:
    void add(QList<QByteArray> *list, const char *text)
    {
        QMutexLocker lock(&mutex);
        list->append(QByteArray(text));
    }
    QMutex mutex;
};

class OfflineSdk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        device = FenwaDevice::fromSearchReply(kTermMac, kTermIp, nullptr);
        sdk.setCommandObserver(&recorder);
        ASSERT_EQ(openScripted(&sdk, &script), 0);
        sdk.setReplyTimeout(3000);
    }
    void TearDown() override
    {
        device->release();
        sdk.close();
    }
    // A frame captured after the next send.
    void answer(const QByteArray &text, const uint8_t *src = kTermMac, const uint8_t *srcIp = kTermIp, int flip = -1)
    {
        const PacketPtr p = craftFrame(src, srcIp, kToolMac, kToolIp, text);
        if (flip >= 0)
            p->frame()[flip] ^= 0x01;
        QMutexLocker lock(&script.mutex);
        script.answers.append(bytesOf(p.get()));
    }
    // A reply for the command about to be sent; %d is its id.
    void answerReply(const char *format = "{\"id\":%d,\"result\":\"success\"}", const uint8_t *src = kTermMac)
    {
        answer(QString::asprintf(format, sdk.peekNextId()).toUtf8(), src);
    }
    QList<QByteArray> sent() { return recorder.texts(recorder.sent); }
    // A command to the terminal, as a batch of one: 0 when accepted.
    int run(const FenwaRequest &request)
    {
        last = FenwaBatch::runOne(&sdk, device, request);
        return last.accepted() ? 0 : -1;
    }
    FenwaBatch::Result last;

    DeviceScript script;
    FenwaSDK sdk;
    Recorder recorder;
    FenwaDevice *device = nullptr;
};

} // namespace

TEST_F(OfflineSdk, OtherFramesAreSkippedAndTheMatchingReplyDecidesAtOnce)
{
    const struct {
        const char *label;
        const char *reply; // %d: the command's id
        int expected;
    } cases[] = {
        {"NumberId", "{\"id\":%d,\"result\":\"success\"}", 0},
        {"TextId", "{\"id\":\"%d\",\"result\":\"success\"}", 0},
        {"KeysInCapitals", "{\"ID\":%d,\"RESULT\":\"success\"}", 0},
        {"ExtraItems", "{\"result\":\"success\",\"x\":[1,2],\"id\":%d}", 0},
        {"CapitalisedValue", "{\"id\":%d,\"result\":\"Success\"}", -1},
        {"OtherResult", "{\"id\":%d,\"result\":\"failed\"}", -1},
        {"NoResult", "{\"id\":%d}", -1},
        {"ResultNotText", "{\"id\":%d,\"result\":0}", -1},
    };
    for (const auto &c : cases) {
        const QByteArray id = QByteArray::number(sdk.peekNextId());
        // Frames the wait must consume and drop before it reaches the reply.
        answer("not json at all");
        answer(QByteArray());
        answer("{\"id\":" + QByteArray::number(id.toInt() + 1) + ",\"result\":\"success\"}");
        answer("{\"id\":\"x" + id + "\",\"result\":\"success\"}");
        answer("{\"result\":\"success\"}");
        // The right id from another terminal: another program's command. Then
        // frames that are no replies: our own transmission captured back, a
        // frame that is not ARP, one without the magic bytes. A failing row
        // fails if any of these "success" texts is taken.
        const QByteArray good = "{\"id\":" + id + ",\"result\":\"success\"}";
        answer(good, kOtherMac);
        answer(good, kToolMac);
        answer(good, kTermMac, kTermIp, 12);
        answer(good, kTermMac, kTermIp, 42);
        answerReply(c.reply);
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(run(FenwaRequest::reboot()), c.expected) << c.label;
        EXPECT_LT(timer.elapsed(), 1500) << c.label << ": the wait ended on the reply, not at the time-out";
    }
}

TEST_F(OfflineSdk, AReplyThatCameWhileNothingWaitedAnswersNothingAndIsOnlyCounted)
{
    // Captured before the command: a late reply of another program that
    // happens to carry the id this command will have.
    sdk.setReplyTimeout(200);
    answerReply();
    sdk.takeIgnoredFrames();
    ASSERT_EQ(sdk.send(kTermMac, kTermIp, "{}", 2), 0);
    QElapsedTimer timer;
    timer.start();
    long ignored = 0;
    while ((ignored += sdk.takeIgnoredFrames()) == 0 && timer.elapsed() < 2000)
        QThread::msleep(5);
    EXPECT_EQ(ignored, 1);
    EXPECT_EQ(run(FenwaRequest::reboot()), -1);
    EXPECT_TRUE(recorder.texts(recorder.received).isEmpty()) << "the observer hears only of answers";
}

TEST_F(OfflineSdk, SetMacReplyMayComeFromTheNewMacAndACancelWithNoWaitSpoilsNothing)
{
    sdk.cancel();
    answerReply("{\"id\":%d,\"result\":\"success\"}", kOtherMac);
    EXPECT_EQ(run(FenwaRequest::setMac("02:fe:00:00:00:02")), 0);
}

TEST_F(OfflineSdk, SearchKeepsRepliesWithItsIdAndExactMethodOnceForEachTerminal)
{
    const int id = sdk.peekNextId();
    auto reply = [](const char *method, int replyId, const char *sn = "s") {
        return QString::asprintf("{\"id\":%d,\"method\":\"%s\",\"name\":\"n\",\"sn\":\"%s\"}", replyId, method, sn)
            .toUtf8();
    };
    answer(reply("search", id), kTermMac, kTermIp);
    answer(reply("Search", id), kOtherMac, kOtherIp);
    answer(reply("search", id + 1), kOtherMac, kOtherIp);
    answer("garbage", kOtherMac, kOtherIp);
    answer(reply("search", id), kOtherMac, kOtherIp);
    answer(reply("search", id), kTermMac, kTermIp);      // answered twice: one terminal
    answer(reply("search", id, "t"), kTermMac, kTermIp); // another terminal with the same MAC
    QList<FenwaDevice *> found;
    FenwaSearchReport report;
    ASSERT_EQ(sdk.search(&found, 200, &report), 0);
    QStringList seen;
    for (FenwaDevice *d : found) {
        seen << d->macText.right(1) + d->sn;
        EXPECT_EQ(d->address[3], d->mac[5] == 1 ? kTermIp[3] : kOtherIp[3]);
        d->release();
    }
    EXPECT_EQ(seen, QStringList({"1s", "2s", "1t"}));
    EXPECT_EQ(report.frames, 1) << "a collection this short has no room for a repeat";
    EXPECT_EQ(recorder.texts(recorder.received).size(), 3) << "one answer per terminal for the log";
}

// The first frame is lost on its way (nothing answers it); the terminals
// answer the repeat, which carries the same text.
TEST_F(OfflineSdk, SearchWhoseFirstFrameIsLostFindsTheTerminalsByItsRepeat)
{
    const int id = sdk.peekNextId();
    QList<FenwaDevice *> found;
    FenwaSearchReport report;
    std::thread searching([&] { sdk.search(&found, 1000, &report); });
    {
        // Scripted once the first frame has reached the device: only a later
        // frame delivers these.
        QMutexLocker lock(&script.mutex);
        while (script.sent.isEmpty())
            script.changed.wait(&script.mutex);
    }
    answer(QString::asprintf("{\"id\":%d,\"method\":\"search\"}", id).toUtf8(), kTermMac, kTermIp);
    answer(QString::asprintf("{\"id\":%d,\"method\":\"search\"}", id).toUtf8(), kOtherMac, kOtherIp);
    searching.join();
    EXPECT_EQ(found.size(), 2);
    EXPECT_EQ(report.repeatOnly, 2);
    EXPECT_EQ(report.frames, 4) << "at 0, 400, 525 and 650 ms: a fifth would leave less than the tail";
    const QList<QByteArray> frames = sent();
    EXPECT_EQ(frames.size(), report.frames);
    EXPECT_EQ(QSet<QByteArray>(frames.begin(), frames.end()).size(), 1) << "every repeat is the same frame";
    for (FenwaDevice *d : found)
        d->release();
}

// A late reply to a command sent before a reopen must not answer one sent
// after it: the ids count on.
TEST_F(OfflineSdk, IdsCountOnAcrossAReopen)
{
    const int first = sdk.peekNextId();
    answerReply();
    EXPECT_EQ(run(FenwaRequest::playVolume()), 0);
    EXPECT_LT(sdk.resendAfterMs(), int(FenwaRoundTrip::TRY_FIRST_MS)) << "an answer at once shortens the wait";
    sdk.close();
    ASSERT_EQ(openScripted(&sdk, &script), 0);
    EXPECT_EQ(sdk.peekNextId(), first == INT_MAX - 1 ? 0 : first + 1);
    EXPECT_EQ(sdk.resendAfterMs(), int(FenwaRoundTrip::TRY_FIRST_MS)) << "another segment, another round trip";
}

// A device that refuses a frame is replaced, the old one gone first: its
// capture thread must not outlive it beside the new one.
TEST_F(OfflineSdk, ARefusedSendReopensAfterClosing)
{
    ASSERT_TRUE(sdk.transport()->waitOpen(3000));
    const int opens = sdk.transport()->openCount();
    {
        QMutexLocker lock(&script.mutex);
        script.refuseNextSend = true;
    }
    EXPECT_EQ(sdk.send(kTermMac, kTermIp, "{}", 2), 0);
    for (int i = 0; i < 250 && sdk.transport()->openCount() == opens; ++i)
        QThread::msleep(20);
    EXPECT_EQ(sdk.transport()->openCount(), opens + 1);
    QMutexLocker lock(&script.mutex);
    EXPECT_EQ(script.mostOpen, 1);
}

// The cancel comes between the send and the wait for the answer, the
// moment a closing dialog once lost.
TEST_F(OfflineSdk, CancelRightAfterTheSendEndsTheCommandAtOnce)
{
    sdk.setReplyTimeout(-1);
    recorder.afterSend = [this] { sdk.cancel(); };
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(run(FenwaRequest::reboot()), -1);
    EXPECT_LT(timer.elapsed(), 1000) << "with no time-out, a lost cancel waits for ever";
    EXPECT_EQ(last.failure(), "unknown: may have changed");
}

TEST_F(OfflineSdk, UnansweredCommandGoesOutAgainAsItWasAndItsAnswersCountOnce)
{
    sdk.takeIgnoredFrames();
    int rc = -2;
    std::thread setting([&] { rc = run(FenwaRequest::setName("x")); });
    QByteArray first;
    {
        QMutexLocker lock(&script.mutex);
        while (script.sent.isEmpty())
            script.changed.wait(&script.mutex);
        first = script.sent.first();
    }
    // The frame is on the wire before the listener hears of its text.
    QElapsedTimer heard;
    heard.start();
    while (sent().isEmpty() && heard.elapsed() < 2000)
        QThread::msleep(1);
    if (sent().isEmpty()) {
        ADD_FAILURE() << "the listener never heard of the command";
        setting.join();
        return;
    }
    const QByteArray id = QByteArray::number(JsonDoc(sent().value(0)).item("id")->valueint);
    answer("{\"id\":" + id + ",\"result\":\"success\"}"); // both answer the copy
    answer("{\"id\":" + id + ",\"result\":\"success\"}");
    setting.join();
    EXPECT_EQ(rc, 0);
    QMutexLocker lock(&script.mutex);
    // A loaded machine may be slow to take the answers: a third copy is
    // no fault, a copy that differs is.
    ASSERT_GE(script.sent.size(), 2);
    for (const QByteArray &copy : qAsConst(script.sent))
        EXPECT_EQ(copy, first) << "same frame, same id";
    lock.unlock();
    QElapsedTimer timer;
    timer.start();
    long ignored = 0;
    while ((ignored += sdk.takeIgnoredFrames()) == 0 && timer.elapsed() < 2000)
        QThread::msleep(5);
    EXPECT_EQ(ignored, 1) << "the second answer is no second result";
    EXPECT_EQ(recorder.texts(recorder.received).size(), 1);
    // It may answer either copy (Karn): the round trip learns nothing.
    EXPECT_EQ(sdk.resendAfterMs(), int(FenwaRoundTrip::TRY_FIRST_MS));
}

// A neighbour floods the segment with well-formed "success" replies to ids
// around ours while the terminal refuses: the answer decides, the log hears
// of it alone, and the flood is a count.
TEST_F(OfflineSdk, FloodOfWrongIdRepliesIsCountedNotLoggedAndDecidesNothing)
{
    const int id = sdk.peekNextId();
    for (int k = 1; k <= 3000; ++k)
        answer(QString::asprintf("{\"id\":%d,\"result\":\"success\"}", id + (k % 2 ? k : -k)).toUtf8());
    answerReply("{\"id\":%d,\"result\":\"busy\"}");
    sdk.takeIgnoredFrames();
    EXPECT_EQ(run(FenwaRequest::reboot()), -1);
    EXPECT_EQ(last.failure(), "refused: busy");
    EXPECT_EQ(recorder.texts(recorder.received).size(), 1);
    EXPECT_EQ(sdk.takeIgnoredFrames(), 3000);
}

TEST_F(OfflineSdk, ReadingCommandsFillRecordsWhateverTheResult)
{
    RtpSettings rtp[10];
    for (RtpSettings &r : rtp)
        r = channel(1, "1.1.1.1", 1);
    answerReply("{\"id\":%d,\"result\":\"busy\",\"rtp0\":{\"enable\":1,\"rtpIP\":\"239.0.0.9\",\"rtpPort\":7000},"
                "\"rtp2\":{\"enable\":0,\"rtpIP\":\"239.0.0.3\",\"rtpPort\":7004}}");
    EXPECT_EQ(run(FenwaRequest::getRtpSettings()), -1);
    ASSERT_TRUE(last.reply);
    FenwaRequest::readRtp(*last.reply, rtp, 10);
    EXPECT_EQ(rtp[0].rtpIP, "239.0.0.9");
    EXPECT_EQ(rtp[0].rtpPort, 7000);
    EXPECT_TRUE(rtp[1].rtpIP.isEmpty() && rtp[1].enable == 0) << "a missing channel is reset";
    EXPECT_EQ(rtp[2].rtpPort, 7004);

    sdk.setReplyTimeout(50);
    EXPECT_EQ(run(FenwaRequest::getRtpSettings()), -1);
    EXPECT_FALSE(last.reply) << "no reply: nothing to read";
}

TEST_F(OfflineSdk, TextFillingTheBufferExactlyIsSentOneMoreByteIsRefused)
{
    // The room a name has beside the template and the next command's id.
    const auto room = [this] {
        return FenwaRequest::COMMAND_BUFFER - 1
            - QString::asprintf("{\"id\":%d,\"method\":\"SetName\",\"name\":\"\"}", sdk.peekNextId()).size();
    };
    answerReply();
    EXPECT_EQ(run(FenwaRequest::setName(QString(room(), 'n'))), 0);
    ASSERT_EQ(sent().size(), 1);
    EXPECT_EQ(sent()[0].size(), FenwaRequest::COMMAND_BUFFER - 1);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(run(FenwaRequest::setName(QString(room() + 1, 'n'))), -1);
    EXPECT_LT(timer.elapsed(), 1000) << "refused at once, no reply wait";
    // Escaping counts towards the limit: 600 quotes fit unescaped, not escaped.
    EXPECT_EQ(run(FenwaRequest::setName(QString(600, '"'))), -1);
    SipSettings longSip;
    longSip.serverHost = QString(250, 'h');
    EXPECT_EQ(run(FenwaRequest::setSipSettings(longSip, longSip)), -1);
    EXPECT_EQ(FenwaBatch::runOne(&sdk, nullptr, FenwaRequest::reboot()).state, FenwaBatch::NotSent);
    EXPECT_EQ(sent().size(), 1) << "nothing of a refused command leaves";
}

TEST_F(OfflineSdk, RawSendRefusesTextsTheFrameCannotCarry)
{
    const QByteArray most(QPCAP_TEXT_MAX, 'x'), over(QPCAP_TEXT_MAX + 1, 'x');
    EXPECT_EQ(sdk.send(kTermMac, kTermIp, most.constData(), most.size()), 0);
    EXPECT_EQ(sdk.send(kTermMac, kTermIp, over.constData(), over.size()), -1);
    EXPECT_EQ(sdk.send(kTermMac, kTermIp, nullptr, 3), -1);
    EXPECT_EQ(sdk.send(kTermMac, kTermIp, nullptr, 0), 0); // the header alone
    EXPECT_EQ(sent().size(), 2);
}

// Well-formed lists of any length are the fuzzer's; here the cap and the refusals.
TEST_F(OfflineSdk, SetRtpSettingsWritesAtMostTenChannelsAndRefusesNone)
{
    RtpSettings list[12];
    for (int i = 0; i < 12; ++i)
        list[i] = channel(1, QString::asprintf("239.0.0.%d", i + 1), 6000 + i);
    answerReply();
    ASSERT_EQ(run(FenwaRequest::setRtpSettings(QVector<RtpSettings>(list, list + 12))), 0);
    const JsonDoc json(sent().value(0));
    EXPECT_EQ(cJSON_GetArraySize(json.j), 12) << "id, method and ten channels";
    EXPECT_EQ(json.str("rtp9.rtpIP"), "239.0.0.10");
    EXPECT_EQ(run(FenwaRequest::setRtpSettings({})), -1);
    EXPECT_EQ(sent().size(), 1);
}

namespace {
// An ARP frame written out byte by byte, apart from the link's own builder.
QByteArray arpFrame(int op, const uint8_t dst[6], const uint8_t sender[6], const uint8_t senderIp[4],
                    const uint8_t targetIp[4] = nullptr)
{
    QByteArray f;
    f.append(reinterpret_cast<const char *>(dst), 6).append(reinterpret_cast<const char *>(sender), 6);
    f.append("\x08\x06\x00\x01\x08\x00\x06\x04\x00", 9).append(char(op));
    f.append(reinterpret_cast<const char *>(sender), 6).append(reinterpret_cast<const char *>(senderIp), 4);
    f.append(reinterpret_cast<const char *>(dst), 6);
    f.append(targetIp ? QByteArray(reinterpret_cast<const char *>(targetIp), 4) : QByteArray(4, '\0'));
    return f;
}
} // namespace

// As RFC 5227 has it: whoever sends ARP from a candidate address, answering
// or not, holds it, and so does another host probing for it; frames for
// other hosts, about other addresses or from this PC say nothing.
TEST_F(OfflineSdk, AddressProbesAreBareRequestsFromNoAddressAndAnyArpFromOrProbeForACandidateCounts)
{
    const uint8_t a50[4] = {192, 168, 1, 50}, a51[4] = {192, 168, 1, 51}, a52[4] = {192, 168, 1, 52},
                  a77[4] = {192, 168, 1, 77}, none[4] = {0, 0, 0, 0};
    const uint8_t everyone[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    {
        QMutexLocker lock(&script.mutex);
        script.answers << arpFrame(2, kToolMac, kTermMac, a50)         // answers the probe
                       << arpFrame(2, kOtherMac, kOtherMac, a51)       // a reply to another host
                       << arpFrame(2, kToolMac, kOtherMac, a77)        // not a candidate
                       << arpFrame(1, everyone, kOtherMac, a51, a77)   // uses .51, answers nothing
                       << arpFrame(1, everyone, kToolMac, a52, a52)    // this PC
                       << arpFrame(1, everyone, kTermMac, none, a52)   // probes for .52
                       << arpFrame(1, everyone, kOtherMac, none, a77)  // probes for another address
                       << arpFrame(2, kToolMac, kTermMac, a50);        // again: one holder per MAC
    }
    FenwaAddressProbe probe(&sdk);
    QList<FenwaTerminal::AddressHolder> answers;
    ASSERT_EQ(probe.probe({"192.168.1.50", "192.168.1.51", "192.168.1.52"}, &answers), 0);
    QStringList heard;
    for (const FenwaTerminal::AddressHolder &h : answers)
        heard << h.ip + " " + h.why;
    EXPECT_EQ(heard, QStringList({"192.168.1.50 answers ARP from 02:fe:00:00:00:01",
                                  "192.168.1.51 sends ARP from 02:fe:00:00:00:02",
                                  "192.168.1.52 probes for it from 02:fe:00:00:00:01"}));
    QMutexLocker lock(&script.mutex);
    ASSERT_EQ(script.sent.size(), 3 * FenwaAddressProbe::ROUNDS) << "every address, each round";
    const QByteArray probe51 = QByteArray::fromHex("ffffffffffff020000000002080600010800060400010200000000020000000000000000"
                                                   "0000c0a80133");
    EXPECT_EQ(script.sent[1].toHex(), probe51.toHex());
    EXPECT_EQ(script.sent[4], probe51);
}

// What may go out again: only what a terminal can take twice without a
// second effect; and what a search can show of a command whose answers
// were all lost.
TEST(CommandRules, ResentOnlyWhenActingTwiceChangesNothingCheckedWhereASearchShowsIt)
{
    SipSettings sip;
    const struct {
        FenwaRequest request;
        bool resend, checkable;
    } cases[] = {
        {FenwaRequest::getRtpSettings(), true, false},
        {FenwaRequest::getSipSettings(), true, false},
        {FenwaRequest::setIpDhcp(), true, true},
        {FenwaRequest::setIpStatic("10.0.0.2", "10.0.0.1", "255.0.0.0", "10.0.0.1", ""), true, true},
        {FenwaRequest::setName("n"), true, true},
        {FenwaRequest::setSn("s"), true, true},
        {FenwaRequest::setAccountPassword("a", "p"), true, true},
        {FenwaRequest::setDeviceVolume(1, 2, 0), true, true},
        {FenwaRequest::setServer("10.0.0.9", 1), true, false},
        {FenwaRequest::setDeviceInfo("a", "b", "c", 1, "d", "e", "f", "g"), true, false},
        {FenwaRequest::setSipSettings(sip, sip), true, false},
        {FenwaRequest::setRtpSettings({RtpSettings()}), true, false},
        {FenwaRequest::reboot(), false, false},
        {FenwaRequest::resetDefault(), false, false},
        {FenwaRequest::playVolume(), false, false},
        {FenwaRequest::setMac("02:fe:00:00:00:09"), false, true},
        {FenwaRequest("SomethingNew", {}), false, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.request.mayResend(), c.resend) << c.request.method();
        EXPECT_EQ(c.request.isCheckable(), c.checkable) << c.request.method();
    }
    // A record keeps the longest text a terminal can be given.
    EXPECT_TRUE(FenwaRequest::setSn(QString(FENWA_TEXT_MAX, 's')).fits());
    EXPECT_FALSE(FenwaRequest::setSn(QString(FENWA_TEXT_MAX + 1, 's')).fits());
    EXPECT_FALSE(FenwaRequest::setRtpSettings({RtpSettings(), channel(1, QString(FENWA_RTP_JSON_MAX, '1'), 5004)}).fits());
    FenwaDevice *seen = FenwaDevice::fromSearchReply(kTermMac, kTermIp, nullptr);
    seen->setExtraInt("micVolume", 1), seen->setExtraInt("outVolume", 2), seen->setExtraInt("autoMute", 0);
    EXPECT_TRUE(FenwaRequest::setDeviceVolume(1, 2, 0).heldBy(*seen));
    EXPECT_FALSE(FenwaRequest::setDeviceVolume(1, 3, 0).heldBy(*seen));
    EXPECT_FALSE(FenwaRequest::setName("n").heldBy(*seen));
    seen->release();
}
