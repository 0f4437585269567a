// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbHttpUtils.h"

#include "OrbTranslate.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>
#include <QtDebug>

const char OrbHttpUtils::kBoundary[] = "window-iptool-upload";

namespace {
// How often a running request looks at the stop predicate and the clock.
const int kTickMs = 20;

QString networkError(QNetworkReply *reply)
{
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return translate("connection refused");
    case QNetworkReply::RemoteHostClosedError:
        return translate("the terminal closed the connection");
    case QNetworkReply::HostNotFoundError:
        return translate("host not found");
    default:
        return reply->errorString();
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
} // namespace

OrbHttpUtils::OrbHttpUtils(std::function<bool()> stopRequested)
    : manager(new QNetworkAccessManager), stopRequested(std::move(stopRequested))
{
    manager->setProxy(QNetworkProxy::NoProxy);
}

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

QNetworkRequest OrbHttpUtils::request(const QUrl &url) const
{
    QNetworkRequest r(url);
    // The session travels only as the header below, and only to its host.
    r.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    r.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    r.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!sessionValue.isEmpty() && sessionHost == url.host())
        r.setRawHeader("cookie", QStringLiteral("session=%1").arg(sessionValue).toUtf8());
    return r;
}

OrbHttpUtils::Result OrbHttpUtils::post(const QUrl &url, const QByteArray &form)
{
    QNetworkRequest r = request(url);
    r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    Result result = finish(manager->post(r, form));
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
    auto *file = new QFile(path);
    if (!file->open(QIODevice::ReadOnly)) {
        result.error = translate("cannot read %1: %2").arg(path, file->errorString());
        delete file;
        return result;
    }
    const QByteArray boundary = boundaryFor(file);
    auto *multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    multi->setBoundary(boundary);
    QHttpPart part;
    part.setRawHeader("Content-Disposition", "form-data; name=\"file\"; filename=\"" + quotedFileName(path) + '"');
    part.setRawHeader("Content-Type", "application/octet-stream");
    part.setBodyDevice(file);
    file->setParent(multi);
    multi->append(part);

    QNetworkRequest r = request(url);
    r.setHeader(QNetworkRequest::ContentTypeHeader, "multipart/form-data; boundary=" + boundary);
    QNetworkReply *reply = manager->post(r, multi);
    multi->setParent(reply);
    const qint64 fileSize = file->size();
    if (progress) {
        connect(reply, &QNetworkReply::uploadProgress, this, [this, fileSize](qint64 sent, qint64 total) {
            // The framing around the file is a few hundred bytes of total.
            if (total > 0)
                progress(qMin(fileSize, sent * fileSize / total), fileSize);
        });
    }
    result = finish(reply);
    qDebug() << "response ->" << result.body;
    return result;
}

OrbHttpUtils::Result OrbHttpUtils::finish(QNetworkReply *reply)
{
    Result result;
    QEventLoop loop;
    QElapsedTimer quiet;
    quiet.start();
    bool connected = false, timedOut = false;
    auto moved = [&](qint64 bytes) {
        if (bytes > 0)
            connected = true;
        quiet.restart();
    };
    connect(reply, &QNetworkReply::uploadProgress, &loop, [&](qint64 sent, qint64) { moved(sent); });
    connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 got, qint64) { moved(got); });
    connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] { moved(1); });
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, [&] {
        if (stopRequested && stopRequested()) {
            result.stopped = true;
            reply->abort();
        } else if (quiet.elapsed() > (connected ? idleMs : connectMs)) {
            timedOut = true;
            reply->abort();
        }
    });
    tick.start(kTickMs);
    if (!reply->isFinished())
        loop.exec();
    tick.stop();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.status = status.isValid() ? status.toInt() : 0;
    if (reply->isReadable())
        result.body = reply->readAll();
    result.setCookie = reply->rawHeader("Set-Cookie");
    if (result.stopped)
        result.error = translate("stopped");
    else if (timedOut && !connected)
        result.error = translate("no connection within %1 s").arg(connectMs / 1000.0);
    else if (timedOut)
        result.error = translate("no answer for %1 s").arg(idleMs / 1000.0);
    else if (result.status == 0)
        result.error = networkError(reply);
    if (result.status == 0 && !result.error.isEmpty())
        qDebug() << "request error ->" << result.error;
    reply->deleteLater();
    return result;
}

bool OrbHttpUtils::sessionFromSetCookie(const QByteArray &header, QString *session)
{
    // Qt joins several Set-Cookie headers with line feeds.
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
