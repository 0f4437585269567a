// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CliOptions.h"
#include "site/FenwaPlan.h"

#include <QTextStream>

class FenwaSDK;

// fenwa-cli's site commands: backup, plan check, plan apply.

// Reads the plan a request names (and, for a restore, keeps the one row it
// moves): before the search, so that a plan that cannot be read costs no
// time on the segment. False with *error (exit status 2).
bool loadCliPlan(const CliRequest &request, FenwaPlan::Plan *plan, QString *error);

// Runs backup or plan on an open SDK. Returns the exit status: 0 when every
// terminal was read or the plan is clean and applied, 1 otherwise.
int runCliSite(FenwaSDK *sdk, const CliRequest &request, const FenwaPlan::Plan &plan, QTextStream &out,
               QTextStream &err);
