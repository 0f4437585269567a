// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include <QRegularExpression>
#include <cJSON.h>

namespace {
const CliCommand kCommands[] = {
    {"search", 0, "", true},
    {"set-name", 1, "NAME", false},
    {"set-mac", 1, "MAC", false},
    {"set-ip-dhcp", 0, "", false},
    {"set-ip-static", 5, "IP GATEWAY NETMASK DNS1 DNS2", false},
    {"set-account", 2, "ACCOUNT PASSWORD", false},
    {"reset-default", 0, "", false},
    {"reboot", 0, "", false},
    {"play-volume", 0, "", false},
    {"set-volume", 3, "MIC OUT AUTOMUTE", false},
    {"get-sip", 0, "", true},
    {"set-sip", 1, "JSON", false},
    {"get-rtp", 0, "", true},
    {"set-rtp", 1, "JSON", false},
    {"set-sn", 1, "SN", false},
    {"set-server", 2, "IP PORT", false},
    {"set-device-info", 8,
     "AREACODE NUMBER NAME POWERLEVEL RESOURCETYPESEQ RESOURCESONTYPESEQ RESOURCETYPE RESOURCESONTYPE", false},
};

bool parseInt(const QString &text, int *value)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (ok && value)
        *value = v;
    return ok;
}
} // namespace

const CliCommand *cliCommands(int *count)
{
    if (count)
        *count = static_cast<int>(sizeof kCommands / sizeof kCommands[0]);
    return kCommands;
}

const CliCommand *findCliCommand(const QString &name)
{
    for (const CliCommand &c : kCommands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

bool isIpv4Text(const QString &text)
{
    static const QRegularExpression re(QStringLiteral(
        "^((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[0-9])[.]){3}(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[0-9])$"));
    return re.match(text).hasMatch();
}

bool isMacText(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}$"));
    return re.match(text).hasMatch();
}

QString normalizeMac(const QString &text)
{
    if (!isMacText(text))
        return QString();
    QString mac = text.toLower();
    mac.replace(QLatin1Char('-'), QLatin1Char(':'));
    return mac;
}

QString nextMac(const QString &mac)
{
    const QString m = normalizeMac(mac);
    if (m.isEmpty())
        return mac;
    quint64 value = m.split(QLatin1Char(':')).join(QString()).toULongLong(nullptr, 16);
    value = (value + 1) & 0xFFFFFFFFFFFFULL;
    QString out;
    for (int i = 5; i >= 0; --i) {
        out += QString::asprintf("%02x", static_cast<unsigned>((value >> (8 * i)) & 0xff));
        if (i)
            out += QLatin1Char(':');
    }
    return out;
}

QString nextIpv4(const QString &ip)
{
    if (!isIpv4Text(ip))
        return ip;
    QStringList parts = ip.split(QLatin1Char('.'));
    const int last = parts[3].toInt();
    parts[3] = QString::number(last == 255 ? 0 : last + 1);
    return parts.join(QLatin1Char('.'));
}

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
            if (!isMacText(mac)) {
                *error = QStringLiteral("--mac takes a MAC such as 02:fe:00:00:00:01, not \"%1\"").arg(mac);
                return false;
            }
            r.macs << normalizeMac(mac);
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
    if (!isSearch && !validateCliArgs(r, error))
        return false;
    *out = r;
    return true;
}

bool validateCliArgs(const CliRequest &r, QString *error)
{
    const QString &cmd = r.command;
    const QStringList &a = r.args;
    if (cmd == QLatin1String("set-ip-static")) {
        static const char *names[] = {"IP", "GATEWAY", "NETMASK", "DNS1", "DNS2"};
        for (int i = 0; i < 5; ++i) {
            if (!isIpv4Text(a[i])) {
                *error = QStringLiteral("%1 must be a dotted IPv4 address, not \"%2\"").arg(names[i], a[i]);
                return false;
            }
        }
    } else if (cmd == QLatin1String("set-mac")) {
        if (!isMacText(a[0])) {
            *error = QStringLiteral("MAC must be six hex pairs such as 02:fe:00:00:00:10, not \"%1\"").arg(a[0]);
            return false;
        }
    } else if (cmd == QLatin1String("set-volume")) {
        static const char *names[] = {"MIC", "OUT", "AUTOMUTE"};
        for (int i = 0; i < 3; ++i) {
            int v;
            if (!parseInt(a[i], &v)) {
                *error = QStringLiteral("%1 must be a whole number, not \"%2\"").arg(names[i], a[i]);
                return false;
            }
        }
    } else if (cmd == QLatin1String("set-server")) {
        int port;
        if (!parseInt(a[1], &port) || port < 0 || port > 65535) {
            *error = QStringLiteral("PORT must be a number from 0 to 65535, not \"%1\"").arg(a[1]);
            return false;
        }
    } else if (cmd == QLatin1String("set-device-info")) {
        int v;
        if (!parseInt(a[3], &v)) {
            *error = QStringLiteral("POWERLEVEL must be a whole number, not \"%1\"").arg(a[3]);
            return false;
        }
    } else if (cmd == QLatin1String("set-account")) {
        if (a[0].isEmpty() || a[1].isEmpty()) {
            *error = QStringLiteral("ACCOUNT and PASSWORD must not be empty");
            return false;
        }
    } else if (cmd == QLatin1String("set-sip")) {
        SipSettings sip0, sip1;
        return parseSipArgument(a[0], &sip0, &sip1, error);
    } else if (cmd == QLatin1String("set-rtp")) {
        QList<RtpSettings> channels;
        return parseRtpArgument(a[0], &channels, error);
    }
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
    for (const CliCommand &c : kCommands) {
        if (QLatin1String(c.name) == QLatin1String("search"))
            continue;
        QString line = QStringLiteral("  %1 %2").arg(QLatin1String(c.name), QLatin1String(c.argHelp));
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        u += line + QLatin1Char('\n');
    }
    u += QStringLiteral(
        "Every command first searches (--time, 2000 ms), then addresses its targets in MAC order.\n"
        "--all means every terminal of a supported type (VQ40, VQT40). set-mac and set-ip-static count\n"
        "the address up by one per further target. Exit status: 0 every target answered \"success\",\n"
        "1 any did not, 2 usage error.\n");
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
