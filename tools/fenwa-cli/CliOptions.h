// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QList>
#include <QStringList>

#include "CliCommands.h"
#include "link/FenwaDevice.h"

// One invocation of fenwa-cli, as parsed from its arguments.
struct CliRequest
{
    QString interface;      // empty: pick the adapter as the workbench does
    int searchMs = 2000;    // how long a search collects replies
    int timeoutMs = -1;     // how long a terminal may stay silent; parseCli puts the command's default
                            // in when --timeout is not given
    int parallel = 4;       // firmware: uploads at once
    int window = 0;         // plan and backup: commands in flight at once (0: the batch's own; benchmarks set 1)
    bool csv = false;       // search: CSV instead of JSON lines
    QString xlsxFile;       // search: the sheet also written as a workbook there
    QString outputFile;     // backup: the site file goes there (owner-only), not to standard output
    bool noPasswords = false; // backup: the SIP passwords and the web password's digest left out
    bool all = false;       // every terminal of a supported type
    bool verbose = false;   // echo every text sent and received on stderr
    bool help = false;      // -h or --help stood where an option may: nothing else is checked
    bool noProbe = false;   // static addresses are not probed with ARP before they are handed out
    QString passwordFile;   // where the PASSWORD argument is read from ("-": standard input)
    QStringList warnings;   // for stderr: a password given as an argument, a file others may read
    QString command;        // kebab case: search, set-name, ...
    QStringList macs;       // --mac targets, as typed
    QStringList args;       // the command's positional arguments
    // plan: apply sends nothing (--dry-run); rows with problems are left out
    // instead of stopping it all (--skip-refused); values a spreadsheet may
    // have rewritten (lost zeros, formulas) are sent as they stand
    // (--as-written); where the result sheet goes (--result); a backup row
    // (by MAC or UID) put onto another terminal (--from, --onto), which also
    // gets the old MAC with --take-mac.
    bool dryRun = false, skipRefused = false, takeMac = false, asWritten = false;
    QString resultFile, restoreFrom, restoreOnto;
    // watch: seconds between rounds, and how long to watch (0: until a signal).
    int intervalS = 10, forS = 0;
    // reboot, reset-default, firmware: how long to wait for the targets to
    // answer again afterwards (-1: not at all).
    int waitS = -1;
    // report: the site's name and who makes it (empty: as remembered), and
    // its language ("en", "cn"; empty: the workbench's).
    QString siteName, author, language;
};

// Parses arguments (without the program name) and checks the command's
// arguments as for one target, lengths and ranges included, so that a
// command that cannot be sent fails before the search. A PASSWORD comes
// from --password-file when given (its first line), a JSON argument from
// a file when written @FILE, either from standard input for "-". Returns
// true, or false with a message fit for an installer in *error.
bool parseCli(const QStringList &arguments, CliRequest *out, QString *error);

// The --help text: options, and every command of the table with its
// arguments, what it does and an example.
QString cliUsage();
// Its first lines: how the program is called.
QString cliSynopsis();

// The JSON arguments of set-sip and set-rtp.
bool parseSipArgument(const QString &text, SipSettings *sip0, SipSettings *sip1, QString *error);
bool parseRtpArgument(const QString &text, QList<RtpSettings> *channels, QString *error);
