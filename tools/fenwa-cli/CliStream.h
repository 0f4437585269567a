// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// fenwa-cli stream --group ADDRESS:PORT [--duration SECONDS] FILE...
struct CliStreamOptions
{
    QString address;      // dotted IPv4
    int port = 0;
    double duration = 0;  // seconds; 0 = until interrupted
    QStringList files;
};

// Parses what follows the word "stream". Returns true, or false with a
// message fit for an installer in *error.
bool parseStreamOptions(const QStringList &args, CliStreamOptions *out, QString *error);

// Streams the play list until Ctrl+C (or SIGTERM) or the duration ends, then
// stops with an RTCP BYE. Returns 0, 1 on a runtime failure, 2 on a usage
// error.
int cliStream(const QStringList &args);
