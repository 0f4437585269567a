// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CliOptions.h"
#include "link/FenwaTerminal.h"

#include <QByteArray>
#include <QList>
#include <QTextStream>

class FenwaDevice;
class FenwaSDK;

// One terminal as a JSON object on one line: the texts it reported, the link
// addresses commands go to, every other reply item under "extras", and,
// when it has any, its conflicts: "conflicts":{"sameMac":[{"name","uid"}],
// "sameIp":[{"name","mac"}]} naming the other terminals. (The CSV form is
// FenwaExport's, shared with the workbench's export.)
QByteArray deviceJsonLine(const FenwaDevice *device, const FenwaTerminal::Conflicts &conflicts = {});

// Runs a parsed request on an open SDK: the search, then the command on
// every target at once (the link's windowed batch, or for firmware the web
// sides, several at a time). Writes one line per target to out, in target
// order as the results come, and notices to err. Returns the exit status
// (0 all succeeded, 1 any failed or none was reached).
int runCliRequest(FenwaSDK *sdk, const CliRequest &request, QTextStream &out, QTextStream &err);
