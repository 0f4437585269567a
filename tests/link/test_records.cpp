// SPDX-License-Identifier: GPL-3.0-or-later
// Device records built from search replies, and the SIP and RTP records read
// from JSON.
#include "FenwaDevice.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <cstring>

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

class MacText : public ::testing::TestWithParam<std::pair<const char *, bool>> {};

TEST_P(MacText, SixHexNumbersWithAnySeparatorOrNothingChanges)
{
    Device r("{}");
    EXPECT_EQ(r.d->setMacFromText(QString::fromLatin1(GetParam().first)), GetParam().second);
    const uint8_t expected[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(std::memcmp(r.d->mac, GetParam().second ? expected : kTermMac, 6), 0);
    EXPECT_EQ(r.d->macText, "02:fe:00:00:00:01") << "macText is not touched";
}

INSTANTIATE_TEST_SUITE_P(Texts, MacText,
                         ::testing::Values(std::make_pair("00:11:22:33:44:55", true),
                                           std::make_pair("0:11:22:33:44:55", true),
                                           std::make_pair("0011.2233.4455", false), std::make_pair("", false),
                                           std::make_pair("00:11:22:33:44", false)));

TEST(SipRecord, FromJsonTakesStringsOnlyAndCompleteNeedsAllButTheDisplayName)
{
    JsonDoc j(R"({"serverHost":"sip.local","serverPort":5060,"displayName":"Desk","account":"100","password":"pw"})");
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
    EXPECT_FALSE(s.isComplete());
    s.serverPort = "5060";
    s.displayName.clear();
    EXPECT_TRUE(s.isComplete());
    s.clear();
    EXPECT_TRUE(s.serverHost.isEmpty() && s.password.isEmpty());
}

TEST(RtpRecord, FromJsonReadsNumbersTrueAndStrings)
{
    JsonDoc j(R"({"enable":true,"rtpIP":"239.1.1.1","rtpPort":"6000"})");
    RtpSettings r;
    r.fromJson(j.j);
    EXPECT_EQ(r.enable, 1);
    EXPECT_EQ(r.rtpIP, "239.1.1.1");
    EXPECT_EQ(r.rtpPort, 0) << "a port written as text is not a number";
    EXPECT_FALSE(r.isSet());
    r.rtpPort = 1;
    EXPECT_TRUE(r.isSet());
    r.fromJson(nullptr);
    EXPECT_TRUE(r.enable == 0 && r.rtpIP.isEmpty() && r.rtpPort == 0);
}
