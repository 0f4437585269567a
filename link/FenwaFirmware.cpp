// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaFirmware.h"

#include "FenwaDevice.h"
#include "FenwaTerminal.h"
#include "OrbUtils/OrbHttpUtils.h"
#include "OrbUtils/OrbTranslate.h"

#include <QFileInfo>
#include <QMutex>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>
#include <cJSON.h>

namespace FenwaFirmware {

namespace {
QUrl url(const Target &t, const QString &path, const QString &query = QString())
{
    QUrl u;
    u.setScheme(QStringLiteral("http"));
    u.setHost(t.host);
    if (t.port != 80)
        u.setPort(t.port);
    u.setPath(path);
    if (!query.isEmpty())
        u.setQuery(query);
    return u;
}
} // namespace

bool fileValue(const QString &path, QString *notice)
{
    const QFileInfo info(path);
    QFile file(path);
    if (path.isEmpty())
        *notice = translate("Choose the firmware file first (Select)");
    else if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        *notice = translate("Cannot read the firmware file %1").arg(path);
    else if (info.size() == 0)
        *notice = translate("The firmware file %1 is empty").arg(path);
    return notice->isEmpty();
}

bool targetOf(const FenwaDevice *device, Target *out, QString *why)
{
    if (!FenwaTerminal::isIpv4Text(device->ip)) {
        *why = translate("no IPv4 address to reach its web side (it reported %1)").arg(device->ip);
        return false;
    }
    *out = Target{device->ip, 80, device->account(), device->password()};
    return true;
}

namespace {
// A reply as the JSON the login answers with: false when it is no JSON
// object; else *has tells whether it holds a "result" (key in any case) and
// *result is its value, 0 when the item is not a number.
bool jsonResult(const QByteArray &body, bool *has, int *result)
{
    cJSON *json = body.isEmpty() ? nullptr : cJSON_ParseWithLength(body.constData(), static_cast<size_t>(body.size()));
    const cJSON *item = cJSON_IsObject(json) ? cJSON_GetObjectItem(json, "result") : nullptr;
    const bool object = cJSON_IsObject(json);
    *has = item != nullptr;
    *result = cJSON_IsNumber(item) ? item->valueint : 0;
    cJSON_Delete(json);
    return object;
}
} // namespace

bool loginAccepted(const QByteArray &body)
{
    bool has = false;
    int result = -1;
    return jsonResult(body, &has, &result) && has && result == 0;
}

bool uploadAccepted(const QByteArray &body, QString *why)
{
    if (!body.trimmed().startsWith('{'))
        return true;
    bool has = false;
    int result = 0;
    if (!jsonResult(body, &has, &result))
        *why = translate("its answer is cut short or not JSON");
    else if (has && result != 0)
        *why = translate("result %1").arg(result);
    return why->isEmpty();
}

QString describe(const Outcome &o)
{
    if (!o.loggedIn) {
        return o.error.isEmpty() && o.status ? translate("login refused (HTTP %1)").arg(o.status)
                                             : translate("not logged in: %1").arg(o.error);
    }
    if (!o.uploaded) {
        if (!o.error.isEmpty())
            return translate("logged in; upload failed: %1").arg(o.error);
        return o.refusal.isEmpty() ? translate("logged in; upload refused (HTTP %1)").arg(o.status)
                                   : translate("logged in; upload refused: %1").arg(o.refusal);
    }
    return translate("logged in; uploaded (HTTP %1)").arg(o.status);
}

Outcome upgrade(const Target &t, const QString &path, const Limits &limits, const std::function<bool()> &stop,
                const std::function<void(qint64, qint64)> &progress)
{
    OrbHttpUtils http(stop);
    http.setTimeouts(limits.connectMs, limits.idleMs);
    http.setUploadProgress(progress);
    Outcome o;
    // A form body: the digest is hex, but an account may hold '&' or '='.
    const QByteArray form = "username=" + QUrl::toPercentEncoding(t.account) +
                            "&password=" + QUrl::toPercentEncoding(t.password);
    const OrbHttpUtils::Result login = http.post(url(t, QStringLiteral("/cgi-bin/CGI"), QStringLiteral("login")), form);
    o.status = login.status;
    o.error = login.error;
    o.stopped = login.stopped;
    o.loggedIn = login.ok() && loginAccepted(login.body);
    if (!o.loggedIn)
        return o;
    const OrbHttpUtils::Result sent = http.upload(url(t, QStringLiteral("/cgi-bin/upload")), path);
    o.status = sent.status;
    o.error = sent.error;
    o.stopped = sent.stopped;
    o.uploaded = sent.ok() && uploadAccepted(sent.body, &o.refusal);
    return o;
}

int upgradeAll(const QVector<Target> &targets, const QString &path, const Limits &limits, int parallel,
               const std::function<bool()> &stop,
               const std::function<void(int, qint64, qint64)> &progress,
               const std::function<void(int, const Outcome &)> &ended, QVector<bool> *started)
{
    const int n = targets.size();
    std::atomic<int> next{0};
    std::atomic<int> upgraded{0};
    QVector<bool> begun(n, false);
    QMutex told; // one callback at a time; begun is written under it too
    const auto stopping = [&stop] { return stop && stop(); };
    const auto work = [&] {
        for (int i; !stopping() && (i = next.fetch_add(1)) < n;) {
            {
                QMutexLocker lock(&told);
                begun[i] = true;
                if (progress)
                    progress(i, 0, -1);
            }
            const Outcome o = upgrade(targets.at(i), path, limits, stop, [&, i](qint64 sent, qint64 total) {
                QMutexLocker lock(&told);
                if (progress)
                    progress(i, sent, total);
            });
            upgraded.fetch_add(o.ok() ? 1 : 0);
            QMutexLocker lock(&told);
            if (ended)
                ended(i, o);
        }
    };
    std::vector<std::thread> workers;
    for (int w = 0; w < std::min(std::max(parallel, 1), n); ++w)
        workers.emplace_back(work);
    for (std::thread &worker : workers)
        worker.join();
    if (started)
        *started = begun;
    return upgraded.load();
}

} // namespace FenwaFirmware
