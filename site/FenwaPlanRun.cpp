// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaPlanRun.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"

#include <QHash>
#include <QRegularExpression>
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

int Preview::doubtRows() const
{
    int n = 0;
    for (const Item &i : items)
        n += statusOf(i).outcome == Outcome::Doubtful ? 1 : 0;
    return n;
}

int Preview::notFound() const
{
    int n = 0;
    for (const Item &i : items)
        n += i.device ? 0 : 1;
    return n;
}

QString numberRewritten(int field, const QString &current, const QString &planned)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][+-]?[0-9]+)?$"));
    static const QRegularExpression digits(QStringLiteral("^[0-9]+([.][0-9]+)?$"));
    if (current == planned || !digits.match(current).hasMatch() || !number.match(planned).hasMatch())
        return QString();
    // Zeros put in front on purpose are the planner's.
    if (planned.startsWith(QLatin1Char('0')) && !planned.contains(QLatin1Char('.')) && !planned.contains(QLatin1Char('e'))
        && !planned.contains(QLatin1Char('E')))
        return QString();
    if (current.toDouble() != planned.toDouble())
        return QString();
    return isSecret(field)
               ? translate("%1: the planned value is the terminal's own as a spreadsheet rewrites a number (lost zeros?)")
                     .arg(columnName(field))
               : translate("%1: \"%2\" is the terminal's \"%3\" as a spreadsheet rewrites a number (lost zeros?)")
                     .arg(columnName(field), planned, current);
}

Preview preview(const Plan &plan, const QList<Found> &found, const QList<AddressHolder> &held)
{
    Preview out;
    // The found terminals by the MACs a row may name them by: the one they
    // report and the one their replies come from (rowIsFor).
    QHash<QString, QVector<int>> byMac;
    for (int k = 0; k < found.size(); ++k) {
        const QString reported = normalizeMac(found[k].device->macText), link = linkMacText(found[k].device);
        byMac[reported] << k;
        if (link != reported)
            byMac[link] << k;
    }
    QVector<bool> inPlan(found.size(), false);
    auto line = [&plan](int row) {
        return (plan.siteFile ? translate("terminal %1") : translate("line %1")).arg(plan.rows[row].line);
    };
    const QString notRead = translate("%1: the terminal's current values were not read");
    out.items.reserve(plan.rows.size());
    for (int r = 0; r < plan.rows.size(); ++r) {
        const Row &row = plan.rows[r];
        Item item;
        item.row = r;
        item.mac = row.mac;
        item.problems = row.problems;
        item.doubts = row.doubts;
        if (!row.sameMac.isEmpty()) {
            QStringList others;
            for (int l : row.sameMac)
                others << QString::number(l);
            item.problems << translate("terminals %1 of the file shared this MAC: no command can tell them apart (restore it onto a replacement by its UID %2)")
                                 .arg(others.join(QStringLiteral(", ")), row.uid);
        }
        const Found *match = nullptr;
        for (int k : byMac.value(row.mac)) {
            const FenwaDevice *d = found[k].device;
            inPlan[k] = true;
            if (match) {
                item.problems << translate("%1 and %2 both answer with this MAC: the plan cannot tell them apart")
                                     .arg(who(match->device), who(d));
                continue;
            }
            match = &found[k];
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
                    const QString problem = notRead.arg(stepName(kindOf(f)));
                    if (!item.problems.contains(problem))
                        item.problems << problem;
                    continue;
                }
                // A DHCP terminal's address is the server's to give, not the plan's.
                if (isIpField(f) && f != IpMode && !staticAfter)
                    continue;
                const QString now = f == NewMac ? row.mac : match->current.value(f);
                if (now == it.value())
                    continue;
                item.changes << Change{f, now, it.value()};
                const QString rewritten = numberRewritten(f, now, it.value());
                if (!rewritten.isEmpty())
                    item.doubts << rewritten;
            }
            // A cell the reader refused is named already; the pages' rules
            // over it would only say so again ("...; IP error").
            if (row.problems.isEmpty())
                item.problems << mergedProblems(item);
        }
        out.items << item;
    }
    for (int k = 0; k < found.size(); ++k)
        if (!inPlan[k])
            out.notInPlan << found[k].device;

    // Site rules, over where every terminal ends: who ends with each address
    // and each MAC, once, then each row against those.
    QSet<QString> planMacs;
    for (const Item &item : out.items)
        if (item.device)
            planMacs.insert(linkMacText(item.device));
    QHash<QString, QList<AddressHolder>> holders;
    for (const AddressHolder &h : addressHolders(out.notInPlan, {}))
        holders[h.ip] << h;
    for (const AddressHolder &h : held)
        if (h.mac.isEmpty() || !planMacs.contains(h.mac))
            holders[h.ip] << h;
    QHash<QString, const FenwaDevice *> outsideMacs;
    for (const FenwaDevice *d : out.notInPlan) {
        outsideMacs.insert(normalizeMac(d->macText), d);
        outsideMacs.insert(linkMacText(d), d);
    }
    auto finalIp = [](const Item &i) { return isStatic(i.merged) ? i.merged.value(Ip) : QString(); };
    auto finalMac = [](const Item &i) { return i.merged.value(NewMac, i.mac); };
    QHash<QString, QVector<int>> byIp, macUsers;
    for (int i = 0; i < out.items.size(); ++i) {
        const Item &item = out.items[i];
        const QString ip = finalIp(item);
        if (!ip.isEmpty())
            byIp[ip] << i;
        macUsers[finalMac(item)] << i;
        if (finalMac(item) != item.mac)
            macUsers[item.mac] << i;
    }
    // "line 3", or "line 3, line 9, line 12 and 40 more": a planner's copy
    // error can give every row one address.
    auto others = [&](const QVector<int> &users, int self) {
        QStringList named;
        int more = 0;
        for (int i : users) {
            if (i == self)
                continue;
            if (named.size() < 3)
                named << line(out.items[i].row);
            else
                ++more;
        }
        QString text = named.join(QStringLiteral(", "));
        if (more)
            text += QLatin1Char(' ') + translate("and %1 more").arg(more);
        return text;
    };
    for (int i = 0; i < out.items.size(); ++i) {
        Item &item = out.items[i];
        const QString ip = finalIp(item);
        const QString mac = finalMac(item);
        if (!ip.isEmpty() && byIp.value(ip).size() > 1)
            item.problems << translate("%1 is planned for %2 too").arg(ip, others(byIp.value(ip), i));
        if (mac != item.mac) {
            if (macUsers.value(mac).size() > 1)
                item.problems << translate("MAC %1 is planned for %2 too").arg(mac, others(macUsers.value(mac), i));
            if (const FenwaDevice *d = outsideMacs.value(mac))
                item.problems << translate("MAC %1 is held by %2, which is not in the plan").arg(mac, terminalLabel(d));
        }
        if (isNewAddress(item)) {
            const QString why =
                addressRefusal(ip, item.device ? linkMacText(item.device) : item.mac, holders.value(ip));
            if (!why.isEmpty())
                item.problems << translate("%1 is not free: %2").arg(ip, why);
        }
    }
    return out;
}

