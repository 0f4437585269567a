// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaTerminal.h"

#include "FenwaDevice.h"
#include "FenwaSDK.h"
#include "OrbUtils/OrbTranslate.h"

#include <QCryptographicHash>
#include <cJSON.h>
#include <QRegularExpression>
#include <QMultiHash>
#include <QSet>
#include <QVector>
#include <algorithm>
#include <cstring>

namespace FenwaTerminal {

namespace {
const quint64 kMacMax = 0xffffffffffffULL;

// The 48-bit value of a MAC text; false when text is not one.
bool macValue(const QString &text, quint64 *value)
{
    const QString m = normalizeMac(text);
    if (m.isEmpty())
        return false;
    *value = QString(m).remove(QLatin1Char(':')).toULongLong(nullptr, 16);
    return true;
}

QString macText(quint64 value)
{
    QString out;
    for (int i = 5; i >= 0; --i)
        out += QString::asprintf(i ? "%02x:" : "%02x", unsigned((value >> (8 * i)) & 0xff));
    return out;
}

bool ipv4Value(const QString &text, quint32 *value)
{
    if (!isIpv4Text(text))
        return false;
    quint32 v = 0;
    for (const QString &part : text.split(QLatin1Char('.')))
        v = (v << 8) | part.toUInt();
    *value = v;
    return true;
}

QString ipv4Text(quint32 v)
{
    return QString::asprintf("%u.%u.%u.%u", v >> 24, (v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff);
}

// Why the holders of one address keep it from the terminal with link MAC
// mac: every reason but that terminal's own, once each.
QString reasonsAgainst(const QList<const AddressHolder *> &holders, const QString &mac)
{
    QStringList why;
    for (const AddressHolder *h : holders)
        if ((h->mac.isEmpty() || h->mac != mac) && !why.contains(h->why))
            why << h->why;
    return why.join(QStringLiteral("; "));
}

// A netmask is ones then zeros, and at least one of each end: /1 to /32.
bool isNetmask(quint32 mask)
{
    const quint32 hosts = ~mask;
    return mask != 0 && (hosts & (hosts + 1)) == 0;
}
} // namespace

bool isSupportedType(const QString &type)
{
    return type.compare(QLatin1String("VQ40"), Qt::CaseInsensitive) == 0 ||
           type.compare(QLatin1String("VQT40"), Qt::CaseInsensitive) == 0;
}

int compareMacText(const QString &a, const QString &b)
{
    quint64 va = 0, vb = 0;
    const bool ma = macValue(a, &va), mb = macValue(b, &vb);
    if (ma && mb)
        return va < vb ? -1 : va > vb ? 1 : 0;
    if (ma != mb)
        return ma ? -1 : 1;
    return a.compare(b, Qt::CaseInsensitive);
}

bool sameTerminal(const FenwaDevice *a, const FenwaDevice *b)
{
    return a && b && std::memcmp(a->mac, b->mac, 6) == 0 && a->uid == b->uid && a->sn == b->sn;
}

QString terminalKey(const FenwaDevice *device)
{
    // The uid's length keeps "ab"+"c" and "a"+"bc" apart.
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(device->mac), 6).toHex()) +
           QString::number(device->uid.size()) + QLatin1Char(':') + device->uid + device->sn;
}

void keepOnePerTerminal(QList<FenwaDevice *> *devices)
{
    QList<FenwaDevice *> kept;
    for (FenwaDevice *device : *devices) {
        const bool seen = std::any_of(kept.cbegin(), kept.cend(),
                                      [device](const FenwaDevice *k) { return sameTerminal(k, device); });
        if (seen)
            device->release();
        else
            kept.append(device);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const FenwaDevice *a, const FenwaDevice *b) {
        return compareMacText(a->macText, b->macText) < 0;
    });
    *devices = kept;
}

