// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaSheet.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class FenwaDevice;
class RtpSettings;
class SipSettings;

// A site plan: what each terminal, known by its MAC, should hold. It comes
// from a sheet (CSV or a workbook, one row per terminal, any subset of the
// columns) or from
// a site file written by a backup (JSON), and both are read into the same
// rows. Everything here is widget-free and talks to no terminal: the
// workbench and fenwa-cli read, check and compare plans with it, and run
// the steps it derives on their own batch.
namespace FenwaPlan {

// Every value a plan may set. The column names (columnName) are the sheet's
// header and the site file's keys, documented in docs/site-plans.md.
enum Field {
    Name,
    IpMode,
    Ip,
    Netmask,
    Gateway,
    Dns1,
    Dns2,
    WebAccount,
    WebPasswordMd5,
    Sip1Account,
    Sip1Password,
    Sip1DisplayName,
    Sip1ServerHost,
    Sip1ServerPort,
    Sip2Account,
    Sip2Password,
    Sip2DisplayName,
    Sip2ServerHost,
    Sip2ServerPort,
    Rtp1,
    Rtp10 = Rtp1 + 9,
    MicVolume,
    SpeakerVolume,
    AutoMute,
    NewMac,
    FieldCount
};
QString columnName(int field);
// -1 when name is not a column.
int fieldOf(const QString &name);
// Shown as "***" wherever a plan's values are shown or printed.
bool isSecret(int field);

// Field -> value, in each field's canonical text: MACs in lower case with
// colons, ip_mode "dhcp" or "static", volumes as whole numbers, a channel as
// the RTP page writes it ("239.1.1.1:6000", " off" behind it when the channel
// is disabled), the web password as its MD5 digest.
using Values = QMap<int, QString>;

// One terminal of a plan.
struct Row {
    int line = 0;    // the sheet's line, or the terminal's number in a site file
    QString mac;     // the terminal it is for
    Values values;   // only what the plan sets
    QStringList problems; // values that fail the pages' rules, control characters
    // What the sheet holds that may not be what the planner typed (a
    // formula's last value): sent only when the operator says so.
    QStringList doubts;
    QStringList cells;    // a sheet's row as read, one text per column
    QString uid;          // a site file's: the UID of the terminal backed up
    QList<int> sameMac;   // a site file's other terminals with this MAC
};

struct Plan {
    QList<Row> rows;
    bool siteFile = false;
    QString path;            // the file it was read from, if any
    FenwaSheet::Form form;   // how the sheet was written
    QStringList header;      // the sheet's columns as written
};

// Reads a plan: a site file when the text starts with '{', else a sheet
// (CSV or a workbook). The whole plan is refused, with the line and the
// column or key named, for text that cannot be read, an unknown column, a
// row without a valid MAC or two rows of a sheet for one MAC: nothing else
// happens then. A value that fails a page's rule or holds a control
// character is not fatal: it becomes a problem of its row, so the preview
// can show it and the operator may leave the row out; so are a site file's
// terminals that shared one MAC (each has its UID), which no command can
// tell apart.
bool read(const QByteArray &bytes, Plan *plan, QString *error);
bool readFile(const QString &path, Plan *plan, QString *error);

// A backup row put onto the terminal that replaces it: the plan keeps only
// that row, keyed by onto; with takeMac the replacement also gets the
// backed-up terminal's MAC (last, as every MAC change). from names the row
// by its MAC or, where terminals shared one, by its UID. False with *error
// when from names no row or several, or onto is not a MAC.
bool restoreOnto(Plan *plan, const QString &from, const QString &onto, bool takeMac, QString *error);
// The same for the row at index.
bool restoreRow(Plan *plan, int index, const QString &onto, bool takeMac, QString *error);

// What a terminal holds now, in the same form: the search record, plus both
// SIP accounts and the ten channels when they were read (nullptr: not read).
Values currentValues(const FenwaDevice *device, const SipSettings *sip = nullptr, const RtpSettings *rtp = nullptr);
// Whether the row is for this terminal: its MAC is the one the terminal
// reports or the one its replies come from.
bool rowIsFor(const Row &row, const FenwaDevice *device);

// Whether showing or applying the row needs the terminal's SIP accounts or
// RTP channels read first.
bool needsSip(const Row &row);
bool needsRtp(const Row &row);

// A value as shown to people: secrets masked, an empty value as "(empty)".
QString shownValue(int field, const QString &value);

// ---- the site file ------------------------------------------------------

// The site file of a backup: every terminal's record and settings. A
// terminal whose SIP accounts or channels are missing (nullptr) is written
// without them.
struct SiteTerminal {
    const FenwaDevice *device = nullptr;
    const SipSettings *sip = nullptr; // two
    const RtpSettings *rtp = nullptr; // FENWA_RTP_CHANNELS
};
// Terminals that share a MAC are noted in each other's "found" (the UIDs
// of the others): a restore names them by UID. withPasswords false leaves
// the SIP passwords and the web password's digest out.
QByteArray siteFile(const QList<SiteTerminal> &terminals, const QString &createdAt, bool withPasswords = true);
enum { SITE_FILE_VERSION = 1 };
// Per MAC that more than one of terminals holds, their labels.
QStringList sharedMacs(const QList<SiteTerminal> &terminals);

// The plan written back as a sheet with each row's outcome in the column
// "outcome" (last, unless the sheet has one), so that applying it again
// redoes only what failed (rows that are done change nothing the second
// time). A sheet keeps its columns, their order and every cell as read; a
// site file or a restore gives the columns it sets.
QList<QStringList> resultRows(const Plan &plan, const QStringList &outcomes);
// The same as a file: by default in the plan's own form.
bool resultSheet(const Plan &plan, const QStringList &outcomes, const FenwaSheet::Form &form, QByteArray *out,
                 QString *error);
QByteArray resultSheet(const Plan &plan, const QStringList &outcomes);

} // namespace FenwaPlan
