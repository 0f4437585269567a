// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct ParseCase {
    const char *name;
    QStringList args;
    bool ok;
    const char *errorPart; // expected in the message when !ok
};
// ctest lists the case by its label rather than its bytes.
void PrintTo(const ParseCase &c, std::ostream *os) { *os << c.name; }


class CliParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CliParse, AcceptsOrExplains)
{
    const ParseCase &c = GetParam();
    CliRequest r;
    QString error;
    EXPECT_EQ(parseCli(c.args, &r, &error), c.ok) << error.toStdString();
    if (!c.ok) {
        EXPECT_TRUE(error.contains(QLatin1String(c.errorPart))) << error.toStdString();
    }
}

const QString kMac = QStringLiteral("02:fe:00:00:00:01");

INSTANTIATE_TEST_SUITE_P(
    Cases, CliParse,
    ::testing::Values(
        ParseCase{"search", {"search"}, true, ""},
        ParseCase{"searchCsvTime", {"--interface", "eth9", "search", "--time", "500", "--csv"}, true, ""},
        ParseCase{"noCommand", {"--interface", "eth9"}, false, "no command"},
        ParseCase{"unknownCommand", {"set-colour", "--all"}, false, "unknown command"},
        ParseCase{"unknownOption", {"search", "--fast"}, false, "unknown option"},
        ParseCase{"searchWithTargets", {"search", "--all"}, false, "no targets"},
        ParseCase{"csvOnlyForSearch", {"reboot", "--all", "--csv"}, false, "--csv"},
        ParseCase{"noTargets", {"reboot"}, false, "--mac MAC"},
        ParseCase{"bothTargets", {"reboot", "--all", "--mac", kMac}, false, "--mac MAC"},
        ParseCase{"badTargetMac", {"reboot", "--mac", "02:fe:00:00:00"}, false, "--mac takes"},
        ParseCase{"missingValue", {"reboot", "--mac"}, false, "needs a value"},
        ParseCase{"negativeTime", {"search", "--time", "-5"}, false, "milliseconds"},
        ParseCase{"wrongArgCount", {"set-name", "--all"}, false, "set-name takes NAME"},
        ParseCase{"extraArgs", {"reboot", "now", "--all"}, false, "takes no arguments"},
        ParseCase{"staticOk", {"set-ip-static", "10.0.0.5", "10.0.0.1", "255.0.0.0", "8.8.8.8", "0.0.0.0", "--all"}, true, ""},
        ParseCase{"staticLeadingZero", {"set-ip-static", "10.0.0.05", "10.0.0.1", "255.0.0.0", "8.8.8.8", "0.0.0.0", "--all"}, false, "set-ip-static: IP error"},
        ParseCase{"staticBadDns2", {"set-ip-static", "10.0.0.5", "10.0.0.1", "255.0.0.0", "8.8.8.8", "8.8.8", "--all"}, false, "Dns2 error"},
        ParseCase{"staticEmptyDns2", {"set-ip-static", "10.0.0.5", "10.0.0.1", "255.0.0.0", "8.8.8.8", "", "--all"}, true, ""},
        ParseCase{"staticBroadcast", {"set-ip-static", "10.255.255.255", "10.0.0.1", "255.0.0.0", "8.8.8.8", "", "--all"}, false, "broadcast"},
        ParseCase{"setMacBad", {"set-mac", "0011.2233.4455", "--mac", kMac}, false, "six hexadecimal pairs"},
        ParseCase{"setMacGroup", {"set-mac", "01:00:5e:00:00:01", "--mac", kMac}, false, "group"},
        ParseCase{"volumeNotNumber", {"set-volume", "5", "loud", "0", "--all"}, false, "OUT must"},
        ParseCase{"volumeTooLoud", {"set-volume", "5", "101", "0", "--all"}, false, "0 to 100"},
        ParseCase{"serverPortRange", {"set-server", "10.0.0.9", "70000", "--all"}, false, "PORT"},
        ParseCase{"accountEmpty", {"set-account", "", "pw", "--all"}, false, "Please input account"},
        ParseCase{"sipNotJson", {"set-sip", "{sip0:", "--all"}, false, "set-sip takes"},
        ParseCase{"sipMissingSecond", {"set-sip", "{\"sip0\":{}}", "--all"}, false, "sip1"},
        ParseCase{"sipArray", {"set-sip", "[{\"account\":\"1\"},{\"account\":\"2\"}]", "--all"}, true, ""},
        ParseCase{"rtpTooMany", {"set-rtp", "[{},{},{},{},{},{},{},{},{},{},{}]", "--all"}, false, "one to ten"},
        ParseCase{"rtpEmpty", {"set-rtp", "[]", "--all"}, false, "one to ten"},
        ParseCase{"rtpNotObjects", {"set-rtp", "[1,2]", "--all"}, false, "JSON object"}),
    [](const ::testing::TestParamInfo<ParseCase> &info) { return std::string(info.param.name); });

TEST(CliParse, KeepsTargetsNormalisedAndArgumentsInOrder)
{
    CliRequest r;
    QString error;
    ASSERT_TRUE(parseCli({"--timeout", "250", "set-name", "Hall \"A\"", "--mac", "02-FE-00-00-00-0A", "--mac", kMac},
                         &r, &error))
        << error.toStdString();
    EXPECT_EQ(r.timeoutMs, 250);
    EXPECT_EQ(r.command, QStringLiteral("set-name"));
    EXPECT_EQ(r.args, QStringList{QStringLiteral("Hall \"A\"")});
    EXPECT_EQ(r.macs, (QStringList{QStringLiteral("02:fe:00:00:00:0a"), kMac}));
}

TEST(CliParse, SipAndRtpArgumentsCarryTheirValues)
{
    SipSettings sip0, sip1;
    QString error;
    ASSERT_TRUE(parseSipArgument(
        QStringLiteral("{\"sip0\":{\"serverHost\":\"10.0.0.9\",\"serverPort\":5060,\"account\":\"801\",\"password\":"
                       "\"x\"},\"sip1\":{\"account\":\"802\"}}"),
        &sip0, &sip1, &error));
    EXPECT_EQ(sip0.serverHost, QStringLiteral("10.0.0.9"));
    EXPECT_EQ(sip0.serverPort, QStringLiteral("5060")); // a number from a script becomes the wire's text
    EXPECT_TRUE(sip0.isComplete());
    EXPECT_EQ(sip1.account, QStringLiteral("802"));
    EXPECT_FALSE(sip1.isComplete());

    QList<RtpSettings> channels;
    ASSERT_TRUE(parseRtpArgument(QStringLiteral("{\"rtp3\":{\"enable\":true,\"rtpIP\":\"239.1.1.1\",\"rtpPort\":6000}}"),
                                 &channels, &error));
    ASSERT_EQ(channels.size(), 10);
    EXPECT_EQ(channels[3].enable, 1);
    EXPECT_EQ(channels[3].rtpIP, QStringLiteral("239.1.1.1"));
    EXPECT_FALSE(channels[0].isSet());
}

} // namespace
