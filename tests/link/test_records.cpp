// SPDX-License-Identifier: GPL-3.0-or-later
// Device records built from search replies, and the SIP and RTP records read
// from JSON.
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
    Device r(R"({"micVolume":7,"outVolume":60,"autoMute":1,"sip0":{"account":"1"},"ok":true,"n":null,"a":[1],
                 "bad":"x"})");
    EXPECT_EQ(r.d->extra("micVolume"), "7");
    EXPECT_EQ(r.d->extraInt("outVolume"), 60);
    EXPECT_EQ(r.d->autoMute(), 1);
    EXPECT_EQ(r.d->extraInt("bad"), 0);
    EXPECT_EQ(r.d->extraInt("absent"), 0);
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
