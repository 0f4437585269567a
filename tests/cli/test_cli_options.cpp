// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <cstring>

namespace {

const QString kMac = QStringLiteral("02:fe:00:00:00:01");
// Short, but twice as long once escaped: the limit is on the text sent.
const QString kQuotes = QString(520, QLatin1Char('"'));
const char kSip[] = R"({"serverHost":"10.0.0.9","serverPort":"5060","account":"801","password":"x","displayName":"Hall"})";
QString sip(const char *first, const char *second = kSip) { return QStringLiteral("{\"sip0\":%1,\"sip1\":%2}").arg(first, second); }
const char kChannel[] = R"({"enable":1,"rtpIP":"239.1.1.1","rtpPort":6000})";
QString rtp(const char *channel) { return QStringLiteral("[%1]").arg(channel); }

TEST(CliParse, AcceptsOrExplains)
{
    QTemporaryFile full, over; // a password file at its cap and one byte over
    ASSERT_TRUE(full.open() && full.write("S3cret\n" + QByteArray(4089, '#')) == 4096 && full.flush());
    ASSERT_TRUE(over.open() && over.write(QByteArray(4097, 'p')) == 4097 && over.flush());
    const struct {
        const char *name;
        QStringList args;
        bool ok;
        const char *errorPart; // expected in the message when !ok
    } cases[] = {
        {"search", {"search"}, true, ""},
        {"searchCsvTime", {"--interface", "eth9", "search", "--time", "500", "--csv"}, true, ""},
        {"noCommand", {"--interface", "eth9"}, false, "no command"},
        {"unknownCommand", {"set-colour", "--all"}, false, "unknown command"},
        {"searchWithTargets", {"search", "--all"}, false, "no targets"},
        {"csvOnlyForSearch", {"reboot", "--all", "--csv"}, false, "--csv"},
        {"parallelOnlyForFirmware", {"reboot", "--all", "--parallel", "4"}, false, "firmware only"},
        {"parallelNone", {"firmware", "/dev/null", "--all", "--parallel", "0"}, false, "from 1 to 32"},
        {"watchNoTargets", {"watch", "--all"}, false, "no targets"},
        {"watchIntervalZero", {"watch", "--interval", "0"}, false, "from 1 to 3600"},
        {"intervalOnlyForWatch", {"search", "--for", "60"}, false, "go with watch"},
        {"waitAfterReboot", {"reboot", "--all", "--wait", "120"}, true, ""},
        {"waitOnlyAfterARestart", {"set-name", "x", "--all", "--wait", "120"}, false, "--wait goes with"},
        {"reportPdfOrHtml", {"report", "site.txt"}, false, "FILE.pdf or FILE.html"},
        {"reportLanguage", {"report", "site.pdf", "--language", "de"}, false, "en or cn"},
        {"siteOnlyForReport", {"search", "--site", "Hotel"}, false, "go with report"},
        {"noTargets", {"reboot"}, false, "--mac MAC"},
        {"bothTargets", {"reboot", "--all", "--mac", kMac}, false, "--mac MAC"},
        {"badTargetMac", {"reboot", "--mac", "02:fe:00:00:00"}, false, "--mac takes"},
        {"missingValue", {"reboot", "--mac"}, false, "needs a value"},
        {"passwordFileAtItsCap", {"set-account", "admin", "--password-file", full.fileName(), "--all"}, true, ""},
        {"passwordFileOverItsCap", {"set-account", "admin", "--password-file", over.fileName(), "--all"}, false, "more than 4096 bytes"},
        {"passwordFileWithoutPassword", {"set-name", "--password-file", full.fileName(), "--all"}, false, "takes a PASSWORD"},
        {"standardInputTwice", {"set-sip", "-", "--password-file", "-", "--all"}, false, "standard input can"},
        {"negativeTime", {"search", "--time", "-5"}, false, "milliseconds"},
        {"timeBeyondInt", {"search", "--time", "3000000000"}, false, "milliseconds"},
        {"wrongArgCount", {"set-name", "--all"}, false, "set-name takes NAME"},
        {"extraArgs", {"reboot", "now", "--all"}, false, "takes no arguments"},
        {"dashNameAfterSeparator", {"set-name", "--mac", kMac, "--", "--all"}, true, ""},
        {"negativeNumberIsAnArgument", {"set-device-info", "1", "2", "n", "-3", "a", "b", "c", "d", "--all"}, true, ""},
        {"staticOk", {"set-ip-static", "10.0.0.5", "10.0.0.1", "255.0.0.0", "8.8.8.8", "0.0.0.0", "--all"}, true, ""},
        {"staticLeadingZero", {"set-ip-static", "10.0.0.05", "10.0.0.1", "255.0.0.0", "8.8.8.8", "0.0.0.0", "--all"}, false, "set-ip-static: IP error"},
        {"staticEmptyDns2", {"set-ip-static", "10.0.0.5", "10.0.0.1", "255.0.0.0", "8.8.8.8", "", "--all"}, true, ""},
        {"volumeNotNumber", {"set-volume", "5", "loud", "0", "--all"}, false, "OUT must"},
        {"serverPortRange", {"set-server", "10.0.0.9", "70000", "--all"}, false, "PORT"},
        {"accountEmpty", {"set-account", "", "pw", "--all"}, false, "Please input account"},
        // Lengths fail here, before the search, with the reason.
        // 1023 bytes of SetName text with a ten-digit id hold 977 of name.
        {"nameLongestThatFits", {"set-name", QString(977, 'n'), "--all"}, true, ""},
        {"nameOneByteTooLong", {"set-name", QString(978, 'n'), "--all"}, false, "too long"},
        {"nameTooLongEscaped", {"set-name", kQuotes, "--all"}, false, "too long"},
        {"deviceInfoTooLong", {"set-device-info", "1", "2", kQuotes, "0", "a", "b", "c", "d", "--all"}, false, "too long"},
        {"sipTooLong", {"set-sip", sip(kSip).replace("Hall", QString(300, 'h')), "--all"}, false, "too long"},
        // set-sip and set-rtp take the forms get-sip and get-rtp print; FormReader has the fields' cases.
        {"sipComplete", {"set-sip", sip(kSip), "--all"}, true, ""},
        {"sipNumberPort", {"set-sip", sip(R"({"serverHost":"h","serverPort":5060,"account":"a","password":"p","displayName":""})"), "--all"}, true, ""},
        {"sipArray", {"set-sip", QStringLiteral("[%1,%1]").arg(kSip), "--all"}, true, ""},
        {"sipGetSipLine", {"set-sip", sip(kSip).replace("{\"sip0\"", "{\"mac\":\"02:fe:00:00:00:01\",\"result\":0,\"sip0\""), "--all"}, true, ""},
        {"sipNotJson", {"set-sip", "{sip0:", "--all"}, false, "set-sip takes"},
        {"sipJunkAfter", {"set-sip", sip(kSip) + " x", "--all"}, false, "set-sip takes"},
        {"sipMissingSecond", {"set-sip", QStringLiteral("{\"sip0\":%1}").arg(kSip), "--all"}, false, "set-sip: sip1 is missing"},
        {"sipMissingField", {"set-sip", sip(R"({"serverHost":"h","serverPort":"1","account":"a","password":"p"})"), "--all"}, false, "set-sip: sip0: displayName is missing"},
        {"sipPortRange", {"set-sip", sip(kSip).replace("\"5060\"", "70000"), "--all"}, false, "set-sip: sip0: serverPort must be"},
        {"rtpOne", {"set-rtp", rtp(kChannel), "--all"}, true, ""},
        {"rtpBoolEnable", {"set-rtp", rtp(R"({"enable":false,"rtpIP":"","rtpPort":0})"), "--all"}, true, ""},
        {"rtpTooMany", {"set-rtp", QStringLiteral("[%1,%1,%1,%1,%1,%1,%1,%1,%1,%1,%1]").arg(kChannel), "--all"}, false, "one to ten"},
        {"rtpEmpty", {"set-rtp", "[]", "--all"}, false, "one to ten"},
        {"rtpNotObjects", {"set-rtp", "[1,2]", "--all"}, false, "JSON object"},
        {"rtpJunkAfter", {"set-rtp", rtp(kChannel) + "]", "--all"}, false, "set-rtp takes"},
        {"rtpObjectNotAllTen", {"set-rtp", QStringLiteral("{\"rtp0\":%1}").arg(kChannel), "--all"}, false, "set-rtp: rtp1 is missing"},
        {"rtpNotIpv4", {"set-rtp", rtp(R"({"enable":1,"rtpIP":"239.1.1","rtpPort":6000})"), "--all"}, false, "IPv4"},
    };
    for (const auto &c : cases) {
        CliRequest r;
        QString error;
        EXPECT_EQ(parseCli(c.args, &r, &error), c.ok) << c.name << ": " << error.toStdString();
        EXPECT_TRUE(c.ok || error.contains(QLatin1String(c.errorPart))) << c.name << ": " << error.toStdString();
    }
}

// What a run does when the command line does not say: the defaults a
// script relies on, and where -h counts as help.
TEST(CliResolve, FillsTheDefaults)
{
    const struct {
        const char *name;
        QStringList args;
        bool help;
        int searchMs, timeoutMs;
        QStringList commandArgs;
    } cases[] = {
        {"search", {"search"}, false, 2000, 3000, {}},
        {"firmware", {"firmware", "FW", "--all"}, false, 2000, 10000, {"FW"}},
        {"mostUploadsAtOnce", {"firmware", "FW", "--all", "--parallel", "32"}, false, 2000, 10000, {"FW"}},
        {"given", {"--timeout", "250", "--time", "0", "reboot", "--all"}, false, 0, 250, {}},
        {"helpAnywhere", {"set-name", "x", "--all", "-h"}, true, 0, 0, {}},
        {"helpBeforeBadArgs", {"--help", "set-name"}, true, 0, 0, {}},
        {"dashHIsAValue", {"--interface", "-h", "set-name", "x", "--all"}, false, 2000, 3000, {"x"}},
    };
    QTemporaryFile firmware;
    ASSERT_TRUE(firmware.open() && firmware.write("fw") == 2 && firmware.flush());
    for (const auto &c : cases) {
        CliRequest r;
        QString error;
        EXPECT_TRUE(parseCli(QStringList(c.args).replaceInStrings(QStringLiteral("FW"), firmware.fileName()), &r, &error))
            << c.name << ": " << error.toStdString();
        EXPECT_EQ(r.help, c.help) << c.name;
        if (c.help)
            continue;
        EXPECT_EQ(r.searchMs, c.searchMs) << c.name;
        EXPECT_EQ(r.timeoutMs, c.timeoutMs) << c.name;
        EXPECT_EQ(r.args, QStringList(c.commandArgs).replaceInStrings(QStringLiteral("FW"), firmware.fileName())) << c.name;
    }
}

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
    ASSERT_TRUE(parseSipArgument(QStringLiteral("[%1,%2]").arg(kSip, QString(kSip).replace("801", "802")), &sip0, &sip1, &error));
    EXPECT_EQ(sip0.account + sip1.account, QStringLiteral("801802")); // the array form, in its order

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
