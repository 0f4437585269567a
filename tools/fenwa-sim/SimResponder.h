// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SimFrame.h"
#include "SimOptions.h"
#include "SimTerminal.h"

#include <random>
#include <string>
#include <vector>

// One frame to send, delayUs microseconds after the command came in.
struct SimOutFrame
{
    std::vector<uint8_t> bytes;
    long delayUs = 0;
    bool arp = false; // an address reply, not an answer to a command
};

// What one received frame makes the segment do, in this order: log the
// command text, write the state file when the state changed, send the frames.
struct SimResponse
{
    bool isCommand = false; // a well-formed command for one of the terminals
    std::string commandText;
    bool stateChanged = false;
    std::vector<SimOutFrame> frames;
};

// The terminals of one run and how they answer frames: bytes in, frames out,
// no sockets and no files, so a fuzzer or a unit test can drive it directly.
// The run's faults (commands lost, replies dropped, delay, per-terminal
// processing time, spread, result, duplicate, wrong id, garbage,
// oversized) and echo mode are applied here too.
//
// Not thread-safe: whoever owns it serialises respond() and every access to
// terminals() (SimSegment's state mutex; another front on the same records
// takes the same mutex).
class SimResponder
{
public:
    explicit SimResponder(const SimOptions &options);

    // Clears out, then fills it with what frame calls for.
    void respond(const uint8_t *frame, size_t length, SimResponse *out);

    const std::vector<SimTerminal> &terminals() const { return all; }
    std::vector<SimTerminal> &terminals() { return all; }

    // The state file's text: every terminal and the counters, valid UTF-8
    // whatever bytes a command put into a name. replies and missed are
    // counted by the sender and the socket.
    std::string stateText(long replies, long missed) const;

    // Whether a frame over 1514 bytes can leave (the interface's MTU); if not,
    // an oversized reply is the longest legal frame with its text cut short.
    bool oversizedFits = false;

    // Counters for the state file.
    long commands = 0;
    long dropped = 0;
    long arpReplies = 0;
    long droppedCommands = 0;

private:
    void answerArp(const SimIncoming &in, SimResponse *out);
    void answerCommand(const SimIncoming &in, SimResponse *out);
    // Applies the reply faults to one reply and adds it (or not) to out,
    // processMs later than the others.
    void addReply(const SimStation &from, const SimStation &to, struct cJSON *json, int order, int processMs,
                  SimResponse *out);
    int findTerminal(const SimMac &mac) const;

    SimOptions options;
    std::vector<SimTerminal> all;
    long long nowMs = 0; // when the frame being answered came (web side on)
    std::mt19937 random;
};
