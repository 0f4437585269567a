// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CliOptions.h"

#include <QTextStream>

class FenwaSDK;

// fenwa-cli report FILE: searches, reads every terminal's SIP accounts and
// RTP channels in one batch, and writes the handover report (FenwaReport):
// FILE.html itself, FILE.pdf through the fenwa-report helper (Qt Gui stays
// out of this program). The site's name and the author come from --site and
// --by, which are remembered in the workbench's configuration, or from what
// was remembered; the language from --language or the workbench's. Returns
// the exit status: 0 written, 1 not (the reason on err), 2 no site name.
int runCliReport(FenwaSDK *sdk, const CliRequest &request, QTextStream &out, QTextStream &err);
