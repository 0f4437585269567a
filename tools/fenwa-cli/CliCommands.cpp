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

// length is what a command text builder returned for the longest id.
bool fitsCommand(int length, const char *what, QString *error)
{
    if (length < 0)
        *error = QStringLiteral("%1 is too long to send: a command holds at most %2 bytes")
                     .arg(QLatin1String(what))
                     .arg(FenwaSDK::COMMAND_BUFFER - 1);
    return length >= 0;
}

// A setting as get-sip and get-rtp print it: its one JSON form.
cJSON *formJson(const QByteArray &text)
{
    cJSON *item = cJSON_Parse(text.constData());
    return item ? item : cJSON_CreateNull();
}

// A command without arguments and without anything to write back.
template <int (FenwaSDK::*command)(FenwaDevice *)>
CliRunner plain(const QStringList &, int, QString *)
{
    return [](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) { return (sdk->*command)(d); };
}

CliRunner setName(const QStringList &a, int count, QString *error)
{
    const QStringList names = nameValues(a[0], count, error);
    if (names.isEmpty())
        return {};
    return [names](FenwaSDK *sdk, FenwaDevice *d, int i, cJSON *) {
        const int rc = sdk->setName(d, names[i]);
        if (rc == 0)
            nameAccepted(d, names[i]);
        return rc;
    };
}

CliRunner macRunner(const QStringList &macs)
{
    if (macs.isEmpty())
        return {};
    return [macs](FenwaSDK *sdk, FenwaDevice *d, int i, cJSON *out) {
        addText(out, "newMac", macs[i]);
        const int rc = sdk->setMac(d, macs[i]);
        if (rc == 0)
            macAccepted(d, macs[i]);
        return rc;
    };
}

CliRunner setIpDhcp(const QStringList &, int, QString *)
{
    return [](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) {
        const int rc = sdk->setIpDhcp(d);
        if (rc == 0)
            dhcpAccepted(d);
        return rc;
    };
}

CliRunner setMac(const QStringList &a, int count, QString *error)
{
    return macRunner(macValues(a[0], count, error));
}

CliRunner setMacOnSite(const QStringList &a, const CliSite &site, QString *error)
{
    return macRunner(macValues(a[0], site.targets, site.found, error));
}

CliRunner staticRunner(const QList<IpConfig> &configs)
{
    if (configs.isEmpty())
        return {};
    return [configs](FenwaSDK *sdk, FenwaDevice *d, int i, cJSON *out) {
        const IpConfig &c = configs[i];
        addText(out, "newIp", c.ip);
        const int rc = sdk->setIpStatic(d, c.ip, c.gateway, c.netmask, c.dns1, c.dns2);
        if (rc == 0)
            staticIpAccepted(d, c);
        return rc;
    };
}

CliRunner setIpStatic(const QStringList &a, int count, QString *error)
{
    return staticRunner(staticIpValues({a[0], a[1], a[2], a[3], a[4]}, count, error));
}

CliRunner setIpStaticOnSite(const QStringList &a, const CliSite &site, QString *error)
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
    return staticRunner(configs);
}

CliRunner setAccount(const QStringList &a, int, QString *error)
{
    Account account;
    if (!accountValue(a[0], a[1], &account, error))
        return {};
    return [account](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) {
        const int rc = sdk->setAccountPassword(d, account.account, account.digest);
        if (rc == 0)
            accountAccepted(d, account);
        return rc;
    };
}

CliRunner setVolume(const QStringList &a, int, QString *error)
{
    Volume v;
    if (!intArg(a[0], "MIC", &v.mic, error) || !intArg(a[1], "OUT", &v.out, error) ||
        !intArg(a[2], "AUTOMUTE", &v.autoMute, error) || !volumeValue(v, error))
        return {};
    return [v](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) {
        const int rc = sdk->setDeviceVolume(d, v.mic, v.out, v.autoMute);
        if (rc == 0)
            volumeAccepted(d, v);
        return rc;
    };
}

CliRunner getSip(const QStringList &, int, QString *)
{
    return [](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *out) {
        SipSettings sip0, sip1;
        const int rc = sdk->getSipSettings(d, &sip0, &sip1);
        cJSON_AddItemToObject(out, "sip0", formJson(sip0.toJson()));
        cJSON_AddItemToObject(out, "sip1", formJson(sip1.toJson()));
        return rc;
    };
}

CliRunner setSip(const QStringList &a, int, QString *error)
{
    SipSettings sip0, sip1;
    if (!parseSipArgument(a[0], &sip0, &sip1, error))
        return {};
    if (!sipValue(sip0, sip1, error))
        return {};
    return [sip0, sip1](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) {
        const int rc = sdk->setSipSettings(d, sip0, sip1);
        if (rc == 0)
            sipAccepted(d, sip0, sip1);
        return rc;
    };
}

