// SPDX-License-Identifier: GPL-3.0-or-later
// Frame and header layout, byte for byte, and the parsers that read them back.
#include "QPcapFrame.h"
#include "QPcapPacket.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct PacketRef {
    explicit PacketRef(QPcapPacket *p) : p(p) {}
    ~PacketRef() { p->release(); }
    QPcapPacket *p;
};

class FrameLength : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(FrameLength, FrameIsSixtyPlusTextWithLengthsInTheHeader)
{
    const int n = GetParam();
    const QByteArray text(n, 'j');
    PacketRef f(craftFrame(kToolMac, kToolIp, kTermMac, kTermIp, text));
    ASSERT_EQ(f.p->length(), 60 + n);
    const uint8_t *h = payload(f.p->frame());
    EXPECT_EQ(h[0], 0x88);
    EXPECT_EQ(h[1], 0x88);
    EXPECT_EQ(h[2], 0x01);
    EXPECT_EQ(getBigEndian16(h + 3), 18 + n);
    EXPECT_EQ(getBigEndian32(h + 5), 0u);
    EXPECT_EQ(getBigEndian32(h + 9), uint32_t(18 + n));
    EXPECT_EQ(h[13], 0);
    EXPECT_EQ(h[14], 0);
    EXPECT_EQ(h[15], 0);
    EXPECT_EQ(getBigEndian16(h + 16), 18 + n);
    EXPECT_EQ(std::memcmp(f.p->frame() + 60, text.constData(), static_cast<size_t>(n)), 0);
    EXPECT_EQ(f.p->frame()[60 + n], 0) << "a zero byte follows the text";
}

INSTANTIATE_TEST_SUITE_P(Lengths, FrameLength, ::testing::Values(0, 1, 57, 1023, 1454));

TEST(Frame, EthernetAndArpFieldsSitWhereTerminalsReadThem)
{
    PacketRef f(craftFrame(kToolMac, kToolIp, kTermMac, kTermIp, "{}"));
    const uint8_t *b = f.p->frame();
    EXPECT_EQ(std::memcmp(b + 0, kTermMac, 6), 0);
    EXPECT_EQ(std::memcmp(b + 6, kToolMac, 6), 0);
    EXPECT_EQ(getBigEndian16(b + 12), 0x0806);
    EXPECT_EQ(getBigEndian16(b + 14), 1);
    EXPECT_EQ(getBigEndian16(b + 16), 0x0800);
    EXPECT_EQ(b[18], 6);
    EXPECT_EQ(b[19], 4);
    EXPECT_EQ(getBigEndian16(b + 20), 1);
    EXPECT_EQ(std::memcmp(b + 22, kToolMac, 6), 0);
    EXPECT_EQ(std::memcmp(b + 28, kToolIp, 4), 0);
    EXPECT_EQ(std::memcmp(b + 32, kTermMac, 6), 0);
    EXPECT_EQ(std::memcmp(b + 38, kTermIp, 4), 0);
}

TEST(Frame, BroadcastCarriesAllOnesInBothMacsAndTargetAddress)
{
    const uint8_t bcMac[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    const uint8_t bcIp[4] = {255, 255, 255, 255};
    PacketRef f(craftFrame(kToolMac, kToolIp, bcMac, bcIp, "{}"));
    EXPECT_EQ(std::memcmp(f.p->frame() + 0, bcMac, 6), 0);
    EXPECT_EQ(std::memcmp(f.p->frame() + 32, bcMac, 6), 0);
    EXPECT_EQ(std::memcmp(f.p->frame() + 38, bcIp, 4), 0);
}

TEST(Frame, BuildRefusesAFrameOverTheLimitAndLeavesThePacketAlone)
{
    uint8_t header[QPCAP_HEADER_SIZE];
    const std::vector<uint8_t> text(1455, 'x');
    buildCommandHeader(header, 1455);
    PacketRef f(new QPcapPacket);
    EXPECT_EQ(buildFrame(f.p, kToolMac, kToolIp, kTermMac, kTermIp, header, QPCAP_HEADER_SIZE, text.data(), 1455),
              -1);
    EXPECT_EQ(f.p->length(), 0);
    EXPECT_EQ(buildFrame(f.p, kToolMac, kToolIp, kTermMac, kTermIp, header, QPCAP_HEADER_SIZE, text.data(), 1454),
              0);
    EXPECT_EQ(f.p->length(), QPCAP_FRAME_MAX);
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
    PacketRef good(craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, "{}"));
    EXPECT_TRUE(isCommandFrame(good.p->frame(), good.p->length()));
    PacketRef ipv4(craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, "{}"));
    putBigEndian16(ipv4.p->frame() + 12, 0x0800);
    EXPECT_FALSE(isCommandFrame(ipv4.p->frame(), ipv4.p->length()));
    PacketRef noMagic(craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, "{}"));
    noMagic.p->frame()[43] = 0x89;
    EXPECT_FALSE(isCommandFrame(noMagic.p->frame(), noMagic.p->length()));
    // Only the two magic bytes count; the rest of the header is not checked.
    PacketRef oddHeader(craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, "{}"));
    oddHeader.p->frame()[44] = 0x7f;
    EXPECT_TRUE(isCommandFrame(oddHeader.p->frame(), oddHeader.p->length()));
}

TEST(Frame, CommandTextStopsAtTheFirstZeroAndNeverReadsPastTheFrame)
{
    PacketRef f(craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, QByteArray("{\"a\":1}\0tail", 12)));
    int length = -1;
    const char *text = commandText(f.p, &length);
    EXPECT_EQ(QByteArray(text, length), QByteArray("{\"a\":1}"));

    // A frame ending right after the header has an empty text.
    PacketRef empty(craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, QByteArray()));
    ASSERT_NE(commandText(empty.p, &length), nullptr);
    EXPECT_EQ(length, 0);

    PacketRef shortFrame(new QPcapPacket(f.p->frame(), 50));
    EXPECT_EQ(commandText(shortFrame.p, &length), nullptr);
    EXPECT_EQ(length, 0);
}

TEST(Packet, CopyIsZeroTerminatedAndClampedToTheRoom)
{
    std::vector<uint8_t> bytes(2000, 'b');
    PacketRef full(new QPcapPacket(bytes.data(), 1514));
    EXPECT_EQ(full.p->length(), 1514);
    EXPECT_EQ(full.p->frame()[1514], 0);
    PacketRef over(new QPcapPacket(bytes.data(), 2000));
    EXPECT_EQ(over.p->length(), QPCAP_PACKET_ROOM - 1);
    EXPECT_EQ(over.p->frame()[QPCAP_PACKET_ROOM - 1], 0);
    PacketRef negative(new QPcapPacket(bytes.data(), -5));
    EXPECT_EQ(negative.p->length(), 0);
}
