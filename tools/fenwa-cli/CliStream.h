// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// fenwa-cli stream --group ADDRESS:PORT [--duration SECONDS] [--interface NAME]
//                  (--source ID | FILE...)
struct CliStreamOptions
{
    QString address;      // dotted IPv4
    int port = 0;
    double duration = 0;  // seconds; 0 = until interrupted
    QString interface;    // carries the multicast; empty = routing table's choice
    QString source;       // capture source id; empty = play the files
    QStringList files;
};

// Parses what follows the word "stream". Returns true, or false with a
// message fit for an installer in *error.
bool parseStreamOptions(const QStringList &args, CliStreamOptions *out, QString *error);

// Streams the play list or the capture source until Ctrl+C (or SIGTERM,
// SIGHUP) or the duration ends, then stops with an RTCP BYE. Returns 0, 1 on
// a runtime failure (a file that cannot be played, nothing could be sent, a
// capture source that fell behind real time or overflowed its queues, so
// the stream went out short), 2 on a usage error.
int cliStream(const QStringList &args);

// fenwa-cli sources: one JSON object per capture source and line (id, name,
// kind: 0 input, 1 the sound an output plays). Returns 0, or 1 when the sound
// server cannot be reached.
int cliSources(const QStringList &args);
