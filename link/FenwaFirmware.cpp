// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaFirmware.h"

#include "FenwaDevice.h"
#include "FenwaTerminal.h"
#include "OrbUtils/OrbHttpUtils.h"
#include "OrbUtils/OrbTranslate.h"

#include <QFileInfo>
#include <QUrl>
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

bool loginAccepted(const QByteArray &body)
{
    if (body.isEmpty())
        return false;
    cJSON *json = cJSON_ParseWithLength(body.constData(), static_cast<size_t>(body.size()));
    const cJSON *result = cJSON_IsObject(json) ? cJSON_GetObjectItem(json, "result") : nullptr;
    const bool accepted = result && (!cJSON_IsNumber(result) || result->valueint == 0);
    cJSON_Delete(json);
    return accepted;
}

QString describe(const Outcome &o)
{
    if (!o.loggedIn) {
        return o.status ? translate("login refused (HTTP %1)").arg(o.status)
                        : translate("not logged in: %1").arg(o.error);
    }
    if (!o.uploaded) {
        return o.status ? translate("logged in; upload refused (HTTP %1)").arg(o.status)
                        : translate("logged in; upload failed: %1").arg(o.error);
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
    o.loggedIn = login.status >= 200 && login.status < 300 && loginAccepted(login.body);
    if (!o.loggedIn)
        return o;
    const OrbHttpUtils::Result sent = http.upload(url(t, QStringLiteral("/cgi-bin/upload")), path);
    o.status = sent.status;
    o.error = sent.error;
    o.uploaded = sent.ok();
    return o;
}

} // namespace FenwaFirmware
