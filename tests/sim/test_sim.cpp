// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's own frame code against frames written out byte by byte, and
// what its terminals answer, without a network. That the tool's frames and
// these agree is what every end-to-end exchange shows.
#include "SimHttp.h"
#include "SimResponder.h"
#include "SimStateFile.h"

#include <gtest/gtest.h>

#include <cJSON.h>
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

template <class T> std::string label(const ::testing::TestParamInfo<T> &info)
{
    return info.param.label;
}

struct ReadCase {
    const char *label;
    size_t offset; // byte to change (0: none)
    uint8_t value;
    size_t resize; // new length (0: keep)
    SimFrameKind kind;
};
using K = SimFrameKind;

class ReadFrame : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadFrame, TakesWhatATerminalTakes)
{
    const ReadCase &c = GetParam();
    Bytes f = toolCommand();
    if (c.offset)
        f[c.offset] = c.value;
    if (c.resize)
        f.resize(c.resize, 0);
    const SimIncoming in = readFrame(f.data(), f.size());
    EXPECT_EQ(in.kind, c.kind);
    EXPECT_EQ(std::string(in.text ? in.text : "", in.textLength), in.text ? kReboot : "");
    EXPECT_TRUE(in.kind == SimFrameKind::Ignored
                || (in.destination == kTerminal2.mac && in.sender.mac == kTool.mac && in.sender.ip == kTool.ip));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ReadFrame,
    ::testing::Values(ReadCase{"ToolCommand", 0, 0, 0, K::Command}, ReadCase{"PaddingBehindTheText", 0, 0, 90, K::Command},
                      ReadCase{"ReservedBytesSet", 48, 1, 0, K::Command},
                      ReadCase{"FirstLengthDisagrees", 46, 0x2d, 0, K::Ignored},
                      ReadCase{"MiddleLengthDisagrees", 54, 0x2b, 0, K::Ignored},
                      ReadCase{"LastLengthDisagrees", 59, 0x2d, 0, K::Ignored},
                      ReadCase{"TextCutShort", 0, 0, 85, K::Ignored}, ReadCase{"OtherHeaderVersion", 44, 2, 0, K::Ignored},
                      ReadCase{"ArpReplyOperation", 21, 2, 0, K::Ignored}, ReadCase{"NotArp", 13, 0x00, 0, K::Ignored},
                      ReadCase{"PlainArpRequest", 0, 0, 42, K::ArpRequest},
                      ReadCase{"PaddedPlainArpRequest", 42, 0, 60, K::ArpRequest},
                      ReadCase{"Over1514Bytes", 0, 0, 1515, K::Ignored}),
    label<ReadCase>);

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

struct AnswerCase {
    const char *label;
    Bytes frame;
    size_t answers;
    bool logged;
};

class Answer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(Answer, ComesOnlyFromTheTerminalsAddressed)
{
    SimResponder terminals{SimOptions()};
    SimResponse out;
    terminals.respond(GetParam().frame.data(), GetParam().frame.size(), &out);
    EXPECT_EQ(out.frames.size(), GetParam().answers);
    EXPECT_EQ(out.isCommand, GetParam().logged);
    for (const SimOutFrame &f : out.frames)
        EXPECT_TRUE(std::equal(kTool.mac.begin(), kTool.mac.end(), f.bytes.begin())) << "answers go to the asker";
}

INSTANTIATE_TEST_SUITE_P(
    Addressing, Answer,
    ::testing::Values(
        AnswerCase{"CommandForTheTerminal", command(kTerminal2.mac, kReboot), 1, true},
        AnswerCase{"CommandForAnotherMac", command({0x02, 0xfe, 0, 0, 0, 0x99}, kReboot), 0, false},
        AnswerCase{"BroadcastSearch", command(kBroadcast, "{\"id\":0,\"method\":\"search\"}"), 8, true},
        AnswerCase{"BroadcastReboot", command(kBroadcast, kReboot), 0, true},
        AnswerCase{"JunkBehindTheJson", command(kTerminal2.mac, std::string(kReboot) + "x"), 0, true},
        AnswerCase{"ZeroInsideTheText", command(kTerminal2.mac, std::string(kReboot, 27)), 0, true},
        AnswerCase{"ArpForAnUnknownAddress", arpRequest(kBroadcast, kTool.ip, {192, 168, 1, 150}), 0, false},
        AnswerCase{"ArpAnnouncement", arpRequest(kBroadcast, kTerminal2.ip, kTerminal2.ip), 0, false},
        AnswerCase{"ArpSentToAnotherTerminal", arpRequest({0x02, 0xfe, 0, 0, 0, 1}, kTool.ip, kTerminal2.ip), 0,
                   false}),
    label<AnswerCase>);

