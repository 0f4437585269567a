// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaCommand.h"
#include "FenwaDevice.h"
#include "FenwaSignal.h"
#include "QPcap.h"
#include "QPcapAdapterList.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QVector>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class FenwaSDK;

// Told of every frame the link sends and of every reply it takes as an
// answer: a command's reply, and each search reply that brings a terminal
// the search had not heard from yet. This is the only way the texts leave
// the link (the workbench's log, fenwa-cli --verbose): with no observer
// they cost nothing. Replies to repeated frames after the
// first, late replies, other programs' replies and strangers' frames are
// only counted (FenwaSDK::takeIgnoredFrames), so that nobody on the segment
// can fill a log. Both calls run on the thread that issued the command or
// search (a job thread or the CLI's main thread): an implementation hands
// the texts on to its own thread itself.
class FenwaCommandObserver
{
public:
    virtual ~FenwaCommandObserver() = default;
    virtual void onSendCommand(FenwaSDK *sdk, const char *text) = 0;
    virtual void onRecvCommand(FenwaSDK *sdk, const char *text) = 0;
};

// Told of the plain ARP frames (requests and replies, not commands) that
// other hosts address to the adapter or to everyone, on the capture thread:
// what an address probe listens to.
class FenwaArpListener
{
public:
    virtual ~FenwaArpListener() = default;
    virtual void onArp(const QPcapArpBody &arp) = 0;
};

// The link's round trip as RFC 6298 estimates it (smoothed time and its
// variation), and the time a command waits before it goes out again.
// Samples come only from commands answered without a resend (Karn): the
// answer to a resent command may be the answer to any of its copies.
class FenwaRoundTrip
{
public:
    void sample(double ms);
    void reset() { srtt = -1; }
    // SRTT + 4 RTTVAR, within TRY_MIN_MS and TRY_MAX_MS; TRY_FIRST_MS
    // before the first sample.
    int tryTimeMs() const;
    // How long a command sent `sends` times waits before the next copy: the
    // try time, doubled per copy (a terminal busy with the first must not
    // be buried in copies) up to BACKOFF_MAX_MS or the try time when that
    // is longer, so that a lossy link still gets about ten copies within
    // the reply time.
    int waitAfter(int sends) const;

    // A LAN's round trip is well under a millisecond; tens of milliseconds
    // leave room for a terminal's own work and a loaded machine.
    enum { TRY_FIRST_MS = 250, TRY_MIN_MS = 50, TRY_MAX_MS = 1000, BACKOFF_MAX_MS = 400 };

private:
    double srtt = -1;
    double rttvar = 0;
};

// What a search did besides listing terminals.
struct FenwaSearchReport {
    int frames = 0;     // search frames sent (one text, one id)
    int repeatOnly = 0; // terminals first heard after the second frame had left
    int overLimit = 0;  // replies dropped because SEARCH_MAX terminals were listed
    int cut = 0;        // terminals listed with a reply cut to what a record keeps
};

