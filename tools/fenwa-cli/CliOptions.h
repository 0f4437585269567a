// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QList>
#include <QStringList>

#include "link/FenwaDevice.h"

// One invocation of fenwa-cli, as parsed from its arguments.
struct CliRequest
{
    QString interface;      // empty: pick the adapter as the workbench does
    int searchMs = 2000;    // how long a search collects replies
    int timeoutMs = 3000;   // how long a command waits for its reply
    bool csv = false;       // search: CSV instead of JSON lines
    bool all = false;       // every terminal of a supported type
    bool verbose = false;   // echo every text sent and received on stderr
    QString command;        // kebab case: search, set-name, ...
    QStringList macs;       // --mac targets, as typed
    QStringList args;       // the command's positional arguments
};

// What a command needs and does.
struct CliCommand
{
    const char *name;
    int argCount;           // positional arguments it takes
    const char *argHelp;    // how they are written in the usage text
    bool reads;             // prints what the terminal returned
};

const CliCommand *findCliCommand(const QString &name);
const CliCommand *cliCommands(int *count);

// Parses arguments (without the program name). Returns true, or false with a
// message fit for an installer in *error.
bool parseCli(const QStringList &arguments, CliRequest *out, QString *error);

// Checks the positional arguments of a terminal command (addresses, numbers,
// JSON). Returns true, or false with a message.
bool validateCliArgs(const CliRequest &request, QString *error);

QString cliUsage();

// Address helpers shared with validation and batch stepping.
bool isIpv4Text(const QString &text);
bool isMacText(const QString &text);
// "aa:bb:cc:dd:ee:ff" in lower case, or empty when text is not a MAC.
QString normalizeMac(const QString &text);
// Next MAC (the six bytes as one 48-bit number plus one), lower case.
QString nextMac(const QString &mac);
// Next address: last number + 1, 255 wraps to 0, no carry (as the workbench).
QString nextIpv4(const QString &ip);

// The JSON arguments of set-sip and set-rtp.
bool parseSipArgument(const QString &text, SipSettings *sip0, SipSettings *sip1, QString *error);
bool parseRtpArgument(const QString &text, QList<RtpSettings> *channels, QString *error);
