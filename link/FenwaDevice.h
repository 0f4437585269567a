// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
    // the one reference.
    static FenwaDevice *fromSearchReply(const uint8_t mac[6], const uint8_t address[4], const cJSON *json);
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

// One SIP account of a terminal ("sip0" or "sip1").
class SipSettings
{
public:
    virtual ~SipSettings() = default;
    // Each field takes the same-named item when it is a string, else empty.
    // With no object nothing changes.
    void fromJson(const cJSON *json);
    // Writes the account's JSON form, texts escaped, into buf. Returns its
    // length, or -1 (buf empty) when it does not fit: a cut JSON text must
    // never reach a terminal.
    int toJson(char *buf, int size) const;
    void clear();
    bool isComplete() const;

    QString account, password, displayName, serverHost, serverPort;
};

// One RTP channel of a terminal ("rtp0" to "rtp9").
class RtpSettings
{
public:
    virtual ~RtpSettings() = default;
    void fromJson(const cJSON *json);
    // cJSON's formatted form; returns the length, or -1 when it does not fit
    // or the address holds a zero character (cJSON would cut it there).
    int toJson(char *buf, int size) const;
    bool isSet() const { return !rtpIP.isEmpty() && rtpPort >= 1; }

    int enable = 0;
    QString rtpIP;
    int rtpPort = 0;
};

enum { FENWA_SIP_JSON_MAX = 256, FENWA_RTP_JSON_MAX = 1024, FENWA_RTP_CHANNELS = 10 };
