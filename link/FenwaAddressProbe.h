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
// and again after WAIT_MS; whatever holds one answers with an ARP reply to
// the adapter's MAC from that address. The probes go through the link that
// carries the commands, so they leave where the commands leave.
//
// Threads: probe() runs on one job thread at a time, which it blocks for
// about twice WAIT_MS; cancel() may come from any thread and cuts it short.
// The answers arrive on the link's capture thread (onArpReply) and are kept
// under a mutex; the probe is the SDK's ARP listener only while probe() runs.
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

    void onArpReply(const QPcapArpBody &arp) override;

    // How long each of the two rounds waits for answers: holders on a busy
    // segment answer within a few milliseconds, and an installer waits for
    // the pair of rounds each time the candidates change.
    enum { WAIT_MS = 200 };

private:
    FenwaSDK *sdk;
    std::atomic<bool> cancelled{false};
    QMutex mutex;
    QWaitCondition woken;
    QSet<quint32> asked;
    QList<QPair<quint32, QString>> heard; // (address, MAC) in the order they came
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
