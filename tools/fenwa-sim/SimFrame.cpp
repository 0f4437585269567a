// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimFrame.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kEtherTypeArp = 0x0806;
constexpr uint16_t kArpHardwareEthernet = 1;
constexpr uint16_t kArpProtocolIpv4 = 0x0800;
constexpr uint16_t kArpRequest = 1;
constexpr uint16_t kArpReply = 2;
constexpr uint8_t kMagic[3] = {0x88, 0x88, 0x01};

uint16_t read16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t read32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void write16(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void write32(uint8_t *p, uint32_t v)
{
    write16(p, v >> 16);
    write16(p + 2, v);
}

template <size_t N> void take(std::array<uint8_t, N> *out, const uint8_t *p)
{
    std::memcpy(out->data(), p, N);
}

template <size_t N> void put(uint8_t *p, const std::array<uint8_t, N> &v)
{
    std::memcpy(p, v.data(), N);
}

// Ethernet header and ARP body; the rest of f is the caller's.
void writeArp(uint8_t *f, const SimMac &destination, uint16_t operation, const SimStation &sender,
              const SimStation &target)
{
    put(f, destination);
    put(f + 6, sender.mac);
    write16(f + 12, kEtherTypeArp);
    write16(f + 14, kArpHardwareEthernet);
    write16(f + 16, kArpProtocolIpv4);
    f[18] = 6;
    f[19] = 4;
    write16(f + 20, operation);
    put(f + 22, sender.mac);
    put(f + 28, sender.ip);
    put(f + 32, target.mac);
    put(f + 38, target.ip);
}

} // namespace

bool isBroadcast(const SimMac &mac)
{
    return std::all_of(mac.begin(), mac.end(), [](uint8_t b) { return b == 0xff; });
}

SimIncoming readFrame(const uint8_t *f, size_t length)
{
    SimIncoming in;
    if (f == nullptr || length < SimWire::kArpEnd || length > SimWire::kFrameMax)
        return in;
    // Only Ethernet/IPv4 ARP requests: a reply or another kind of address
    // is not something a terminal acts on.
    if (read16(f + 12) != kEtherTypeArp || read16(f + 14) != kArpHardwareEthernet
        || read16(f + 16) != kArpProtocolIpv4 || f[18] != 6 || f[19] != 4 || read16(f + 20) != kArpRequest)
        return in;
    take(&in.destination, f);
    take(&in.source, f + 6);
    take(&in.sender.mac, f + 22);
    take(&in.sender.ip, f + 28);
    take(&in.target.mac, f + 32);
    take(&in.target.ip, f + 38);

    const uint8_t *h = f + SimWire::kArpEnd;
    const size_t room = length - SimWire::kArpEnd;
    if (room < 2 || h[0] != kMagic[0] || h[1] != kMagic[1]) {
        // Behind a plain request there is at most padding.
        in.kind = SimFrameKind::ArpRequest;
        return in;
    }
    // The command path from here on: a bad header is dropped, never taken
    // for a plain request. The three length fields must agree and the text
    // they announce must lie inside the frame; bytes behind it are padding.
    // The reserved zero fields are not examined.
    if (room < SimWire::kHeaderSize || h[2] != kMagic[2])
        return in;
    const uint32_t total = read16(h + 3);
    if (read32(h + 9) != total || read16(h + 16) != total || total < SimWire::kHeaderSize
        || total > room)
        return in;
    in.kind = SimFrameKind::Command;
    in.text = reinterpret_cast<const char *>(f + SimWire::kTextOffset);
    in.textLength = total - SimWire::kHeaderSize;
    return in;
}

std::vector<uint8_t> commandFrame(const SimStation &from, const SimStation &to, const char *text,
                                  size_t textLength)
{
    std::vector<uint8_t> frame(SimWire::kTextOffset + textLength, 0);
    uint8_t *f = frame.data();
    writeArp(f, to.mac, kArpRequest, from, to);
    uint8_t *h = f + SimWire::kArpEnd;
    const uint32_t total = static_cast<uint32_t>(SimWire::kHeaderSize + textLength);
    std::memcpy(h, kMagic, sizeof kMagic);
    write16(h + 3, total);
    write32(h + 5, 0);
    write32(h + 9, total);
    write16(h + 16, total);
    if (textLength > 0)
        std::memcpy(f + SimWire::kTextOffset, text, textLength);
    return frame;
}

std::vector<uint8_t> arpReply(const SimStation &from, const SimStation &to)
{
    std::vector<uint8_t> frame(SimWire::kArpReplySize, 0);
    writeArp(frame.data(), to.mac, kArpReply, from, to);
    return frame;
}
