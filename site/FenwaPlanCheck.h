// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaPlanRun.h"

#include <QVector>

// The way from a plan to the preview the operator decides on, once for
// both front ends: read what the rows need of their terminals, compare,
// probe the addresses handed out anew, compare again with the answers.
// What touches the segment comes from the front end (Segment): the
// workbench runs it under its dialogs, fenwa-cli straight on the link.
namespace FenwaPlan {

class Segment
{
public:
    virtual ~Segment() = default;
    // Reads what readings[i] asks of devices[i]; why[i] stays empty or says
    // what was not read. False when the operator stopped it.
    virtual bool read(const QList<FenwaDevice *> &devices, QVector<Reading> *readings, QStringList *why) = 0;
    // The ARP probe of the addresses: who answered. False when it could not
    // be sent or was stopped.
    virtual bool probe(const QStringList &addresses, QList<FenwaTerminal::AddressHolder> *answers) = 0;
};

enum class CheckResult {
    Done,
    Stopped,     // the read was stopped: no preview
    ProbeFailed, // the addresses could not be checked: no preview
};

struct Check {
    Preview preview;
    QStringList unread; // per terminal whose values were not read: "Name (MAC): why"
};

// What each found terminal must have read for the plan: its SIP accounts
// only where its row sets one of them, its channels likewise.
QVector<Reading> readingsFor(const Plan &plan, const QList<FenwaDevice *> &found);

// Reads (only terminals with something to read), compares, and unless
// probe is false probes the new addresses and compares again. own: this
// PC's addresses on the segment. Terminals that could not be read are in
// the preview with that problem.
CheckResult check(const Plan &plan, const QList<FenwaDevice *> &found, const QStringList &own, Segment *segment,
                  bool probe, Check *out);

} // namespace FenwaPlan