QStringList newAddresses(const Preview &preview)
{
    QStringList out;
    QSet<QString> seen;
    for (const Item &item : preview.items)
        if (item.device && isNewAddress(item) && !seen.contains(item.merged.value(Ip))) {
            seen.insert(item.merged.value(Ip));
            out << item.merged.value(Ip);
        }
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

Status statusOf(const Item &item)
{
    if (!item.problems.isEmpty())
        return {Outcome::Refused, item.problems.join(QStringLiteral("; "))};
    if (!item.device)
        return {Outcome::NotFound, QString()};
    if (item.changes.isEmpty())
        return {Outcome::Unchanged, QString()};
    if (!item.doubts.isEmpty())
        return {Outcome::Doubtful, item.doubts.join(QStringLiteral("; "))};
    return {Outcome::Ready, QString()};
}

QString statusText(const Status &s)
{
    switch (s.outcome) {
    case Outcome::Ready: return translate("ready");
    case Outcome::Unchanged: return translate("unchanged");
    case Outcome::Refused: return translate("refused: %1").arg(s.detail);
    case Outcome::Doubtful: return translate("check: %1").arg(s.detail);
    case Outcome::NotFound: return translate("not found");
    case Outcome::LeftOut: return translate("left out");
    case Outcome::Done: return translate("done");
    case Outcome::Failed: return translate("failed: %1").arg(s.detail);
    case Outcome::NotTried: return translate("not tried");
    }
    return QString();
}

const char *outcomeKey(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ready: return "ok";
    case Outcome::Unchanged: return "unchanged";
    case Outcome::Refused: return "refused";
    case Outcome::Doubtful: return "doubtful";
    case Outcome::NotFound: return "not found";
    case Outcome::LeftOut: return "left out";
    case Outcome::Done: return "done";
    case Outcome::Failed: return "failed";
    case Outcome::NotTried: return "not tried";
    }
    return "";
}

Status applied(const QList<Step> &list, const QList<FenwaBatch::Result> &results)
{
    if (list.isEmpty())
        return {Outcome::Unchanged, QString()};
    QStringList failed, untried;
    for (int i = 0; i < list.size(); ++i) {
        const FenwaBatch::Result r = results.value(i);
        if (r.state == FenwaBatch::NotTried)
            untried << stepName(list[i].kind);
        else if (!r.accepted())
            failed << QStringLiteral("%1: %2").arg(stepName(list[i].kind), r.failure());
    }
    if (failed.isEmpty() && untried.isEmpty())
        return {Outcome::Done, QString()};
    if (untried.size() == list.size())
        return {Outcome::NotTried, QString()};
    QString text = failed.isEmpty() ? translate("stopped") : failed.join(QStringLiteral("; "));
    if (!untried.isEmpty())
        text += translate("; not tried: %1").arg(untried.join(QStringLiteral(", ")));
    return {Outcome::Failed, text};
}

QList<FenwaRequest> requests(const QList<Step> &list)
{
    QList<FenwaRequest> out;
    for (const Step &s : list)
        out << stepRequest(s);
    return out;
}

void settle(FenwaDevice *device, const QList<Step> &list, const QList<FenwaBatch::Result> &results)
{
    for (int i = 0; i < list.size() && i < results.size(); ++i)
        if (results[i].accepted())
            stepAccepted(device, list[i]);
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
