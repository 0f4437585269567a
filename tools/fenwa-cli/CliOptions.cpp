// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include "link/FenwaTerminal.h"

#include <QVector>
#include <cJSON.h>

namespace {
bool parseInt(const QString &text, int *value)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (ok && value)
        *value = v;
    return ok;
}
} // namespace

bool parseCli(const QStringList &arguments, CliRequest *out, QString *error)
{
    CliRequest r;
    int i = 0;
    auto value = [&](const QString &option, QString *dest) {
        if (i + 1 >= arguments.size()) {
            *error = QStringLiteral("%1 needs a value").arg(option);
            return false;
        }
        *dest = arguments.at(++i);
        return true;
    };
    auto number = [&](const QString &option, int *dest) {
        QString text;
        if (!value(option, &text))
            return false;
        if (!parseInt(text, dest) || *dest < 0) {
            *error = QStringLiteral("%1 takes a number of milliseconds, not \"%2\"").arg(option, text);
            return false;
        }
        return true;
    };
    for (; i < arguments.size(); ++i) {
        const QString a = arguments.at(i);
        if (a == QLatin1String("--interface") || a == QLatin1String("-i")) {
            if (!value(a, &r.interface))
                return false;
        } else if (a == QLatin1String("--time")) {
            if (!number(a, &r.searchMs))
                return false;
        } else if (a == QLatin1String("--timeout")) {
            if (!number(a, &r.timeoutMs))
                return false;
        } else if (a == QLatin1String("--csv")) {
            r.csv = true;
        } else if (a == QLatin1String("--all")) {
            r.all = true;
        } else if (a == QLatin1String("--verbose") || a == QLatin1String("-v")) {
            r.verbose = true;
        } else if (a == QLatin1String("--mac")) {
            QString mac;
            if (!value(a, &mac))
                return false;
            if (!FenwaTerminal::isMacText(mac)) {
                *error = QStringLiteral("--mac takes a MAC such as 02:fe:00:00:00:01, not \"%1\"").arg(mac);
                return false;
            }
            r.macs << FenwaTerminal::normalizeMac(mac);
        } else if (a.startsWith(QLatin1String("--")) && a.size() > 2) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        } else if (r.command.isEmpty()) {
            r.command = a;
        } else {
            r.args << a;
        }
    }
    if (r.command.isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    const CliCommand *c = findCliCommand(r.command);
    if (!c) {
        *error = QStringLiteral("unknown command \"%1\"").arg(r.command);
        return false;
    }
    if (r.args.size() != c->argCount) {
        *error = c->argCount ? QStringLiteral("%1 takes %2").arg(r.command, QLatin1String(c->argHelp))
                             : QStringLiteral("%1 takes no arguments").arg(r.command);
        return false;
    }
    const bool isSearch = r.command == QLatin1String("search");
    if (isSearch && (r.all || !r.macs.isEmpty())) {
        *error = QStringLiteral("search takes no targets");
        return false;
    }
    if (!isSearch && r.csv) {
        *error = QStringLiteral("--csv goes with search only");
        return false;
    }
    if (!isSearch && r.all == !r.macs.isEmpty()) {
        *error = QStringLiteral("%1 needs its targets: --mac MAC (repeatable) or --all").arg(r.command);
        return false;
    }
    if (c->plan && !c->plan(r.args, 1, error)) {
        *error = QStringLiteral("%1: %2").arg(r.command, *error);
        return false;
    }
    *out = r;
    return true;
}

