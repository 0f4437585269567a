// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "QPcapPacket.h"

#include <QByteArray>
#include <cstdint>

// A command frame as a terminal would send it: ARP request from mac/ip with
// the command header and text. The caller releases the packet.
QPcapPacket *craftFrame(const uint8_t srcMac[6], const uint8_t srcIp[4], const uint8_t dstMac[6],
                        const uint8_t dstIp[4], const QByteArray &text);

// Same frame, EtherType changed (not ARP any more).
QPcapPacket *craftFrameWithEtherType(uint16_t etherType, const uint8_t srcMac[6], const QByteArray &text);

extern const uint8_t kToolMac[6];
extern const uint8_t kToolIp[4];
extern const uint8_t kTermMac[6];
extern const uint8_t kTermIp[4];
extern const uint8_t kOtherMac[6];
extern const uint8_t kOtherIp[4];
