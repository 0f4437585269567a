// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// Blocking HTTP requests to one terminal's web side: a form POST that keeps
// the session cookie the terminal hands out, and a multipart file upload
// that sends it back. Each call runs a local event loop until the reply has
// finished, the peer has stayed silent too long, or the owner asks to stop.
//
// One object per terminal: the session belongs to the host that set it and
// is never sent to another host, so one device's credential cannot reach
// the next.
//
// Threads: build, use and destroy the object on one thread (a job thread:
// the calls block it). The stop predicate is polled on that thread every
// few milliseconds while a request runs; it may read a flag another thread
// sets. No proxy is ever used: terminals sit on the local segment.
class OrbHttpUtils : public QObject
{
    Q_OBJECT
public:
    struct Result {
        int status = 0;  // the HTTP status; 0 when no response came
        QByteArray body; // the whole reply body
        QString error;   // empty when a response came (whatever its status)
        QByteArray setCookie; // the Set-Cookie header lines
        bool stopped = false;
        bool ok() const { return error.isEmpty() && status >= 200 && status < 300; }
    };

    // stopRequested: polled while a request runs; true aborts it.
    explicit OrbHttpUtils(std::function<bool()> stopRequested = {});
    ~OrbHttpUtils() override;

    // How long a connection may take to carry its first byte, and how long
    // the exchange may then make no progress in either direction.
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
    QNetworkRequest request(const QUrl &url) const;
    Result finish(QNetworkReply *reply);

    std::unique_ptr<QNetworkAccessManager> manager;
    std::function<bool()> stopRequested;
    std::function<void(qint64, qint64)> progress;
    int connectMs = 5000;
    int idleMs = 10000;
    QString sessionValue;
    QString sessionHost;
};
