// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimTerminal.h"

#include "SimJsonText.h"
#include "SimOptions.h"

#include <QCryptographicHash>
#include <cJSON.h>
#include <algorithm>
#include <chrono>
#include <limits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char kDefaultAccount[] = "admin";
const char kDefaultPassword[] = "admin";

std::string md5Hex(const char *text)
{
    return QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Md5).toHex().toStdString();
}

// Parameters are read exactly as the tool's templates spell them.
const cJSON *item(const cJSON *object, const char *key)
{
    return cJSON_GetObjectItemCaseSensitive(object, key);
}

bool stringParam(const cJSON *object, const char *key, std::string *out)
{
    const cJSON *i = item(object, key);
    if (!cJSON_IsString(i) || i->valuestring == nullptr)
        return false;
    *out = i->valuestring;
    return true;
}

bool intParam(const cJSON *object, const char *key, int *out)
{
    const cJSON *i = item(object, key);
    if (!cJSON_IsNumber(i))
        return false;
    *out = i->valueint;
    return true;
}

bool isIpv4(const std::string &text)
{
    uint8_t ip[4];
    return parseIpv4Text(QByteArray::fromStdString(text), ip);
}

// A SIP account as SetSipSettings carries it: five strings, the port among
// them; anything else is refused as a whole.
bool readSip(const cJSON *o, SimSipAccount *out)
{
    if (!cJSON_IsObject(o))
        return false;
    SimSipAccount s;
    if (!stringParam(o, "serverHost", &s.serverHost) || !stringParam(o, "serverPort", &s.serverPort)
        || !stringParam(o, "account", &s.account) || !stringParam(o, "password", &s.password)
        || !stringParam(o, "displayName", &s.displayName))
        return false;
    *out = s;
    return true;
}

bool readRtp(const cJSON *o, SimRtpChannel *out)
{
    if (!cJSON_IsObject(o))
        return false;
    SimRtpChannel r;
    if (!intParam(o, "enable", &r.enable) || !stringParam(o, "rtpIP", &r.rtpIP) || !intParam(o, "rtpPort", &r.rtpPort))
        return false;
    if ((r.enable != 0 && r.enable != 1) || r.rtpPort < 0 || r.rtpPort > 65535)
        return false;
    if (!r.rtpIP.empty() && !isIpv4(r.rtpIP))
        return false;
    *out = r;
    return true;
}

} // namespace

void addWhole(cJSON *object, const char *key, long long value)
{
    cJSON_AddRawToObject(object, key, std::to_string(value).c_str());
}

long long simNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SimTerminal::restart(long long nowMs, int rebootMs)
{
    downAt = nowMs + RESTART_GRACE_MS;
    upAt = rebootMs < 0 ? std::numeric_limits<long long>::max() : downAt + std::max(rebootMs, 1);
}

bool SimTerminal::settle(long long nowMs)
{
    if (upAt == 0 || nowMs < upAt)
        return false;
    if (!pendingVersion.empty())
        version = pendingVersion;
    pendingVersion.clear();
    downAt = upAt = 0;
    session.clear(); // a restart forgets who was logged in
    return true;
}

std::string macToText(const uint8_t mac[6])
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

