// SPDX-License-Identifier: GPL-3.0-or-later
// The frame limits and the parsers that read frames back.
#include "QPcapFrame.h"
#include "crafted_frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// The layout itself is what the simulator, written apart from this code,
// checks in every end-to-end exchange; here the limits.
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

TEST(Frame, CommandFrameNeedsArpAndTheMagicBytes)
{
    // Byte changed -> still a command frame? Only the two magic bytes count.
    const std::pair<int, bool> cases[] = {{-1, true}, {12, false}, {43, false}, {44, true}};
    for (const auto &c : cases) {
        const PacketPtr f = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, "{}");
        if (c.first >= 0)
            f->frame()[c.first] ^= 0x01;
        EXPECT_EQ(isCommandFrame(f->frame(), f->length()), c.second) << "byte " << c.first;
        EXPECT_FALSE(isCommandFrame(f->frame(), QPCAP_ARP_END + 1)); // cut before the second magic byte
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

TEST(Frame, ArpCountsOnlyWhenItIsARequestOrReplyToUsOrEveryone)
{
    // A terminal's frame turned into a reply, then one byte changed.
    const struct {
        int at;
        uint8_t value;
        bool counts;
    } cases[] = {{-1, 0, true},     {21, 1, true},    {21, 3, false},  {0, 0x03, false},
                 {13, 0x00, false}, {15, 2, false},   {19, 6, false}};
    for (const auto &c : cases) {
        const PacketPtr f = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, "{}");
        f->frame()[21] = 2;
        if (c.at >= 0)
            f->frame()[c.at] = c.value;
        QPcapArpBody arp{};
        EXPECT_EQ(isArpFor(f->frame(), f->length(), kToolMac, &arp), c.counts) << "byte " << c.at;
        if (c.counts) { // who asks for whom: 192.168.1.100 and 192.168.1.2
            EXPECT_TRUE(arp.senderIp == 0xC0A80164 && arp.targetIp == 0xC0A80102) << "byte " << c.at;
        }
    }
    const PacketPtr announced = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, "{}");
    std::memset(announced->frame(), 0xff, 6);
    QPcapArpBody arp{};
    EXPECT_TRUE(isArpFor(announced->frame(), announced->length(), kToolMac, &arp));
}
