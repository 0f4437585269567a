// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <utility>
#include <vector>

// What a terminal's web side does wrong, when asked to.
enum class SimWebFault {
    None,
    WrongLogin,  // holds other credentials than it reports
    Hang,        // accepts the connection, reads the request, never answers
    Http500,     // answers every request with 500
    Refuse,      // nothing listens: the connection is refused
    Slow,        // reads an upload at a crawl
    Drip,        // answers one byte a second
    Endless,     // answers with a body that never ends
    CloseUpload, // closes the connection halfway through an upload's body
};

// What one run of the simulator emulates and which faults it injects. Every
// fault is off unless asked for, so a plain run behaves like healthy terminals.
struct SimOptions
{
    QByteArray interfaceName;
    int count = 8;
    uint8_t baseMac[6] = {0x02, 0xfe, 0x00, 0x00, 0x00, 0x01};
    uint8_t baseIp[4] = {192, 168, 1, 100};
    QStringList types = {QStringLiteral("VQ40"), QStringLiteral("VQT40")};
    QByteArray stateFile;
    QByteArray commandLog;

    // Terminal i is numbered numberFrom + i in its name, uid and serial, so
    // that two simulators on one segment report no identity twice.
    int numberFrom = 1;

    // Terminals that answer from another's MAC, as a cloned or mistyped
    // address would have them: (terminal, whose MAC), indices from 0.
    std::vector<std::pair<int, int>> macOf;

    // Faults.
    int dropPercent = 0;
    // Command frames lost on the way in, before any terminal sees them: a
    // lost search frame is lost for every terminal, as on a wire.
    int dropCommandsPercent = 0;
    int delayMs = 0;
    // (terminal index from 0, or -1 for every terminal; how much later it
    // answers): terminals that take their time, busy or slow.
    std::vector<std::pair<int, int>> processMs;
    int processMsOf(int index) const;
    // Methods whose commands are carried out but whose every reply is lost
    // on the way back, as a lossy segment can have it.
    QStringList unanswered;
    QByteArray result = "success";
    bool duplicate = false;
    bool wrongId = false;
    bool garbage = false;
    bool oversized = false;
    uint32_t seed = 1;

    // Search replies of terminal i leave i * spreadUs microseconds after the
    // first, as real terminals answer at their own pace; 0 sends a thousand
    // replies back to back, the hardest burst for the asker.
    int spreadUs = 100;

    // Echo mode (benchmark baseline): every command frame is sent straight
    // back, text unchanged, with no parsing and no state.
    bool echo = false;

    // The web side: each terminal answers HTTP on port 80 at its own IPv4
    // address (login form, firmware upload). Off unless asked for.
    bool web = false;
    // How long a terminal is gone when it restarts (after a reboot, a factory
    // reset or a firmware upload): (terminal index from 0, or -1 for every
    // terminal; milliseconds), the last naming a terminal counting. stayDown
    // terminals never come back.
    std::vector<std::pair<int, int>> rebootMs;
    std::vector<int> stayDown;
    // Milliseconds, or -1 for a terminal that stays down.
    int rebootMsOf(int index) const;
    // (terminal index from 0, or -1 for every terminal; the fault)
    std::vector<std::pair<int, SimWebFault>> webFaults;
    SimWebFault webFaultOf(int index) const;
};

// Parses argv into options. Returns 0, 1 after printing the help, or 2 after
// printing a usage error to stderr.
int parseSimOptions(int argc, char **argv, SimOptions *out);

bool parseMacText(const QByteArray &text, uint8_t mac[6]);
bool parseIpv4Text(const QByteArray &text, uint8_t ip[4]);
