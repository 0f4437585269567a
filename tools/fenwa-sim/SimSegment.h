// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SimOptions.h"
#include "SimReplyScheduler.h"
#include "SimResponder.h"
#include "SimWeb.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

// The emulated terminals on one interface: a packet socket of its own reads
// ARP frames, the responder decides, and the replies go out through the same
// socket, at once or from the scheduler.
//
// Threads: start() opens the socket and starts the receive thread, the only
// caller of the responder. writeState() may also come from the main thread
// (SIGUSR1), so the responder sits behind stateMutex, and writeMutex keeps
// two dumps from overtaking each other. Scheduled replies leave from the
// scheduler's thread. With the web side on, its thread serves HTTP and
// writes the state through writeState() too. stop() ends the receive thread
// first (no command arrives any more), then the web side, then the
// scheduler, then closes the socket and the log.
class SimSegment
{
public:
    explicit SimSegment(const SimOptions &options);
    ~SimSegment();
    SimSegment(const SimSegment &) = delete;
    SimSegment &operator=(const SimSegment &) = delete;

    // Opens the interface and the files; from its return on, frames are
    // kept even before the receive thread reads them. Returns 0, or -1 with
    // the reason on stderr.
    int start();
    void stop();
    // Dumps every terminal to the state file (when the run has one).
    int writeState();

private:
    int openSocket();
    void receiveLoop();
    void respond(const uint8_t *frame, size_t length, SimResponse *r);
    void send(SimResponse *r);
    enum { kFramesPerTurn = 64 };
    void logCommand(const std::string &text);
    void transmit(const std::vector<uint8_t> &frame, bool countAsReply);
    long kernelDrops();

    SimOptions options;
    std::mutex writeMutex;
    std::mutex stateMutex;
    SimResponder responder;
    std::unique_ptr<SimReplyScheduler> scheduler;
    std::unique_ptr<SimWeb> web;
    std::thread receiver;
    int sock = -1;
    int stopEvent = -1;
    int commandLog = -1;
    long receiveDrops = 0; // guarded by stateMutex
    std::atomic<long> repliesSent{0};
};
