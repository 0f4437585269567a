// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "QPcapFrame.h"

#include <string>
#include <vector>

// The host's adapters, owned by the list.
class QPcapAdapterList
{
public:
    void append(const QPcapAdapter &adapter) { items.push_back(adapter); }
    // nullptr when index is out of range.
    const QPcapAdapter *at(int index) const;
    int count() const { return static_cast<int>(items.size()); }

    // Lists the adapters pcap can open that carry Ethernet frames. Empty when
    // the system cannot be asked. The caller owns the list.
    static QPcapAdapterList *adapters();

private:
    std::vector<QPcapAdapter> items;
};

// The adapter to use: the one named remembered (exact match), else the first
// 192.168.x.y with x <= 30, else the first 192.168.*, else the first; nullptr
// for an empty list. The record stays owned by the list.
const QPcapAdapter *findAdapter(const QPcapAdapterList *list, const char *remembered);

// Every IPv4 address the interface holds (an adapter records only its
// first), each as "a.b.c.d"; empty when it has none or is gone.
std::vector<std::string> interfaceIpv4Addresses(const char *name);

// Whether the interface is up and has a carrier (false when it is gone).
bool isAdapterRunning(const char *name);

// "a.b.c.d" of the first four bytes.
void formatIpv4(const uint8_t *address, char out[16]);
