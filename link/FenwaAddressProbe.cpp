// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaAddressProbe.h"

#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"

#include "QPcapAdapterList.h"

#include <QElapsedTimer>
#include <algorithm>
#include <QHostAddress>
#include <cstring>

using namespace FenwaTerminal;

namespace {
// Rounds of probing before the batch gives up, and how many addresses past
// the last one handed out each round probes as well (doubling each round).
constexpr int kMostRounds = 4;
constexpr int kLookahead = 8;
} // namespace

FenwaAddressProbe::~FenwaAddressProbe()
{
    if (sdk)
        sdk->setArpListener(nullptr);
}

void FenwaAddressProbe::cancel()
{
    QMutexLocker lock(&mutex);
    cancelled.store(true);
    woken.wakeAll();
}

void FenwaAddressProbe::onArp(const QPcapArpBody &arp)
{
    QMutexLocker lock(&mutex);
    if (std::memcmp(arp.senderMac, ownMac, 6) == 0)
        return; // this PC's own ARP, or our probe
    quint32 ip = arp.senderIp;
    ArpHeard how = arp.operation == 2 && std::memcmp(arp.targetMac, ownMac, 6) == 0 ? ArpHeard::Answers
                                                                                     : ArpHeard::Sends;
    if (ip == 0 && arp.operation == 1) {
        ip = arp.targetIp; // another host's probe
        how = ArpHeard::Probes;
    }
    if (!asked.contains(ip))
        return;
    const QString mac = linkMacText(arp.senderMac);
    const bool known = std::any_of(heard.cbegin(), heard.cend(),
                                   [&](const Heard &h) { return h.ip == ip && h.mac == mac; });
    if (!known)
        heard << Heard{ip, mac, how};
}

int FenwaAddressProbe::probe(const QStringList &addresses, QList<AddressHolder> *answers)
{
    answers->clear();
    const QPcapAdapter *adapter = sdk ? sdk->currentAdapter() : nullptr;
    if (adapter == nullptr || !sdk->transport()->waitOpen(FenwaSDK::LINK_SETTLE_MS)) {
        ORB_LOG("address probe not sent: the link is not open\n");
        return -1;
    }
    QList<quint32> targets;
    for (const QString &text : addresses) {
        bool ok = false;
        const quint32 v = QHostAddress(text).toIPv4Address(&ok);
        if (ok && isIpv4Text(text))
            targets << v;
    }
    {
        QMutexLocker lock(&mutex);
        asked = QSet<quint32>(targets.cbegin(), targets.cend());
        asked.remove(0);
        std::memcpy(ownMac, adapter->hardwareAddress, 6);
        heard.clear();
    }
    ORB_LOG("probing %d addresses\n", int(targets.size()));
    sdk->setArpListener(this);
    for (int round = 0; round < ROUNDS && !cancelled.load(); ++round) {
        for (quint32 target : targets) {
            auto *packet = new QPcapPacket;
            buildArpProbe(packet, adapter->hardwareAddress, target);
            sdk->transport()->send(packet);
        }
        QElapsedTimer waited;
        waited.start();
        QMutexLocker lock(&mutex);
        while (!cancelled.load() && waited.elapsed() < WAIT_MS)
            woken.wait(&mutex, static_cast<unsigned long>(WAIT_MS - waited.elapsed()));
    }
    sdk->setArpListener(nullptr);
    QMutexLocker lock(&mutex);
    for (const Heard &h : qAsConst(heard)) {
        answers->append(probeAnswer(QHostAddress(h.ip).toString(), h.mac, h.how));
        ORB_LOG("%s is in use: %s\n", qPrintable(answers->last().ip), qPrintable(answers->last().why));
    }
    asked.clear();
    return cancelled.load() ? -1 : 0;
}

QStringList thisPcAddresses(const QPcapAdapter *adapter)
{
    QStringList out;
    if (adapter == nullptr)
        return out;
    char first[16];
    formatIpv4(adapter->address, first);
    if (std::strcmp(first, "0.0.0.0") != 0)
        out << QString::fromLatin1(first);
    for (const std::string &ip : interfaceIpv4Addresses(adapter->name))
        if (!out.contains(QString::fromStdString(ip)))
            out << QString::fromStdString(ip);
    return out;
}

QList<IpConfig> probedStaticIpValues(FenwaAddressProbe *probe, const IpConfig &typed, const QStringList &targetMacs,
                                     QList<AddressHolder> held, QList<SkippedAddress> *skipped, QString *notice)
{
    QSet<QString> probed;
    for (int round = 0;; ++round) {
        const QList<IpConfig> values = staticIpValues(typed, targetMacs, held, skipped, notice);
        if (values.isEmpty() || probe == nullptr)
            return values;
        QStringList fresh;
        for (const IpConfig &v : values)
            if (!probed.contains(v.ip))
                fresh << v.ip;
        if (fresh.isEmpty())
            return values;
        if (round == kMostRounds) {
            *notice = translate("%1 of the addresses probed answer ARP: too many to step past, nothing was sent")
                          .arg(skipped->size());
            skipped->clear();
            return {};
        }
        // "Set" gets the typed address or nothing: no stepping to look ahead for.
        if (targetMacs.size() > 1) {
            QStringList wider = targetMacs;
            for (int i = 0; i < kLookahead << round; ++i)
                wider << QString();
            QList<SkippedAddress> ignored;
            QString unused;
            for (const IpConfig &v : staticIpValues(typed, wider, held, &ignored, &unused))
                if (!probed.contains(v.ip) && !fresh.contains(v.ip))
                    fresh << v.ip;
        }
        QList<AddressHolder> answers;
        if (probe->probe(fresh, &answers) != 0) {
            *notice = probe->isCancelled() ? translate("The address check was stopped; nothing was sent")
                                           : translate("The addresses cannot be checked: the link is not open");
            skipped->clear();
            return {};
        }
        for (const QString &ip : fresh)
            probed.insert(ip);
        held += answers;
    }
}
