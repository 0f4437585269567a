// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaPlanRun.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"

#include <QSet>
#include <QVector>

namespace FenwaPlan {

namespace {
using namespace FenwaTerminal;

bool isIpField(int f) { return f >= IpMode && f <= Dns2; }

Step::Kind kindOf(int f)
{
    if (f == Name)
        return Step::SetName;
    if (isIpField(f))
        return Step::SetIp;
    if (f == WebAccount || f == WebPasswordMd5)
        return Step::SetAccount;
    if (f >= Sip1Account && f <= Sip2ServerPort)
        return Step::SetSip;
    if (f >= Rtp1 && f <= Rtp10)
        return Step::SetRtp;
    if (f == NewMac)
        return Step::SetMac;
    return Step::SetVolume;
}

IpConfig ipConfig(const Values &v)
{
    return {v.value(Ip), v.value(Gateway), v.value(Netmask), v.value(Dns1), v.value(Dns2)};
}

void sipPair(const Values &v, SipSettings sip[2])
{
    for (int a = 0; a < 2; ++a) {
        const int base = a ? Sip2Account : Sip1Account;
        sip[a].account = v.value(base);
        sip[a].password = v.value(base + 1);
        sip[a].displayName = v.value(base + 2);
        sip[a].serverHost = v.value(base + 3);
        sip[a].serverPort = v.value(base + 4);
    }
}

QList<RtpSettings> channels(const Values &v)
{
    QList<RtpSettings> out;
    for (int f = Rtp1; f <= Rtp10; ++f) {
        QString text = v.value(f).trimmed(), why;
        const bool off = text == QLatin1String("off") || text.endsWith(QLatin1String(" off"));
        if (off)
            text.chop(3);
        RtpSettings c;
        rtpChannelFromText(text, &c, &why); // checked when the plan was read
        c.enable = off ? 0 : 1;
        out << c;
    }
    return out;
}

Volume volume(const Values &v)
{
    Volume out;
    out.mic = v.value(MicVolume).toInt();
    out.out = v.value(SpeakerVolume).toInt();
    out.autoMute = v.value(AutoMute).toInt();
    return out;
}

bool isStatic(const Values &v) { return v.value(IpMode) == QLatin1String("static"); }

// The pages' rules over what one command will write, merged.
QStringList mergedProblems(const Item &item)
{
    QStringList out;
    QSet<int> kinds;
    for (const Change &c : item.changes)
        kinds.insert(kindOf(c.field));
    const Values &m = item.merged;
    QString notice;
    if (kinds.contains(Step::SetIp) && isStatic(m) && staticIpValues(ipConfig(m), 1, &notice).isEmpty())
        out << notice;
    if (kinds.contains(Step::SetAccount)) {
        if (m.value(WebAccount).isEmpty())
            out << translate("Please input account");
        else if (!FenwaRequest::setAccountPassword(m.value(WebAccount), m.value(WebPasswordMd5)).fits())
            out << translate("The account is too long to send: shorten it");
    }
    SipSettings sip[2];
    sipPair(m, sip);
    notice.clear();
    if (kinds.contains(Step::SetSip) && !sipValue(sip[0], sip[1], &notice))
        out << notice;
    notice.clear();
    if (kinds.contains(Step::SetVolume) && !volumeValue(volume(m), &notice))
        out << notice;
    return out;
}

QString who(const FenwaDevice *d)
{
    return terminalLabel(d);
}

// A static address the terminal does not hold now.
bool isNewAddress(const Item &item)
{
    return isStatic(item.merged) && !item.merged.value(Ip).isEmpty() && (!item.device || item.device->ip != item.merged.value(Ip));
}
} // namespace

int Preview::problemRows() const
{
    int n = 0;
    for (const Item &i : items)
        n += i.problems.isEmpty() ? 0 : 1;
    return n;
}

int Preview::notFound() const
{
    int n = 0;
    for (const Item &i : items)
        n += i.device ? 0 : 1;
    return n;
}

Preview preview(const Plan &plan, const QList<Found> &found, const QList<AddressHolder> &held)
{
    Preview out;
    QList<bool> inPlan;
    for (int k = 0; k < found.size(); ++k)
        inPlan << false;
    for (int r = 0; r < plan.rows.size(); ++r) {
        const Row &row = plan.rows[r];
        Item item;
        item.row = r;
        item.mac = row.mac;
        item.problems = row.problems;
        const Found *match = nullptr;
        for (int k = 0; k < found.size(); ++k) {
            const FenwaDevice *d = found[k].device;
            if (!rowIsFor(row, d))
                continue;
            if (match) {
                item.problems << translate("%1 and %2 both answer with this MAC: the plan cannot tell them apart")
                                     .arg(who(match->device), who(d));
                inPlan[k] = true;
                continue;
            }
            match = &found[k];
            inPlan[k] = true;
        }
        Values planned = row.values;
        // An address without a mode asks for that static address.
        if (!planned.contains(IpMode) && (planned.contains(Ip) || planned.contains(Netmask)
                                          || planned.contains(Gateway) || planned.contains(Dns1)))
            planned[IpMode] = QStringLiteral("static");
        item.merged = match ? match->current : Values();
        for (auto it = planned.constBegin(); it != planned.constEnd(); ++it)
            item.merged[it.key()] = it.value();
        if (match) {
            item.device = match->device;
            const bool staticAfter = isStatic(item.merged);
            for (auto it = planned.constBegin(); it != planned.constEnd(); ++it) {
                const int f = it.key();
                if (!match->current.contains(f) && f != NewMac && f != Dns2) {
                    const QString problem =
                        translate("%1: the terminal's current values were not read").arg(stepName(kindOf(f)));
                    if (!item.problems.contains(problem))
                        item.problems << problem;
                    continue;
                }
                // A DHCP terminal's address is the server's to give, not the plan's.
                if (isIpField(f) && f != IpMode && !staticAfter)
                    continue;
                const QString now = f == NewMac ? row.mac : match->current.value(f);
                if (now != it.value())
                    item.changes << Change{f, now, it.value()};
            }
            item.problems << mergedProblems(item);
        }
        out.items << item;
    }
    for (int k = 0; k < found.size(); ++k)
        if (!inPlan[k])
            out.notInPlan << found[k].device;

    // Site rules, over where every terminal ends.
    QSet<QString> planMacs;
    for (const Item &item : out.items)
        if (item.device)
            planMacs.insert(linkMacText(item.device));
    QList<AddressHolder> holders = addressHolders(out.notInPlan, {});
    for (const AddressHolder &h : held)
        if (h.mac.isEmpty() || !planMacs.contains(h.mac))
            holders << h;
    auto finalIp = [](const Item &i) { return isStatic(i.merged) ? i.merged.value(Ip) : QString(); };
    auto finalMac = [](const Item &i) { return i.merged.value(NewMac, i.mac); };
    auto line = [&plan](const Item &i) {
        return (plan.siteFile ? translate("terminal %1") : translate("line %1")).arg(plan.rows[i.row].line);
    };
    for (Item &item : out.items) {
        const QString ip = finalIp(item);
        const QString mac = finalMac(item);
        const bool newMac = mac != item.mac;
        for (const Item &other : out.items) {
            if (&other == &item)
                continue;
            if (!ip.isEmpty() && finalIp(other) == ip)
                item.problems << translate("%1 is planned for %2 too").arg(ip, line(other));
            if (newMac && (finalMac(other) == mac || other.mac == mac))
                item.problems << translate("MAC %1 is planned for %2 too").arg(mac, line(other));
        }
        for (const FenwaDevice *d : out.notInPlan)
            if (newMac && (normalizeMac(d->macText) == mac || linkMacText(d) == mac))
                item.problems << translate("MAC %1 is held by %2, which is not in the plan").arg(mac, terminalLabel(d));
        if (isNewAddress(item)) {
            const QString why = addressRefusal(ip, item.device ? linkMacText(item.device) : item.mac, holders);
            if (!why.isEmpty())
                item.problems << translate("%1 is not free: %2").arg(ip, why);
        }
    }
    return out;
}

QStringList newAddresses(const Preview &preview)
{
    QStringList out;
    for (const Item &item : preview.items)
        if (item.device && isNewAddress(item) && !out.contains(item.merged.value(Ip)))
            out << item.merged.value(Ip);
    return out;
}

QList<Step> steps(const Item &item)
{
    QList<Step> out;
    const Step::Kind order[] = {Step::SetName,   Step::SetAccount, Step::SetVolume, Step::SetSip,
                                Step::SetRtp,    Step::SetIp,      Step::SetMac};
    for (Step::Kind kind : order)
        for (const Change &c : item.changes)
            if (kindOf(c.field) == kind) {
                out << Step{kind, item.merged};
                break;
            }
    return out;
}

QString stepName(Step::Kind kind)
{
    switch (kind) {
    case Step::SetName: return translate("name");
    case Step::SetAccount: return translate("web account");
    case Step::SetVolume: return translate("volumes");
    case Step::SetSip: return translate("SIP accounts");
    case Step::SetRtp: return translate("RTP channels");
    case Step::SetIp: return translate("address");
    case Step::SetMac: return translate("MAC");
    }
    return QString();
}

FenwaRequest stepRequest(const Step &s)
{
    const Values &m = s.merged;
    switch (s.kind) {
    case Step::SetName:
        return FenwaRequest::setName(m.value(Name));
    case Step::SetAccount:
        return FenwaRequest::setAccountPassword(m.value(WebAccount), m.value(WebPasswordMd5));
    case Step::SetVolume: {
        const Volume v = volume(m);
        return FenwaRequest::setDeviceVolume(v.mic, v.out, v.autoMute);
    }
    case Step::SetSip: {
        SipSettings sip[2];
        sipPair(m, sip);
        return FenwaRequest::setSipSettings(sip[0], sip[1]);
    }
    case Step::SetRtp:
        return FenwaRequest::setRtpSettings(channels(m).toVector());
    case Step::SetIp: {
        if (!isStatic(m))
            return FenwaRequest::setIpDhcp();
        const IpConfig c = ipConfig(m);
        return FenwaRequest::setIpStatic(c.ip, c.gateway, c.netmask, c.dns1, c.dns2);
    }
    case Step::SetMac:
        return FenwaRequest::setMac(m.value(NewMac));
    }
    return FenwaRequest();
}

void stepAccepted(FenwaDevice *d, const Step &s)
{
    const Values &m = s.merged;
    switch (s.kind) {
    case Step::SetName:
        nameAccepted(d, m.value(Name));
        break;
    case Step::SetAccount:
        accountAccepted(d, {m.value(WebAccount), m.value(WebPasswordMd5)});
        break;
    case Step::SetVolume:
        volumeAccepted(d, volume(m));
        break;
    case Step::SetSip: {
        SipSettings sip[2];
        sipPair(m, sip);
        sipAccepted(d, sip[0], sip[1]);
        break;
    }
    case Step::SetRtp:
        rtpAccepted(d, channels(m));
        break;
    case Step::SetIp:
        if (isStatic(m))
            staticIpAccepted(d, ipConfig(m));
        else
            dhcpAccepted(d);
        break;
    case Step::SetMac:
        macAccepted(d, m.value(NewMac));
        break;
    }
}

QString outcomeText(const QList<Step> &list, const QList<FenwaBatch::Result> &results)
{
    if (list.isEmpty())
        return translate("unchanged");
    QStringList failed, untried;
    for (int i = 0; i < list.size(); ++i) {
        const FenwaBatch::Result r = results.value(i);
        if (r.state == FenwaBatch::NotTried)
            untried << stepName(list[i].kind);
        else if (!r.accepted())
            failed << QStringLiteral("%1: %2").arg(stepName(list[i].kind), r.failure());
    }
    if (failed.isEmpty() && untried.isEmpty())
        return translate("done");
    QString text = translate("failed: %1").arg(failed.isEmpty() ? translate("stopped") : failed.join(QStringLiteral("; ")));
    if (!untried.isEmpty())
        text += translate("; not tried: %1").arg(untried.join(QStringLiteral(", ")));
    return text;
}

QList<FenwaRequest> Reading::requests() const
{
    QList<FenwaRequest> out;
    if (wantSip)
        out << FenwaRequest::getSipSettings();
    if (wantRtp)
        out << FenwaRequest::getRtpSettings();
    return out;
}

void Reading::take(int step, const FenwaBatch::Result &result)
{
    if (!result.accepted())
        return;
    if (step == 0 && wantSip) {
        FenwaRequest::readSip(*result.reply, &sip[0], &sip[1]);
        sipRead = true;
    } else {
        FenwaRequest::readRtp(*result.reply, rtp, FENWA_RTP_CHANNELS);
        rtpRead = true;
    }
}

QString Reading::failure(int step, const FenwaBatch::Result &result) const
{
    return (step == 0 && wantSip ? translate("SIP accounts not read: %1") : translate("RTP channels not read: %1"))
        .arg(result.failure());
}

} // namespace FenwaPlan