int keepSupported(QList<FenwaDevice *> *replies, QList<FenwaDevice *> *found)
{
    QList<FenwaDevice *> supported = *found;
    QSet<QByteArray> others;
    for (FenwaDevice *device : *replies) {
        if (isSupportedType(device->type)) {
            supported.append(device);
        } else {
            others.insert(QByteArray(reinterpret_cast<const char *>(device->mac), 6));
            device->release();
        }
    }
    replies->clear();
    keepOnePerTerminal(&supported);
    *found = supported;
    return others.size();
}

QHash<const FenwaDevice *, Conflicts> conflictsOf(const QList<FenwaDevice *> &devices)
{
    // Groups in table order, so that a tooltip names the others as listed.
    QHash<QString, QList<const FenwaDevice *>> byMac, byIp;
    for (const FenwaDevice *d : devices) {
        byMac[linkMacText(d)] << d;
        quint32 v = 0;
        if (ipv4Value(d->ip, &v) && v != 0)
            byIp[d->ip] << d;
    }
    QHash<const FenwaDevice *, Conflicts> out;
    auto note = [&out](const QHash<QString, QList<const FenwaDevice *>> &groups,
                       QList<const FenwaDevice *> Conflicts::*list, int Conflicts::*more) {
        for (const QList<const FenwaDevice *> &sharing : groups) {
            if (sharing.size() < 2)
                continue;
            for (const FenwaDevice *d : sharing) {
                Conflicts &c = out[d];
                for (int k = 0; k < sharing.size() && (c.*list).size() < CONFLICTS_NAMED; ++k)
                    if (sharing[k] != d)
                        (c.*list) << sharing[k];
                c.*more = int(sharing.size()) - 1 - int((c.*list).size());
            }
        }
    };
    note(byMac, &Conflicts::sameMac, &Conflicts::moreMac);
    note(byIp, &Conflicts::sameIp, &Conflicts::moreIp);
    return out;
}

void countConflicts(const QHash<const FenwaDevice *, Conflicts> &conflicts, int *sharingMac, int *sharingIp)
{
    *sharingMac = *sharingIp = 0;
    for (const Conflicts &c : conflicts) {
        *sharingMac += c.sameMac.isEmpty() ? 0 : 1;
        *sharingIp += c.sameIp.isEmpty() ? 0 : 1;
    }
}

bool isMacText(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}$"));
    return re.match(text).hasMatch();
}

QString normalizeMac(const QString &text)
{
    if (!isMacText(text))
        return QString();
    return text.toLower().replace(QLatin1Char('-'), QLatin1Char(':'));
}

QString macRefusal(const QString &text)
{
    quint64 v = 0;
    if (!macValue(text, &v))
        return translate("The MAC must be six hexadecimal pairs such as 02:fe:00:00:00:10");
    if (v == 0)
        return translate("An all-zero MAC cannot be a terminal's address");
    if (v == kMacMax)
        return translate("The broadcast MAC cannot be a terminal's address");
    if ((v >> 40) & 1)
        return translate("A group (multicast) MAC cannot be a terminal's address");
    return QString();
}

bool isIpv4Text(const QString &text)
{
    static const QRegularExpression re(QStringLiteral(
        "^((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[0-9])[.]){3}(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[0-9])$"));
    return re.match(text).hasMatch();
}

QStringList nameValues(const QString &typed, int count, QString *notice)
{
    if (typed.trimmed().isEmpty()) {
        *notice = translate("Please input device name");
        return {};
    }
    if (!FenwaRequest::setName(typed).fits()) {
        *notice = translate("The name is too long to send: shorten it");
        return {};
    }
    QStringList values;
    for (int i = 0; i < count; ++i)
        values << typed;
    return values;
}

