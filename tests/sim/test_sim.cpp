// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's own frame code against frames written out byte by byte, and
// what its terminals answer, without a network. That the tool's frames and
// these agree is what every end-to-end exchange shows.
#include "SimHttp.h"
#include "SimResponder.h"
#include "SimStateFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

const char kReboot[] = "{\"id\":7,\"method\":\"reboot\"}"; // 26 bytes
const SimStation kTool = {{0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, {192, 168, 1, 2}};
// Terminal 2 of a run with the default options.
const SimStation kTerminal2 = {{0x02, 0xfe, 0x00, 0x00, 0x00, 0x02}, {192, 168, 1, 101}};
const SimMac kBroadcast = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

// The tool asks terminal 2 to reboot.
Bytes toolCommand()
{
    Bytes f = {0x02, 0xfe, 0x00, 0x00, 0x00, 0x02, 0x52, 0x54, 0x00, 0x12, 0x34, 0x56, 0x08, 0x06, // Ethernet
               0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x01,                                     // ARP request
               0x52, 0x54, 0x00, 0x12, 0x34, 0x56, 192,  168,  1,    2,                            // sender
               0x02, 0xfe, 0x00, 0x00, 0x00, 0x02, 192,  168,  1,    101,                          // target
               0x88, 0x88, 0x01, 0x00, 0x2c, 0,    0,    0,    0,    0x00, 0x00, 0x00, 0x2c,       // header, L 44
               0,    0,    0,    0x00, 0x2c};
    for (char c : std::string(kReboot))
        f.push_back(static_cast<uint8_t>(c));
    return f;
}

Bytes command(const SimMac &to, const std::string &text)
{
    return commandFrame(kTool, {to, kTerminal2.ip}, text.data(), text.size());
}

// A plain ARP request: a command frame without its header.
Bytes arpRequest(const SimMac &to, const SimIpv4 &sender, const SimIpv4 &target)
{
    Bytes f = commandFrame({kTool.mac, sender}, {to, target}, nullptr, 0);
    f.resize(42);
    return f;
}

using K = SimFrameKind;

TEST(ReadFrame, TakesWhatATerminalTakes)
{
    const struct {
        const char *label;
        size_t offset; // byte to change (0: none)
        uint8_t value;
        size_t resize; // new length (0: keep)
        SimFrameKind kind;
    } cases[] = {
        {"ToolCommand", 0, 0, 0, K::Command},          {"PaddingBehindTheText", 0, 0, 90, K::Command},
        {"ReservedBytesSet", 48, 1, 0, K::Command},    {"FirstLengthDisagrees", 46, 0x2d, 0, K::Ignored},
        {"MiddleLengthDisagrees", 54, 0x2b, 0, K::Ignored}, {"LastLengthDisagrees", 59, 0x2d, 0, K::Ignored},
        {"TextCutShort", 0, 0, 85, K::Ignored},        {"OtherHeaderVersion", 44, 2, 0, K::Ignored},
        {"ArpReplyOperation", 21, 2, 0, K::Ignored},   {"NotArp", 13, 0x00, 0, K::Ignored},
        {"PlainArpRequest", 0, 0, 42, K::ArpRequest},  {"PaddedPlainArpRequest", 42, 0, 60, K::ArpRequest},
        {"Over1514Bytes", 0, 0, 1515, K::Ignored},
    };
    for (const auto &c : cases) {
        Bytes f = toolCommand();
        if (c.offset)
            f[c.offset] = c.value;
        if (c.resize)
            f.resize(c.resize, 0);
        const SimIncoming in = readFrame(f.data(), f.size());
        EXPECT_EQ(in.kind, c.kind) << c.label;
        EXPECT_EQ(std::string(in.text ? in.text : "", in.textLength), in.text ? kReboot : "") << c.label;
        EXPECT_TRUE(in.kind == SimFrameKind::Ignored
                    || (in.destination == kTerminal2.mac && in.sender.mac == kTool.mac && in.sender.ip == kTool.ip))
            << c.label;
    }
}

TEST(SimFrame, BuildsTheCommandFrameByteForByte)
{
    EXPECT_EQ(commandFrame(kTool, kTerminal2, kReboot, 26), toolCommand());
}

TEST(SimFrame, AnswersAnAddressProbeWithAStandardArpReply)
{
    // A probe before an address is handed out: sender address 0.0.0.0,
    // padded to the Ethernet minimum as a network card sends it.
    Bytes probe = arpRequest(kBroadcast, {0, 0, 0, 0}, kTerminal2.ip);
    probe.resize(60, 0);
    Bytes reply = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56, 0x02, 0xfe, 0x00, 0x00, 0x00, 0x02, 0x08, 0x06,
                   0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x02, 0x02, 0xfe, 0x00, 0x00, 0x00, 0x02,
                   192,  168,  1,    101,  0x52, 0x54, 0x00, 0x12, 0x34, 0x56, 0,    0,    0,    0};
    reply.resize(60, 0);
    SimResponder terminals{SimOptions()};
    SimResponse out;
    terminals.respond(probe.data(), probe.size(), &out);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0].bytes, reply);
    EXPECT_FALSE(out.isCommand);
}

