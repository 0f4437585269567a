// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaDevice.h"
#include "QPcap.h"
#include "QPcapAdapterList.h"

#include <QList>
#include <QString>
#include <atomic>
#include <memory>

class FenwaSDK;

// Told of every command text sent and every reply text received.
// onRecvCommand runs on the capture thread, onSendCommand on the sending
// thread: an implementation hands the texts on to its own thread itself.
class FenwaCommandObserver
{
public:
    virtual ~FenwaCommandObserver() = default;
    virtual void onSendCommand(FenwaSDK *sdk, const char *text) = 0;
    virtual void onRecvCommand(FenwaSDK *sdk, const char *text) = 0;
};

// Told of the ARP replies addressed to the adapter (answers to address
// probes), on the capture thread.
class FenwaArpListener
{
public:
    virtual ~FenwaArpListener() = default;
    virtual void onArpReply(const QPcapArpBody &arp) = 0;
};

// One parsed reply frame.
class FenwaReply
{
public:
    // Parses the ARP sender fields and the text behind the command header;
    // json stays nullptr when the text is not JSON.
    static FenwaReply *fromPacket(const QPcapPacket *packet);
    ~FenwaReply();

    // The "id" item: a number, or a text holding a decimal number; else -1.
    int id() const;
    // 0 when "result" is the string "success" exactly; else -1.
    int result() const;
    // The "method" item when it is a string, else nullptr.
    const char *method() const;

    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    uint8_t address[4] = {0, 0, 0, 0};
    struct cJSON *json = nullptr;
};

// The one way to talk to terminals: one JSON command per frame, a reply
// matched by id and sender within the reply time-out.
//
// Ids start at a random value in each instance and count on across adapter
// changes, wrapping to 0 before they would leave int, so that two programs on
// one segment (or one program before and after a reopen) do not take each
// other's replies. A reply also counts only when its ARP sender is the
// addressed terminal. Replies are kept only while a command or a search
// waits for them, and then at most REPLY_QUEUE_MAX of them.
//
// Threads: open/close come from the owner's thread. Commands are issued by
// one thread at a time (a job thread behind a modal dialog); two commands
// waiting at once would consume each other's replies. cancel() may come from
// any thread and cuts the current wait short. Replies are queued by the
// capture thread and consumed by the waiting command.
class FenwaSDK : public QPcapObserver
{
public:
    FenwaSDK();
    ~FenwaSDK() override;

    static QPcapAdapterList *adapters() { return QPcapAdapterList::adapters(); }

    int open(const QPcapAdapter *adapter);
    void close();
    void cancel();
    bool isOpen() const { return hasAdapter; }
    const QPcapAdapter *currentAdapter() const { return hasAdapter ? &adapter : nullptr; }

    void setCommandObserver(FenwaCommandObserver *observer) { commandObserver = observer; }
    // From any thread; once it returns, a listener it replaced is not called
    // any more. nullptr: ARP replies are dropped.
    void setArpListener(FenwaArpListener *listener);

    // Sends text to one terminal (or the broadcast addresses). Returns 0 once
    // the frame is handed to the open link (waiting for the link's first open
    // when it is still opening), or -1 when the text does not fit a frame or
    // the link is not open: then nothing is sent, and the observer is not
    // told of it.
    int send(const uint8_t mac[6], const uint8_t address[4], const char *text, int length);
    // The reply with this id (from one of the two MACs when given), or
    // nullptr after the time-out (negative: none) or a cancel. The caller
    // deletes the reply.
    FenwaReply *waitReply(int id, int timeoutMs, const uint8_t *from = nullptr, const uint8_t *alsoFrom = nullptr);

    // Broadcasts a search and collects the replies for timeMs (negative:
    // until cancel). out is emptied first; its records are the caller's.
    // Returns -1 at once when the search could not be sent.
    int search(QList<FenwaDevice *> *out, int timeMs);

