// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbHttpUtils.h"

#include "OrbTranslate.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <QtDebug>

const char OrbHttpUtils::kBoundary[] = "window-iptool-upload";

namespace {
// How often a running request looks at the stop predicate and the clock.
const int kTickMs = 20;
// What is handed to the socket ahead of what the kernel has taken.
const qint64 kWriteAhead = 256 * 1024;
const qint64 kFileChunk = 64 * 1024;

QString socketError(const QTcpSocket &socket)
{
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return translate("connection refused");
    case QAbstractSocket::RemoteHostClosedError:
        return translate("the terminal closed the connection");
    case QAbstractSocket::HostNotFoundError:
        return translate("host not found");
    default:
        return socket.errorString();
    }
}

// A boundary that does not occur in the file: the fixed one unless the file
// holds it, which would cut the part short on the terminal's side.
QByteArray boundaryFor(QFile *file)
{
    const QByteArray fixed(OrbHttpUtils::kBoundary);
    QByteArray boundary = fixed;
    for (int n = 1;; ++n) {
        const QByteArray delimiter = "--" + boundary;
        bool found = false;
        QByteArray carry;
        file->seek(0);
        while (!found && !file->atEnd()) {
            const QByteArray chunk = carry + file->read(1 << 20);
            found = chunk.contains(delimiter);
            carry = chunk.right(delimiter.size() - 1);
        }
        file->seek(0);
        if (!found)
            return boundary;
        boundary = fixed + '-' + QByteArray::number(n);
    }
}

// The reply as it arrives: a head (1xx heads skipped), then a body delimited
// by Content-Length, by chunks, or by the end of the connection.
struct Reply {
    enum State { Head, Body, Done, Failed };
    State state = Head;
    int status = 0;
    QByteArray setCookie;
    qint64 length = -1; // Content-Length; -1: none
    bool chunked = false;
    QByteArray in;   // bytes not yet taken apart
    QByteArray body; // decoded
    QString error;

    void fail(const QString &why)
    {
        state = Failed;
        error = why;
    }

    void take(const QByteArray &bytes)
    {
        in += bytes;
        while (state == Head && readHead()) {
        }
        if (state == Body)
            readBody();
    }

    // At the end of the connection: a body without length ends here.
    void closed()
    {
        if (state == Body && length < 0 && !chunked)
            state = Done;
    }

    bool readHead()
    {
        const int end = in.indexOf("\r\n\r\n");
        if (end < 0) {
            if (in.size() > OrbHttpUtils::kHeadMax)
                fail(translate("the reply head is longer than %1 KiB").arg(OrbHttpUtils::kHeadMax / 1024));
            return false;
        }
        if (end + 4 > OrbHttpUtils::kHeadMax) {
            fail(translate("the reply head is longer than %1 KiB").arg(OrbHttpUtils::kHeadMax / 1024));
            return false;
        }
        const QList<QByteArray> lines = in.left(end).split('\n');
        in.remove(0, end + 4);
        const QByteArray statusLine = lines.first().trimmed();
        bool number = false;
        status = statusLine.mid(9, 3).toInt(&number);
        if (!statusLine.startsWith("HTTP/1.") || statusLine.size() < 12 || !number || status < 100 || status > 999) {
            fail(translate("the terminal's reply is not HTTP"));
            return false;
        }
        setCookie.clear();
        length = -1;
        chunked = false;
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const int colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower(), value = line.mid(colon + 1).trimmed();
            if (name == "set-cookie") {
                setCookie += (setCookie.isEmpty() ? "" : "\n") + value;
            } else if (name == "transfer-encoding") {
                chunked = value.toLower().contains("chunked");
            } else if (name == "content-length") {
                bool ok = false;
                const qint64 n = value.toLongLong(&ok);
                if (!ok || n < 0 || (length >= 0 && n != length)) {
                    fail(translate("the terminal's reply is not HTTP"));
                    return false;
                }
                length = n;
            }
        }
        if (status < 200)
            return true; // an interim answer; the real one follows
        if (!chunked && length > OrbHttpUtils::kBodyMax) {
            fail(translate("the reply body is longer than %1 KiB").arg(OrbHttpUtils::kBodyMax / 1024));
            return false;
        }
        state = status == 204 || status == 304 || length == 0 ? Done : Body;
        return false;
    }

    void readBody()
    {
        if (!chunked) {
            body += in;
            in.clear();
            if (length >= 0 && body.size() >= length) {
                body.truncate(int(length));
                state = Done;
            }
        } else {
            readChunks();
        }
        if (state != Failed && body.size() > OrbHttpUtils::kBodyMax)
            fail(translate("the reply body is longer than %1 KiB").arg(OrbHttpUtils::kBodyMax / 1024));
    }

    void readChunks()
    {
        for (;;) {
            const int eol = in.indexOf("\r\n");
            if (eol < 0) {
                if (in.size() > 1024)
                    fail(translate("the terminal's reply is not HTTP"));
                return;
            }
            bool ok = false;
            const qint64 size = in.left(eol).split(';').first().trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0 || size > OrbHttpUtils::kBodyMax) {
                fail(ok ? translate("the reply body is longer than %1 KiB").arg(OrbHttpUtils::kBodyMax / 1024)
                        : translate("the terminal's reply is not HTTP"));
                return;
            }
            if (size == 0) { // trailers are not read
                state = Done;
                return;
            }
            if (in.size() < eol + 2 + size + 2)
                return;
            body += in.mid(eol + 2, int(size));
            in.remove(0, eol + 2 + int(size) + 2);
            if (body.size() > OrbHttpUtils::kBodyMax)
                return;
        }
    }
};
} // namespace