TEST(Answer, ComesOnlyFromTheTerminalsAddressed)
{
    const struct {
        const char *label;
        Bytes frame;
        size_t answers;
        bool logged;
    } cases[] = {
        {"CommandForTheTerminal", command(kTerminal2.mac, kReboot), 1, true},
        {"CommandForAnotherMac", command({0x02, 0xfe, 0, 0, 0, 0x99}, kReboot), 0, false},
        {"BroadcastSearch", command(kBroadcast, "{\"id\":0,\"method\":\"search\"}"), 8, true},
        {"BroadcastReboot", command(kBroadcast, kReboot), 0, true},
        {"JunkBehindTheJson", command(kTerminal2.mac, std::string(kReboot) + "x"), 0, true},
        {"ZeroInsideTheText", command(kTerminal2.mac, std::string(kReboot, 27)), 0, true},
        {"ArpForAnUnknownAddress", arpRequest(kBroadcast, kTool.ip, {192, 168, 1, 150}), 0, false},
        {"ArpAnnouncement", arpRequest(kBroadcast, kTerminal2.ip, kTerminal2.ip), 0, false},
        {"ArpSentToAnotherTerminal", arpRequest({0x02, 0xfe, 0, 0, 0, 1}, kTool.ip, kTerminal2.ip), 0, false},
    };
    for (const auto &c : cases) {
        SimResponder terminals{SimOptions()};
        SimResponse out;
        terminals.respond(c.frame.data(), c.frame.size(), &out);
        EXPECT_EQ(out.frames.size(), c.answers) << c.label;
        EXPECT_EQ(out.isCommand, c.logged) << c.label;
        for (const SimOutFrame &f : out.frames)
            EXPECT_TRUE(std::equal(kTool.mac.begin(), kTool.mac.end(), f.bytes.begin())) << c.label << ": answers go to the asker";
    }
}

// Every command is answered with its result; a refused write leaves the
// terminal as it was, the accounts it did take included.
TEST(Answer, CarriesTheCommandsResult)
{
    const std::string ok = R"({"serverHost":"s","serverPort":"5060","account":"77","password":"p","displayName":"d"})";
    const struct {
        const char *label;
        std::string text;
        const char *result;
        const char *account; // terminal 2's first SIP account afterwards
    } cases[] = {
        {"Search", R"({"id":1,"method":"search"})", "success", ""},
        {"ReadSip", R"({"id":1,"method":"GetSipSettings"})", "success", ""},
        {"ReadRtp", R"({"id":1,"method":"GetRtpSettings"})", "success", ""},
        {"SetSip", R"({"id":1,"method":"SetSipSettings","sip0":)" + ok + ",\"sip1\":" + ok + "}", "success", "77"},
        {"SipNotAnObject", R"({"id":1,"method":"SetSipSettings","sip0":)" + ok + R"(,"sip1":"x"})",
         "invalid sip settings", ""},
        {"SipPortANumber", R"({"id":1,"method":"SetSipSettings","sip1":)" + ok + ",\"sip0\":" +
         std::string(ok).replace(ok.find("\"5060\""), 6, "5060") + "}", "invalid sip settings", ""},
        {"NoRtpChannel", R"({"id":1,"method":"SetRtpSettings"})", "invalid rtp settings", ""},
        {"RtpPortTooHigh", R"({"id":1,"method":"SetRtpSettings","rtp0":{"enable":1,"rtpIP":"","rtpPort":65536}})",
         "invalid rtp settings", ""},
        {"UnknownMethod", R"({"id":1,"method":"Dance"})", "unknown method", ""},
    };
    for (const auto &c : cases) {
        SimResponder terminals{SimOptions()};
        SimResponse out;
        const Bytes frame = command(kTerminal2.mac, c.text);
        terminals.respond(frame.data(), frame.size(), &out);
        ASSERT_EQ(out.frames.size(), 1u) << c.label;
        const SimIncoming reply = readFrame(out.frames[0].bytes.data(), out.frames[0].bytes.size());
        const std::string text(reply.text ? reply.text : "", reply.textLength);
        EXPECT_NE(text.find("\"result\":\"" + std::string(c.result) + '"'), std::string::npos) << c.label << text;
        EXPECT_EQ(terminals.terminals()[1].sip[0].account, c.account) << c.label;
    }
}

