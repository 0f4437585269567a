// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

class FenwaDevice;

// Firmware upgrade over a terminal's web side: what the firmware page and
// fenwa-cli's firmware command do for each terminal, in one place. A login
// form with the account and password the terminal reported, then, when the
// terminal accepted the login, the file as a multipart upload.
//
// Threads: upgrade() blocks its caller (a job thread or the CLI's main
// thread) until both requests are over; it builds its own HTTP client, so
// each terminal gets a session of its own. upgradeAll() runs several
// upgrade()s at once, each on a worker thread of its own, and blocks its
// caller until every worker has ended.
namespace FenwaFirmware {

// The empty-path notice, or one naming a file that cannot be read or is
// empty: checked before any terminal is contacted.
bool fileValue(const QString &path, QString *notice);

// Where a terminal's web side is and who logs in.
struct Target {
    QString host; // the IPv4 address the terminal reported
    quint16 port = 80;
    QString account, password;
};
// From the record. Only an IPv4 text is taken as the host: a reply naming
// anything else must not send a firmware file and credentials elsewhere.
bool targetOf(const FenwaDevice *device, Target *out, QString *why);

// The login reply accepts when it is a JSON object whose "result" (key in
// any case) is the number 0; an item that is not a number counts as 0.
bool loginAccepted(const QByteArray &body);
// The reply to a whole upload, already 2xx: where it is the login's JSON (it
// starts with "{") it must parse and its "result", if any, read as the
// login's does; any other reply is the status's word. Otherwise *why says
// what the terminal answered.
bool uploadAccepted(const QByteArray &body, QString *why);

struct Limits {
    int connectMs = 5000; // until the connection carries its first byte
    int idleMs = 10000;   // with no byte moving either way
};

// An upload is made when the whole file went out, the terminal answered 2xx
// after it and its answer does not say otherwise.
struct Outcome {
    bool loggedIn = false;
    bool uploaded = false;
    bool stopped = false; // the caller's stop ended it
    int status = 0;       // HTTP status of the last request made; 0: no response
    QString error;        // why the last request failed short of a whole answer
    QString refusal;      // what a 2xx answer to the upload said against it
    bool ok() const { return loggedIn && uploaded; }
};
// For the operator: logged in or not, uploaded or not, the HTTP status, and
// why not.
QString describe(const Outcome &outcome);

// Logs in and uploads the file. stop is polled while a request runs;
// progress hears of the file bytes sent.
Outcome upgrade(const Target &target, const QString &path, const Limits &limits,
                const std::function<bool()> &stop = {},
                const std::function<void(qint64 sent, qint64 total)> &progress = {});

// Uploads at once unless the operator says otherwise: a terminal takes tens
// of seconds to receive and store an image, mostly waiting.
enum { DEFAULT_PARALLEL = 4, MOST_PARALLEL = 32 };

// upgrade() for every target, in order, at most parallel at once. stop is
// polled by every request under way: when it turns true, every upload under
// way is aborted and no further one starts. The callbacks come from the
// workers, one at a time: started (total -1) and the bytes sent of each
// terminal under way, and each terminal's outcome as it ends. Returns how
// many were upgraded; *started tells which were begun at all.
int upgradeAll(const QVector<Target> &targets, const QString &path, const Limits &limits, int parallel,
               const std::function<bool()> &stop,
               const std::function<void(int index, qint64 sent, qint64 total)> &progress,
               const std::function<void(int index, const Outcome &outcome)> &ended, QVector<bool> *started = nullptr);

} // namespace FenwaFirmware
