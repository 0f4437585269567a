// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class FenwaDevice;
class RtpSettings;
class SipSettings;

// The handover report: a document of the site as the last search (and the
// live view) found it, for the customer. What goes into it and its HTML live
// here, without widgets or Qt Gui, so that fenwa-cli writes the HTML form
// itself; the PDF form (FenwaReportPdf) lays the same HTML out on A4 pages
// with Qt's PDF writer, in the workbench or in the fenwa-report helper.
//
// Every text a terminal or the operator controls is escaped on its way into
// the HTML: a terminal named "<img src=...>" shows as that text, and loads
// nothing. Labels pass through translate(): the report is in the language
// loaded in the process.
namespace FenwaReport {

// One terminal's row.
struct Terminal {
    QString name, mac, type, ip, netmask, gateway, ipMode, version;
    bool settingsRead = false; // the SIP and RTP lists below were read from it
    QStringList sip;           // "account@server" of each account in use, never a password
    QStringList rtp;           // "address:port" of each enabled channel
    QString volumes;           // "mic 50, speaker 60", auto mute added when on
    bool offline = false;
    QString status;            // the live view's mark: "offline since 10:42:13", "new", ...
    QStringList conflicts;     // "shares its MAC with Terminal-002 (UID ...), ...", "reports the address of ..."
    QString sharedMac, sharedIp; // the MAC or address it shares, if it does
    QString lastResult;        // of the last batch, when it took part
};

// What a row is made from: a record and what else is known of it.
struct Source {
    const FenwaDevice *device = nullptr;
    const SipSettings *sip = nullptr; // both accounts, when they were read
    const RtpSettings *rtp = nullptr; // the ten channels, when they were read
    bool offline = false;
    QString status;
    QString lastResult;
};

struct Data {
    QString siteName, author, adapter;
    QDateTime made;
    QList<Terminal> terminals;
    QString lastBatch;        // the last batch's title and time; empty: none since the search
    int settingsUnread = 0;   // terminals whose SIP and RTP settings could not be read
};

// Who makes the report unless told: the user's full name from the password
// database, else the login name.
QString defaultAuthor();

// The rows in the order given, with their conflicts (the same rules as the
// table's marks).
QList<Terminal> terminalsOf(const QList<Source> &sources);

struct Count {
    QString label;
    int count = 0;
};
// Terminals per type and per firmware version, most first, then by name.
QList<Count> byType(const Data &data);
QList<Count> byVersion(const Data &data);

// The document. For a browser the charts are inline SVG; for the PDF writer
// they are the images "chart:types" and "chart:versions", which it supplies,
// and lengths are in its pixels (300 to the inch).
enum class Form { Browser, Pdf };
QString html(const Data &data, Form form);
// A chart as SVG: one bar per count, its label and its number.
QString svgChart(const QList<Count> &counts);

// What the PDF writer needs: the document, the line atop every page, the
// footer's form ("Page %1 of %2"), the charts' counts, and the document's
// title for the file's properties.
struct PdfJob {
    QString html, header, footer, title;
    QList<Count> types, versions;
};
PdfJob pdfJob(const Data &data);
// The job as one JSON text, for the fenwa-report helper's standard input,
// and back; false with *error for anything but such a text.
QByteArray toJson(const PdfJob &job);
bool fromJson(const QByteArray &text, PdfJob *job, QString *error);

// The helper takes at most this much: a site of thousands of terminals fits
// many times over.
enum : qint64 { PDF_JOB_MAX = 64 * 1024 * 1024 };

} // namespace FenwaReport