QStringList macValues(const QString &typed, int count, QString *notice)
{
    if (typed.isEmpty()) {
        *notice = translate("Please input device mac");
        return {};
    }
    *notice = macRefusal(typed);
    if (!notice->isEmpty())
        return {};
    if (count == 1)
        return {typed};
    quint64 first = 0;
    macValue(typed, &first);
    QStringList values;
    for (int i = 0; i < count; ++i) {
        const quint64 v = first + quint64(i);
        const QString text = macText(v);
        if (v > kMacMax || !macRefusal(text).isEmpty()) {
            *notice = translate("Counting up from %1 for %2 terminals reaches %3, which cannot be a terminal's MAC")
                          .arg(macText(first))
                          .arg(count)
                          .arg(v > kMacMax ? translate("past ff:ff:ff:ff:ff:ff") : text);
            return {};
        }
        values << text;
    }
    return values;
}

QString terminalLabel(const FenwaDevice *device)
{
    return QStringLiteral("%1 (%2)").arg(device->name, linkMacText(device));
}

QString linkMacText(const FenwaDevice *device)
{
    return linkMacText(device->mac);
}

quint64 macKey(const uint8_t mac[6])
{
    quint64 key = 0;
    for (int i = 0; i < 6; ++i)
        key = (key << 8) | mac[i];
    return key;
}

QString linkMacText(const uint8_t mac[6])
{
    return macText(macKey(mac));
}

QList<AddressHolder> addressHolders(const QList<FenwaDevice *> &table, const QStringList &ownAddresses)
{
    QList<AddressHolder> held;
    for (const QString &ip : ownAddresses)
        held << AddressHolder{ip, QString(), translate("this PC")};
    for (const FenwaDevice *d : table) {
        // A terminal waiting for a lease reports nothing, or 0.0.0.0.
        quint32 v = 0;
        if (ipv4Value(d->ip, &v) && v != 0)
            held << AddressHolder{d->ip, linkMacText(d), translate("in use by %1").arg(terminalLabel(d))};
    }
    return held;
}

AddressHolder probeAnswer(const QString &ip, const QString &mac, ArpHeard how)
{
    const QString why = how == ArpHeard::Answers ? translate("answers ARP from %1")
        : how == ArpHeard::Sends                 ? translate("sends ARP from %1")
                                                 : translate("probes for it from %1");
    return AddressHolder{ip, mac, why.arg(mac)};
}

QString addressRefusal(const QString &ip, const QString &mac, const QList<AddressHolder> &held)
{
    QList<const AddressHolder *> holders;
    for (const AddressHolder &h : held)
        if (h.ip == ip)
            holders << &h;
    return reasonsAgainst(holders, mac);
}

QStringList macValues(const QString &typed, const QList<FenwaDevice *> &targets, const QList<FenwaDevice *> &table,
                      QString *notice)
{
    const QStringList values = macValues(typed, targets.size(), notice);
    QMultiHash<QString, const FenwaDevice *> holders;
    for (const FenwaDevice *d : table) {
        holders.insert(linkMacText(d), d);
        const QString reported = normalizeMac(d->macText);
        if (!reported.isEmpty() && reported != linkMacText(d))
            holders.insert(reported, d);
    }
    for (int i = 0; i < values.size(); ++i) {
        for (const FenwaDevice *holder : holders.values(normalizeMac(values[i]))) {
            if (holder == targets[i])
                continue;
            *notice = values.size() == 1
                ? translate("%1 is the MAC of %2").arg(values[i], terminalLabel(holder))
                : translate("Counting up from %1 for %2 terminals reaches %3, the MAC of %4; nothing was sent")
                      .arg(values.first())
                      .arg(values.size())
                      .arg(values[i], terminalLabel(holder));
            return {};
        }
    }
    return values;
}

QList<IpConfig> staticIpValues(const IpConfig &typed, int count, QString *notice)
{
    QList<SkippedAddress> skipped;
    return staticIpValues(typed, QVector<QString>(count).toList(), {}, &skipped, notice);
}

