// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <sys/types.h>

// A test segment: a tool namespace and a simulator namespace joined by a veth
// pair, claimed by this process (scripts/netns-lib.sh) so that parallel runs
// never meet and no run removes a live one's segment. create() moves
// the calling thread into the tool namespace; threads it starts afterwards
// (the link's) inherit it, so nothing the test sends can reach a real
// interface. destroy() goes back and removes both namespaces.
class E2eSegment
{
public:
    E2eSegment();
    ~E2eSegment() { destroy(); }

    // Returns an empty text on success, else why the segment cannot be made.
    QByteArray create();
    void destroy();
    bool isUp() const { return created; }

    // Tool-side interface up or down (as an operator unplugging the port).
    bool setToolInterfaceUp(bool up);
    // MTU of both ends.
    bool setMtu(int mtu);

    QByteArray toolNs, simNs, toolIf, simIf;
    QByteArray dir; // scratch folder (mkdtemp) for state file, command log, output
    static const char *toolAddress() { return "192.168.1.2/24"; }

private:
    bool created = false;
    int originalNs = -1;
    int lockFd = -1; // the claim, held while the segment lives
    QByteArray lockFile;
};

// The suite's segment, made by e2e_main.cpp, and why it could not be, if so.
extern E2eSegment *e2eSegment;
extern QByteArray e2eSegmentError;

// Runs argv, waits, returns the exit status (-1 when it could not run) and
// puts what it printed (stdout and stderr) into *output when given.
int runCommand(const QStringList &argv, QByteArray *output = nullptr);

// One fenwa-sim inside the segment's simulator namespace.
class SimProcess
{
public:
    ~SimProcess() { stop(); }
    // Starts the simulator and waits for its state file. Returns an empty
    // text on success, else what went wrong. tag names its files, for a
    // second simulator on the same segment.
    QByteArray start(const E2eSegment &segment, const QStringList &extraArgs, const QByteArray &tag = QByteArray());
    void stop();

    QJsonObject state() const;
    QJsonArray terminals() const { return state().value("terminals").toArray(); }
    QJsonObject terminal(int index) const { return terminals().at(index).toObject(); }
    QJsonObject terminal(const QString &mac) const;
    // Reply counters; asks the simulator for a fresh dump first (they change
    // without a state change).
    QJsonObject stats() const;
    QList<QByteArray> commands() const;
    QByteArray output() const;

private:
    pid_t pid = -1;
    QByteArray stateFile, commandLog, outFile;
};
