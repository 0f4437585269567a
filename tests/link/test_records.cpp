// SPDX-License-Identifier: GPL-3.0-or-later
// Device records built from search replies, and the SIP and RTP records'
// JSON forms.
#include "FenwaDevice.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <cJSON.h>
#include <cstring>

namespace {

struct Json {
    explicit Json(const char *text) : j(cJSON_Parse(text)) {}
    ~Json() { cJSON_Delete(j); }
    cJSON *j;
};

struct Device {
    Device(const char *text, const uint8_t *mac = kTermMac, const uint8_t *ip = kTermIp)
        : json(text), d(FenwaDevice::fromSearchReply(mac, ip, json.j))
    {
    }
    ~Device() { d->release(); }
    Json json;
    FenwaDevice *d;
};

} // namespace

TEST(DeviceRecord, LinkAddressesComeFromTheFrameAndTextsFromTheReply)
{
    Device r(R"({"id":0,"method":"search","ip":"10.0.0.5","mac":"AA-BB-CC-DD-EE-FF","name":"Hall",
                 "type":"VQ40","ipMode":"static","version":"2.4.1","gateway":"10.0.0.1",
                 "netmask":"255.0.0.0","dns1":"10.0.0.2","dns2":"","sn":"S1","uid":"U1"})");
    EXPECT_EQ(std::memcmp(r.d->address, kTermIp, 4), 0) << "commands still go to the ARP sender";
    EXPECT_EQ(std::memcmp(r.d->mac, kTermMac, 6), 0);
    EXPECT_EQ(r.d->ip, "10.0.0.5");
    EXPECT_EQ(r.d->macText, "AA-BB-CC-DD-EE-FF");
    EXPECT_EQ(r.d->name, "Hall");
    EXPECT_EQ(r.d->type, "VQ40");
    EXPECT_EQ(r.d->ipMode, "static");
    EXPECT_EQ(r.d->version, "2.4.1");
    EXPECT_EQ(r.d->gateway, "10.0.0.1");
    EXPECT_EQ(r.d->netmask, "255.0.0.0");
    EXPECT_EQ(r.d->dns1, "10.0.0.2");
    EXPECT_EQ(r.d->dns2, "");
    EXPECT_EQ(r.d->sn, "S1");
    EXPECT_EQ(r.d->uid, "U1");
    EXPECT_EQ(r.d->extra("id"), "0");
    EXPECT_EQ(r.d->extra("method"), "search");
    EXPECT_TRUE(r.d->isValid());
    EXPECT_FALSE(r.d->checked);
    EXPECT_EQ(r.d->refCount.load(), 1);
}

TEST(DeviceRecord, WithoutItemsTheFrameAddressesAreWrittenOut)
{
    Device r("{}");
    EXPECT_EQ(r.d->ip, "192.168.1.100");
    EXPECT_EQ(r.d->macText, "02:fe:00:00:00:01");
    EXPECT_TRUE(r.d->name.isEmpty());
}

TEST(DeviceRecord, NumbersBecomeTextAndObjectsAreSkipped)
{
    Device r(R"({"micVolume":7,"outVolume":60,"autoMute":1,"sip0":{"account":"1"},"ok":true,"n":null,"a":[1]})");
    EXPECT_EQ(r.d->extra("micVolume"), "7");
    EXPECT_EQ(r.d->extraInt("outVolume"), 60);
    EXPECT_EQ(r.d->autoMute(), 1);
    EXPECT_FALSE(r.d->extras.contains("sip0"));
    EXPECT_FALSE(r.d->extras.contains("ok"));
    EXPECT_FALSE(r.d->extras.contains("n"));
    EXPECT_FALSE(r.d->extras.contains("a"));
}

TEST(DeviceRecord, KeysMatchByExactCaseAndTheLaterOfTwoAliasesWins)
{
    Device r(R"({"Name":"wrong","deviceType":"VQT40","type":"VQ40","appVersion":"9","IpMode":"dhcp","sIp":"1.2.3.4"})");
    EXPECT_TRUE(r.d->name.isEmpty());
    EXPECT_EQ(r.d->extra("Name"), "wrong");
    EXPECT_EQ(r.d->type, "VQ40");
    EXPECT_EQ(r.d->version, "9");
    EXPECT_EQ(r.d->ipMode, "dhcp");
    EXPECT_EQ(r.d->ip, "1.2.3.4");
}

TEST(DeviceRecord, ExtrasReadAsIntegersOrZero)
{
    Device r(R"({"account":"admin","password":"d41d","autoMute":"x"})");
    EXPECT_EQ(r.d->account(), "admin");
    EXPECT_EQ(r.d->password(), "d41d");
    EXPECT_EQ(r.d->autoMute(), 0);
    EXPECT_EQ(r.d->extraInt("absent"), 0);
    r.d->setExtraInt("micVolume", 40);
    EXPECT_EQ(r.d->extra("micVolume"), "40");
    r.d->setAccount("root");
    EXPECT_EQ(r.d->account(), "root");
}