QList<IpConfig> staticIpValues(const IpConfig &typed, const QStringList &targetMacs,
                               const QList<AddressHolder> &held, QList<SkippedAddress> *skipped, QString *notice)
{
    skipped->clear();
    const int count = targetMacs.size();
    quint32 ip = 0, gateway = 0, mask = 0, dns1 = 0, dns2 = 0;
    if (!ipv4Value(typed.ip, &ip))
        *notice = translate("IP error");
    else if (!ipv4Value(typed.gateway, &gateway))
        *notice = translate("Gateway error");
    else if (!ipv4Value(typed.netmask, &mask) || !isNetmask(mask))
        *notice = translate("Netmask error");
    else if (!ipv4Value(typed.dns1, &dns1))
        *notice = translate("Dns1 error");
    else if (!typed.dns2.isEmpty() && !ipv4Value(typed.dns2, &dns2))
        *notice = translate("Dns2 error");
    if (!notice->isEmpty())
        return {};

    // A /31 or /32 has no network and broadcast address to avoid.
    const quint64 size = quint64(~mask) + 1;
    const quint32 network = ip & mask;
    const bool edges = size >= 4;
    auto usable = [&](quint32 a) {
        if (edges && (a == network || a == quint32(network + size - 1)))
            return false;
        return a != gateway && a != dns1 && (typed.dns2.isEmpty() || a != dns2);
    };
    if (edges && (ip == network || ip == quint32(network + size - 1))) {
        *notice = translate("%1 is the network or broadcast address of its subnet").arg(typed.ip);
        return {};
    }
    if (!usable(ip)) {
        *notice = translate("%1 is the gateway's or a DNS server's address").arg(typed.ip);
        return {};
    }
    QMultiHash<quint32, const AddressHolder *> holders;
    for (const AddressHolder &h : held) {
        quint32 v = 0;
        if (ipv4Value(h.ip, &v))
            holders.insert(v, &h);
    }
    auto refusal = [&holders](quint32 a, const QString &mac) { return reasonsAgainst(holders.values(a), mac); };
    if (count == 1) {
        const QString why = refusal(ip, targetMacs.first());
        if (!why.isEmpty()) {
            *notice = translate("%1 is not free: %2").arg(typed.ip, why);
            return {};
        }
    }
    QList<IpConfig> values;
    for (quint64 k = 0; k < size && values.size() < count; ++k) {
        const quint32 a = network + quint32((quint64(ip - network) + k) % size);
        if (!usable(a))
            continue;
        const QString why = refusal(a, targetMacs.at(values.size()));
        if (!why.isEmpty()) {
            skipped->append(SkippedAddress{ipv4Text(a), why});
            continue;
        }
        IpConfig c = typed;
        c.ip = ipv4Text(a);
        values << c;
    }
    if (values.size() < count) {
        *notice = translate("The subnet of %1 has free addresses for %2 of the %3 terminal; nothing was sent",
                            "The subnet of %1 has free addresses for %2 of the %3 terminals; nothing was sent", count)
                      .arg(typed.ip)
                      .arg(values.size())
                      .arg(count);
        skipped->clear();
        return {};
    }
    return values;
}

namespace {
// Masks the password texts below object; true when it masked any.
bool maskBelow(cJSON *object)
{
    bool masked = false;
    for (cJSON *item = object ? object->child : nullptr; item; item = item->next) {
        for (cJSON *inner = cJSON_IsObject(item) || cJSON_IsArray(item) ? item->child : nullptr; inner;
             inner = inner->next) {
            if (inner->string && std::strcmp(inner->string, "password") == 0 && cJSON_IsString(inner)) {
                cJSON_SetValuestring(inner, "***");
                masked = true;
            }
        }
        masked = maskBelow(item) || masked;
    }
    return masked;
}
} // namespace