// What goes after the head: a prefix, the file if any, a suffix.
struct OrbHttpUtils::Body {
    QByteArray prefix, suffix;
    QFile *file = nullptr;
    qint64 fileSize = 0;
    qint64 size() const { return prefix.size() + fileSize + suffix.size(); }
};

qint64 OrbHttpUtils::deadlineMs(int connectMs, int idleMs, qint64 bodyBytes)
{
    return qint64(connectMs) + idleMs + bodyBytes / kMinBytesPerSecond * 1000;
}

OrbHttpUtils::OrbHttpUtils(std::function<bool()> stopRequested) : stopRequested(std::move(stopRequested)) {}

OrbHttpUtils::~OrbHttpUtils() = default;

void OrbHttpUtils::setTimeouts(int connect, int idle)
{
    connectMs = connect;
    idleMs = idle;
}

void OrbHttpUtils::setUploadProgress(std::function<void(qint64, qint64)> p)
{
    progress = std::move(p);
}

OrbHttpUtils::Result OrbHttpUtils::post(const QUrl &url, const QByteArray &form)
{
    Body body;
    body.prefix = form;
    Result result = exchange(url, "application/x-www-form-urlencoded", body);
    QString session;
    if (result.error.isEmpty() && sessionFromSetCookie(result.setCookie, &session)) {
        sessionValue = session;
        sessionHost = url.host();
    }
    return result;
}

OrbHttpUtils::Result OrbHttpUtils::upload(const QUrl &url, const QString &path)
{
    qDebug() << "upload" << path << "to" << url.toString();
    Result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = translate("cannot read %1: %2").arg(path, file.errorString());
        return result;
    }
    const QByteArray boundary = boundaryFor(&file);
    Body body;
    body.prefix = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\""
        + quotedFileName(path) + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    body.file = &file;
    body.fileSize = file.size();
    body.suffix = "\r\n--" + boundary + "--\r\n";
    result = exchange(url, "multipart/form-data; boundary=" + boundary, body);
    qDebug() << "response ->" << result.body;
    return result;
}

