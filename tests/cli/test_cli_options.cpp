// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <cstring>
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
// Short, but twice as long once escaped: the limit is on the text sent.
const QString kQuotes = QString(520, QLatin1Char('"'));
const char kSip[] = R"({"serverHost":"10.0.0.9","serverPort":"5060","account":"801","password":"x","displayName":"Hall"})";
QString sip(const char *first, const char *second = kSip) { return QStringLiteral("{\"sip0\":%1,\"sip1\":%2}").arg(first, second); }
const char kChannel[] = R"({"enable":1,"rtpIP":"239.1.1.1","rtpPort":6000})";
QString rtp(const char *channel) { return QStringLiteral("[%1]").arg(channel); }

INSTANTIATE_TEST_SUITE_P(
    Cases, CliParse,
    ::testing::Values(
        ParseCase{"search", {"search"}, true, ""},
        ParseCase{"searchCsvTime", {"--interface", "eth9", "search", "--time", "500", "--csv"}, true, ""},
        ParseCase{"noCommand", {"--interface", "eth9"}, false, "no command"},
        ParseCase{"unknownCommand", {"set-colour", "--all"}, false, "unknown command"},
        ParseCase{"searchWithTargets", {"search", "--all"}, false, "no targets"},
        ParseCase{"csvOnlyForSearch", {"reboot", "--all", "--csv"}, false, "--csv"},
        ParseCase{"parallelOnlyForFirmware", {"reboot", "--all", "--parallel", "4"}, false, "firmware only"},
        ParseCase{"parallelNone", {"firmware", "/dev/null", "--all", "--parallel", "0"}, false, "from 1 to 32"},
        ParseCase{"watchNoTargets", {"watch", "--all"}, false, "no targets"},
        ParseCase{"watchIntervalZero", {"watch", "--interval", "0"}, false, "from 1 to 3600"},
        ParseCase{"intervalOnlyForWatch", {"search", "--for", "60"}, false, "go with watch"},
        ParseCase{"waitAfterReboot", {"reboot", "--all", "--wait", "120"}, true, ""},
        ParseCase{"waitOnlyAfterARestart", {"set-name", "x", "--all", "--wait", "120"}, false, "--wait goes with"},
        ParseCase{"reportPdfOrHtml", {"report", "site.txt"}, false, "FILE.pdf or FILE.html"},
        ParseCase{"reportLanguage", {"report", "site.pdf", "--language", "de"}, false, "en or cn"},
        ParseCase{"siteOnlyForReport", {"search", "--site", "Hotel"}, false, "go with report"},
        ParseCase{"noTargets", {"reboot"}, false, "--mac MAC"},
        ParseCase{"bothTargets", {"reboot", "--all", "--mac", kMac}, false, "--mac MAC"},
        ParseCase{"badTargetMac", {"reboot", "--mac", "02:fe:00:00:00"}, false, "--mac takes"},
        ParseCase{"missingValue", {"reboot", "--mac"}, false, "needs a value"},
        ParseCase{"standardInputTwice", {"set-sip", "-", "--password-file", "-", "--all"}, false, "standard input can"},
        ParseCase{"negativeTime", {"search", "--time", "-5"}, false, "milliseconds"},
        ParseCase{"timeBeyondInt", {"search", "--time", "3000000000"}, false, "milliseconds"},
        ParseCase{"wrongArgCount", {"set-name", "--all"}, false, "set-name takes NAME"},
        ParseCase{"extraArgs", {"reboot", "now", "--all"}, false, "takes no arguments"},
        ParseCase{"dashNameAfterSeparator", {"set-name", "--mac", kMac, "--", "--all"}, true, ""},
        ParseCase{"negativeNumberIsAnArgument", {"set-device-info", "1", "2", "n", "-3", "a", "b", "c", "d", "--all"}, true, ""},
        ParseCase{"staticOk", {"set-ip-static", "10.0.0.5", "10.0.0.1", "255.0.0.0", "8.8.8.8", "0.0.0.0", "--all"}, true, ""},
        ParseCase{"staticLeadingZero", {"set-ip-static", "10.0.0.05", "10.0.0.1", "255.0.0.0", "8.8.8.8", "0.0.0.0", "--all"}, false, "set-ip-static: IP error"},
        ParseCase{"staticEmptyDns2", {"set-ip-static", "10.0.0.5", "10.0.0.1", "255.0.0.0", "8.8.8.8", "", "--all"}, true, ""},
        ParseCase{"volumeNotNumber", {"set-volume", "5", "loud", "0", "--all"}, false, "OUT must"},
        ParseCase{"serverPortRange", {"set-server", "10.0.0.9", "70000", "--all"}, false, "PORT"},
        ParseCase{"accountEmpty", {"set-account", "", "pw", "--all"}, false, "Please input account"},
        // Lengths fail here, before the search, with the reason.
        // 1023 bytes of SetName text with a ten-digit id hold 977 of name.
        ParseCase{"nameLongestThatFits", {"set-name", QString(977, 'n'), "--all"}, true, ""},
        ParseCase{"nameOneByteTooLong", {"set-name", QString(978, 'n'), "--all"}, false, "too long"},
        ParseCase{"nameTooLongEscaped", {"set-name", kQuotes, "--all"}, false, "too long"},
        ParseCase{"deviceInfoTooLong", {"set-device-info", "1", "2", kQuotes, "0", "a", "b", "c", "d", "--all"}, false, "too long"},
        ParseCase{"sipTooLong", {"set-sip", sip(kSip).replace("Hall", QString(300, 'h')), "--all"}, false, "too long"},
        // set-sip and set-rtp take the forms get-sip and get-rtp print; FormReader has the fields' cases.
        ParseCase{"sipComplete", {"set-sip", sip(kSip), "--all"}, true, ""},
        ParseCase{"sipNumberPort", {"set-sip", sip(R"({"serverHost":"h","serverPort":5060,"account":"a","password":"p","displayName":""})"), "--all"}, true, ""},
        ParseCase{"sipArray", {"set-sip", QStringLiteral("[%1,%1]").arg(kSip), "--all"}, true, ""},
        ParseCase{"sipGetSipLine", {"set-sip", sip(kSip).replace("{\"sip0\"", "{\"mac\":\"02:fe:00:00:00:01\",\"result\":0,\"sip0\""), "--all"}, true, ""},
        ParseCase{"sipNotJson", {"set-sip", "{sip0:", "--all"}, false, "set-sip takes"},
        ParseCase{"sipJunkAfter", {"set-sip", sip(kSip) + " x", "--all"}, false, "set-sip takes"},
        ParseCase{"sipMissingSecond", {"set-sip", QStringLiteral("{\"sip0\":%1}").arg(kSip), "--all"}, false, "set-sip: sip1 is missing"},
        ParseCase{"sipMissingField", {"set-sip", sip(R"({"serverHost":"h","serverPort":"1","account":"a","password":"p"})"), "--all"}, false, "set-sip: sip0: displayName is missing"},
        ParseCase{"sipPortRange", {"set-sip", sip(kSip).replace("\"5060\"", "70000"), "--all"}, false, "set-sip: sip0: serverPort must be"},
        ParseCase{"rtpOne", {"set-rtp", rtp(kChannel), "--all"}, true, ""},
        ParseCase{"rtpBoolEnable", {"set-rtp", rtp(R"({"enable":false,"rtpIP":"","rtpPort":0})"), "--all"}, true, ""},
        ParseCase{"rtpTooMany", {"set-rtp", QStringLiteral("[%1,%1,%1,%1,%1,%1,%1,%1,%1,%1,%1]").arg(kChannel), "--all"}, false, "one to ten"},
        ParseCase{"rtpEmpty", {"set-rtp", "[]", "--all"}, false, "one to ten"},
        ParseCase{"rtpNotObjects", {"set-rtp", "[1,2]", "--all"}, false, "JSON object"},
        ParseCase{"rtpJunkAfter", {"set-rtp", rtp(kChannel) + "]", "--all"}, false, "set-rtp takes"},
        ParseCase{"rtpObjectNotAllTen", {"set-rtp", QStringLiteral("{\"rtp0\":%1}").arg(kChannel), "--all"}, false, "set-rtp: rtp1 is missing"},
        ParseCase{"rtpNotIpv4", {"set-rtp", rtp(R"({"enable":1,"rtpIP":"239.1.1","rtpPort":6000})"), "--all"}, false, "IPv4"}),
    [](const ::testing::TestParamInfo<ParseCase> &info) { return std::string(info.param.name); });

