// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaSDK.h"
#include "FenwaTerminal.h"

#include <QList>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <QStringList>
#include <QWaitCondition>
#include <atomic>

// Asks the segment whether anything holds an address before a terminal is
// given it: the probe a host sends before it takes an address (RFC 5227), a
// broadcast ARP request from the adapter's MAC with sender address 0.0.0.0,
// so that no cache learns anything from it. Every address goes out at once,
// ROUNDS times WAIT_MS apart. While it runs, an address is in use when any
// other host sends ARP from it, request or reply (a holder answering the
// probe, or a host using the address that answers no probe), and when
// another host probes for it (one about to take it), as RFC 5227 section
// 2.1.1 has it. The probes go through the link that carries the commands,
// so they leave where the commands leave.
//
// RFC 5227 waits up to a second, then sends three probes one to two seconds
// apart and listens two seconds more, some five seconds per address; an
// installer waits for this each time the candidates change, so the probe
// sends all of them at once, three rounds in 0.45 s. A holder on a LAN
// answers within milliseconds; what the short wait can miss is a host that
// neither answers ARP nor sends any for half a second.
//
// Threads: probe() runs on one job thread at a time, which it blocks for
// about ROUNDS times WAIT_MS; cancel() may come from any thread and cuts it
// short. What is heard arrives on the link's capture thread (onArp) and is
// kept under a mutex; the probe is the SDK's ARP listener only while
// probe() runs.
class FenwaAddressProbe : public FenwaArpListener
{
public:
    explicit FenwaAddressProbe(FenwaSDK *sdk) : sdk(sdk) {}
    ~FenwaAddressProbe() override;

    // Probes the IPv4 addresses of the list and puts one holder per address
    // and answering MAC into *answers. Returns 0, or -1 when nothing could be
    // sent (no open link) or the probe was cancelled.
    int probe(const QStringList &addresses, QList<FenwaTerminal::AddressHolder> *answers);
    void cancel();
    bool isCancelled() const { return cancelled.load(); }

    void onArp(const QPcapArpBody &arp) override;

    // How many probes go out for each address, and how long each round
    // waits: holders on a busy segment answer within a few milliseconds,
    // and three rounds make up for a lost probe or answer.
    enum { ROUNDS = 3, WAIT_MS = 150 };

private:
    FenwaSDK *sdk;
    std::atomic<bool> cancelled{false};
    QMutex mutex;
    QWaitCondition woken;
    QSet<quint32> asked;
    uint8_t ownMac[6] = {0, 0, 0, 0, 0, 0};
    struct Heard {
        quint32 ip;
        QString mac;
        FenwaTerminal::ArpHeard how;
    };
    QList<Heard> heard; // one per address and MAC, in the order they came
};

// This PC's addresses on the adapter: the one it was listed with and every
// other the interface holds now.
QStringList thisPcAddresses(const QPcapAdapter *adapter);

// staticIpValues (FenwaTerminal) on a segment that is probed first: every
// address the batch would hand out is probed (with a few beyond, so that an
// answer rarely costs another round), what answered joins held, and the
// values are worked out again until every address handed out has been
// probed. Without a probe (nullptr) it is staticIpValues itself. Refused,
// with *notice, when the probe cannot be sent, is cancelled, or so much
// answers that the rounds run out (a router answering for every address).
QList<FenwaTerminal::IpConfig> probedStaticIpValues(FenwaAddressProbe *probe, const FenwaTerminal::IpConfig &typed,
                                                    const QStringList &targetMacs,
                                                    QList<FenwaTerminal::AddressHolder> held,
                                                    QList<FenwaTerminal::SkippedAddress> *skipped, QString *notice);