    // Every command returns 0 for "success", -1 otherwise (no reply in time,
    // another result, cancel, or a text refused for its length).
    int getRtpSettings(FenwaDevice *device, RtpSettings *list, int count);
    int getSipSettings(FenwaDevice *device, SipSettings *sip0, SipSettings *sip1);
    int reboot(FenwaDevice *device);
    int resetDefault(FenwaDevice *device);
    int playVolume(FenwaDevice *device);
    int setIpDhcp(FenwaDevice *device);
    int setIpStatic(FenwaDevice *device, const QString &ip, const QString &gateway, const QString &netmask,
                    const QString &dns1, const QString &dns2);
    int setName(FenwaDevice *device, const QString &name);
    int setMac(FenwaDevice *device, const QString &mac);
    int setSn(FenwaDevice *device, const QString &sn);
    int setAccountPassword(FenwaDevice *device, const QString &account, const QString &password);
    int setServer(FenwaDevice *device, const QString &serverIp, int serverPort);
    int setDeviceVolume(FenwaDevice *device, int micVolume, int outVolume, int autoMute);
    int setDeviceInfo(FenwaDevice *device, const QString &areaCode, const QString &number, const QString &name,
                      int powerLevel, const QString &resourceTypeSequenceCode,
                      const QString &resourceSonTypeSequenceCode, const QString &resourceTypeCode,
                      const QString &resourceSonTypeCode);
    int setSipSettings(FenwaDevice *device, const SipSettings &sip0, const SipSettings &sip1);
    int setRtpSettings(FenwaDevice *device, const RtpSettings *list, int count);

    // Why the last command failed, for an operator: "no answer", or the
    // result the terminal gave instead of "success"; empty after success.
    // Read it on the thread that issued the command, before the next one.
    QString lastFailure() const { return failure; }

    // How long a command waits for its reply (REPLY_TIMEOUT_MS unless changed).
    void setReplyTimeout(int ms) { replyTimeoutMs = ms; }
    int replyTimeout() const { return replyTimeoutMs; }
    // The id the next command will carry.
    int peekNextId() const { return nextId; }
    QPcap *transport() { return pcap.get(); }

    void onPcapPacket(QPcapPacket *packet) override;

    // Command text buffer: at most 1023 bytes of text.
    enum { COMMAND_BUFFER = 1024 };
    // A terminal's answer may take this long (the workbench's batches and
    // fenwa-cli's commands alike).
    enum { REPLY_TIMEOUT_MS = 3000 };
    // Ids never have more digits than this one: texts checked with it fit
    // whatever id they go out with.
    enum { LONGEST_ID = 1000000000 };

    // The texts of the commands that carry free text, built into buf
    // (COMMAND_BUFFER bytes): their length, or -1 (buf empty) when the text
    // would not fit. Front ends check typed texts with LONGEST_ID before
    // anything is sent; the commands use the same builders.
    static int setNameText(char *buf, int id, const QString &name);
    static int setSnText(char *buf, int id, const QString &sn);
    static int setAccountPasswordText(char *buf, int id, const QString &account, const QString &password);
    static int setServerText(char *buf, int id, const QString &serverIp, int serverPort);
    static int setDeviceInfoText(char *buf, int id, const QString &areaCode, const QString &number,
                                 const QString &name, int powerLevel, const QString &resourceTypeSequenceCode,
                                 const QString &resourceSonTypeSequenceCode, const QString &resourceTypeCode,
                                 const QString &resourceSonTypeCode);
    // Replies held at most while something waits: a search of a thousand
    // terminals fits four times over, a flood does not grow the process.
    enum { REPLY_QUEUE_MAX = 4096 };
    // How long a send waits for the link's first open to succeed or fail.
    enum { LINK_SETTLE_MS = 3000 };

private:
    // Replies are queued while at least one of these lives; a fresh one (a
    // new command or search) first empties the queue of what came before.
    class Collecting;
    // Sends text to device, waits for the reply with id from the device's
    // MAC (or alsoFrom); fill reads the reply's data whatever its result.
    template <typename Fill>
    int exchange(FenwaDevice *device, int id, const char *text, int length, Fill fill,
                 const uint8_t *alsoFrom = nullptr);
    int simple(FenwaDevice *device, const char *method, int id, int length, const char *text,
               const uint8_t *alsoFrom = nullptr);
    int refuse(const char *method, int id);
    int takeId();

    std::unique_ptr<QPcap> pcap; // reset first in the destructor: its threads fill the reply queue
    int nextId;
    std::atomic<bool> waiting{false};
    std::atomic<int> collectors{0};
    QPcapAdapter adapter;
    bool hasAdapter = false;
    QPcapPacketQueue replyQueue;
    FenwaCommandObserver *commandObserver = nullptr;
    QMutex arpMutex; // held while the listener is called or replaced
    FenwaArpListener *arpListener = nullptr;
    int replyTimeoutMs = REPLY_TIMEOUT_MS;
    QString failure;

    FenwaSDK(const FenwaSDK &) = delete;
    FenwaSDK &operator=(const FenwaSDK &) = delete;
};
