// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaDevice.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

class QPcapPacket;
struct cJSON;

// One parsed reply frame.
class FenwaReply
{
public:
    // Parses the ARP sender fields and the text behind the command header;
    // json stays nullptr when the text is not JSON.
    static FenwaReply *fromPacket(const QPcapPacket *packet);
    FenwaReply() = default;
    ~FenwaReply();

    // The "id" item: a number, or a text holding a decimal number; else -1.
    int id() const;
    // 0 when "result" is the string "success" exactly; else -1.
    int result() const;
    // The "result" item when it is a string, else nullptr.
    const char *resultText() const;
    // The "method" item when it is a string, else nullptr.
    const char *method() const;

    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    uint8_t address[4] = {0, 0, 0, 0};
    struct cJSON *json = nullptr;
    QByteArray text; // as it came, for the log

private:
    FenwaReply(const FenwaReply &) = delete;
    FenwaReply &operator=(const FenwaReply &) = delete;
};

// What one command is, whichever terminal it goes to and whichever id it
// carries:
//
// - its text: a builder that writes it for an id into COMMAND_BUFFER bytes;
// - how its answer is judged: the terminal accepted when the reply with its
//   id says "success" (accepts()), from the addressed MAC or, for a MAC
//   change, from the new one (alsoFrom());
// - whether it may go out again with the same id while unanswered
//   (mayResend()): only when acting on it twice changes nothing. A terminal
//   acts on every copy it receives (nothing in the wire format lets it tell
//   a copy from a new command), so a reboot, a factory reset, the test sound
//   or a MAC change goes out once, and with no answer its result is
//   "unknown: may have changed", never "no answer". The table in
//   FenwaCommand.cpp decides per method (resendOf);
// - what shows that it took effect when every answer was lost (heldBy()):
//   the value a terminal's search reply carries (its name, its addressing,
//   its volumes, its web account), or for a MAC change the terminal
//   answering the search from the new MAC (movesTo()). Commands whose
//   values a search does not report (SIP, RTP, server, device info) and
//   those that only act (reboot, reset, test sound) have no such check.
//
// The factories build the protocol's commands; the texts are the terminals'
// wire format and must not change.
class FenwaRequest
{
public:
    // Writes the text for id into buf (COMMAND_BUFFER bytes) and returns its
    // length, or -1 (buf empty) when it would not fit.
    using Text = std::function<int(char *buf, int id)>;
    // Whether a terminal's search record shows the command's value.
    using Holds = std::function<bool(const FenwaDevice &seen)>;
    enum Resend {
        Resendable, // a second application changes nothing
        Once,       // acting twice would be a second action
    };

    FenwaRequest() = default;
    // The resend rule comes from the table, by method.
    FenwaRequest(const char *method, Text text);

    const char *method() const { return name; }
    int textFor(char *buf, int id) const;
    // Whether the text can be built whatever id it gets (the longest one):
    // front ends refuse a typed value that fails this before anything is sent.
    bool fits() const;
    // nullptr when only the addressed MAC may answer.
    const uint8_t *alsoFrom() const { return hasNewMac ? newMac : nullptr; }
    bool mayResend() const { return resend == Resendable; }
    static bool accepts(const FenwaReply &reply) { return reply.result() == 0; }

    // Whether a search can show that the command took effect.
    bool isCheckable() const { return bool(holds) || hasNewMac; }
    // The MAC a terminal answers from once the command took effect (a MAC
    // change), else nullptr: a search finds it there.
    const uint8_t *movesTo() const { return alsoFrom(); }
    // Whether the search record of the terminal shows the command's value.
    bool heldBy(const FenwaDevice &seen) const { return !holds || holds(seen); }

    // The rule of the table for method; a method it does not name goes out once.
    static Resend resendOf(const char *method);

    static FenwaRequest getRtpSettings();
    static FenwaRequest getSipSettings();
    static FenwaRequest reboot();
    static FenwaRequest resetDefault();
    static FenwaRequest playVolume();
    static FenwaRequest setIpDhcp();
    static FenwaRequest setIpStatic(const QString &ip, const QString &gateway, const QString &netmask,
                                    const QString &dns1, const QString &dns2);
    static FenwaRequest setName(const QString &name);
    static FenwaRequest setMac(const QString &mac);
    static FenwaRequest setSn(const QString &sn);
    static FenwaRequest setAccountPassword(const QString &account, const QString &password);
    static FenwaRequest setServer(const QString &serverIp, int serverPort);
    static FenwaRequest setDeviceVolume(int micVolume, int outVolume, int autoMute);
    static FenwaRequest setDeviceInfo(const QString &areaCode, const QString &number, const QString &name,
                                      int powerLevel, const QString &resourceTypeSequenceCode,
                                      const QString &resourceSonTypeSequenceCode, const QString &resourceTypeCode,
                                      const QString &resourceSonTypeCode);
    static FenwaRequest setSipSettings(const SipSettings &sip0, const SipSettings &sip1);
    // At most FENWA_RTP_CHANNELS of them; none is a text that cannot be built.
    static FenwaRequest setRtpSettings(const QVector<RtpSettings> &list);

    // What the reading commands' replies hold; an account or channel the
    // reply lacks is emptied.
    static void readSip(const FenwaReply &reply, SipSettings *sip0, SipSettings *sip1);
    static void readRtp(const FenwaReply &reply, RtpSettings *list, int count);

    // Command text buffer: at most 1023 bytes of text.
    enum { COMMAND_BUFFER = 1024 };
    // Ids never have more digits than this one: a text that fits with it
    // fits whatever id it goes out with.
    enum { LONGEST_ID = 1000000000 };

private:
    const char *name = "";
    Text build;
    Holds holds;
    Resend resend = Once;
    bool hasNewMac = false;
    uint8_t newMac[6] = {0, 0, 0, 0, 0, 0};
};
