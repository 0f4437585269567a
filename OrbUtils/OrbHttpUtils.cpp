// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbHttpUtils.h"

#include "OrbTranslate.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>
#include <cerrno>
#include <cstring>
#include <curl/curl.h>
#include <linux/tcp.h>
#include <memory>
#include <netinet/in.h>
#include <unistd.h>

const char OrbHttpUtils::kBoundary[] = "window-iptool-upload";

namespace {
// How often a running request looks at the stop predicate and the clock.
const int kTickMs = 20;

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

// One request under way: what it sends, what came back, and why it ended
// early when it did. The callbacks below fill it in on the calling thread.
struct Transfer {
    CURL *easy = nullptr;
    // The body: prefix, the file's first fileSize bytes, suffix.
    QByteArray prefix, suffix;
    QFile *file = nullptr;
    qint64 fileSize = 0;
    qint64 handedOut = 0; // body bytes given to libcurl
    int idleMs = 0;
    const std::function<bool()> *stop = nullptr;
    const std::function<void(qint64, qint64)> *progress = nullptr;

    curl_socket_t fd = CURL_SOCKET_BAD; // the connection's, while it is open
    bool connected = false;
    QElapsedTimer quiet;     // since a byte last moved, from the connection on
    quint64 wireBytes = 0;   // taken by the terminal and taken from it, as the kernel counts
    curl_off_t up = 0;       // body bytes sent, as libcurl last told
    qint64 headBytes = 0;
    int status = 0;        // of the final reply
    bool early = false;    // its head came before the whole body had gone out
    bool headDone = false; // its head was read whole
    QByteArray body, setCookie;
    QString why; // set by the callback that ended the transfer
    bool stopped = false;

    qint64 bodySize() const { return prefix.size() + fileSize + suffix.size(); }
    qint64 fileSent() const { return qBound<qint64>(0, up - prefix.size(), fileSize); }
    void end(const QString &reason)
    {
        if (why.isEmpty())
            why = reason;
    }
};

size_t sendBody(char *out, size_t size, size_t count, void *data)
{
    auto *t = static_cast<Transfer *>(data);
    const qint64 room = qint64(size * count), fileEnd = t->prefix.size() + t->fileSize;
    qint64 n = 0;
    while (n < room && t->handedOut < t->bodySize()) {
        const qint64 at = t->handedOut;
        qint64 got;
        if (at < t->prefix.size()) {
            got = qMin(room - n, t->prefix.size() - at);
            std::memcpy(out + n, t->prefix.constData() + at, size_t(got));
        } else if (at < fileEnd) {
            // A file that grew still ends where it was measured.
            got = t->file->read(out + n, qMin(room - n, fileEnd - at));
            if (got <= 0) {
                t->end(translate("cannot read %1: %2").arg(t->file->fileName(), t->file->errorString()));
                return CURL_READFUNC_ABORT;
            }
        } else {
            got = qMin(room - n, t->bodySize() - at);
            std::memcpy(out + n, t->suffix.constData() + (at - fileEnd), size_t(got));
        }
        n += got;
        t->handedOut += got;
    }
    return size_t(n);
}

// Every head line, 1xx heads included.
size_t readHead(char *in, size_t size, size_t count, void *data)
{
    auto *t = static_cast<Transfer *>(data);
    const size_t n = size * count;
    t->headBytes += qint64(n);
    if (t->headBytes > OrbHttpUtils::kHeadMax) {
        t->end(translate("the reply head is longer than %1 KiB").arg(OrbHttpUtils::kHeadMax / 1024));
        return 0;
    }
    const QByteArray line = QByteArray(in, int(n)).trimmed();
    if (line.startsWith("HTTP/")) { // libcurl has read the status (three digits, no more)
        long status = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200) {
            t->status = int(status);
            curl_easy_getinfo(t->easy, CURLINFO_SIZE_UPLOAD_T, &t->up);
            t->early = t->up < t->bodySize();
        }
        t->setCookie.clear(); // the final head's only
    } else if (line.isEmpty()) {
        t->headDone = t->status != 0;
    } else if (line.toLower().startsWith("set-cookie:")) {
        t->setCookie += (t->setCookie.isEmpty() ? "" : "\n") + line.mid(11).trimmed();
    }
    return n;
}

