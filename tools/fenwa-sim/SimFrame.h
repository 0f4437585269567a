// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The simulator's own reading and writing of the frames a terminal sees.
// Written apart from the tool's link code on purpose: the simulator is the
// far end of every end-to-end test, and a layout mistake shared by both ends
// would pass them all.
//
// A command frame, byte by byte (multi-byte fields big-endian):
//    0  destination MAC            6  source MAC          12  EtherType 0x0806
//   14  ARP hardware 1            16  protocol 0x0800     18  lengths 6, 4
//   20  operation 1 (request)     22  sender MAC          28  sender IPv4
//   32  target MAC                38  target IPv4
//   42  0x88 0x88 0x01, then with L = 18 + text length: L (16 bits) at 45,
//       zero (32 bits) at 47, L (32 bits) at 51, three zero bytes, L (16
//       bits) at 58
//   60  the JSON text, no terminating zero; the frame ends with it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

using SimMac = std::array<uint8_t, 6>;
using SimIpv4 = std::array<uint8_t, 4>;

// One end of an exchange as the ARP body names it.
struct SimStation
{
    SimMac mac{};
    SimIpv4 ip{};
};

namespace SimWire {
constexpr size_t kArpEnd = 42;     // Ethernet header and ARP body
constexpr size_t kHeaderSize = 18; // command header
constexpr size_t kTextOffset = kArpEnd + kHeaderSize;
constexpr size_t kFrameMax = 1514; // without FCS
constexpr size_t kTextMax = kFrameMax - kTextOffset;
constexpr size_t kArpReplySize = 60; // an ARP reply padded to the Ethernet minimum
} // namespace SimWire

enum class SimFrameKind {
    Ignored,    // anything a terminal drops without a word
    Command,    // an ARP request carrying a well-formed command header
    ArpRequest, // a plain ARP request for an IPv4 address (no command header)
};

struct SimIncoming
{
    SimFrameKind kind = SimFrameKind::Ignored;
    SimMac destination{}; // Ethernet header
    SimMac source{};
    SimStation sender; // ARP body
    SimStation target;
    // Command only: the text inside the frame, as long as the header says.
    const char *text = nullptr;
    size_t textLength = 0;
};

// Classifies one received frame as a terminal's firmware would; the text
// points into frame.
SimIncoming readFrame(const uint8_t *frame, size_t length);

// A command frame (a reply, from a terminal) carrying textLength bytes of
// text; no length check, so the fault injection can build oversized frames.
std::vector<uint8_t> commandFrame(const SimStation &from, const SimStation &to, const char *text,
                                  size_t textLength);

// The standard ARP reply of from (the owner of the address asked for) to the
// asker.
std::vector<uint8_t> arpReply(const SimStation &from, const SimStation &to);

bool isBroadcast(const SimMac &mac);