std::string ipv4ToText(const uint8_t ip[4])
{
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

SimTerminal SimTerminal::make(int index, const SimOptions &options)
{
    SimTerminal t;
    t.index = options.numberFrom - 1 + index;
    uint64_t mac = 0;
    for (int i = 0; i < 6; ++i)
        mac = (mac << 8) | options.baseMac[i];
    mac += static_cast<uint64_t>(index);
    for (int i = 5; i >= 0; --i, mac >>= 8)
        t.mac[i] = static_cast<uint8_t>(mac);
    uint32_t ip = (uint32_t(options.baseIp[0]) << 24) | (uint32_t(options.baseIp[1]) << 16)
        | (uint32_t(options.baseIp[2]) << 8) | options.baseIp[3];
    ip += static_cast<uint32_t>(index);
    for (int i = 3; i >= 0; --i, ip >>= 8)
        t.address[i] = static_cast<uint8_t>(ip);

    char text[64];
    std::snprintf(text, sizeof text, "FW%08X", 0x5A000000u + static_cast<unsigned>(t.index));
    t.uid = text;
    std::snprintf(text, sizeof text, "SN2024%06d", t.index + 1);
    t.sn = text;
    t.type = options.types.at(index % options.types.size()).toStdString();
    t.version = "2.4.1";
    t.ipMode = "static";
    const uint8_t gw[4] = {t.address[0], t.address[1], t.address[2], 1};
    t.gateway = ipv4ToText(gw);
    t.netmask = "255.255.255.0";
    t.dns1 = t.gateway;
    t.dns2 = "";
    t.restoreFactorySettings();
    return t;
}

void SimTerminal::restoreFactorySettings()
{
    char text[64];
    std::snprintf(text, sizeof text, "Terminal-%03d", index + 1);
    name = text;
    account = kDefaultAccount;
    password = md5Hex(kDefaultPassword);
    micVolume = 50;
    outVolume = 60;
    autoMute = 0;
    for (int i = 0; i < SIM_SIP_ACCOUNTS; ++i)
        sip[i] = SimSipAccount{"", "", "", "", "5060"};
    for (int i = 0; i < SIM_RTP_CHANNELS; ++i) {
        std::snprintf(text, sizeof text, "239.255.0.%d", i + 1);
        rtp[i] = SimRtpChannel{0, text, 6000 + 2 * i};
    }
    serverIp.clear();
    serverPort = 0;
    deviceInfo.clear();
    powerLevel = 0;
}

namespace {
// SimJsonText's calls onto a cJSON object, for the replies.
class CjsonOut
{
public:
    explicit CjsonOut(cJSON *object) : stack{object} {}
    CjsonOut &begin(const char *key)
    {
        stack.push_back(cJSON_AddObjectToObject(stack.back(), key));
        return *this;
    }
    CjsonOut &end()
    {
        stack.pop_back();
        return *this;
    }
    CjsonOut &text(const char *key, const std::string &value)
    {
        cJSON_AddStringToObject(stack.back(), key, value.c_str());
        return *this;
    }
    CjsonOut &whole(const char *key, long long value)
    {
        addWhole(stack.back(), key, value);
        return *this;
    }
    CjsonOut &boolean(const char *key, bool value)
    {
        cJSON_AddBoolToObject(stack.back(), key, value);
        return *this;
    }

private:
    std::vector<cJSON *> stack;
};

template <class Out> void describeSip(Out &out, const char *key, const SimSipAccount &s)
{
    out.begin(key)
        .text("serverHost", s.serverHost)
        .text("serverPort", s.serverPort)
        .text("account", s.account)
        .text("password", s.password)
        .text("displayName", s.displayName)
        .end();
}

template <class Out> void describeRtp(Out &out, const char *key, const SimRtpChannel &r)
{
    out.begin(key).whole("enable", r.enable).text("rtpIP", r.rtpIP).whole("rtpPort", r.rtpPort).end();
}
} // namespace

template <class Out> void SimTerminal::describeSearchItems(Out &out) const
{
    out.text("mac", macToText(mac))
        .text("name", name)
        .text("type", type)
        .text("ipMode", ipMode)
        .text("version", version)
        .text("ip", ipv4ToText(address))
        .text("gateway", gateway)
        .text("netmask", netmask)
        .text("dns1", dns1)
        .text("dns2", dns2)
        .text("sn", sn)
        .text("uid", uid)
        .text("account", account)
        .text("password", password)
        .whole("micVolume", micVolume)
        .whole("outVolume", outVolume)
        .whole("autoMute", autoMute);
}

template <class Out> void SimTerminal::describe(Out &out) const
{
    describeSearchItems(out);
    describeSip(out, "sip0", sip[0]);
    describeSip(out, "sip1", sip[1]);
    static const char *const channels[SIM_RTP_CHANNELS] = {"rtp0", "rtp1", "rtp2", "rtp3", "rtp4",
                                                           "rtp5", "rtp6", "rtp7", "rtp8", "rtp9"};
    for (int i = 0; i < SIM_RTP_CHANNELS; ++i)
        describeRtp(out, channels[i], rtp[i]);
    out.text("serverIp", serverIp).whole("serverPort", serverPort);
    out.begin("deviceInfo");
    for (const auto &kv : deviceInfo)
        out.text(kv.first.c_str(), kv.second);
    out.whole("powerLevel", powerLevel).end();
    out.whole("reboots", reboots)
        .whole("factoryResets", factoryResets)
        .whole("testSounds", testSounds)
        .whole("commandsAnswered", commandsAnswered);
    out.begin("web")
        .whole("logins", webLogins)
        .whole("uploads", uploads)
        .whole("uploadsCut", uploadsCut)
        .text("file", firmwareFile)
        .whole("size", firmwareSize)
        .text("sha256", firmwareSha256)
        .boolean("restarting", upAt != 0)
        .end();
}

void SimTerminal::addSearchItems(cJSON *r) const
{
    CjsonOut out(r);
    describeSearchItems(out);
}

void SimTerminal::writeState(SimJsonText &out) const
{
    out.begin();
    describe(out);
    out.end();
}

// ---- commands -----------------------------------------------------------------
// A read answers with what the terminal holds. A write checks its command and
// makes the change on a copy of the terminal, which becomes the terminal
// only when the run applies commands: a refused or unapplied command leaves
// nothing behind. It returns nullptr, or why it is refused.

void SimTerminal::replySearch(cJSON *reply) const
{
    // The tool keeps search replies by their method.
    cJSON_AddStringToObject(reply, "method", "search");
    cJSON_AddStringToObject(reply, "result", "success");
    addSearchItems(reply);
}

void SimTerminal::replySip(cJSON *reply) const
{
    cJSON_AddStringToObject(reply, "result", "success");
    CjsonOut out(reply);
    describeSip(out, "sip0", sip[0]);
    describeSip(out, "sip1", sip[1]);
}

void SimTerminal::replyRtp(cJSON *reply) const
{
    cJSON_AddStringToObject(reply, "result", "success");
    CjsonOut out(reply);
    char key[8];
    for (int i = 0; i < SIM_RTP_CHANNELS; ++i) {
        std::snprintf(key, sizeof key, "rtp%d", i);
        describeRtp(out, key, rtp[i]);
    }
}

const char *SimTerminal::reboot(const cJSON *)
{
    ++reboots;
    return nullptr;
}

const char *SimTerminal::resetDefault(const cJSON *)
{
    restoreFactorySettings();
    ++factoryResets;
    return nullptr;
}

const char *SimTerminal::playVolume(const cJSON *)
{
    ++testSounds;
    return nullptr;
}

const char *SimTerminal::setIp(const cJSON *c)
{
    std::string mode;
    stringParam(c, "IpMode", &mode);
    if (mode == "dhcp") {
        // No DHCP server on a test segment: the terminal keeps its address.
        ipMode = mode;
        return nullptr;
    }
    if (mode != "static")
        return "invalid ip mode";
    std::string ip, gw, mask, d1, d2;
    if (!stringParam(c, "ip", &ip) || !stringParam(c, "gateway", &gw) || !stringParam(c, "netmask", &mask)
        || !stringParam(c, "dns1", &d1) || !stringParam(c, "dns2", &d2) || !isIpv4(ip) || !isIpv4(gw)
        || !isIpv4(mask) || !isIpv4(d1) || (!d2.empty() && !isIpv4(d2)))
        return "invalid address";
    parseIpv4Text(QByteArray::fromStdString(ip), address);
    ipMode = mode;
    gateway = gw;
    netmask = mask;
    dns1 = d1;
    dns2 = d2;
    return nullptr;
}

// A refused value leaves the terminal as it was.
const char *SimTerminal::setName(const cJSON *c)
{
    std::string v;
    if (!stringParam(c, "name", &v) || v.empty())
        return "invalid name";
    name = v;
    return nullptr;
}

const char *SimTerminal::setMac(const cJSON *c)
{
    std::string v;
    uint8_t to[6];
    if (!stringParam(c, "mac", &v) || !parseMacText(QByteArray::fromStdString(v), to) || (to[0] & 1))
        return "invalid mac";
    std::memcpy(mac, to, 6);
    return nullptr;
}

const char *SimTerminal::setSn(const cJSON *c)
{
    std::string v;
    if (!stringParam(c, "sn", &v) || v.empty())
        return "invalid sn";
    sn = v;
    return nullptr;
}

const char *SimTerminal::setAccountPassword(const cJSON *c)
{
    std::string a, p;
    if (!stringParam(c, "account", &a) || !stringParam(c, "password", &p) || a.empty())
        return "invalid account";
    account = a;
    password = p;
    return nullptr;
}

const char *SimTerminal::setServer(const cJSON *c)
{
    std::string ip;
    int port = 0;
    if (!stringParam(c, "serverIp", &ip) || !intParam(c, "serverPort", &port) || port < 0 || port > 65535)
        return "invalid server";
    serverIp = ip;
    serverPort = port;
    return nullptr;
}

const char *SimTerminal::setDeviceVolume(const cJSON *c)
{
    int mic = 0, out = 0, mute = 0;
    if (!intParam(c, "micVolume", &mic) || !intParam(c, "outVolume", &out) || !intParam(c, "autoMute", &mute)
        || mic < 0 || mic > 100 || out < 0 || out > 100 || (mute != 0 && mute != 1))
        return "invalid volume";
    micVolume = mic;
    outVolume = out;
    autoMute = mute;
    return nullptr;
}

const char *SimTerminal::setDeviceInfo(const cJSON *c)
{
    static const char *const keys[] = {"areaCode", "number", "name", "resourceTypeSequenceCode",
                                       "resourceSonTypeSequenceCode", "resourceTypeCode", "resourceSonTypeCode"};
    deviceInfo.clear();
    bool ok = intParam(c, "powerLevel", &powerLevel);
    for (const char *k : keys)
        ok = ok && stringParam(c, k, &deviceInfo[k]);
    return ok ? nullptr : "invalid device info";
}

const char *SimTerminal::setSipSettings(const cJSON *c)
{
    if (!readSip(item(c, "sip0"), &sip[0]) || !readSip(item(c, "sip1"), &sip[1]))
        return "invalid sip settings";
    return nullptr;
}

const char *SimTerminal::setRtpSettings(const cJSON *c)
{
    // Channels not named keep their settings, as the tool may write fewer
    // than ten.
    int named = 0;
    char key[8];
    for (int i = 0; i < SIM_RTP_CHANNELS; ++i) {
        std::snprintf(key, sizeof key, "rtp%d", i);
        if (const cJSON *o = item(c, key)) {
            if (!readRtp(o, &rtp[i]))
                return "invalid rtp settings";
            ++named;
        }
    }
    return named > 0 ? nullptr : "invalid rtp settings";
}

bool SimTerminal::handle(const std::string &method, const cJSON *c, bool apply, cJSON *reply)
{
    struct Command {
        const char *method;
        void (SimTerminal::*read)(cJSON *reply) const;
        const char *(SimTerminal::*write)(const cJSON *command);
    };
    static const Command commands[] = {
        {"search", &SimTerminal::replySearch, nullptr},
        {"GetSipSettings", &SimTerminal::replySip, nullptr},
        {"GetRtpSettings", &SimTerminal::replyRtp, nullptr},
        {"reboot", nullptr, &SimTerminal::reboot},
        {"ResetDefault", nullptr, &SimTerminal::resetDefault},
        {"PlayVolume", nullptr, &SimTerminal::playVolume},
        {"SetIp", nullptr, &SimTerminal::setIp},
        {"SetName", nullptr, &SimTerminal::setName},
        {"SetMac", nullptr, &SimTerminal::setMac},
        {"SetSN", nullptr, &SimTerminal::setSn},
        {"SetAccountPassword", nullptr, &SimTerminal::setAccountPassword},
        {"SetServer", nullptr, &SimTerminal::setServer},
        {"SetDeviceVolume", nullptr, &SimTerminal::setDeviceVolume},
        {"SetDeviceInfo", nullptr, &SimTerminal::setDeviceInfo},
        {"SetSipSettings", nullptr, &SimTerminal::setSipSettings},
        {"SetRtpSettings", nullptr, &SimTerminal::setRtpSettings},
    };
    ++commandsAnswered;
    for (const Command &command : commands) {
        if (method != command.method)
            continue;
        if (command.read) {
            (this->*command.read)(reply);
            return false;
        }
        SimTerminal next = *this;
        const char *refused = (next.*command.write)(c);
        cJSON_AddStringToObject(reply, "result", refused ? refused : "success");
        if (refused || !apply)
            return false;
        *this = std::move(next);
        return true;
    }
    cJSON_AddStringToObject(reply, "result", "unknown method");
    return false;
}
