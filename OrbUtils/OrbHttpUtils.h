// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>

class QFile;

// Blocking HTTP/1.1 requests to one terminal's web side, on libcurl: a form
// POST that keeps the session cookie the terminal hands out, and a multipart
// file upload that sends it back. Each request is one easy handle of its
// own, driven on the calling thread until the reply has been read, the
// terminal broke a limit, or the owner asks to stop.
//
// A web side may be hostile, so every request is bounded: connectMs to
// connect, idleMs at most without a byte moving either way, and a deadline
// for the whole exchange that no trickle pushes back (deadlineMs: both
// limits plus the body at a modest minimum rate); a reply head of at most
// kHeadMax bytes and a body of at most kBodyMax. A request is made once on a
// connection of its own and never sent again (no reuse, no retry, no
// redirect followed): an upload cut short ends with how much of the file
// had gone out, and a reply that began before the whole body had gone out
// is an error, whatever its status.
//
// One object per terminal: the session belongs to the host that set it and
// is never sent to another host, so one device's credential cannot reach
// the next.
//
// Threads: build, use and destroy the object on one thread (a job thread:
// the calls block it). The stop predicate is asked on that thread every few
// milliseconds while a request runs; it may read a flag another thread
// sets. No proxy is ever used: terminals sit on the local segment.
class OrbHttpUtils
{
public:
    struct Result {
        int status = 0;  // the HTTP status of the final reply; 0 when none came
        QByteArray body; // the reply body as far as it was read
        QString error;   // empty when the whole request went out and a whole reply came
        QByteArray setCookie; // the Set-Cookie header lines, joined by line feeds
        bool stopped = false;
        bool ok() const { return error.isEmpty() && status >= 200 && status < 300; }
    };

    enum : int {
        kHeadMax = 16 * 1024,
        kBodyMax = 64 * 1024,
        // The slowest a terminal may take a request body in: a 4 MiB file
        // may take 128 s beyond the two limits.
        kMinBytesPerSecond = 32 * 1024
    };
    // The deadline of a request carrying bodyBytes.
    static qint64 deadlineMs(int connectMs, int idleMs, qint64 bodyBytes);

    // stopRequested: asked while a request runs; true aborts it.
    explicit OrbHttpUtils(std::function<bool()> stopRequested = {});

    // How long a connection may take to open, and how long the exchange may
    // then make no progress in either direction.
    void setTimeouts(int connectMs, int idleMs);
    // Told of the file bytes handed to the connection during an upload.
    void setUploadProgress(std::function<void(qint64 sent, qint64 total)> progress);

    QString session() const { return sessionValue; }

    // POSTs an application/x-www-form-urlencoded body.
    Result post(const QUrl &url, const QByteArray &form);
    // POSTs the file as the one part "file" of a multipart/form-data body,
    // named by its file name without directory. The boundary is
    // "window-iptool-upload" unless the file holds that text.
    Result upload(const QUrl &url, const QString &path);

    // The session named in a Set-Cookie header: each header line is split at
    // ";" (pieces not trimmed), the first piece whose name before "=" is
    // "session" in any case gives the value after it. False when no line
    // names a non-empty session.
    static bool sessionFromSetCookie(const QByteArray &header, QString *session);
    // What a file name becomes inside the part's quoted filename: '"', CR
    // and LF percent-encoded, as browsers do.
    static QByteArray quotedFileName(const QString &path);

    static const char kBoundary[];

private:
    // Sends prefix, the file's first fileSize bytes if any, then suffix.
    Result exchange(const QUrl &url, const QByteArray &contentType, const QByteArray &prefix, QFile *file,
                    qint64 fileSize, const QByteArray &suffix);

    std::function<bool()> stopRequested;
    std::function<void(qint64, qint64)> progress;
    int connectMs = 5000;
    int idleMs = 10000;
    QString sessionValue;
    QString sessionHost;
};