struct MacTextCase {
    const char *text;
    bool accepted;
};

class MacText : public ::testing::TestWithParam<MacTextCase> {};

TEST_P(MacText, SixHexNumbersWithAnySeparatorOrNothingChanges)
{
    Device r("{}");
    const bool ok = r.d->setMacFromText(QString::fromLatin1(GetParam().text));
    EXPECT_EQ(ok, GetParam().accepted);
    const uint8_t expected[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    if (GetParam().accepted)
        EXPECT_EQ(std::memcmp(r.d->mac, expected, 6), 0);
    else
        EXPECT_EQ(std::memcmp(r.d->mac, kTermMac, 6), 0);
    EXPECT_EQ(r.d->macText, "02:fe:00:00:00:01") << "macText is not touched";
}

INSTANTIATE_TEST_SUITE_P(Texts, MacText,
                         ::testing::Values(MacTextCase{"00:11:22:33:44:55", true},
                                           MacTextCase{"00-11-22-33-44-55", true},
                                           MacTextCase{"0:11:22:33:44:55", true},
                                           MacTextCase{"0011.2233.4455", false}, MacTextCase{"", false},
                                           MacTextCase{"00:11:22:33:44", false}));

TEST(SipRecord, FromJsonTakesStringsOnly)
{
    Json j(R"({"serverHost":"sip.local","serverPort":5060,"displayName":"Desk","account":"100","password":"pw"})");
    SipSettings s;
    s.serverPort = "old";
    s.fromJson(j.j);
    EXPECT_EQ(s.serverHost, "sip.local");
    EXPECT_EQ(s.serverPort, "") << "a numeric port is not a string";
    EXPECT_EQ(s.displayName, "Desk");
    EXPECT_EQ(s.account, "100");
    EXPECT_EQ(s.password, "pw");
    s.fromJson(nullptr);
    EXPECT_EQ(s.account, "100") << "no object: nothing changes";
}

TEST(SipRecord, JsonFormIsTheTemplateAndEscapesText)
{
    SipSettings s;
    s.serverHost = "h";
    s.serverPort = "5060";
    s.account = "a\"b";
    s.password = "back\\slash";
    s.displayName = "tab\there";
    char buf[FENWA_SIP_JSON_MAX];
    const int n = s.toJson(buf, sizeof buf);
    ASSERT_GT(n, 0);
    EXPECT_STREQ(buf, "{\"serverHost\" : \"h\",\"serverPort\" : \"5060\", \"account\" : \"a\\\"b\","
                      "\"password\" : \"back\\\\slash\",\"displayName\" : \"tab\\there\"}");
    Json back(buf);
    SipSettings r;
    r.fromJson(back.j);
    EXPECT_EQ(r.account, s.account);
    EXPECT_EQ(r.password, s.password);
    EXPECT_EQ(r.displayName, s.displayName);
}

TEST(SipRecord, TooLongForTheBufferIsRefusedNotCut)
{
    SipSettings s;
    s.serverHost = QString(300, 'h');
    char buf[FENWA_SIP_JSON_MAX];
    EXPECT_EQ(s.toJson(buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");
}

TEST(SipRecord, CompleteNeedsEverythingButTheDisplayName)
{
    SipSettings s;
    s.serverHost = "h";
    s.serverPort = "5060";
    s.account = "a";
    s.password = "p";
    EXPECT_TRUE(s.isComplete());
    s.serverPort.clear();
    EXPECT_FALSE(s.isComplete());
    s.serverPort = "1";
    s.clear();
    EXPECT_FALSE(s.isComplete());
    EXPECT_TRUE(s.serverHost.isEmpty());
}

TEST(RtpRecord, JsonFormIsCJsonsFormattedPrint)
{
    RtpSettings r;
    r.enable = 1;
    r.rtpIP = "239.0.0.1";
    r.rtpPort = 6000;
    char buf[FENWA_RTP_JSON_MAX];
    ASSERT_GT(r.toJson(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "{\n\t\"enable\":\t1,\n\t\"rtpIP\":\t\"239.0.0.1\",\n\t\"rtpPort\":\t6000\n}");
}

TEST(RtpRecord, FromJsonReadsNumbersTrueAndStrings)
{
    Json j(R"({"enable":true,"rtpIP":"239.1.1.1","rtpPort":"6000"})");
    RtpSettings r;
    r.fromJson(j.j);
    EXPECT_EQ(r.enable, 1);
    EXPECT_EQ(r.rtpIP, "239.1.1.1");
    EXPECT_EQ(r.rtpPort, 0) << "a port written as text is not a number";
    EXPECT_FALSE(r.isSet());
    r.rtpPort = 1;
    EXPECT_TRUE(r.isSet());
    r.fromJson(nullptr);
    EXPECT_EQ(r.enable, 0);
    EXPECT_TRUE(r.rtpIP.isEmpty());
    EXPECT_EQ(r.rtpPort, 0);
}
