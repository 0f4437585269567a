// SPDX-License-Identifier: GPL-3.0-or-later
// Any texts an operator can type, through the commands that carry them: a
// command either goes out as one JSON object of at most 1023 bytes holding
// every text whole, or is refused and sends nothing.
#include "FenwaBatch.h"
#include "FenwaSDK.h"
#include "FenwaTerminal.h"
#include "crafted_frames.h"
#include "OrbUtils/OrbTranslate.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <cJSON.h>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {
class Recorder : public FenwaCommandObserver
{
public:
    void onSendCommand(FenwaSDK *, const char *text) override { sent.append(QByteArray(text)); }
    void onRecvCommand(FenwaSDK *, const char *) override {}
    QList<QByteArray> sent; // send() reports on the calling thread: this one
};

DeviceScript script;
Recorder recorder;
FenwaSDK *sdk;
FenwaDevice *device;

// The text as it must arrive; cJSON ends a string at an escaped zero, so
// the part behind one is compared by the escape's presence instead.
void expectText(const QByteArray &sent, const cJSON *object, const char *key, const QString &typed)
{
    const QByteArray utf8 = typed.toUtf8();
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(object, key);
    if (!cJSON_IsString(item) || std::strcmp(item->valuestring, utf8.constData()) != 0
        || (utf8.contains('\0') && !sent.contains("\\u0000")))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The link frees a sent frame on its own thread, after the input that
    // sent it: libFuzzer would suspect every input of a leak and scan the
    // heap each time. Leaks are still looked for once, at the end.
    static std::vector<char *> args(*argv, *argv + *argc + 1);
    static char noScan[] = "-detect_leaks=0";
    args.insert(args.begin() + 1, noScan);
    *argc += 1;
    *argv = args.data();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QPcapAdapter adapter;
    std::memset(&adapter, 0, sizeof adapter);
    std::strcpy(adapter.name, "scripted0");
    std::memcpy(adapter.hardwareAddress, kToolMac, 6);
    sdk = new FenwaSDK;
    sdk->setCommandObserver(&recorder);
    sdk->transport()->setDeviceFactory([] { return std::make_unique<ScriptedDevice>(&script); });
    sdk->open(&adapter);
    sdk->setReplyTimeout(0);
    device = FenwaDevice::fromSearchReply(kTermMac, kTermIp, nullptr);
    // The link's threads end before the script they wait on goes.
    std::atexit([] {
        device->release();
        delete sdk;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // (key, typed text) per text argument; keys "sip0.x", "rtp3.x" name an
    // item of an inner object. Arguments may be read in any order.
    QList<QPair<QByteArray, QString>> texts;
    auto text = [&](const QByteArray &key) {
        const std::string s = in.ConsumeRandomLengthString(1100);
        texts += {key, QString::fromUtf8(s.data(), int(s.size()))}; // zero bytes too
        return texts.last().second;
    };
    const char *const methods[] = {"SetIp", "SetName", "SetMac", "SetAccountPassword", "SetDeviceInfo",
                                   "SetSipSettings", "SetRtpSettings"};
    const int which = in.ConsumeIntegralInRange(0, 6);
    FenwaRequest request;
    if (which == 0) {
        request = FenwaRequest::setIpStatic(text("ip"), text("gateway"), text("netmask"), text("dns1"), text("dns2"));
    } else if (which == 1) {
        request = FenwaRequest::setName(text("name"));
    } else if (which == 2) {
        request = FenwaRequest::setMac(text("mac"));
    } else if (which == 3) {
        request = FenwaRequest::setAccountPassword(text("account"), text("password"));
    } else if (which == 4) {
        request = FenwaRequest::setDeviceInfo(text("areaCode"), text("number"), text("name"), in.ConsumeIntegral<int>(),
                                              text("resourceTypeSequenceCode"), text("resourceSonTypeSequenceCode"),
                                              text("resourceTypeCode"), text("resourceSonTypeCode"));
    } else if (which == 5) {
        SipSettings sip[2];
        for (int i = 0; i < 2; ++i) {
            const QByteArray p = "sip" + QByteArray::number(i) + ".";
            sip[i].account = text(p + "account"), sip[i].password = text(p + "password");
            sip[i].displayName = text(p + "displayName"), sip[i].serverHost = text(p + "serverHost");
            sip[i].serverPort = text(p + "serverPort");
        }
        request = FenwaRequest::setSipSettings(sip[0], sip[1]);
    } else {
        QVector<RtpSettings> rtp(in.ConsumeIntegralInRange<int>(1, FENWA_RTP_CHANNELS));
        for (int i = 0; i < rtp.size(); ++i) {
            rtp[i].enable = in.ConsumeIntegral<int>();
            rtp[i].rtpPort = in.ConsumeIntegral<int>();
            rtp[i].rtpIP = text("rtp" + QByteArray::number(i) + ".rtpIP");
        }
        request = FenwaRequest::setRtpSettings(rtp);
    }
    // No reply comes: the text is what is looked at, not the search that
    // would look for its effect.
    FenwaBatch batch(sdk);
    batch.setChecks(false);
    batch.add(device, request);
    batch.run();

    {
        QMutexLocker lock(&script.mutex); // frames reach the device on the sender thread
        script.sent.clear();
    }
    if (recorder.sent.isEmpty()) {
        if (batch.result(0).failure() != translate("too long to send"))
            std::abort(); // not sent, yet not refused either
        return 0;
    }
    const QByteArray sent = recorder.sent.takeFirst();
    cJSON *json = sent.size() <= FenwaRequest::COMMAND_BUFFER - 1 && recorder.sent.isEmpty()
        ? cJSON_ParseWithOpts(sent.constData(), nullptr, true)
        : nullptr;
    const cJSON *m = cJSON_GetObjectItemCaseSensitive(json, "method");
    if (!cJSON_IsObject(json) || !cJSON_IsString(m) || std::strcmp(m->valuestring, methods[which]) != 0)
        std::abort();
    for (const auto &t : texts) {
        const int dot = t.first.indexOf('.');
        const cJSON *object = dot < 0 ? json : cJSON_GetObjectItemCaseSensitive(json, t.first.left(dot).constData());
        expectText(sent, object, t.first.mid(dot + 1).constData(), t.second);
    }
    cJSON_Delete(json);
    return 0;
}