QString cliUsage()
{
    QString u = QStringLiteral(
        "usage: fenwa-cli [--interface IFACE] [--time MS] [--timeout MS] [--verbose] COMMAND ...\n"
        "  fenwa-cli [--interface IFACE] search [--time MS] [--csv]\n"
        "  fenwa-cli [--interface IFACE] COMMAND (--mac MAC ... | --all) [ARGS]\n"
        "  fenwa-cli stream --group ADDRESS:PORT [--duration SECONDS] FILE...\n"
        "commands:\n");
    int count = 0;
    const CliCommand *commands = cliCommands(&count);
    for (const CliCommand &c : QVector<CliCommand>(commands, commands + count)) {
        if (!c.plan)
            continue;
        QString line = QStringLiteral("  %1 %2").arg(QLatin1String(c.name), QLatin1String(c.argHelp));
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        u += line + QLatin1Char('\n');
    }
    u += QStringLiteral(
        "Every command first searches (--time, 2000 ms), then addresses its targets in MAC order.\n"
        "--all means every terminal of a supported type (VQ40, VQT40). set-mac counts the MAC up by one\n"
        "per further target; set-ip-static hands out the next free address of the subnet, skipping its\n"
        "network and broadcast addresses, the gateway and the DNS servers (DNS2 may be \"\"). firmware logs in\n"
        "to each target's web side with the account it reported and uploads FILE; --timeout is then how\n"
        "long a terminal may stay silent (default 10000 ms; commands: 3000 ms). Exit status:\n"
        "0 every target answered \"success\", 1 any did not or none was reached, 2 usage error.\n");
    return u;
}

namespace {
// Owns a parsed tree for the length of one parse.
struct JsonTree {
    explicit JsonTree(const QString &text) : root(cJSON_Parse(text.toUtf8().constData())) {}
    ~JsonTree() { cJSON_Delete(root); }
    cJSON *root;
};

bool sipFromObject(const cJSON *item, SipSettings *out, const char *which, QString *error)
{
    if (!cJSON_IsObject(item)) {
        *error = QStringLiteral("set-sip: %1 must be a JSON object").arg(QLatin1String(which));
        return false;
    }
    // serverPort is a text on the wire; accept a number from a script too.
    out->fromJson(item);
    const cJSON *port = cJSON_GetObjectItem(item, "serverPort");
    if (cJSON_IsNumber(port))
        out->serverPort = QString::number(port->valueint);
    return true;
}
} // namespace

bool parseSipArgument(const QString &text, SipSettings *sip0, SipSettings *sip1, QString *error)
{
    JsonTree tree(text);
    const cJSON *first = nullptr, *second = nullptr;
    if (cJSON_IsArray(tree.root) && cJSON_GetArraySize(tree.root) == 2) {
        first = cJSON_GetArrayItem(tree.root, 0);
        second = cJSON_GetArrayItem(tree.root, 1);
    } else if (cJSON_IsObject(tree.root)) {
        first = cJSON_GetObjectItem(tree.root, "sip0");
        second = cJSON_GetObjectItem(tree.root, "sip1");
    } else {
        *error = QStringLiteral("set-sip takes {\"sip0\":{...},\"sip1\":{...}} or a JSON array of two accounts "
                                "with serverHost, serverPort, account, password, displayName");
        return false;
    }
    return sipFromObject(first, sip0, "sip0", error) && sipFromObject(second, sip1, "sip1", error);
}

bool parseRtpArgument(const QString &text, QList<RtpSettings> *channels, QString *error)
{
    JsonTree tree(text);
    channels->clear();
    if (cJSON_IsArray(tree.root)) {
        const cJSON *item = nullptr;
        cJSON_ArrayForEach(item, tree.root) {
            if (!cJSON_IsObject(item)) {
                *error = QStringLiteral("set-rtp: every channel must be a JSON object");
                return false;
            }
            RtpSettings channel;
            channel.fromJson(item);
            channels->append(channel);
        }
    } else if (cJSON_IsObject(tree.root)) {
        for (int i = 0; i < FENWA_RTP_CHANNELS; ++i) {
            const cJSON *item = cJSON_GetObjectItem(tree.root, QStringLiteral("rtp%1").arg(i).toLatin1().constData());
            RtpSettings channel;
            channel.fromJson(cJSON_IsObject(item) ? item : nullptr);
            channels->append(channel);
        }
    } else {
        *error = QStringLiteral("set-rtp takes a JSON array of up to ten channels {\"enable\":1,\"rtpIP\":\"239.0.0.1\","
                                "\"rtpPort\":6000} or an object with rtp0 ... rtp9");
        return false;
    }
    if (channels->isEmpty() || channels->size() > FENWA_RTP_CHANNELS) {
        *error = QStringLiteral("set-rtp takes one to ten channels, not %1").arg(channels->size());
        return false;
    }
    return true;
}