OrbHttpUtils::Result OrbHttpUtils::exchange(const QUrl &url, const QByteArray &contentType, Body &body)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    const int port = url.port(80);
    QByteArray head = "POST " + target + " HTTP/1.1\r\nHost: " + url.host(QUrl::FullyEncoded).toLatin1()
        + (port != 80 ? ':' + QByteArray::number(port) : QByteArray()) + "\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n";
    // The session travels only to the host that set it.
    if (!sessionValue.isEmpty() && sessionHost == url.host())
        head += "Cookie: session=" + sessionValue.toUtf8() + "\r\n";
    head += "\r\n";
    const qint64 requestSize = head.size() + body.size();
    const qint64 deadline = deadlineMs(connectMs, idleMs, body.size());

    Result result;
    Reply reply;
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    // Qt reads no further ahead than this; the caps bound the rest.
    socket.setReadBufferSize(kFileChunk);
    QEventLoop loop;
    QElapsedTimer quiet, total;
    quiet.start();
    total.start();
    bool connected = false, finished = false;
    qint64 queued = 0, flushed = 0; // request bytes handed to the socket, taken by the kernel
    QString why;

    auto finish = [&](const QString &error) {
        if (finished)
            return;
        finished = true;
        why = error;
        loop.quit();
    };
    auto fileSent = [&] { return qBound<qint64>(0, flushed - head.size() - body.prefix.size(), body.fileSize); };
    auto feed = [&] {
        while (queued < requestSize && socket.bytesToWrite() < kWriteAhead) {
            QByteArray chunk;
            if (queued == 0)
                chunk = head + body.prefix;
            else if (const qint64 fileLeft = head.size() + body.prefix.size() + body.fileSize - queued; body.file && fileLeft > 0)
                chunk = body.file->read(qMin(kFileChunk, fileLeft)); // a file that grew still ends where it was measured
            else
                chunk = body.suffix;
            if (chunk.isEmpty() && queued < requestSize) {
                finish(translate("cannot read %1: %2").arg(body.file->fileName(), body.file->errorString()));
                return;
            }
            socket.write(chunk);
            queued += chunk.size();
        }
    };
    connect(&socket, &QTcpSocket::connected, &loop, [&] {
        connected = true;
        quiet.restart();
        feed();
    });
    connect(&socket, &QTcpSocket::bytesWritten, &loop, [&](qint64 n) {
        quiet.restart();
        flushed += n;
        if (progress && body.file)
            progress(fileSent(), body.fileSize);
        feed();
    });
    connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        quiet.restart();
        while (socket.bytesAvailable() > 0 && reply.state != Reply::Done && reply.state != Reply::Failed)
            reply.take(socket.read(kFileChunk));
        if (reply.state == Reply::Done)
            finish(QString());
        else if (reply.state == Reply::Failed)
            finish(reply.error);
    });
    auto ended = [&] {
        if (finished)
            return;
        reply.take(socket.readAll());
        reply.closed();
        if (reply.state == Reply::Done)
            finish(QString());
        else if (reply.state == Reply::Failed)
            finish(reply.error);
        else if (reply.state == Reply::Body)
            finish(translate("the reply was cut short"));
        else if (body.file) // what went out, as the kernel took it; never sent again
            finish(translate("connection closed after %1 of %2 kB").arg(fileSent() / 1024).arg(body.fileSize / 1024));
        else
            finish(socketError(socket));
    };
    connect(&socket, &QTcpSocket::disconnected, &loop, ended);
    connect(&socket, &QAbstractSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError) {
        if (connected)
            ended();
        else
            finish(socketError(socket));
    });
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, [&] {
        if (finished)
            loop.quit();
        else if (stopRequested && stopRequested())
            result.stopped = true, finish(translate("stopped"));
        else if (!connected && quiet.elapsed() > connectMs)
            finish(translate("no connection within %1 s").arg(connectMs / 1000.0));
        else if (connected && quiet.elapsed() > idleMs)
            finish(translate("no answer for %1 s").arg(idleMs / 1000.0));
        else if (total.elapsed() > deadline)
            finish(translate("no complete answer within %1 s").arg(deadline / 1000.0));
    });
    tick.start(kTickMs);
    socket.connectToHost(url.host(), quint16(port));
    if (!finished)
        loop.exec();
    tick.stop();
    socket.disconnect(&loop);
    socket.abort();

    result.error = why;
    if (reply.state == Reply::Done) {
        result.status = reply.status;
        result.body = reply.body;
        result.setCookie = reply.setCookie;
    }
    if (!result.error.isEmpty())
        qDebug() << "request error ->" << result.error;
    return result;
}

bool OrbHttpUtils::sessionFromSetCookie(const QByteArray &header, QString *session)
{
    // Several Set-Cookie headers are joined with line feeds.
    for (const QByteArray &line : header.split('\n')) {
        for (const QByteArray &piece : line.split(';')) {
            const QList<QByteArray> parts = piece.split('=');
            if (parts.size() < 2 || QString::fromUtf8(parts[0]).compare(QLatin1String("session"), Qt::CaseInsensitive) != 0)
                continue;
            if (parts[1].isEmpty())
                break;
            *session = QString::fromUtf8(parts[1]);
            return true;
        }
    }
    return false;
}

QByteArray OrbHttpUtils::quotedFileName(const QString &path)
{
    QByteArray name = QFileInfo(path).fileName().toUtf8();
    name.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return name;
}
