// SPDX-License-Identifier: GPL-3.0-or-later
// Device records built from search replies, and the SIP and RTP records read
// from JSON.
#include "FenwaDevice.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <cstring>
#include <functional>

namespace {
struct Device {
    explicit Device(const char *text) : json(text), d(FenwaDevice::fromSearchReply(kTermMac, kTermIp, json.j)) {}
    ~Device() { d->release(); }
    JsonDoc json;
    FenwaDevice *d;
};
} // namespace

// Every reported field is compared with the simulator's terminals end to
// end; here the reply's own texts differ from the frame's addresses.
TEST(DeviceRecord, LinkAddressesComeFromTheFrameAndTextsFromTheReply)
{
    Device r(R"({"id":0,"method":"search","ip":"10.0.0.5","mac":"AA-BB-CC-DD-EE-FF","name":"Hall"})");
    EXPECT_EQ(std::memcmp(r.d->address, kTermIp, 4), 0) << "commands still go to the ARP sender";
    EXPECT_EQ(std::memcmp(r.d->mac, kTermMac, 6), 0);
    EXPECT_EQ(r.d->ip, "10.0.0.5");
    EXPECT_EQ(r.d->macText, "AA-BB-CC-DD-EE-FF");
    EXPECT_EQ(r.d->name, "Hall");
    EXPECT_EQ(r.d->extra("id"), "0");
    EXPECT_FALSE(r.d->checked);
    Device bare("{}"); // without items the frame's addresses are written out
    EXPECT_EQ(bare.d->ip, "192.168.1.100");
    EXPECT_EQ(bare.d->macText, "02:fe:00:00:00:01");
}

TEST(DeviceRecord, NumbersBecomeTextObjectsAreSkippedKeysMatchByCaseTheLaterAliasWins)
{
    Device r(R"({"micVolume":7,"outVolume":60,"autoMute":1,"sip0":{"account":"1"},"ok":true,"n":null,"a":[1],
                 "bad":"x","Name":"wrong","deviceType":"VQT40","type":"VQ40","appVersion":"9","IpMode":"dhcp",
                 "sIp":"1.2.3.4"})");
    EXPECT_EQ(r.d->extra("micVolume"), "7");
    EXPECT_EQ(r.d->extraInt("outVolume"), 60);
    EXPECT_EQ(r.d->autoMute(), 1);
    EXPECT_EQ(r.d->extraInt("bad"), 0);
    EXPECT_EQ(r.d->extraInt("absent"), 0);
    for (const char *skipped : {"sip0", "ok", "n", "a"})
        EXPECT_FALSE(r.d->extras.contains(skipped)) << skipped;
    EXPECT_TRUE(r.d->name.isEmpty());
    EXPECT_EQ(r.d->extra("Name"), "wrong");
    EXPECT_EQ(r.d->type, "VQ40");
    EXPECT_EQ(r.d->version, "9");
    EXPECT_EQ(r.d->ipMode, "dhcp");
    EXPECT_EQ(r.d->ip, "1.2.3.4");
}

