// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliCommands.h"

#include "CliOptions.h"
#include "link/FenwaAddressProbe.h"
#include "link/FenwaDevice.h"
#include "link/FenwaFirmware.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"

#include <QVector>
#include <algorithm>
#include <cJSON.h>

namespace {

using namespace FenwaTerminal;

void addText(cJSON *obj, const char *key, const QString &value)
{
    cJSON_AddStringToObject(obj, key, value.toUtf8().constData());
}

bool intArg(const QString &text, const char *name, int *value, QString *error)
{
    bool ok = false;
    *value = text.toInt(&ok, 10);
    if (!ok)
        *error = QStringLiteral("%1 must be a whole number, not \"%2\"").arg(QLatin1String(name), text);
    return ok;
}

bool fitsCommand(const FenwaRequest &request, const char *what, QString *error)
{
    const bool fits = request.fits();
    if (!fits)
        *error = QStringLiteral("%1 is too long to send: a command holds at most %2 bytes")
                     .arg(QLatin1String(what))
                     .arg(FenwaRequest::COMMAND_BUFFER - 1);
    return fits;
}

// A setting as get-sip and get-rtp print it: its one JSON form.
cJSON *formJson(const QByteArray &text)
{
    cJSON *item = cJSON_Parse(text.constData());
    return item ? item : cJSON_CreateNull();
}

// One request for every target, nothing to write back, nothing to print.
CliPlan same(const FenwaRequest &request)
{
    return [request](int) { return CliStep{request, {}}; };
}

// One request for every target and a write-back of what it set.
template <typename Value>
CliPlan sameWith(const FenwaRequest &request, void (*accepted)(FenwaDevice *, const Value &), const Value &value)
{
    return [=](int) {
        return CliStep{request, [=](FenwaDevice *d, const FenwaReply *, bool ok, cJSON *) {
                           if (ok)
                               accepted(d, value);
                       }};
    };
}

// A command without arguments and without anything to write back.
template <FenwaRequest (*request)()>
CliPlan plain(const QStringList &, int, QString *)
{
    return same(request());
}

CliPlan setName(const QStringList &a, int count, QString *error)
{
    const QStringList names = nameValues(a[0], count, error);
    if (names.isEmpty())
        return {};
    return [names](int i) {
        return CliStep{FenwaRequest::setName(names[i]), [name = names[i]](FenwaDevice *d, const FenwaReply *, bool ok, cJSON *) {
                           if (ok)
                               nameAccepted(d, name);
                       }};
    };
}

CliPlan macPlan(const QStringList &macs)
{
    if (macs.isEmpty())
        return {};
    return [macs](int i) {
        return CliStep{FenwaRequest::setMac(macs[i]), [mac = macs[i]](FenwaDevice *d, const FenwaReply *, bool ok, cJSON *out) {
                           addText(out, "newMac", mac);
                           if (ok)
                               macAccepted(d, mac);
                       }};
    };
}

CliPlan setMac(const QStringList &a, int count, QString *error)
{
    return macPlan(macValues(a[0], count, error));
}

CliPlan setMacOnSite(const QStringList &a, const CliSite &site, QString *error)
{
    return macPlan(macValues(a[0], site.targets, site.found, error));
}

CliPlan setIpDhcp(const QStringList &, int, QString *)
{
    return [](int) {
        return CliStep{FenwaRequest::setIpDhcp(), [](FenwaDevice *d, const FenwaReply *, bool ok, cJSON *) {
                           if (ok)
                               dhcpAccepted(d);
                       }};
    };
}

CliPlan staticPlan(const QList<IpConfig> &configs)
{
    if (configs.isEmpty())
        return {};
    return [configs](int i) {
        const IpConfig c = configs[i];
        return CliStep{FenwaRequest::setIpStatic(c.ip, c.gateway, c.netmask, c.dns1, c.dns2),
                       [c](FenwaDevice *d, const FenwaReply *, bool ok, cJSON *out) {
                           addText(out, "newIp", c.ip);
                           if (ok)
                               staticIpAccepted(d, c);
                       }};
    };
}

CliPlan setIpStatic(const QStringList &a, int count, QString *error)
{
    return staticPlan(staticIpValues({a[0], a[1], a[2], a[3], a[4]}, count, error));
}

CliPlan setIpStaticOnSite(const QStringList &a, const CliSite &site, QString *error)
{
    QStringList macs;
    for (const FenwaDevice *d : site.targets)
        macs << linkMacText(d);
    FenwaAddressProbe probe(site.sdk);
    QList<SkippedAddress> skipped;
    const QList<IpConfig> configs =
        probedStaticIpValues(site.probe ? &probe : nullptr, {a[0], a[1], a[2], a[3], a[4]}, macs,
                             addressHolders(site.found, thisPcAddresses(site.sdk->currentAdapter())), &skipped, error);
    for (const SkippedAddress &s : skipped)
        *site.notes << QStringLiteral("skipped %1: %2").arg(s.ip, s.why);
    return staticPlan(configs);
}

CliPlan setAccount(const QStringList &a, int, QString *error)
{
    Account account;
    if (!accountValue(a[0], a[1], &account, error))
        return {};
    return sameWith(FenwaRequest::setAccountPassword(account.account, account.digest), accountAccepted, account);
}

CliPlan setVolume(const QStringList &a, int, QString *error)
{
    Volume v;
    if (!intArg(a[0], "MIC", &v.mic, error) || !intArg(a[1], "OUT", &v.out, error) ||
        !intArg(a[2], "AUTOMUTE", &v.autoMute, error) || !volumeValue(v, error))
        return {};
    return sameWith(FenwaRequest::setDeviceVolume(v.mic, v.out, v.autoMute), volumeAccepted, v);
}

CliPlan getSip(const QStringList &, int, QString *)
{
    return [](int) {
        return CliStep{FenwaRequest::getSipSettings(), [](FenwaDevice *, const FenwaReply *reply, bool, cJSON *out) {
                           SipSettings sip0, sip1;
                           if (reply)
                               FenwaRequest::readSip(*reply, &sip0, &sip1);
                           cJSON_AddItemToObject(out, "sip0", formJson(sip0.toJson()));
                           cJSON_AddItemToObject(out, "sip1", formJson(sip1.toJson()));
                       }};
    };
}

CliPlan setSip(const QStringList &a, int, QString *error)
{
    SipSettings sip0, sip1;
    if (!parseSipArgument(a[0], &sip0, &sip1, error))
        return {};
    if (!sipValue(sip0, sip1, error))
        return {};
    return [sip0, sip1](int) {
        return CliStep{FenwaRequest::setSipSettings(sip0, sip1), [sip0, sip1](FenwaDevice *d, const FenwaReply *, bool ok, cJSON *) {
                           if (ok)
                               sipAccepted(d, sip0, sip1);
                       }};
    };
}

CliPlan getRtp(const QStringList &, int, QString *)
{
    return [](int) {
        return CliStep{FenwaRequest::getRtpSettings(), [](FenwaDevice *, const FenwaReply *reply, bool, cJSON *out) {
                           RtpSettings channels[FENWA_RTP_CHANNELS];
                           if (reply)
                               FenwaRequest::readRtp(*reply, channels, FENWA_RTP_CHANNELS);
                           for (int i = 0; i < FENWA_RTP_CHANNELS; ++i)
                               cJSON_AddItemToObject(out, QStringLiteral("rtp%1").arg(i).toLatin1().constData(),
                                                     formJson(channels[i].toJson()));
                       }};
    };
}

CliPlan setRtp(const QStringList &a, int, QString *error)
{
    QList<RtpSettings> channels;
    if (!parseRtpArgument(a[0], &channels, error))
        return {};
    for (int i = 0; i < channels.size(); ++i) {
        const QString why = rtpRefusal(channels[i]);
        if (!why.isEmpty()) {
            *error = QStringLiteral("channel %1: %2").arg(i + 1).arg(why);
            return {};
        }
    }
    return sameWith(FenwaRequest::setRtpSettings(channels.toVector()), rtpAccepted, channels);
}

CliPlan setSn(const QStringList &a, int, QString *error)
{
    const FenwaRequest request = FenwaRequest::setSn(a[0]);
    if (!fitsCommand(request, "SN", error))
        return {};
    return same(request);
}

CliPlan setServer(const QStringList &a, int, QString *error)
{
    int port = 0;
    if (!intArg(a[1], "PORT", &port, error))
        return {};
    if (port < 0 || port > 65535) {
        *error = QStringLiteral("PORT must be a number from 0 to 65535, not \"%1\"").arg(a[1]);
        return {};
    }
    const FenwaRequest request = FenwaRequest::setServer(a[0], port);
    if (!fitsCommand(request, "IP", error))
        return {};
    return same(request);
}

CliPlan setDeviceInfo(const QStringList &a, int, QString *error)
{
    int power = 0;
    if (!intArg(a[3], "POWERLEVEL", &power, error))
        return {};
    const FenwaRequest request = FenwaRequest::setDeviceInfo(a[0], a[1], a[2], power, a[4], a[5], a[6], a[7]);
    if (!fitsCommand(request, "The device info", error))
        return {};
    return same(request);
}

// The file is checked here; the uploads themselves go over the web side
// (overWeb), as the firmware page's do.
CliPlan firmware(const QStringList &a, int, QString *error)
{
    if (!FenwaFirmware::fileValue(a[0], error))
        return {};
    return same(FenwaRequest());
}

const CliCommand kCommands[] = {
    {"search", "", 0, nullptr,
     "lists every terminal that answers, one JSON line each (--csv: CSV with a header; --xlsx FILE: also\n"
     "writes the sheet as a workbook)",
     "fenwa-cli search --csv"},
    {"watch", "", 0, nullptr,
     "searches, then again every --interval seconds, and prints a JSON line per event: appeared, changed\n"
     "(old and new values), offline (two rounds without an answer), back; a summary line at the end",
     "fenwa-cli watch --interval 10 --for 3600"},
    {"report", "FILE", 1, nullptr,
     "the handover report of the site, FILE.pdf or FILE.html: every terminal with its addresses, version,\n"
     "SIP accounts (no passwords), RTP channels and volumes, a summary by type and version, conflicts\n"
     "(--site NAME once: remembered, as in the workbench)",
     "fenwa-cli report site.pdf --site \"Harbour Hotel\""},
    {"set-name", "NAME", 1, setName, "names the targets", "fenwa-cli set-name \"Hall A\" --mac 02:fe:00:00:00:01"},
    {"set-mac", "MAC", 1, setMac,
     "gives the first target MAC, each further one the next MAC up; refused when one is another terminal's MAC",
     "fenwa-cli set-mac 02:fe:00:00:01:00 --all", FenwaSDK::REPLY_TIMEOUT_MS, setMacOnSite},
    {"set-ip-dhcp", "", 0, setIpDhcp, "lets the targets take their address from DHCP", "fenwa-cli set-ip-dhcp --all"},
    {"set-ip-static", "IP GATEWAY NETMASK DNS1 DNS2", 5, setIpStatic,
     "a static address; further targets get the next free ones of the subnet (DNS2 may be \"\"):\n"
     "never this PC's, another terminal's or one that answers an ARP probe (--no-probe: no probe)",
     "fenwa-cli set-ip-static 192.168.1.200 192.168.1.1 255.255.255.0 192.168.1.1 \"\" --all",
     FenwaSDK::REPLY_TIMEOUT_MS, setIpStaticOnSite},
    {"set-account", "ACCOUNT PASSWORD", 2, setAccount, "the web account; the password goes out as its MD5 digest",
     "fenwa-cli set-account admin 'n3w pass' --all"},
    {"reset-default", "", 0, plain<&FenwaRequest::resetDefault>,
     "restores the factory settings (the terminal restarts; --wait SECONDS waits for it)",
     "fenwa-cli reset-default --mac 02:fe:00:00:00:01", FenwaSDK::REPLY_TIMEOUT_MS, nullptr, false, true},
    {"reboot", "", 0, plain<&FenwaRequest::reboot>,
     "restarts the targets; --wait SECONDS then says which answer again within that time",
     "fenwa-cli reboot --all --wait 120", FenwaSDK::REPLY_TIMEOUT_MS, nullptr, false, true},
    {"play-volume", "", 0, plain<&FenwaRequest::playVolume>, "plays the test sound",
     "fenwa-cli play-volume --mac 02:fe:00:00:00:01"},
    {"set-volume", "MIC OUT AUTOMUTE", 3, setVolume, "microphone and speaker 0 to 100, auto mute 0 or 1",
     "fenwa-cli set-volume 60 80 1 --all"},
    {"get-sip", "", 0, getSip, "prints both SIP accounts as set-sip takes them",
     "fenwa-cli get-sip --mac 02:fe:00:00:00:01"},
    {"set-sip", "JSON", 1, setSip,
     "both SIP accounts, every field given:\n"
     "{\"sip0\":{\"serverHost\":TEXT,\"serverPort\":TEXT,\"account\":TEXT,\"password\":TEXT,\"displayName\":TEXT},"
     "\"sip1\":{...}}\n"
     "or [{sip0's fields},{sip1's fields}]; serverPort may also be a number",
     "fenwa-cli set-sip '{\"sip0\":{\"serverHost\":\"10.0.0.9\",\"serverPort\":\"5060\",\"account\":\"801\","
     "\"password\":\"pw\",\"displayName\":\"Hall\"},\"sip1\":{\"serverHost\":\"\",\"serverPort\":\"\",\"account\":\"\","
     "\"password\":\"\",\"displayName\":\"\"}}' --all"},
    {"get-rtp", "", 0, getRtp, "prints the ten RTP channels as set-rtp takes them",
     "fenwa-cli get-rtp --mac 02:fe:00:00:00:01"},
    {"set-rtp", "JSON", 1, setRtp,
     "RTP channels, every field given: [{\"enable\":0|1,\"rtpIP\":IPV4 or \"\",\"rtpPort\":0-65535}, ...]\n"
     "writes channels 0 on (one to ten of them); {\"rtp0\":{...}, ..., \"rtp9\":{...}} writes all ten",
     "fenwa-cli set-rtp '[{\"enable\":1,\"rtpIP\":\"239.1.1.1\",\"rtpPort\":6000}]' --all"},
    {"set-sn", "SN", 1, setSn, "the serial number", "fenwa-cli set-sn VQ40-0001 --mac 02:fe:00:00:00:01"},
    {"set-server", "IP PORT", 2, setServer, "the management server", "fenwa-cli set-server 10.0.0.9 8080 --all"},
    {"set-device-info",
     "AREACODE NUMBER NAME POWERLEVEL RESOURCETYPESEQ RESOURCESONTYPESEQ RESOURCETYPE RESOURCESONTYPE", 8,
     setDeviceInfo, "the directory entry and resource codes",
     "fenwa-cli set-device-info 0571 8001 Hall 1 01 02 03 04 --mac 02:fe:00:00:00:01"},
    {"backup", "", 0, nullptr,
     "prints the targets' settings, SIP accounts and RTP channels included, as one site file (JSON;\n"
     "per-terminal failures on stderr); --output FILE writes it there, readable by you alone; the file\n"
     "holds the SIP passwords in clear unless --no-passwords leaves them out",
     "fenwa-cli backup --all --output site.json"},
    {"plan", "check|apply FILE", 2, nullptr,
     "a site plan (a sheet, or a site file of backup): check shows per terminal what would change and\n"
     "every problem (exit 1 on any); apply sends each terminal only what changes (--dry-run: nothing),\n"
     "--skip-refused leaves rows with problems out, --as-written sends values a spreadsheet may have\n"
     "rewritten (0801 read as 801, a formula's value), --result FILE saves the plan with an outcome column\n"
     "(.xlsx: a workbook; readable by you alone), --from MAC|UID --onto MAC puts one backed-up terminal\n"
     "onto its replacement (--take-mac: its MAC too). FILE: CSV, a workbook (.xlsx) or a site file",
     "fenwa-cli plan apply site-plan.csv --result site-result.csv"},
    {"firmware", "FILE", 1, firmware,
     "logs in to each target's web side with the account it reported and uploads FILE, several targets at\n"
     "once (--parallel N, default 4); --wait SECONDS then says which came back with which version",
     "fenwa-cli firmware fw-2.5.0.bin --all --parallel 8 --wait 300", 10000, nullptr, true, true},
};

} // namespace

const CliCommand *cliCommands(int *count)
{
    if (count)
        *count = static_cast<int>(sizeof kCommands / sizeof kCommands[0]);
    return kCommands;
}

const CliCommand *findCliCommand(const QString &name)
{
    for (const CliCommand &c : kCommands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}
