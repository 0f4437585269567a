// SPDX-License-Identifier: GPL-3.0-or-later
#include "QPcapFrame.h"

#include "QPcapPacket.h"

#include <cstring>

void putBigEndian16(uint8_t *p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

void putBigEndian32(uint8_t *p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

uint16_t getBigEndian16(const uint8_t *p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t getBigEndian32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void buildCommandHeader(uint8_t header[18], int textLength)
{
    const uint32_t total = static_cast<uint32_t>(QPCAP_HEADER_SIZE + textLength);
    std::memset(header, 0, QPCAP_HEADER_SIZE);
    header[0] = 0x88;
    header[1] = 0x88;
    header[2] = 0x01;
    putBigEndian16(header + 3, static_cast<uint16_t>(total));
    putBigEndian32(header + 5, 0);
    putBigEndian32(header + 9, total);
    putBigEndian16(header + 16, static_cast<uint16_t>(total));
}

namespace {
// An Ethernet header and an ARP request: who holds targetIp? asks
// senderIp at senderMac. The frame goes to toMac, the request to targetMac.
void putArpRequest(uint8_t *f, const uint8_t toMac[6], const uint8_t senderMac[6], const uint8_t senderIp[4],
                   const uint8_t targetMac[6], const uint8_t targetIp[4])
{
    std::memcpy(f + 0, toMac, 6);
    std::memcpy(f + 6, senderMac, 6);
    putBigEndian16(f + 12, QPCAP_ETHERTYPE_ARP);
    putBigEndian16(f + 14, 1);      // Ethernet
    putBigEndian16(f + 16, 0x0800); // IPv4
    f[18] = 6;
    f[19] = 4;
    putBigEndian16(f + 20, 1); // request
    std::memcpy(f + 22, senderMac, 6);
    std::memcpy(f + 28, senderIp, 4);
    std::memcpy(f + 32, targetMac, 6);
    std::memcpy(f + 38, targetIp, 4);
}
} // namespace

int buildFrame(QPcapPacket *packet, const uint8_t srcMac[6], const uint8_t srcIp[4],
               const uint8_t dstMac[6], const uint8_t dstIp[4], const uint8_t *header,
               int headerLength, const uint8_t *text, int textLength)
{
    if (packet == nullptr || headerLength < 0 || textLength < 0
        || QPCAP_ARP_END + headerLength + textLength > QPCAP_FRAME_MAX)
        return -1;
    uint8_t *f = packet->frame();
    std::memset(f, 0, QPCAP_FRAME_MAX);
    putArpRequest(f, dstMac, srcMac, srcIp, dstMac, dstIp);
    if (headerLength > 0)
        std::memcpy(f + QPCAP_ARP_END, header, static_cast<size_t>(headerLength));
    if (textLength > 0)
        std::memcpy(f + QPCAP_ARP_END + headerLength, text, static_cast<size_t>(textLength));
    const int length = QPCAP_ARP_END + headerLength + textLength;
    f[length] = 0;
    packet->setLength(length);
    return 0;
}

void buildArpProbe(QPcapPacket *packet, const uint8_t srcMac[6], uint32_t targetIp)
{
    static const uint8_t broadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    static const uint8_t unknown[6] = {0, 0, 0, 0, 0, 0};
    static const uint8_t noAddress[4] = {0, 0, 0, 0}; // a probe claims no address
    uint8_t target[4];
    putBigEndian32(target, targetIp);
    putArpRequest(packet->frame(), broadcast, srcMac, noAddress, unknown, target);
    packet->frame()[QPCAP_ARP_END] = 0;
    packet->setLength(QPCAP_ARP_END);
}

bool isArpFor(const uint8_t *frame, int length, const uint8_t mac[6], QPcapArpBody *out)
{
    static const uint8_t everyone[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    QPcapArpBody arp;
    if (!parseArpBody(frame, length, &arp) || getBigEndian16(frame + 12) != QPCAP_ETHERTYPE_ARP)
        return false;
    if (arp.hardwareType != 1 || arp.protocolType != 0x0800 || arp.hardwareLength != 6 || arp.protocolLength != 4
        || (arp.operation != 1 && arp.operation != 2)
        || (std::memcmp(frame, mac, 6) != 0 && std::memcmp(frame, everyone, 6) != 0))
        return false;
    *out = arp;
    return true;
}

bool parseEthernetHeader(const uint8_t *frame, int length, QPcapEthernetHeader *out)
{
    if (frame == nullptr || length < 14 || out == nullptr)
        return false;
    std::memcpy(out->destination, frame, 6);
    std::memcpy(out->source, frame + 6, 6);
    out->etherType = getBigEndian16(frame + 12);
    return true;
}

bool parseArpBody(const uint8_t *frame, int length, QPcapArpBody *out)
{
    if (frame == nullptr || length < QPCAP_ARP_END || out == nullptr)
        return false;
    const uint8_t *a = frame + 14;
    out->hardwareType = getBigEndian16(a);
    out->protocolType = getBigEndian16(a + 2);
    out->hardwareLength = a[4];
    out->protocolLength = a[5];
    out->operation = getBigEndian16(a + 6);
    std::memcpy(out->senderMac, a + 8, 6);
    out->senderIp = getBigEndian32(a + 14);
    std::memcpy(out->targetMac, a + 18, 6);
    out->targetIp = getBigEndian32(a + 24);
    return true;
}

const uint8_t *payload(const uint8_t *frame)
{
    return frame + QPCAP_ARP_END;
}

bool isCommandFrame(const uint8_t *frame, int length)
{
    if (frame == nullptr || length < QPCAP_ARP_END + 2)
        return false;
    return getBigEndian16(frame + 12) == QPCAP_ETHERTYPE_ARP && frame[QPCAP_ARP_END] == 0x88
        && frame[QPCAP_ARP_END + 1] == 0x88;
}

const char *commandText(const QPcapPacket *packet, int *textLength)
{
    if (packet == nullptr || packet->length() < QPCAP_TEXT_OFFSET) {
        if (textLength)
            *textLength = 0;
        return nullptr;
    }
    const char *text = reinterpret_cast<const char *>(packet->frame() + QPCAP_TEXT_OFFSET);
    // The packet keeps a zero byte behind its frame, so strnlen stays inside.
    const size_t room = static_cast<size_t>(packet->length() - QPCAP_TEXT_OFFSET);
    if (textLength)
        *textLength = static_cast<int>(strnlen(text, room));
    return text;
}
