// SPDX-License-Identifier: GPL-3.0-or-later
// Frame and header layout, byte for byte, and the parsers that read them back.
#include "QPcapFrame.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

class FrameLength : public ::testing::TestWithParam<int> {};

TEST_P(FrameLength, FrameIsSixtyPlusTextWithLengthsInTheHeader)
{
    const int n = GetParam();
    const QByteArray text(n, 'j');
    const PacketPtr f = craftFrame(kToolMac, kToolIp, kTermMac, kTermIp, text);
    ASSERT_EQ(f->length(), 60 + n);
    const uint8_t *h = payload(f->frame());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(h), 3), QByteArray("\x88\x88\x01"));
    EXPECT_EQ(getBigEndian16(h + 3), 18 + n);
    EXPECT_EQ(getBigEndian32(h + 5), 0u);
    EXPECT_EQ(getBigEndian32(h + 9), uint32_t(18 + n));
    EXPECT_EQ(h[13] | h[14] | h[15], 0);
    EXPECT_EQ(getBigEndian16(h + 16), 18 + n);
    EXPECT_EQ(bytesOf(f.get()).mid(60), text);
    EXPECT_EQ(f->frame()[60 + n], 0) << "a zero byte follows the text";
}

INSTANTIATE_TEST_SUITE_P(Lengths, FrameLength, ::testing::Values(0, 1, 57, 1023, 1454));

TEST(Frame, EthernetAndArpFieldsSitWhereTerminalsReadThem)
{
    const uint8_t bcMac[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, bcIp[4] = {255, 255, 255, 255};
    for (const uint8_t *to : {kTermMac, bcMac}) {
        const uint8_t *toIp = to == bcMac ? bcIp : kTermIp;
        const PacketPtr f = craftFrame(kToolMac, kToolIp, to, toIp, "{}");
        const uint8_t *b = f->frame();
        EXPECT_EQ(std::memcmp(b + 0, to, 6), 0);
        EXPECT_EQ(std::memcmp(b + 6, kToolMac, 6), 0);
        const uint8_t arp[10] = {0x08, 0x06, 0, 1, 0x08, 0x00, 6, 4, 0, 1}; // Ethernet/IPv4 request
        EXPECT_EQ(std::memcmp(b + 12, arp, 10), 0);
        EXPECT_EQ(std::memcmp(b + 22, kToolMac, 6), 0);
        EXPECT_EQ(std::memcmp(b + 28, kToolIp, 4), 0);
        EXPECT_EQ(std::memcmp(b + 32, to, 6), 0);
        EXPECT_EQ(std::memcmp(b + 38, toIp, 4), 0);
    }
}

TEST(Frame, BuildRefusesAFrameOverTheLimitAndLeavesThePacketAlone)
{
    uint8_t header[QPCAP_HEADER_SIZE];
    const std::vector<uint8_t> text(1455, 'x');
    buildCommandHeader(header, 1455);
    const PacketPtr f(new QPcapPacket);
    EXPECT_EQ(buildFrame(f.get(), kToolMac, kToolIp, kTermMac, kTermIp, header, 18, text.data(), 1455), -1);
    EXPECT_EQ(f->length(), 0);
    EXPECT_EQ(buildFrame(f.get(), kToolMac, kToolIp, kTermMac, kTermIp, header, 18, text.data(), 1454), 0);
    EXPECT_EQ(f->length(), QPCAP_FRAME_MAX);
}

TEST(Frame, ParsersRefuseFramesTooShortForTheirPart)
{
    uint8_t bytes[64] = {0};
    QPcapEthernetHeader eth;
    QPcapArpBody arp;
    EXPECT_FALSE(parseEthernetHeader(bytes, 13, &eth));
    EXPECT_TRUE(parseEthernetHeader(bytes, 14, &eth));
    EXPECT_FALSE(parseArpBody(bytes, 41, &arp));
    EXPECT_TRUE(parseArpBody(bytes, 42, &arp));
    EXPECT_FALSE(isCommandFrame(bytes, 43));
    EXPECT_FALSE(parseEthernetHeader(nullptr, 60, &eth));
}

TEST(Frame, CommandFrameNeedsArpAndTheMagicBytes)
{
    // Byte changed -> still a command frame? Only the two magic bytes count.
    const std::pair<int, bool> cases[] = {{-1, true}, {12, false}, {43, false}, {44, true}};
    for (const auto &c : cases) {
        const PacketPtr f = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, "{}");
        if (c.first >= 0)
            f->frame()[c.first] ^= 0x01;
        EXPECT_EQ(isCommandFrame(f->frame(), f->length()), c.second) << "byte " << c.first;
    }
}

TEST(Frame, CommandTextStopsAtTheFirstZeroAndNeverReadsPastTheFrame)
{
    const PacketPtr f = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, QByteArray("{\"a\":1}\0tail", 12));
    int length = -1;
    const char *text = commandText(f.get(), &length);
    EXPECT_EQ(QByteArray(text, length), QByteArray("{\"a\":1}"));
    // A frame ending right after the header has an empty text.
    const PacketPtr empty = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, QByteArray());
    ASSERT_NE(commandText(empty.get(), &length), nullptr);
    EXPECT_EQ(length, 0);
    const PacketPtr shortFrame(new QPcapPacket(f->frame(), 50));
    EXPECT_EQ(commandText(shortFrame.get(), &length), nullptr);
    EXPECT_EQ(length, 0);
}

TEST(Packet, CopyIsZeroTerminatedAndClampedToTheRoom)
{
    std::vector<uint8_t> bytes(2000, 'b');
    const PacketPtr full(new QPcapPacket(bytes.data(), 1514));
    EXPECT_EQ(full->length(), 1514);
    EXPECT_EQ(full->frame()[1514], 0);
    const PacketPtr over(new QPcapPacket(bytes.data(), 2000));
    EXPECT_EQ(over->length(), QPCAP_PACKET_ROOM - 1);
    EXPECT_EQ(over->frame()[QPCAP_PACKET_ROOM - 1], 0);
    EXPECT_EQ(PacketPtr(new QPcapPacket(bytes.data(), -5))->length(), 0);
}