CliRunner getRtp(const QStringList &, int, QString *)
{
    return [](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *out) {
        RtpSettings channels[FENWA_RTP_CHANNELS];
        const int rc = sdk->getRtpSettings(d, channels, FENWA_RTP_CHANNELS);
        for (int i = 0; i < FENWA_RTP_CHANNELS; ++i)
            cJSON_AddItemToObject(out, QStringLiteral("rtp%1").arg(i).toLatin1().constData(),
                                  formJson(channels[i].toJson()));
        return rc;
    };
}

CliRunner setRtp(const QStringList &a, int, QString *error)
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
    const QVector<RtpSettings> list = channels.toVector();
    return [list, channels](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) {
        const int rc = sdk->setRtpSettings(d, list.constData(), list.size());
        if (rc == 0)
            rtpAccepted(d, channels);
        return rc;
    };
}

CliRunner setSn(const QStringList &a, int, QString *error)
{
    char text[FenwaSDK::COMMAND_BUFFER];
    if (!fitsCommand(FenwaSDK::setSnText(text, FenwaSDK::LONGEST_ID, a[0]), "SN", error))
        return {};
    const QString sn = a[0];
    return [sn](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) { return sdk->setSn(d, sn); };
}

CliRunner setServer(const QStringList &a, int, QString *error)
{
    int port = 0;
    if (!intArg(a[1], "PORT", &port, error))
        return {};
    if (port < 0 || port > 65535) {
        *error = QStringLiteral("PORT must be a number from 0 to 65535, not \"%1\"").arg(a[1]);
        return {};
    }
    char text[FenwaSDK::COMMAND_BUFFER];
    if (!fitsCommand(FenwaSDK::setServerText(text, FenwaSDK::LONGEST_ID, a[0], port), "IP", error))
        return {};
    const QString host = a[0];
    return [host, port](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) { return sdk->setServer(d, host, port); };
}

CliRunner setDeviceInfo(const QStringList &a, int, QString *error)
{
    int power = 0;
    if (!intArg(a[3], "POWERLEVEL", &power, error))
        return {};
    char text[FenwaSDK::COMMAND_BUFFER];
    if (!fitsCommand(FenwaSDK::setDeviceInfoText(text, FenwaSDK::LONGEST_ID, a[0], a[1], a[2], power, a[4], a[5], a[6],
                                                 a[7]),
                     "The device info", error))
        return {};
    return [a, power](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *) {
        return sdk->setDeviceInfo(d, a[0], a[1], a[2], power, a[4], a[5], a[6], a[7]);
    };
}

// Login and upload per terminal, as the firmware page does; the SDK's
// silence limit is the HTTP one.
CliRunner firmware(const QStringList &a, int, QString *error)
{
    if (!FenwaFirmware::fileValue(a[0], error))
        return {};
    const QString path = a[0];
    return [path](FenwaSDK *sdk, FenwaDevice *d, int, cJSON *out) {
        FenwaFirmware::Target target;
        QString why;
        FenwaFirmware::Outcome o;
        if (FenwaFirmware::targetOf(d, &target, &why)) {
            FenwaFirmware::Limits limits;
            limits.connectMs = std::min(limits.connectMs, sdk->replyTimeout());
            limits.idleMs = sdk->replyTimeout();
            o = FenwaFirmware::upgrade(target, path, limits);
        } else {
            o.error = why;
        }
        cJSON_AddBoolToObject(out, "loggedIn", o.loggedIn);
        cJSON_AddBoolToObject(out, "uploaded", o.uploaded);
        cJSON_AddNumberToObject(out, "httpStatus", o.status);
        if (!o.ok())
            addText(out, "error", FenwaFirmware::describe(o));
        return o.ok() ? 0 : -1;
    };
}

const CliCommand kCommands[] = {
    {"search", "", 0, nullptr, "lists every terminal that answers, one JSON line each (--csv: CSV with a header)",
     "fenwa-cli search --csv"},
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
    {"reset-default", "", 0, plain<&FenwaSDK::resetDefault>, "restores the factory settings",
     "fenwa-cli reset-default --mac 02:fe:00:00:00:01"},
    {"reboot", "", 0, plain<&FenwaSDK::reboot>, "restarts the targets", "fenwa-cli reboot --all"},
    {"play-volume", "", 0, plain<&FenwaSDK::playVolume>, "plays the test sound",
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
     "per-terminal failures on stderr)",
     "fenwa-cli backup --all"},
    {"plan", "check|apply FILE", 2, nullptr,
     "a site plan (a sheet, or a site file of backup): check shows per terminal what would change and\n"
     "every problem (exit 1 on any); apply sends each terminal only what changes (--dry-run: nothing),\n"
     "--skip-refused leaves rows with problems out, --result FILE saves the plan with an outcome column,\n"
     "--from MAC --onto MAC puts one backed-up terminal onto its replacement (--take-mac: its MAC too)",
     "fenwa-cli plan apply site-plan.csv --result site-result.csv"},
    {"firmware", "FILE", 1, firmware,
     "logs in to each target's web side with the account it reported and uploads FILE",
     "fenwa-cli firmware fw-2.5.0.bin --all", 10000},
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