// The web side is as strict as a small device's server: what it takes, the
// tool must send.
TEST(HttpHead, TakenOrRefusedWithItsStatus)
{
    const std::string login = "POST /cgi-bin/CGI?login HTTP/1.1\r\n";
    const std::pair<std::string, int> cases[] = { // status 0: taken
        {login + "Host: a\r\nContent-Length: 3\r\n\r\n", 0},
        {login + "Host: a\nContent-Length: 3\r\n\r\n", 400},                         // a bare line feed
        {login + "Host: a\r\n continued\r\nContent-Length: 3\r\n\r\n", 400},          // a folded header
        {login + "Host: a\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", 400},   // two lengths
        {login + "Content-Length: 3\r\n\r\n", 400},                                  // no host
        {login + "Host: a\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
        {login + "Host: a\r\n\r\n", 411},                                            // a POST without length
        {login + "Host: a\r\nContent-Length: 999999999\r\n\r\n", 413},
        {"POST / HTTP/2.0\r\nHost: a\r\n\r\n", 505},
    };
    for (const auto &c : cases) {
        SimHttpRequest r;
        size_t length = 0;
        EXPECT_EQ(parseHttpHead(c.first, &r, &length), c.second) << c.first;
    }
}

// A reboot or a factory reset restarts a terminal as an upload does: its
// answer leaves, then it hears nothing for its reboot time (a terminal that
// stays down, never again), then it answers as before.
TEST(SimRestart, SilentForItsRebootTimeThenBack)
{
    const char *argv[] = {"fenwa-sim", "--interface", "x", "--count", "4", "--reboot-ms", "400",
                          "--reboot-ms", "900:2", "--stay-down", "3", "--reboot-ms", "0:4"};
    SimOptions options;
    ASSERT_EQ(parseSimOptions(int(sizeof argv / sizeof argv[0]), const_cast<char **>(argv), &options), 0);
    SimResponder terminals(options);
    SimResponse out;
    const auto to = [](uint8_t n) { return SimMac{0x02, 0xfe, 0, 0, 0, n}; };
    for (const auto &c : {std::make_pair(1, kReboot), std::make_pair(2, "{\"id\":8,\"method\":\"ResetDefault\"}"),
                          std::make_pair(3, kReboot), std::make_pair(4, kReboot)}) {
        const Bytes frame = command(to(uint8_t(c.first)), c.second);
        terminals.respond(frame.data(), frame.size(), &out);
        EXPECT_EQ(out.frames.size(), 1u) << "the answer leaves first";
    }
    const Bytes search = command(kBroadcast, "{\"id\":9,\"method\":\"search\"}");
    const long long start = simNowMs();
    // (ms after the commands, terminals that answer a search then)
    for (const auto &at : {std::make_pair(0, 4u), std::make_pair(550, 1u), std::make_pair(1000, 2u),
                           std::make_pair(1500, 3u)}) {
        usleep(useconds_t(std::max(0LL, start + at.first - simNowMs())) * 1000);
        terminals.respond(search.data(), search.size(), &out);
        EXPECT_EQ(out.frames.size(), at.second) << at.first << " ms after";
    }
    EXPECT_EQ(terminals.terminals()[0].reboots, 1);
    EXPECT_EQ(terminals.terminals()[1].factoryResets, 1);
}

TEST(SimFiles, CarryWellFormedUtf8AndMarkEveryOtherByte)
{
    const std::pair<std::string, std::string> cases[] = { // what goes in, what comes out ('?' U+FFFD, "" as it is)
        {"Halle \xe5\xa4\xa7\xe5\x8e\x85 \xc3\xa9 \xf0\x9f\x94\x8a \xf4\x8f\xbf\xbf", ""}, {"a\xc3(", "a?("},
        {"\xc0\xaf", "??"}, {"\xed\xa0\x80", "???"}, {"\xf4\x90\x80\x80", "????"}, {"\xe0\x9f\xbf", "???"}, {"\xe2\x82", "??"}};
    for (const auto &c : cases) {
        std::string expected;
        for (char ch : c.second.empty() ? c.first : c.second)
            expected += ch == '?' ? std::string("\xef\xbf\xbd") : std::string(1, ch);
        EXPECT_EQ(toValidUtf8(c.first), expected) << c.first;
    }
}

TEST(SimFiles, ReplacePlantedSymlinksInsteadOfWritingThroughThem)
{
    char dir[] = "/tmp/fenwa-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string victim = dir + std::string("/victim"), state = dir + std::string("/state"),
                      log = dir + std::string("/log");
    std::ofstream(victim) << "keep";
    ASSERT_TRUE(symlink(victim.c_str(), state.c_str()) == 0 && symlink(victim.c_str(), log.c_str()) == 0);
    EXPECT_EQ(writeFileAtomically(state, "{}"), 0);
    const int fd = createFileAtomically(log);
    EXPECT_EQ(write(fd, "x", 1), 1);
    close(fd);
    for (const auto &file : {std::make_pair(victim, "keep"), std::make_pair(state, "{}"), std::make_pair(log, "x")}) {
        std::ifstream f(file.first);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), file.second) << file.first;
        unlink(file.first.c_str());
    }
    EXPECT_EQ(rmdir(dir), 0) << "no temporary file left behind";
}

} // namespace
