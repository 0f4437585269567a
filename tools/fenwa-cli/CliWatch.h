// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CliOptions.h"

#include <QByteArray>
#include <QTextStream>

class FenwaSDK;
struct FenwaLiveEvent;

// fenwa-cli watch: a search, then a light search round every interval,
// matched to what was seen before by FenwaLiveList (the workbench's live
// table uses the same), one JSON line per event on out. Ends at the end of
// --for, or at SIGINT, SIGTERM or SIGHUP (a round under way is cut short and
// says nothing), with a summary line. Returns the exit status: 0, or 1 when
// no search could be sent at all.
int runCliWatch(FenwaSDK *sdk, const CliRequest &request, QTextStream &out, QTextStream &err);

// An event as its line: {"event":"appeared"|"changed"|"offline"|"back",
// "time":ISO 8601, "mac", "name", ...}: appeared adds ip, version, type and
// uid; changed (and back, when the terminal came back changed) "changes":
// {field:{"old","new"}}; offline "lastSeen"; back "offlineSince".
QByteArray watchEventLine(const FenwaLiveEvent &event, const QDateTime &lastSeen, const QDateTime &offlineSince);
