// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CliOptions.h"

#include <QByteArray>
#include <QList>
#include <QTextStream>

class FenwaDevice;
class FenwaSDK;

// The terminal types the workbench manages.
bool isSupportedType(const QString &type);

// One terminal as a JSON object on one line: the texts it reported, the link
// addresses commands go to, and every other reply item under "extras".
QByteArray deviceJsonLine(const FenwaDevice *device);
QString csvHeader();
QString deviceCsvLine(const FenwaDevice *device);

// Drops repeated answers of one terminal (same link MAC) and sorts by the MAC
// text the terminals reported. Dropped records are released.
QList<FenwaDevice *> uniqueSortedDevices(const QList<FenwaDevice *> &found);

// Runs a parsed request on an open SDK: the search, then the command on each
// target. Writes results to out and notices to err. Returns the exit status
// (0 all succeeded, 1 any failed).
int runCliRequest(FenwaSDK *sdk, const CliRequest &request, QTextStream &out, QTextStream &err);