// The one way to talk to terminals: one JSON command per frame, a reply
// matched by id and sender within the reply time. Every command, one or a
// thousand, runs through FenwaBatch (several in flight, resent while
// unanswered where a second copy does no harm); a single command is a batch
// of one (FenwaBatch::runOne). What a command is lives in FenwaCommand.h;
// a batch works through the SDK's Operation.
//
// Ids start at a random value in each instance and count on across adapter
// changes, wrapping to 0 before they would leave int, so that two programs on
// one segment (or one program before and after a reopen) do not take each
// other's replies. A reply is taken only while its id is awaited and only
// from the terminal it was sent to (for a search: with the method "search",
// from anyone); the capture thread sorts the frames as they come and keeps
// at most REPLY_QUEUE_MAX replies for the waiting thread. Everything else
// is counted, not kept.
//
// Threads: open/close come from the owner's thread. Commands, batches and
// searches are issued by one thread at a time (a job thread behind a modal
// dialog, or the CLI's main thread). cancel() may come from any thread: it
// ends the command, batch or search under way and sticks until that one has
// ended, so a cancel between a send and its wait is never lost; with
// nothing under way it does nothing (a caller that must not lose a cancel
// that comes before the start gives the batch its own stop test). Replies
// are sorted on the capture thread and consumed by the issuing thread.
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
    // any more. nullptr: plain ARP frames are dropped.
    void setArpListener(FenwaArpListener *listener);

    // Sends text to one terminal (or the broadcast addresses). Returns 0 once
    // the frame is handed to the open link (waiting for the link's first open
    // when it is still opening), or -1 when the text does not fit a frame or
    // the link is not open: then nothing is sent, and the observer is not
    // told of it.
    int send(const uint8_t mac[6], const uint8_t address[4], const char *text, int length);

    // Broadcasts a search and collects the replies for timeMs (negative:
    // until cancel). The same frame (one text, one id) goes out again while
    // SEARCH_TAIL_MS of the collection remain (see SEARCH_FRAMES), so that a
    // burst of loss does not hide a terminal, and the replies are merged
    // per terminal (FenwaTerminal::sameTerminal). out is emptied first and
    // gets one record per terminal in the order they first answered; its
    // records are the caller's, each no bigger than a terminal can make it
    // (FenwaDevice::fromSearchReply), at most SEARCH_MAX of them. The log
    // says how many replies were cut to that or refused beyond it. Returns
    // -1 at once when the search could not be sent.
    int search(QList<FenwaDevice *> *out, int timeMs, FenwaSearchReport *report = nullptr);
    // How many frames a search sends at most (SEARCH_FRAMES unless changed;
    // 1 is the single-frame search of old, which benchmarks compare with).
    void setSearchFrames(int frames) { searchFrames = frames < 1 ? 1 : frames; }

    // How long a command waits for its reply, resends included
    // (REPLY_TIMEOUT_MS unless changed; negative: until cancel).
    void setReplyTimeout(int ms) { replyTimeoutMs = ms; }
    int replyTimeout() const { return replyTimeoutMs; }
    // Frames that answered nothing of ours since the last call: strangers'
    // replies, late ones, repeats of an answer already taken. Any thread.
    long takeIgnoredFrames() { return ignored.exchange(0); }
    // The id the next command will carry.
    int peekNextId() const { return nextId; }
    // How long an unanswered command waits before its copy goes out again,
    // as the link's round trip stands (issuing thread).
    int resendAfterMs() const { return roundTrip.tryTimeMs(); }
    QPcap *transport() { return pcap.get(); }

    void onPcapPacket(QPcapPacket *packet) override;

    // A terminal's answer may take this long (the workbench's batches and
    // fenwa-cli's commands alike).
    enum { REPLY_TIMEOUT_MS = 3000 };
    // Replies held at most for the waiting thread: a search of a thousand
    // terminals fits four times over, a flood does not grow the process.
    enum { REPLY_QUEUE_MAX = 4096 };
    // How long a send waits for the link's first open to succeed or fail.
    enum { LINK_SETTLE_MS = 3000 };
    // The search's repeats: the second frame SEARCH_FIRST_GAP_MS after the
    // first, then one every SEARCH_GAP_MS while SEARCH_TAIL_MS of the
    // collection remain, at most SEARCH_FRAMES. A terminal first heard after
    // the second frame left answered only a repeat; the wide first gap keeps
    // terminals that are merely slow out of that count. A thousand
    // terminals answer one frame within 0.1 s, so the answers to two
    // frames do not overlap; twelve frames leave a terminal unheard about
    // once in 3,000 searches when 30% of the frames are lost each way. At
    // most SEARCH_MAX terminals are listed: a flood of made-up replies must
    // not grow the list without end.
    enum {
        SEARCH_FIRST_GAP_MS = 400,
        SEARCH_GAP_MS = 125,
        SEARCH_TAIL_MS = 350,
        SEARCH_FRAMES = 12,
        SEARCH_MAX = 20000
    };

    // One exchange under way, a batch or a search: while it lives, the
    // replies to the ids it awaits are sorted for it on the capture thread
    // and cancel() ends it. It begins with nothing awaited and drops whatever
    // it leaves. One at a time, on the issuing thread: this is all a batch
    // needs of the SDK.
    class Operation
    {
    public:
        explicit Operation(FenwaSDK *sdk);
        ~Operation();

        FenwaSDK *sdk() const { return owner; }
        // The id of the next command.
        int takeId() { return owner->takeId(); }
        // Who may answer id: from (or alsoFrom) for a command; anyone, with
        // the method "search", when from is nullptr. Awaited before the
        // frame leaves: an answer may come before send() returns.
        void await(int id, const uint8_t *from, const uint8_t *alsoFrom = nullptr);
        void forget(int id);
        // Waits until replies have been taken, the deadline passes (a time
        // of QPcapPacketQueue::now(); negative: none) or the operation is
        // cancelled, and moves the replies into out (the caller deletes
        // them). False once cancelled. Woken by each reply, unless pollMs
        // is given: then it looks every pollMs and takes what gathered.
        bool waitReplies(std::vector<FenwaReply *> *out, qint64 deadline, int pollMs = 0);
        bool isCancelled() const;
        // A reply taken as an answer: the debug channel and the observer.
        void tell(const FenwaReply *reply) { owner->tell(reply); }
        // A frame that answered nothing after all (a second answer that came
        // before its id was forgotten): counted with the ignored ones.
        void ignore() { owner->countIgnored(); }
        // The link's round trip, for the resend wait and its samples.
        FenwaRoundTrip &roundTrip() { return owner->roundTrip; }
        // A search as FenwaSDK::search runs it, as part of this exchange;
        // stop, when given, is polled at least every 50 ms.
        int search(QList<FenwaDevice *> *out, int timeMs, FenwaSearchReport *report = nullptr,
                   const std::function<bool()> &stop = {});

    private:
        FenwaSDK *owner;
        Operation(const Operation &) = delete;
        Operation &operator=(const Operation &) = delete;
    };

private:
    void beginOperation();
    void endOperation();
    int takeId();
    void countIgnored(long frames = 1) { ignored.fetch_add(frames); }
    void dropTakenLocked();
    // A reply taken as an answer: the debug channel and the observer.
    void tell(const FenwaReply *reply);

    std::unique_ptr<QPcap> pcap; // reset first in the destructor: its threads fill the reply queue
    int nextId;
    QPcapAdapter adapter;
    bool hasAdapter = false;
    FenwaCommandObserver *commandObserver = nullptr;
    QMutex arpMutex; // held while the listener is called or replaced
    FenwaArpListener *arpListener = nullptr;
    int replyTimeoutMs = REPLY_TIMEOUT_MS;
    int searchFrames = SEARCH_FRAMES;

    struct Awaited {
        uint8_t from[6];
        uint8_t alsoFrom[6];
        bool anyone;
        bool hasAlsoFrom;
    };
    mutable QMutex awaitMutex; // guards the four below
    FenwaSignal replyTaken;    // woken after a reply is taken or a cancel
    QHash<int, Awaited> awaited;
    std::deque<FenwaReply *> taken;
    bool operating = false;
    bool cancelled = false;
    std::atomic<bool> awaiting{false}; // awaited is not empty: only then is a frame parsed
    std::atomic<long> ignored{0};
    // The link's round trip, for the batches' resend time: issuing thread only.
    FenwaRoundTrip roundTrip;

    FenwaSDK(const FenwaSDK &) = delete;
    FenwaSDK &operator=(const FenwaSDK &) = delete;
};