TEST(MacText, SixHexNumbersWithAnySeparatorOrNothingChanges)
{
    const std::pair<const char *, bool> cases[] = {
        {"00:11:22:33:44:55", true}, {"0:11:22:33:44:55", true}, {"0011.2233.4455", false}, {"", false}, {"00:11:22:33:44", false}};
    const uint8_t expected[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    for (const auto &c : cases) {
        Device r("{}");
        EXPECT_EQ(r.d->setMacFromText(QString::fromLatin1(c.first)), c.second) << c.first;
        EXPECT_EQ(std::memcmp(r.d->mac, c.second ? expected : kTermMac, 6), 0) << c.first;
        EXPECT_EQ(r.d->macText, "02:fe:00:00:00:01") << c.first << ": macText is not touched";
    }
}

// Each form's one reader: what it takes from a reply, and how it tells an
// operator's text that is not exactly the form (fenwa-cli refuses those).
TEST(FormReader, TakesWhatItCanAndSaysHowTheTextDiffersFromTheForm)
{
    const struct {
        const char *name;
        bool sip;
        const char *json;   // "": no object
        const char *values; // after reading into "old" values
        const char *why;    // "": exactly the form
    } cases[] = {
        {"sipNumberPort", true, R"({"serverHost":"h","serverPort":5060,"account":"a","password":"p","displayName":""})", "h|5060|a|p|", ""},
        {"sipNoObject", true, "", "old|old|old|old|old", "not a JSON object"},
        {"sipOtherCaseAndMember", true, R"({"ServerHost":"h","serverPort":"1","account":"a","password":"p","displayName":"d","x":1})", "h|1|a|p|d", "unknown field ServerHost"},
        {"sipFirstOfTwo", true, R"({"serverHost":"h","serverHost":"g","serverPort":"1","account":"a","password":"p","displayName":"d"})", "h|1|a|p|d", "serverHost is given twice"},
        {"sipMissing", true, R"({"serverHost":"h","serverPort":"1","account":"a","password":"p"})", "h|1|a|p|", "displayName is missing"},
        {"sipNumberName", true, R"({"serverHost":"h","serverPort":"1","account":"a","password":"p","displayName":7})", "h|1|a|p|", "displayName must be a text"},
        {"sipPortRange", true, R"({"serverHost":"h","serverPort":70000,"account":"a","password":"p","displayName":""})", "h||a|p|", "port number 0 to 65535"},
        {"rtpExact", false, R"({"enable":true,"rtpIP":"239.1.1.1","rtpPort":6000})", "1|239.1.1.1|6000", ""},
        {"rtpNoObject", false, "", "0||0", "not a JSON object"},
        {"rtpTextPort", false, R"({"enable":0,"rtpIP":"239.1.1.1","rtpPort":"6000"})", "0|239.1.1.1|0", "rtpPort must be a port number"},
        {"rtpFractionPort", false, R"({"enable":1,"rtpIP":"239.1.1.1","rtpPort":6000.5})", "1|239.1.1.1|6000", "rtpPort must be a port number"},
        {"rtpEnableTwo", false, R"({"enable":2,"rtpIP":"239.1.1.1","rtpPort":6000})", "2|239.1.1.1|6000", "enable must be 0, 1, true or false"},
        {"rtpNumberAddress", false, R"({"enable":1,"rtpIP":7,"rtpPort":6000})", "1||6000", "rtpIP must be a text"},
    };
    for (const auto &c : cases) {
        JsonDoc j(c.json);
        QString why, values;
        bool exact;
        if (c.sip) {
            SipSettings s;
            s.serverHost = s.serverPort = s.account = s.password = s.displayName = QStringLiteral("old");
            exact = s.fromJson(j.j, &why);
            values = QStringList{s.serverHost, s.serverPort, s.account, s.password, s.displayName}.join('|');
        } else {
            RtpSettings r;
            r.enable = 1;
            r.rtpIP = QStringLiteral("old");
            r.rtpPort = 9;
            exact = r.fromJson(j.j, &why);
            values = QStringLiteral("%1|%2|%3").arg(r.enable).arg(r.rtpIP).arg(r.rtpPort);
        }
        EXPECT_EQ(values.toStdString(), c.values) << c.name;
        EXPECT_EQ(exact, *c.why == 0) << c.name << ": " << why.toStdString();
        EXPECT_TRUE(why.contains(QLatin1String(c.why))) << c.name << ": " << why.toStdString();
    }
}

// A record keeps no more than a terminal can hold, however long the reply's
// texts: cut at a character, an address text too long to be one left out,
// made-up items beyond the few kept dropped; and each says it was cut.
TEST(DeviceRecord, KeepsNoMoreThanATerminalCanHold)
{
    const QByteArray fits(FENWA_TEXT_MAX, 'n'), longer = fits + "x";
    // "é" is two bytes: one over the room puts the last one across the end.
    const QByteArray across = QByteArray(FENWA_TEXT_MAX - 1, 'n') + "\xc3\xa9";
    QByteArray many = "{";
    for (int k = 0; k < FENWA_EXTRAS_MAX + 5; ++k)
        many += QString::asprintf("\"x%02d\":%d,", k, k).toUtf8();
    many += "\"account\":\"admin\",\"micVolume\":5}";
    const struct {
        QByteArray reply;
        bool cut;
        std::function<void(const FenwaDevice *)> check;
    } cases[] = {
        {"{\"name\":\"" + fits + "\"}", false, [&](const FenwaDevice *d) { EXPECT_EQ(d->name.toUtf8(), fits); }},
        {"{\"name\":\"" + longer + "\"}", true, [&](const FenwaDevice *d) { EXPECT_EQ(d->name.toUtf8(), fits); }},
        {"{\"sn\":\"" + across + "\"}", true,
         [&](const FenwaDevice *d) { EXPECT_EQ(d->sn.toUtf8(), across.left(FENWA_TEXT_MAX - 1)); }},
        {"{\"uid\":\"" + QByteArray(FENWA_LABEL_MAX + 1, 'u') + "\"}", true,
         [](const FenwaDevice *d) { EXPECT_EQ(d->uid.size(), FENWA_LABEL_MAX); }},
        {R"({"ip":"192.168.001.0100","mac":"02:fe:00:00:00:099","gateway":"10.0.0.1"})", true,
         [](const FenwaDevice *d) {
             EXPECT_EQ(d->ip, "192.168.1.100") << "the frame's address, not a cut text";
             EXPECT_EQ(d->macText, "02:fe:00:00:00:01");
             EXPECT_EQ(d->gateway, "10.0.0.1");
         }},
        {many, true,
         [](const FenwaDevice *d) {
             EXPECT_EQ(d->extras.size(), FENWA_EXTRAS_MAX + 2) << "the items the pages use are kept";
             EXPECT_EQ(d->account(), "admin");
             EXPECT_EQ(d->extraInt("micVolume"), 5);
         }},
    };
    for (const auto &c : cases) {
        const JsonDoc json(c.reply);
        bool cut = !c.cut;
        FenwaDevice *d = FenwaDevice::fromSearchReply(kTermMac, kTermIp, json.j, &cut);
        EXPECT_EQ(cut, c.cut) << c.reply.left(40).constData();
        c.check(d);
        d->release();
    }
}