// What a run does when the command line does not say: the defaults a
// script relies on, and where -h counts as help.
struct ResolveCase {
    const char *name;
    QStringList args;
    bool help;
    int searchMs, timeoutMs;
    QStringList commandArgs;
};
void PrintTo(const ResolveCase &c, std::ostream *os) { *os << c.name; }
class CliResolve : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(CliResolve, FillsTheDefaults)
{
    const ResolveCase &c = GetParam();
    QTemporaryFile firmware;
    ASSERT_TRUE(firmware.open() && firmware.write("fw") == 2 && firmware.flush());
    QStringList args = c.args;
    args.replaceInStrings(QStringLiteral("FW"), firmware.fileName());
    CliRequest r;
    QString error;
    ASSERT_TRUE(parseCli(args, &r, &error)) << error.toStdString();
    EXPECT_EQ(r.help, c.help);
    if (c.help)
        return;
    EXPECT_EQ(r.searchMs, c.searchMs);
    EXPECT_EQ(r.timeoutMs, c.timeoutMs);
    EXPECT_EQ(r.args, QStringList(c.commandArgs).replaceInStrings(QStringLiteral("FW"), firmware.fileName()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliResolve,
    ::testing::Values(ResolveCase{"search", {"search"}, false, 2000, 3000, {}},
                      ResolveCase{"firmware", {"firmware", "FW", "--all"}, false, 2000, 10000, {"FW"}},
                      ResolveCase{"mostUploadsAtOnce", {"firmware", "FW", "--all", "--parallel", "32"}, false, 2000, 10000, {"FW"}},
                      ResolveCase{"given", {"--timeout", "250", "--time", "0", "reboot", "--all"}, false, 0, 250, {}},
                      ResolveCase{"helpAnywhere", {"set-name", "x", "--all", "-h"}, true, 0, 0, {}},
                      ResolveCase{"helpBeforeBadArgs", {"--help", "set-name"}, true, 0, 0, {}},
                      ResolveCase{"dashHIsAValue", {"--interface", "-h", "set-name", "x", "--all"}, false, 2000, 3000, {"x"}}),
    [](const ::testing::TestParamInfo<ResolveCase> &info) { return std::string(info.param.name); });

// Splits a command line as a shell would, for the quoting the examples use.
QStringList shellWords(const QString &line)
{
    QStringList words;
    QString word;
    QChar quote;
    bool inWord = false;
    for (const QChar c : line) {
        if (!quote.isNull() && c == quote) {
            quote = QChar();
        } else if (quote.isNull() && (c == QLatin1Char('\'') || c == QLatin1Char('"'))) {
            quote = c;
            inWord = true;
        } else if (quote.isNull() && c == QLatin1Char(' ')) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

TEST(CliHelp, EveryExampleParsesAndEveryJsonFormIsShown)
{
    const QString usage = cliUsage();
    int count = 0;
    const CliCommand *commands = cliCommands(&count);
    for (int i = 0; i < count; ++i) {
        const CliCommand &c = commands[i];
        EXPECT_TRUE(usage.contains(QLatin1String(c.example))) << c.name;
        const QStringList words = shellWords(QString::fromUtf8(c.example));
        ASSERT_EQ(words.value(0), QStringLiteral("fenwa-cli")) << c.example;
        CliRequest r;
        QString error;
        if (std::strcmp(c.name, "firmware") != 0) { // needs a file that exists
            EXPECT_TRUE(parseCli(words.mid(1), &r, &error)) << c.example << ": " << error.toStdString();
        }
    }
    for (const char *form : {"\"serverHost\":TEXT", "\"rtpPort\":0-65535", "\"rtp9\""})
        EXPECT_TRUE(usage.contains(QLatin1String(form))) << form;
}

TEST(CliParse, SipAndRtpArgumentsCarryTheirValues)
{
    SipSettings sip0, sip1;
    QString error;
    ASSERT_TRUE(parseSipArgument(sip(R"({"serverHost":"10.0.0.9","serverPort":5060,"account":"801","password":"x","displayName":""})"),
                                 &sip0, &sip1, &error))
        << error.toStdString();
    EXPECT_EQ(sip0.serverPort, QStringLiteral("5060")); // a number from a script becomes the wire's text
    EXPECT_TRUE(sip0.isComplete());
    EXPECT_EQ(sip1.displayName, QStringLiteral("Hall"));

    QList<RtpSettings> channels;
    ASSERT_TRUE(parseRtpArgument(QStringLiteral("[%1,{\"enable\":true,\"rtpIP\":\"\",\"rtpPort\":0}]").arg(kChannel),
                                 &channels, &error));
    ASSERT_EQ(channels.size(), 2);
    EXPECT_EQ(channels[0].rtpIP, QStringLiteral("239.1.1.1"));
    EXPECT_EQ(channels[0].rtpPort, 6000);
    EXPECT_EQ(channels[1].enable, 1);
}

TEST(CliParse, KeepsTargetsNormalisedAndArgumentsInOrder)
{
    CliRequest r;
    QString error;
    ASSERT_TRUE(parseCli({"set-name", "Hall \"A\"", "--mac", "02-FE-00-00-00-0A", "--mac", kMac}, &r, &error))
        << error.toStdString();
    EXPECT_EQ(r.args, QStringList{QStringLiteral("Hall \"A\"")});
    EXPECT_EQ(r.macs, (QStringList{QStringLiteral("02:fe:00:00:00:0a"), kMac}));
}

} // namespace
