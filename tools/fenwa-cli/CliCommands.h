// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/FenwaSDK.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class FenwaDevice;
struct cJSON;

// What a command does to target number index of a batch: the request the
// batch sends it, and what follows once its result is in: after writes an
// accepted change into the record and adds what the line prints besides the
// MAC, the result and the failure (the value it sent, what it read) to
// printed. reply is nullptr when the terminal did not answer.
struct CliStep {
    FenwaRequest request;
    std::function<void(FenwaDevice *device, const FenwaReply *reply, bool accepted, cJSON *printed)> after;
};
using CliPlan = std::function<CliStep(int index)>;

// What a batch's values may depend on besides its arguments: the targets in
// order, every terminal the search found, and the link, for an address
// probe unless the operator said --no-probe. notes collects lines for
// stderr (the addresses a batch stepped over).
struct CliSite {
    FenwaSDK *sdk = nullptr;
    QList<FenwaDevice *> targets, found;
    bool probe = true;
    QStringList *notes = nullptr;
};

// One row of fenwa-cli's command table: everything about a command is here,
// its usage and help text included.
struct CliCommand {
    const char *name;
    const char *argHelp; // how the arguments are written in the usage text
    int argCount;
    // Checks the arguments for a batch of count targets and derives the
    // value each target gets (the same rules as the workbench's pages).
    // Returns the plan, or an empty one with *error set: nothing is sent.
    // nullptr for search, which addresses no terminal.
    CliPlan (*plan)(const QStringList &args, int count, QString *error);
    const char *summary; // what it does, for --help
    const char *example; // one command line, for --help
    // How long a terminal may stay silent unless --timeout says otherwise:
    // the reply wait of a command, or an HTTP exchange's silence.
    int defaultTimeoutMs = FenwaSDK::REPLY_TIMEOUT_MS;
    // Used instead of plan once the search has run, for the commands whose
    // values must not collide with what the segment holds (MACs, static
    // addresses); plan still checks the arguments before the search.
    CliPlan (*planOnSite)(const QStringList &args, const CliSite &site, QString *error) = nullptr;
    // The targets are reached over their web side (firmware), not the link:
    // the plan only checks the arguments.
    bool overWeb = false;
    // The targets restart afterwards: --wait may follow them.
    bool restarts = false;
};

const CliCommand *findCliCommand(const QString &name);
const CliCommand *cliCommands(int *count);
