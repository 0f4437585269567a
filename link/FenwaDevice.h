// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <atomic>
#include <cstdint>

struct cJSON;

// One terminal as found by a search. Shared by reference count between the
// table and the job threads; job threads write into it while the interface
// thread waits in a modal dialog, so only one side touches it at a time.
class FenwaDevice
{
public:
    // Builds a record from a search reply: mac and address are the ARP sender
    // fields of the reply frame (address in network order). The caller owns
    // the one reference. The record keeps no more than a terminal can hold
    // (FENWA_TEXT_MAX and the rest below): a longer text is cut at a
    // character, an address text too long to be one is left out, items past
    // FENWA_EXTRAS_MAX are dropped, and *cut says whether any of that
    // happened. A search that anyone on the segment can answer must not
    // grow with what they put in a reply.
    static FenwaDevice *fromSearchReply(const uint8_t mac[6], const uint8_t address[4], const cJSON *json,
                                        bool *cut = nullptr);
    FenwaDevice();

    void addRef() { refCount.fetch_add(1, std::memory_order_relaxed); }
    void release();

    QString extra(const QString &key) const { return extras.value(key); }
    void setExtra(const QString &key, const QString &value) { extras.insert(key, value); }
    int extraInt(const QString &key) const;
    void setExtraInt(const QString &key, int value) { extras.insert(key, QString::number(value)); }

    QString account() const { return extra(QStringLiteral("account")); }
    QString password() const { return extra(QStringLiteral("password")); }
    void setAccount(const QString &value) { setExtra(QStringLiteral("account"), value); }
    void setPassword(const QString &value) { setExtra(QStringLiteral("password"), value); }
    int autoMute() const { return extraInt(QStringLiteral("autoMute")); }

    bool isValid() const { return !macText.isEmpty(); }
    // Reads six hex numbers separated by single characters of any kind;
    // leaves mac unchanged unless all six are there. macText is not touched.
    bool setMacFromText(const QString &text);
    // The same reading into out; false (out untouched) when six are not there.
    static bool parseMac(const QString &text, uint8_t out[6]);

    std::atomic<int> refCount{1};
    bool checked = false;
    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};     // commands go to this MAC
    uint8_t address[4] = {0, 0, 0, 0}; // and this IPv4 (network order)
    QString macText, name, type, ipMode, version, ip, gateway, netmask, dns1, dns2, sn, uid;
    QMap<QString, QString> extras;

private:
    ~FenwaDevice() = default;
    FenwaDevice(const FenwaDevice &) = delete;
    FenwaDevice &operator=(const FenwaDevice &) = delete;
};

// The JSON forms of a SIP account and an RTP channel have one writer and one
// reader each, below: the commands sent, the replies read, and what
// fenwa-cli prints and takes all go through them.
//
// A reader takes what it can from a terminal's reply and tells, when asked,
// how an operator's text differs from the form: every member of the form
// once, of its kind, and nothing else. Members are matched without regard
// to case and the first of a name wins, as replies have always been read;
// the form itself is spelt exactly.

// One SIP account of a terminal ("sip0" or "sip1").
class SipSettings
{
public:
    virtual ~SipSettings() = default;
    // Each field takes the same-named member when it is a text (the port
    // also when it is a whole number 0 to 65535), else empty. With no object
    // nothing changes. False, with *why when given, when json is not exactly
    // the form.
    bool fromJson(const cJSON *json, QString *why = nullptr);
    // The account's JSON form, texts escaped.
    QByteArray toJson() const;
    // The same written into buf. Returns its length, or -1 (buf empty) when
    // it does not fit: a cut JSON text must never reach a terminal.
    int toJson(char *buf, int size) const;
    bool isComplete() const;

    QString account, password, displayName, serverHost, serverPort;
};

// One RTP channel of a terminal ("rtp0" to "rtp9").
class RtpSettings
{
public:
    virtual ~RtpSettings() = default;
    // enable and rtpPort take numbers (true is 1), rtpIP a text; anything
    // else, and no object at all, reads as 0 or empty. False, with *why when
    // given, when json is not exactly the form (enable 0, 1, true or false;
    // the port a whole number 0 to 65535).
    bool fromJson(const cJSON *json, QString *why = nullptr);
    // cJSON's formatted form, or empty when the address holds a zero
    // character (cJSON would cut it there).
    QByteArray toJson() const;
    // The same written into buf: its length, or -1 (buf empty) when it is
    // empty or does not fit.
    int toJson(char *buf, int size) const;
    bool isSet() const { return !rtpIP.isEmpty() && rtpPort >= 1; }

    int enable = 0;
    QString rtpIP;
    int rtpPort = 0;
};

enum { FENWA_SIP_JSON_MAX = 256, FENWA_RTP_JSON_MAX = 1024, FENWA_RTP_CHANNELS = 10 };

// What a search record keeps of a reply, in UTF-8 bytes. A name, serial
// number or account is at most what its command's text has room for beside
// the longest id (SetSN's is the roomiest: 981 bytes); MAC and IPv4 texts
// are 17 and 15 characters, an addressing mode a word; the model, version
// and uid a terminal only reports get 64, as does the key of any other item,
// and at most FENWA_EXTRAS_MAX such items are kept besides those the pages
// use (account, password, volumes, auto mute).
enum {
    FENWA_TEXT_MAX = 981,
    FENWA_MAC_TEXT_MAX = 17,
    FENWA_IP_TEXT_MAX = 15,
    FENWA_LABEL_MAX = 64,
    FENWA_EXTRAS_MAX = 16
};