size_t readBody(char *in, size_t size, size_t count, void *data)
{
    auto *t = static_cast<Transfer *>(data);
    const size_t n = size * count;
    if (t->body.size() + qint64(n) > OrbHttpUtils::kBodyMax) {
        t->end(translate("the reply body is longer than %1 KiB").arg(OrbHttpUtils::kBodyMax / 1024));
        return 0;
    }
    t->body.append(in, int(n));
    return n;
}

// The connection's socket, so that the kernel can say what moved on it.
int opened(void *data, curl_socket_t fd, curlsocktype)
{
    static_cast<Transfer *>(data)->fd = fd;
    return CURL_SOCKOPT_OK;
}

int closing(void *data, curl_socket_t fd)
{
    auto *t = static_cast<Transfer *>(data);
    if (fd == t->fd)
        t->fd = CURL_SOCKET_BAD;
    return ::close(fd);
}

// Whether a byte moved since the last look: one the terminal acknowledged
// or one it sent, part of a head line included. Counting what the kernel
// took would call a terminal that still reads a large upload silent.
bool moved(Transfer *t)
{
    struct tcp_info info;
    socklen_t size = sizeof info;
    if (t->fd == CURL_SOCKET_BAD || getsockopt(t->fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0
        || size < offsetof(struct tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return false;
    const quint64 bytes = info.tcpi_bytes_acked + info.tcpi_bytes_received;
    const bool changed = bytes != t->wireBytes;
    t->wireBytes = bytes;
    return changed;
}

int connected(void *data, char *, char *, int, int)
{
    auto *t = static_cast<Transfer *>(data);
    t->connected = true;
    t->quiet.restart();
    return CURL_PREREQFUNC_OK;
}

// Called on every turn of the transfer: the operator's stop, the silence
// limit and the progress of an upload.
int onProgress(void *data, curl_off_t, curl_off_t, curl_off_t, curl_off_t up)
{
    auto *t = static_cast<Transfer *>(data);
    if (*t->stop && (*t->stop)()) {
        t->stopped = true;
        t->end(translate("stopped"));
        return 1;
    }
    if (up != t->up) {
        t->up = up;
        if (t->file && *t->progress)
            (*t->progress)(t->fileSent(), t->fileSize);
    }
    if (moved(t))
        t->quiet.restart();
    if (t->connected && t->quiet.elapsed() > t->idleMs) {
        t->end(translate("no answer for %1 s").arg(t->idleMs / 1000.0));
        return 1;
    }
    return 0;
}

bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct EasyDeleter {
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
} // namespace

qint64 OrbHttpUtils::deadlineMs(int connectMs, int idleMs, qint64 bodyBytes)
{
    return qint64(connectMs) + idleMs + bodyBytes / kMinBytesPerSecond * 1000;
}

OrbHttpUtils::OrbHttpUtils(std::function<bool()> stopRequested) : stopRequested(std::move(stopRequested)) {}

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
    Result result = exchange(url, "application/x-www-form-urlencoded", form, nullptr, 0, QByteArray());
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
    const QByteArray prefix = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\""
        + quotedFileName(path) + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    result = exchange(url, "multipart/form-data; boundary=" + boundary, prefix, &file, file.size(),
                      "\r\n--" + boundary + "--\r\n");
    qDebug() << "response ->" << result.body;
    return result;
}

OrbHttpUtils::Result OrbHttpUtils::exchange(const QUrl &url, const QByteArray &contentType, const QByteArray &prefix,
                                            QFile *file, qint64 fileSize, const QByteArray &suffix)
{
    Result result;
    Transfer t;
    t.prefix = prefix;
    t.suffix = suffix;
    t.file = file;
    t.fileSize = fileSize;
    t.idleMs = idleMs;
    t.stop = &stopRequested;
    t.progress = &progress;
    const qint64 deadline = deadlineMs(connectMs, idleMs, t.bodySize());

    // Only what the terminal's CGI expects: no Accept, no Expect (a request
    // body goes out at once, as it always has), and the connection closes.
    std::unique_ptr<curl_slist, ListDeleter> headers(curl_slist_append(nullptr, ("Content-Type: " + contentType).constData()));
    for (const char *h : {"Accept:", "Expect:", "Connection: close"})
        if (headers && !curl_slist_append(headers.get(), h))
            headers.reset();
    std::unique_ptr<CURL, EasyDeleter> easy(headers && curlReady() ? curl_easy_init() : nullptr);
    std::unique_ptr<CURLM, MultiDeleter> multi(easy ? curl_multi_init() : nullptr);
    if (!multi) {
        result.error = translate("cannot start an HTTP request");
        return result;
    }
    t.easy = easy.get();
    const QByteArray target = url.toEncoded();
    char errorText[CURL_ERROR_SIZE] = "";
    CURL *e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, target.constData());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    // Made once: a connection of its own, closed after, and no way for
    // libcurl to send the body a second time (it cannot rewind it).
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(connectMs));
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, long(deadline));
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(t.bodySize()));
    curl_easy_setopt(e, CURLOPT_READFUNCTION, sendBody);
    curl_easy_setopt(e, CURLOPT_READDATA, &t);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, readHead);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, readBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, opened);
    curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, &t);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, closing);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, &t);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, connected);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
    // The session travels only to the host that set it.
    const QByteArray cookie = "session=" + sessionValue.toUtf8();
    if (!sessionValue.isEmpty() && sessionHost == url.host())
        curl_easy_setopt(e, CURLOPT_COOKIE, cookie.constData());

    // Driven here rather than by curl_easy_perform, so that the transfer is
    // called back (stop, silence) every tick, connecting included, not only
    // once a second while nothing moves.
    CURLcode code = CURLE_OK;
    curl_multi_add_handle(multi.get(), e);
    for (int running = 1; running;) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        if (running)
            curl_multi_poll(multi.get(), nullptr, 0, kTickMs, nullptr);
    }
    int left = 0;
    while (const CURLMsg *m = curl_multi_info_read(multi.get(), &left))
        if (m->msg == CURLMSG_DONE)
            code = m->data.result;
    long osErrno = 0;
    curl_easy_getinfo(e, CURLINFO_OS_ERRNO, &osErrno);
    curl_easy_getinfo(e, CURLINFO_SIZE_UPLOAD_T, &t.up);
    curl_multi_remove_handle(multi.get(), e);

    result.status = t.status;
    result.body = t.body;
    result.setCookie = t.setCookie;
    result.stopped = t.stopped;
    const bool whole = t.up >= t.bodySize();
    if (!t.why.isEmpty())
        result.error = t.why;
    else if (code == CURLE_OPERATION_TIMEDOUT)
        result.error = t.connected ? translate("no complete answer within %1 s").arg(deadline / 1000.0)
                                   : translate("no connection within %1 s").arg(connectMs / 1000.0);
    else if (t.status >= 300 && t.headDone) // refused, whenever it said so
        result.error.clear();
    else if (t.status && (t.early || !whole)) // heard, but not what it answered to
        result.error = file ? translate("answered before the whole file was sent")
                            : translate("answered before the whole request was sent");
    else if (code == CURLE_OK)
        result.error.clear();
    else if (code == CURLE_COULDNT_CONNECT && osErrno == ECONNREFUSED)
        result.error = translate("connection refused");
    else if (code == CURLE_COULDNT_RESOLVE_HOST)
        result.error = translate("host not found");
    else if (code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_UNSUPPORTED_PROTOCOL)
        result.error = translate("the terminal's reply is not HTTP");
    else if (code == CURLE_OUT_OF_MEMORY && !t.headDone) // a head line beyond libcurl's cap, far beyond ours
        result.error = translate("the reply head is longer than %1 KiB").arg(kHeadMax / 1024);
    else if (t.status)
        result.error = translate("the reply was cut short");
    else if (file && t.connected) // what went out, as the kernel took it; never sent again
        result.error = translate("connection closed after %1 of %2 kB").arg(t.fileSent() / 1024).arg(fileSize / 1024);
    else if (code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR)
        result.error = translate("the terminal closed the connection");
    else
        result.error = QString::fromUtf8(*errorText ? errorText : curl_easy_strerror(code));
    if (!result.error.isEmpty())
        qDebug() << "request error ->" << result.error << "(" << curl_easy_strerror(code) << errorText << ")";
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
