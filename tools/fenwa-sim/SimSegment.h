// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "QPcap.h"
#include "SimOptions.h"
#include "SimReplyScheduler.h"
#include "SimTerminal.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

// The emulated terminals on one interface: reads command frames through the
// link's own transport, lets the addressed terminals answer, and sends their
// replies with the faults the run asked for.
//
// Threads: onPcapPacket runs on the capture thread and is the only writer of
// the terminals; writeState may also come from the main thread (SIGUSR1), so
// the terminals sit behind a mutex. Delayed replies leave from the
// scheduler's thread. stop() closes the transport first, so no command
// arrives while the scheduler winds down.
class SimSegment : public QPcapObserver
{
public:
    explicit SimSegment(const SimOptions &options);
    ~SimSegment() override;

    // Opens the interface and waits until capture runs. Returns 0, or -1
    // with the reason on stderr.
    int start(int timeoutMs);
    void stop();
    // Dumps every terminal to the state file (when the run has one).
    int writeState();

    void onPcapPacket(QPcapPacket *packet) override;

private:
    struct Target {
        uint8_t mac[6];
        uint8_t ip[4];
    };
    void echo(const QPcapPacket *packet, const Target &asker, const uint8_t dst[6]);
    void logCommand(const char *text, int length);
    // Applies the reply faults to one reply and sends (or schedules) it.
    void reply(const Target &from, const Target &to, cJSON *json, int order);
    void transmit(const Target &from, const Target &to, const QByteArray &text);
    void transmitOversized(const Target &from, const Target &to, const QByteArray &text);
    int openRawSocket();
    int findTerminal(const uint8_t mac[6]) const;

    SimOptions options;
    QPcap pcap;
    SimReplyScheduler *scheduler = nullptr;
    std::mutex stateMutex;
    std::vector<SimTerminal> terminals;
    std::mt19937 random;
    FILE *commandLog = nullptr;
    int rawSocket = -1;
    int rawIfIndex = 0;
    bool rawOversized = false;
    std::atomic<long> repliesSent{0};
    std::atomic<long> repliesDropped{0};
    std::atomic<long> commandsSeen{0};
};