QByteArray maskedText(const char *text)
{
    if (text == nullptr || std::strstr(text, "password") == nullptr)
        return QByteArray(text);
    cJSON *json = cJSON_Parse(text);
    if (json == nullptr) {
        static const QRegularExpression any(QStringLiteral("(\"password\"\\s*:\\s*\")(?:[^\"\\\\]|\\\\.)*\""));
        return QString::fromUtf8(text).replace(any, QStringLiteral("\\1***\"")).toUtf8();
    }
    QByteArray out(text);
    if (maskBelow(json)) {
        char *printed = cJSON_PrintUnformatted(json);
        out = printed ? QByteArray(printed) : QByteArray("{}");
        cJSON_free(printed);
    }
    cJSON_Delete(json);
    return out;
}

QString passwordDigest(const QString &password)
{
    return QString::fromLatin1(QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
}

bool accountValue(const QString &account, const QString &password, Account *out, QString *notice)
{
    if (account.isEmpty())
        *notice = translate("Please input account");
    else if (password.isEmpty())
        *notice = translate("Please input password");
    if (!notice->isEmpty())
        return false;
    const Account value{account, passwordDigest(password)};
    if (!FenwaRequest::setAccountPassword(value.account, value.digest).fits()) {
        *notice = translate("The account is too long to send: shorten it");
        return false;
    }
    *out = value;
    return true;
}

bool volumeValue(const Volume &v, QString *notice)
{
    if (v.mic < 0 || v.mic > 100 || v.out < 0 || v.out > 100 || (v.autoMute != 0 && v.autoMute != 1))
        *notice = translate("Volumes go from 0 to 100 and auto mute is 0 or 1");
    return notice->isEmpty();
}

bool isHostName(const QString &text)
{
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]+$"));
    if (text.isEmpty() || text.size() > 253)
        return false;
    if (numeric.match(text).hasMatch())
        return isIpv4Text(text);
    const QStringList labels = text.split(QLatin1Char('.'));
    return std::all_of(labels.cbegin(), labels.cend(), [](const QString &l) { return label.match(l).hasMatch(); });
}

bool sipValue(const SipSettings &first, const SipSettings &second, QString *notice)
{
    char json[FENWA_SIP_JSON_MAX];
    const SipSettings *accounts[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        const SipSettings &a = *accounts[i];
        const bool inUse = !a.account.isEmpty() || !a.serverHost.isEmpty();
        bool ok = false;
        const int port = a.serverPort.toInt(&ok, 10);
        const bool digits = !a.serverPort.isEmpty() && std::all_of(a.serverPort.cbegin(), a.serverPort.cend(),
                                                                   [](QChar c) { return c >= '0' && c <= '9'; });
        if ((inUse || !a.serverPort.isEmpty()) && !(digits && ok && port >= 1 && port <= 65535))
            *notice = translate("Sip Account %1: the server port must be a number from 1 to 65535").arg(i + 1);
        else if ((!a.account.isEmpty() || !a.serverHost.isEmpty()) && !isHostName(a.serverHost))
            *notice = translate("Sip Account %1: the server host must be an IPv4 address or a host name").arg(i + 1);
        else if (a.password == QLatin1String("***"))
            *notice = translate("Sip Account %1: *** is how logs hide a password; type the password itself").arg(i + 1);
        else if (a.toJson(json, sizeof json) < 0)
            *notice = translate("Sip Account %1 is too long to send: shorten its texts").arg(i + 1);
        if (!notice->isEmpty())
            return false;
    }
    return true;
}

QString rtpChannelText(const RtpSettings &c)
{
    if (c.rtpIP.isEmpty())
        return QString();
    return c.rtpPort != 0 ? QStringLiteral("%1:%2").arg(c.rtpIP).arg(c.rtpPort) : c.rtpIP;
}

bool rtpChannelFromText(const QString &typed, RtpSettings *channel, QString *why)
{
    const QString text = typed.trimmed();
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    RtpSettings c;
    c.enable = 1;
    c.rtpIP = colon > 0 ? text.left(colon) : text;
    const QString port = colon > 0 ? text.mid(colon + 1) : QString();
    bool ok = true;
    c.rtpPort = port.isEmpty() ? 0 : port.toInt(&ok, 10);
    if (!ok || port.startsWith(QLatin1Char('+')) || port.startsWith(QLatin1Char('-'))) {
        *why = translate("%1 is not a port number").arg(port);
        return false;
    }
    *why = rtpRefusal(c);
    if (!why->isEmpty())
        return false;
    *channel = c;
    return true;
}