struct HeadCase {
    const char *label;
    std::string head;
    int status; // 0: taken
};

class HttpHead : public ::testing::TestWithParam<HeadCase> {};

// The web side is as strict as a small device's server: what it takes, the
// tool must send.
TEST_P(HttpHead, TakenOrRefusedWithItsStatus)
{
    SimHttpRequest r;
    size_t length = 0;
    EXPECT_EQ(parseHttpHead(GetParam().head, &r, &length), GetParam().status);
}

const std::string kLogin = "POST /cgi-bin/CGI?login HTTP/1.1\r\n";
INSTANTIATE_TEST_SUITE_P(
    Heads, HttpHead,
    ::testing::Values(HeadCase{"Taken", kLogin + "Host: a\r\nContent-Length: 3\r\n\r\n", 0},
                      HeadCase{"BareLineFeed", kLogin + "Host: a\nContent-Length: 3\r\n\r\n", 400},
                      HeadCase{"FoldedHeader", kLogin + "Host: a\r\n continued\r\nContent-Length: 3\r\n\r\n", 400},
                      HeadCase{"TwoLengths", kLogin + "Host: a\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", 400},
                      HeadCase{"NoHost", kLogin + "Content-Length: 3\r\n\r\n", 400},
                      HeadCase{"Chunked", kLogin + "Host: a\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
                      HeadCase{"PostWithoutLength", kLogin + "Host: a\r\n\r\n", 411},
                      HeadCase{"TooLarge", kLogin + "Host: a\r\nContent-Length: 999999999\r\n\r\n", 413},
                      HeadCase{"OtherVersion", "POST / HTTP/2.0\r\nHost: a\r\n\r\n", 505}),
    label<HeadCase>);

// A reboot or a factory reset restarts a terminal as an upload does: its
// answer leaves, then it hears nothing for its reboot time (a terminal that
// stays down, never again), then it answers as before.
TEST(SimRestart, SilentForItsRebootTimeThenBack)
{
    const char *argv[] = {"fenwa-sim", "--interface", "x", "--count", "3", "--reboot-ms", "400",
                          "--reboot-ms", "900:2", "--stay-down", "3"};
    SimOptions options;
    ASSERT_EQ(parseSimOptions(int(sizeof argv / sizeof argv[0]), const_cast<char **>(argv), &options), 0);
    SimResponder terminals(options);
    SimResponse out;
    const auto to = [](uint8_t n) { return SimMac{0x02, 0xfe, 0, 0, 0, n}; };
    for (const auto &c : {std::make_pair(1, kReboot), std::make_pair(2, "{\"id\":8,\"method\":\"ResetDefault\"}"),
                          std::make_pair(3, kReboot)}) {
        const Bytes frame = command(to(uint8_t(c.first)), c.second);
        terminals.respond(frame.data(), frame.size(), &out);
        EXPECT_EQ(out.frames.size(), 1u) << "the answer leaves first";
    }
    const Bytes search = command(kBroadcast, "{\"id\":9,\"method\":\"search\"}");
    const long long start = simNowMs();
    // (ms after the commands, terminals that answer a search then)
    for (const auto &at : {std::make_pair(0, 3u), std::make_pair(550, 0u), std::make_pair(1000, 1u),
                           std::make_pair(1500, 2u)}) {
        usleep(useconds_t(std::max(0LL, start + at.first - simNowMs())) * 1000);
        terminals.respond(search.data(), search.size(), &out);
        EXPECT_EQ(out.frames.size(), at.second) << at.first << " ms after";
    }
    EXPECT_EQ(terminals.terminals()[0].reboots, 1);
    EXPECT_EQ(terminals.terminals()[1].factoryResets, 1);
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
