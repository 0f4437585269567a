// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct cJSON;
struct SimOptions;
class SimJsonText;

struct SimSipAccount
{
    std::string account, password, displayName, serverHost, serverPort;
};

struct SimRtpChannel
{
    int enable = 0;
    std::string rtpIP;
    int rtpPort = 0;
};

enum { SIM_RTP_CHANNELS = 10, SIM_SIP_ACCOUNTS = 2 };

// Milliseconds on the steady clock: when a restarting terminal is back.
long long simNowMs();

// What one emulated terminal knows of itself and how it answers a command.
// No networking here: the segment hands it parsed commands and sends what it
// answers. The firmware web side, when it comes, works on the same records.
class SimTerminal
{
public:
    // Terminal index of a run: addresses counted up from the bases, the
    // types cycled.
    static SimTerminal make(int index, const SimOptions &options);

    // Adds the search reply's items (everything but "id" and "result").
    void addSearchItems(cJSON *reply) const;
    // The full state for the state file, as the next object of out.
    void writeState(SimJsonText &out) const;

    // Answers command (a JSON object whose "method" is method) into reply,
    // which already holds "id". With apply false (a run told to answer with
    // another result) nothing changes. Returns true when the state changed.
    // The reply's "result" is "success" or a short reason.
    bool handle(const std::string &method, const cJSON *command, bool apply, cJSON *reply);

    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    uint8_t address[4] = {0, 0, 0, 0};
    std::string name, uid, sn, type, version, ipMode, gateway, netmask, dns1, dns2;
    std::string account, password; // password: MD5 hex digest, as the tool sends it
    int micVolume = 0, outVolume = 0, autoMute = 0;
    SimSipAccount sip[SIM_SIP_ACCOUNTS];
    SimRtpChannel rtp[SIM_RTP_CHANNELS];
    std::string serverIp;
    int serverPort = 0;
    std::map<std::string, std::string> deviceInfo;
    int powerLevel = 0;
    // What a real terminal would do but a simulator can only count.
    int reboots = 0, factoryResets = 0, testSounds = 0;
    int commandsAnswered = 0;

    // The web side.
    std::string session; // the cookie of the last accepted login
    int webLogins = 0, uploads = 0;
    int uploadsCut = 0; // by the close-upload fault, halfway through
    std::string firmwareFile, firmwareSha256;
    long long firmwareSize = 0;
    // A restart (reboot, factory reset, firmware upload): gone (no frame,
    // no HTTP answered) from downAt to upAt, then reporting the version an
    // uploaded file's name carried, if any.
    long long downAt = 0, upAt = 0;
    std::string pendingVersion;
    bool isDown(long long nowMs) const { return upAt != 0 && nowMs >= downAt && nowMs < upAt; }
    // Starts a restart RESTART_GRACE_MS from now (the answer that asked for
    // it leaves first), lasting rebootMs; a negative rebootMs never ends.
    void restart(long long nowMs, int rebootMs);
    // Ends a restart whose time is over; true when that changed the state.
    bool settle(long long nowMs);
    enum { RESTART_GRACE_MS = 300 };

private:
    // What the search reply carries, and everything, told to out (a cJSON
    // object or a SimJsonText): one list of items for the replies and the
    // state file alike.
    template <class Out> void describeSearchItems(Out &out) const;
    template <class Out> void describe(Out &out) const;
    void restoreFactorySettings();
    // The commands handle() dispatches to, by their method.
    void replySearch(cJSON *reply) const;
    void replySip(cJSON *reply) const;
    void replyRtp(cJSON *reply) const;
    const char *reboot(const cJSON *command);
    const char *resetDefault(const cJSON *command);
    const char *playVolume(const cJSON *command);
    const char *setIp(const cJSON *command);
    const char *setName(const cJSON *command);
    const char *setMac(const cJSON *command);
    const char *setSn(const cJSON *command);
    const char *setAccountPassword(const cJSON *command);
    const char *setServer(const cJSON *command);
    const char *setDeviceVolume(const cJSON *command);
    const char *setDeviceInfo(const cJSON *command);
    const char *setSipSettings(const cJSON *command);
    const char *setRtpSettings(const cJSON *command);
    int index = 0;
};

std::string macToText(const uint8_t mac[6]);
// A whole number as a JSON item, written as its digits: cJSON prints every
// number with "%1.15g" and reads it back to check, which made the state
// dump before each reply the simulator's costliest work.
void addWhole(cJSON *object, const char *key, long long value);
std::string ipv4ToText(const uint8_t ip[4]);