QString rtpRefusal(const RtpSettings &c)
{
    if (!c.rtpIP.isEmpty() && !isIpv4Text(c.rtpIP))
        return translate("%1 is not an IPv4 address").arg(c.rtpIP);
    if (c.rtpPort < 0 || c.rtpPort > 65535)
        return translate("%1 is not a port number").arg(c.rtpPort);
    return QString();
}

QList<RtpSettings> rtpValues(const QStringList &texts, QString *notice)
{
    QList<RtpSettings> channels;
    for (int i = 0; i < texts.size() && i < FENWA_RTP_CHANNELS; ++i) {
        RtpSettings c;
        QString why;
        if (!rtpChannelFromText(texts[i], &c, &why)) {
            *notice = translate("Channel %1: %2").arg(i + 1).arg(why);
            return {};
        }
        channels << c;
    }
    return channels;
}

void nameAccepted(FenwaDevice *device, const QString &name)
{
    device->name = name;
}

void macAccepted(FenwaDevice *device, const QString &mac)
{
    device->macText = mac;
    device->setMacFromText(mac);
}

void dhcpAccepted(FenwaDevice *device)
{
    // The address the terminal leases is not known until the next search.
    device->ipMode = QStringLiteral("dhcp");
}

void staticIpAccepted(FenwaDevice *device, const IpConfig &c)
{
    // The link address stays: commands reach the terminal by its MAC.
    device->ipMode = QStringLiteral("static");
    device->ip = c.ip;
    device->gateway = c.gateway;
    device->netmask = c.netmask;
    device->dns1 = c.dns1;
    device->dns2 = c.dns2;
}

void volumeAccepted(FenwaDevice *device, const Volume &v)
{
    device->setExtraInt(QStringLiteral("micVolume"), v.mic);
    device->setExtraInt(QStringLiteral("outVolume"), v.out);
    device->setExtraInt(QStringLiteral("autoMute"), v.autoMute);
}

void accountAccepted(FenwaDevice *device, const Account &a)
{
    device->setAccount(a.account);
    device->setPassword(a.digest);
}

void sipAccepted(FenwaDevice *device, const SipSettings &first, const SipSettings &second)
{
    const SipSettings *complete = first.isComplete() ? &first : second.isComplete() ? &second : nullptr;
    device->setExtra(QStringLiteral("sipInfo"),
                     complete ? QStringLiteral("%1@%2").arg(complete->account, complete->serverHost) : QString());
}

void rtpAccepted(FenwaDevice *device, const QList<RtpSettings> &channels)
{
    QString info;
    for (const RtpSettings &c : channels) {
        if (c.isSet()) {
            info = QStringLiteral("%1:%2").arg(c.rtpIP).arg(c.rtpPort);
            break;
        }
    }
    device->setExtra(QStringLiteral("rtpInfo"), info);
}

void reportedAgain(FenwaDevice *device, const FenwaDevice *fresh)
{
    if (device == fresh)
        return;
    std::memcpy(device->address, fresh->address, 4);
    for (QString FenwaDevice::*field : {&FenwaDevice::macText, &FenwaDevice::name, &FenwaDevice::type,
                                        &FenwaDevice::ipMode, &FenwaDevice::version, &FenwaDevice::ip,
                                        &FenwaDevice::gateway, &FenwaDevice::netmask, &FenwaDevice::dns1,
                                        &FenwaDevice::dns2})
        device->*field = fresh->*field;
    for (auto it = fresh->extras.constBegin(); it != fresh->extras.constEnd(); ++it)
        device->extras.insert(it.key(), it.value());
}

} // namespace FenwaTerminal
