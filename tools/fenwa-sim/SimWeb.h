// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SimOptions.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

class SimResponder;

// The terminals' web side on the simulator's interface. For the kernel of
// the simulator's namespace to take TCP for a terminal, something must own
// its MAC and IPv4 address: each terminal gets a macvlan on the interface
// carrying both, and follows the terminal when SetMac or SetIp moves it.
// The kernel answers no ARP on these (arp_ignore 8): the simulator's own
// ARP replies stay the only ones, as before, and a restarting terminal
// answers nothing at all (its macvlan goes down meanwhile). Each terminal
// listens on port 80 of its own address, bound to its macvlan so that its
// answers leave from its own MAC.
//
// Threads: start() and stop() from the main thread; one web thread serves
// every connection and looks every 50 ms whether a terminal moved, restarts
// or is back. It touches the terminal records only under stateMutex, and
// calls stateChanged (which takes that mutex itself) without holding it.
// stop() joins the thread, closes every socket and removes the macvlans.
class SimWeb
{
public:
    SimWeb(const SimOptions &options, SimResponder *responder, std::mutex *stateMutex,
           std::function<void()> stateChanged);
    ~SimWeb();
    SimWeb(const SimWeb &) = delete;
    SimWeb &operator=(const SimWeb &) = delete;

    // Returns 0, or -1 with the reason on stderr.
    int start();
    void stop();

private:
    struct Station;
    struct Connection;
    void loop();
    void follow(long long now);
    void serve(Connection &c, long long now);
    bool paced(const Connection &c) const;
    void listen(Station &s);

    SimOptions options;
    SimResponder *responder;
    std::mutex *stateMutex;
    std::function<void()> stateChanged;
    std::vector<Station> stations;
    std::vector<Connection> connections;
    std::thread thread;
    std::atomic<bool> running{false};
    int control = -1; // a socket for the interface ioctls
    std::mt19937 random;
};
