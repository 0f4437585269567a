// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

class QPcapPacket;

// One network adapter as the capture library knows it; copied by value.
// name is what pcap opens (the interface name, e.g. "eth0").
struct QPcapAdapter
{
    char name[1024];
    char description[1024];
    uint8_t hardwareAddress[8]; // first 6 bytes: the MAC used as source
    uint8_t address[16];        // IPv4 in the first 4 bytes, first number first
    uint8_t netmask[16];
    uint8_t gateway[16];
};

struct QPcapEthernetHeader
{
    uint8_t destination[6];
    uint8_t source[6];
    uint16_t etherType; // host order
};

struct QPcapArpBody
{
    uint16_t hardwareType;
    uint16_t protocolType;
    uint8_t hardwareLength;
    uint8_t protocolLength;
    uint16_t operation;
    uint8_t senderMac[6];
    uint32_t senderIp; // assembled big-endian: 192.168.1.2 is 0xC0A80102
    uint8_t targetMac[6];
    uint32_t targetIp;
};

enum : uint16_t { QPCAP_ETHERTYPE_ARP = 0x0806 };

void putBigEndian16(uint8_t *p, uint16_t value);
void putBigEndian32(uint8_t *p, uint32_t value);
uint16_t getBigEndian16(const uint8_t *p);
uint32_t getBigEndian32(const uint8_t *p);

// Builds the 18-byte command header for a text of textLength bytes.
void buildCommandHeader(uint8_t header[18], int textLength);

// Fills packet with an ARP request carrying header and text. Returns 0, or -1
// (packet untouched) when the frame would exceed 1514 bytes.
int buildFrame(QPcapPacket *packet, const uint8_t srcMac[6], const uint8_t srcIp[4],
               const uint8_t dstMac[6], const uint8_t dstIp[4], const uint8_t *header,
               int headerLength, const uint8_t *text, int textLength);

// Fills packet with an address probe (RFC 5227) for targetIp: a 42-byte
// broadcast ARP request from srcMac with sender address 0.0.0.0 and an
// all-zero target MAC, which asks who holds the address without teaching
// any cache an address for srcMac.
void buildArpProbe(QPcapPacket *packet, const uint8_t srcMac[6], uint32_t targetIp);
// True when the frame is an Ethernet/IPv4 ARP request or reply addressed to
// mac or to everyone: a host asking, answering a probe or announcing itself.
// The ARP fields go to *out. Command frames are ARP too: tell them first.
bool isArpFor(const uint8_t *frame, int length, const uint8_t mac[6], QPcapArpBody *out);

// Parsers return false when the frame is too short for the part asked for.
bool parseEthernetHeader(const uint8_t *frame, int length, QPcapEthernetHeader *out);
bool parseArpBody(const uint8_t *frame, int length, QPcapArpBody *out);
// Where the command header begins (frame + 42).
const uint8_t *payload(const uint8_t *frame);

// True when the frame is ARP with 0x88 0x88 at the command header's start.
bool isCommandFrame(const uint8_t *frame, int length);
// The command text: from offset 60 up to the first zero byte (the packet keeps
// a zero behind every frame). Sets *textLength; nullptr when there is no text.
const char *commandText(const QPcapPacket *packet, int *textLength);
