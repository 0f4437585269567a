// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include "link/FenwaFirmware.h"
#include "link/FenwaTerminal.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QVector>
#include <cJSON.h>
#include <cstring>

namespace {
// The most a password file or a JSON file may hold: a command text is at
// most 1023 bytes, so anything much longer is the wrong file.
constexpr qint64 kPasswordFileMax = 4096;
constexpr qint64 kJsonFileMax = 65536;

// The bytes of a file, or of standard input for "-", up to limit.
bool readArgumentFile(const QString &path, qint64 limit, QByteArray *out, QString *error)
{
    QFile file(path);
    const bool standardInput = path == QLatin1String("-");
    const QString name = standardInput ? QStringLiteral("standard input") : path;
    if (!(standardInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly))) {
        *error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return false;
    }
    *out = file.read(limit + 1);
    if (out->size() > limit) {
        *error = QStringLiteral("%1 holds more than %2 bytes").arg(name).arg(limit);
        return false;
    }
    return true;
}

// Puts the password file's first line in at the PASSWORD argument, reads
// JSON arguments written @FILE or "-", and warns of secrets that stand in
// the command line, where every local user can read them (ps, /proc).
bool resolveArguments(const CliCommand &c, CliRequest *r, QString *error)
{
    const QStringList names = QString::fromLatin1(c.argHelp).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int passwordAt = names.indexOf(QStringLiteral("PASSWORD"));
    int readers = r->passwordFile == QLatin1String("-") ? 1 : 0;
    for (int i = 0; i < r->args.size() && i < names.size(); ++i)
        readers += names[i] == QLatin1String("JSON") && r->args[i] == QLatin1String("-") ? 1 : 0;
    if (readers > 1) {
        *error = QStringLiteral("standard input can stand for one argument only");
        return false;
    }
    if (!r->passwordFile.isEmpty()) {
        if (passwordAt < 0 || r->args.size() != c.argCount - 1) {
            *error = passwordAt < 0 ? QStringLiteral("--password-file goes with a command that takes a PASSWORD")
                                    : QStringLiteral("give the password once: as an argument or with --password-file");
            return false;
        }
        QByteArray bytes;
        if (!readArgumentFile(r->passwordFile, kPasswordFileMax, &bytes, error))
            return false;
        QByteArray line = bytes.left(bytes.indexOf('\n'));
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty()) {
            *error = QStringLiteral("no password in %1").arg(r->passwordFile);
            return false;
        }
        r->args.insert(passwordAt, QString::fromUtf8(line));
        if (r->passwordFile != QLatin1String("-") && QFileInfo(r->passwordFile).permission(QFileDevice::ReadOther))
            r->warnings << QStringLiteral("every user of this computer may read %1").arg(r->passwordFile);
    } else if (passwordAt >= 0 && r->args.size() == c.argCount) {
        r->warnings << QStringLiteral("a password in the command line can be read by every local user (ps, /proc): "
                                      "--password-file FILE (or - for standard input) keeps it out");
    }
    static const QRegularExpression password(QStringLiteral("\"password\"\\s*:\\s*\"[^\"]"));
    for (int i = 0; i < r->args.size() && i < names.size(); ++i) {
        if (names[i] != QLatin1String("JSON"))
            continue;
        QString &arg = r->args[i];
        if (arg == QLatin1String("-") || arg.startsWith(QLatin1Char('@'))) {
            QByteArray bytes;
            if (!readArgumentFile(arg == QLatin1String("-") ? arg : arg.mid(1), kJsonFileMax, &bytes, error))
                return false;
            arg = QString::fromUtf8(bytes);
        } else if (arg.contains(password)) {
            r->warnings << QStringLiteral("a password in the command line can be read by every local user (ps, "
                                          "/proc): @FILE (or - for standard input) keeps it out");
        }
    }
    return true;
}

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
    r.parallel = FenwaFirmware::DEFAULT_PARALLEL;
    bool parallelGiven = false;
    int i = 0;
    auto value = [&](const QString &option, QString *dest) {
        if (i + 1 >= arguments.size()) {
            *error = QStringLiteral("%1 needs a value").arg(option);
            return false;
        }
        *dest = arguments.at(++i);
        return true;
    };
    // Whole seconds from low to high.
    auto seconds = [&](const QString &option, int low, int high, int *dest) {
        QString text;
        if (!value(option, &text))
            return false;
        if (!parseInt(text, dest) || *dest < low || *dest > high) {
            *error = QStringLiteral("%1 takes a number of seconds from %2 to %3, not \"%4\"")
                         .arg(option)
                         .arg(low)
                         .arg(high)
                         .arg(text);
            return false;
        }
        return true;
    };
    bool watchOptions = false, reportOptions = false;
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
    // Until "--", words that start with "-" are options; after it every
    // word is the command or one of its arguments (a name such as "-h").
    bool options = true;
    for (; i < arguments.size(); ++i) {
        const QString a = arguments.at(i);
        const bool option = options && a.startsWith(QLatin1Char('-'));
        bool ok = true;
        if (option && a == QLatin1String("--")) {
            options = false;
        } else if (option && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
            r.help = true;
        } else if (option && (a == QLatin1String("--interface") || a == QLatin1String("-i"))) {
            ok = value(a, &r.interface);
        } else if (option && a == QLatin1String("--time")) {
            ok = number(a, &r.searchMs);
        } else if (option && a == QLatin1String("--timeout")) {
            ok = number(a, &r.timeoutMs);
        } else if (option && a == QLatin1String("--parallel")) {
            QString text;
            parallelGiven = true;
            ok = value(a, &text);
            if (ok && (!parseInt(text, &r.parallel) || r.parallel < 1 || r.parallel > FenwaFirmware::MOST_PARALLEL)) {
                *error = QStringLiteral("--parallel takes a number of uploads from 1 to %1, not \"%2\"")
                             .arg(int(FenwaFirmware::MOST_PARALLEL))
                             .arg(text);
                ok = false;
            }
        } else if (option && a == QLatin1String("--interval")) {
            watchOptions = true;
            ok = seconds(a, 1, 3600, &r.intervalS);
        } else if (option && a == QLatin1String("--for")) {
            watchOptions = true;
            ok = seconds(a, 1, 7 * 24 * 3600, &r.forS);
        } else if (option && a == QLatin1String("--wait")) {
            ok = seconds(a, 1, 3600, &r.waitS);
        } else if (option && (a == QLatin1String("--site") || a == QLatin1String("--by"))) {
            reportOptions = true;
            ok = value(a, a == QLatin1String("--site") ? &r.siteName : &r.author);
        } else if (option && a == QLatin1String("--language")) {
            reportOptions = true;
            ok = value(a, &r.language);
            if (ok && r.language != QLatin1String("en") && r.language != QLatin1String("cn")) {
                *error = QStringLiteral("--language takes en or cn, not \"%1\"").arg(r.language);
                ok = false;
            }
        } else if (option && a == QLatin1String("--password-file")) {
            ok = value(a, &r.passwordFile);
        } else if (option && a == QLatin1String("--no-probe")) {
            r.noProbe = true;
        } else if (option && a == QLatin1String("--csv")) {
            r.csv = true;
        } else if (option && a == QLatin1String("--xlsx")) {
            ok = value(a, &r.xlsxFile);
        } else if (option && a == QLatin1String("--output")) {
            ok = value(a, &r.outputFile);
        } else if (option && a == QLatin1String("--no-passwords")) {
            r.noPasswords = true;
        } else if (option && a == QLatin1String("--as-written")) {
            r.asWritten = true;
        } else if (option && a == QLatin1String("--all")) {
            r.all = true;
        } else if (option && (a == QLatin1String("--verbose") || a == QLatin1String("-v"))) {
            r.verbose = true;
        } else if (option && a == QLatin1String("--dry-run")) {
            r.dryRun = true;
        } else if (option && a == QLatin1String("--skip-refused")) {
            r.skipRefused = true;
        } else if (option && a == QLatin1String("--take-mac")) {
            r.takeMac = true;
        } else if (option && a == QLatin1String("--result")) {
            ok = value(a, &r.resultFile);
        } else if (option && a == QLatin1String("--from")) {
            // A MAC, or the UID of one of the terminals that shared a MAC.
            ok = value(a, &r.restoreFrom);
            if (ok && r.restoreFrom.trimmed().isEmpty()) {
                *error = QStringLiteral("--from takes a MAC or a UID");
                ok = false;
            }
            if (FenwaTerminal::isMacText(r.restoreFrom))
                r.restoreFrom = FenwaTerminal::normalizeMac(r.restoreFrom);
        } else if (option && a == QLatin1String("--onto")) {
            QString mac;
            ok = value(a, &mac);
            if (ok && !FenwaTerminal::isMacText(mac)) {
                *error = QStringLiteral("%1 takes a MAC such as 02:fe:00:00:00:01, not \"%2\"").arg(a, mac);
                ok = false;
            }
            r.restoreOnto = FenwaTerminal::normalizeMac(mac);
        } else if (option && a == QLatin1String("--mac")) {
            QString mac;
            ok = value(a, &mac);
            if (ok && !FenwaTerminal::isMacText(mac)) {
                *error = QStringLiteral("--mac takes a MAC such as 02:fe:00:00:00:01, not \"%1\"").arg(mac);
                ok = false;
            }
            r.macs << FenwaTerminal::normalizeMac(mac);
        } else if (option && a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option %1 (put -- before an argument that starts with a dash)").arg(a);
            ok = false;
        } else if (r.command.isEmpty()) {
            r.command = a;
        } else {
            r.args << a;
        }
        if (!ok)
            return false;
    }
    if (r.help) {
        // Asked for help: whatever else stands there is not run.
        *out = r;
        return true;
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
    if (!resolveArguments(*c, &r, error))
        return false;
    if (r.args.size() != c->argCount) {
        *error = c->argCount ? QStringLiteral("%1 takes %2").arg(r.command, QLatin1String(c->argHelp))
                             : QStringLiteral("%1 takes no arguments").arg(r.command);
        return false;
    }
    const bool isSearch = r.command == QLatin1String("search");
    const bool isPlan = r.command == QLatin1String("plan");
    const bool isWatch = r.command == QLatin1String("watch");
    const bool isReport = r.command == QLatin1String("report");
    if ((isSearch || isPlan || isWatch || isReport) && (r.all || !r.macs.isEmpty())) {
        *error = QStringLiteral("%1 takes no targets").arg(r.command);
        return false;
    }
    const bool planOptions = r.dryRun || r.skipRefused || r.takeMac || r.asWritten || !r.resultFile.isEmpty()
                             || !r.restoreFrom.isEmpty() || !r.restoreOnto.isEmpty();
    if (isPlan && r.args[0] != QLatin1String("check") && r.args[0] != QLatin1String("apply")) {
        *error = QStringLiteral("plan takes check FILE or apply FILE");
        return false;
    }
    if (planOptions && !(isPlan && r.args[0] == QLatin1String("apply"))) {
        *error = QStringLiteral(
            "--dry-run, --skip-refused, --as-written, --result, --from, --onto and --take-mac go with plan apply");
        return false;
    }
    const bool isBackup = r.command == QLatin1String("backup");
    if (!isBackup && (!r.outputFile.isEmpty() || r.noPasswords)) {
        *error = QStringLiteral("--output and --no-passwords go with backup");
        return false;
    }
    if (r.restoreFrom.isEmpty() != r.restoreOnto.isEmpty() || (r.takeMac && r.restoreFrom.isEmpty())) {
        *error = QStringLiteral("a restore takes --from MAC (the backed-up terminal) and --onto MAC (its replacement)");
        return false;
    }
    if (watchOptions && !isWatch) {
        *error = QStringLiteral("--interval and --for go with watch");
        return false;
    }
    if (reportOptions && !isReport) {
        *error = QStringLiteral("--site, --by and --language go with report");
        return false;
    }
    if (r.waitS >= 0 && !c->restarts) {
        *error = QStringLiteral("--wait goes with reboot, reset-default and firmware");
        return false;
    }
    if (isReport && !r.args[0].endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)
        && !r.args[0].endsWith(QLatin1String(".html"), Qt::CaseInsensitive)
        && !r.args[0].endsWith(QLatin1String(".htm"), Qt::CaseInsensitive)) {
        *error = QStringLiteral("report writes FILE.pdf or FILE.html, not \"%1\"").arg(r.args[0]);
        return false;
    }
    if (!isSearch && (r.csv || !r.xlsxFile.isEmpty())) {
        *error = QStringLiteral("--csv and --xlsx go with search only");
        return false;
    }
    if (!c->overWeb && parallelGiven) {
        *error = QStringLiteral("--parallel goes with firmware only");
        return false;
    }
    if (!isSearch && !isPlan && !isWatch && !isReport && r.all == !r.macs.isEmpty()) {
        *error = QStringLiteral("%1 needs its targets: --mac MAC (repeatable) or --all").arg(r.command);
        return false;
    }
    if (c->plan && !c->plan(r.args, 1, error)) {
        *error = QStringLiteral("%1: %2").arg(r.command, *error);
        return false;
    }
    if (r.timeoutMs < 0)
        r.timeoutMs = c->defaultTimeoutMs;
    *out = r;
    return true;
}

QString cliSynopsis()
{
    return QStringLiteral(
        "usage: fenwa-cli [OPTIONS] search [--csv] [--xlsx FILE]\n"
        "       fenwa-cli [OPTIONS] watch [--interval SECONDS] [--for SECONDS]\n"
        "       fenwa-cli [OPTIONS] report FILE.pdf|FILE.html [--site NAME] [--by NAME] [--language en|cn]\n"
        "       fenwa-cli [OPTIONS] COMMAND (--mac MAC ... | --all) [ARGS]\n"
        "       fenwa-cli [OPTIONS] backup (--mac MAC ... | --all) [--output FILE] [--no-passwords]\n"
        "       fenwa-cli [OPTIONS] plan check FILE\n"
        "       fenwa-cli [OPTIONS] plan apply FILE [--dry-run] [--skip-refused] [--as-written] [--result FILE]\n"
        "                                 [--from MAC|UID --onto MAC [--take-mac]]\n"
        "       fenwa-cli stream --group ADDRESS:PORT [--duration SECONDS] [--interface NAME] (--source ID | FILE...)\n"
        "       fenwa-cli sources\n");
}

QString cliUsage()
{
    int count = 0;
    const CliCommand *commands = cliCommands(&count);
    QString timeouts = QString::number(FenwaSDK::REPLY_TIMEOUT_MS);
    for (const CliCommand &c : QVector<CliCommand>(commands, commands + count))
        if (c.defaultTimeoutMs != FenwaSDK::REPLY_TIMEOUT_MS)
            timeouts += QStringLiteral("; %1 %2").arg(QLatin1String(c.name)).arg(c.defaultTimeoutMs);
    QString u = cliSynopsis() + QStringLiteral(
        "options:\n"
        "  -i, --interface IFACE  the Ethernet interface (default: the workbench's choice, else the first\n"
        "                         with a 192.168.x.y address)\n"
        "  --time MS              how long the search collects replies (default 2000)\n"
        "  --timeout MS           how long a terminal may stay silent (default %1)\n"
        "  --parallel N           firmware: uploads at once (default 4, at most 32)\n"
        "  --mac MAC              a target, repeatable; --all: every terminal of a supported type (VQ40, VQT40)\n"
        "  --password-file FILE   the PASSWORD argument from the first line of FILE (- for standard input):\n"
        "                         out of the command line, which every local user can read\n"
        "  --no-probe             set-ip-static: hand out addresses without asking the segment (ARP) first\n"
        "  --wait SECONDS         reboot, reset-default, firmware: then wait that long for the targets to\n"
        "                         answer again, a line per target as it comes back (with its version)\n"
        "  --interval SECONDS     watch: seconds from the end of one search round to the next (default 10)\n"
        "  --for SECONDS          watch: stop after that long (default: at Ctrl+C, SIGTERM or SIGHUP)\n"
        "  --site NAME, --by NAME report: the site's name and who made the report (remembered)\n"
        "  --language en|cn       report: its language (default: the workbench's)\n"
        "  -v, --verbose          every text sent and every reply taken, on stderr (SIP passwords as ***)\n"
        "  -h, --help             this text\n"
        "  --                     ends the options: what follows is the command and its arguments\n"
        "Every command but search first searches, then addresses its targets in MAC order and prints one\n"
        "JSON line per target with its MAC and result (0 or -1). Arguments are checked before the search.\n"
        "A JSON argument written @FILE is read from FILE, - from standard input.\n"
        "commands:\n").arg(timeouts);
    for (const CliCommand &c : QVector<CliCommand>(commands, commands + count)) {
        const QString summary = QString::fromUtf8(c.summary).replace(QLatin1Char('\n'), QLatin1String("\n      "));
        const QString synopsis = QStringLiteral("%1 %2").arg(QLatin1String(c.name), QLatin1String(c.argHelp)).trimmed();
        u += QStringLiteral("  %1\n      %2\n      e.g. %3\n").arg(synopsis, summary, QString::fromUtf8(c.example));
    }
    u += QStringLiteral(
        "  stream, sources\n"
        "      stream MP3 files or a capture source to an RTP multicast group; list the capture sources\n"
        "exit status: 0 every target answered \"success\", 1 any did not, none was reached or capture is\n"
        "not possible, 2 usage error.\n");
    return u;
}

namespace {
// Owns a parsed tree for the length of one parse. Anything but blanks after
// the value makes it no JSON at all: "{...} junk" must not pass for "{...}".
struct JsonTree {
    explicit JsonTree(const QString &text) : bytes(text.toUtf8())
    {
        root = cJSON_ParseWithLengthOpts(bytes.constData(), size_t(bytes.size()) + 1, nullptr, true);
    }
    ~JsonTree() { cJSON_Delete(root); }
    QByteArray bytes;
    cJSON *root;
};

// The item of object under key, spelt exactly; nullptr (with *error) when it
// is missing or given twice.
const cJSON *exactItem(const cJSON *object, const char *key, const QString &where, QString *error)
{
    const cJSON *found = nullptr;
    for (const cJSON *item = object->child; item; item = item->next) {
        if (item->string == nullptr || std::strcmp(item->string, key) != 0)
            continue;
        if (found) {
            *error = QStringLiteral("%1: %2 is given twice").arg(where, QLatin1String(key));
            return nullptr;
        }
        found = item;
    }
    if (!found)
        *error = QStringLiteral("%1: %2 is missing").arg(where, QLatin1String(key));
    return found;
}

// A form read from an operator's text: refused unless it is exactly the form.
template <typename Form>
bool formFromObject(const cJSON *object, Form *out, const QString &where, QString *error)
{
    QString why;
    if (out->fromJson(object, &why))
        return true;
    *error = QStringLiteral("%1: %2").arg(where, why);
    return false;
}

const QString kSipForms = QStringLiteral(
    "set-sip takes {\"sip0\":{...},\"sip1\":{...}} or a JSON array of the two accounts, each with serverHost, "
    "serverPort, account, password and displayName");
const QString kRtpForms = QStringLiteral(
    "set-rtp takes a JSON array of one to ten channels {\"enable\":1,\"rtpIP\":\"239.0.0.1\",\"rtpPort\":6000} "
    "or an object with all of rtp0 ... rtp9");
} // namespace

bool parseSipArgument(const QString &text, SipSettings *sip0, SipSettings *sip1, QString *error)
{
    const JsonTree tree(text);
    const cJSON *first = nullptr, *second = nullptr;
    if (cJSON_IsArray(tree.root) && cJSON_GetArraySize(tree.root) == 2) {
        first = cJSON_GetArrayItem(tree.root, 0);
        second = cJSON_GetArrayItem(tree.root, 1);
    } else if (cJSON_IsObject(tree.root)) {
        // Other keys are let be: a line of get-sip (with its mac and result)
        // copies one terminal's accounts to others.
        first = exactItem(tree.root, "sip0", QStringLiteral("set-sip"), error);
        second = first ? exactItem(tree.root, "sip1", QStringLiteral("set-sip"), error) : nullptr;
        if (!second)
            return false;
    } else {
        *error = kSipForms;
        return false;
    }
    SipSettings a, b;
    if (!formFromObject(first, &a, QStringLiteral("set-sip: sip0"), error)
        || !formFromObject(second, &b, QStringLiteral("set-sip: sip1"), error))
        return false;
    *sip0 = a;
    *sip1 = b;
    return true;
}

bool parseRtpArgument(const QString &text, QList<RtpSettings> *channels, QString *error)
{
    const JsonTree tree(text);
    QList<const cJSON *> items;
    if (cJSON_IsArray(tree.root)) {
        for (const cJSON *item = tree.root->child; item; item = item->next)
            items << item;
        if (items.isEmpty() || items.size() > FENWA_RTP_CHANNELS) {
            *error = QStringLiteral("set-rtp takes one to ten channels, not %1").arg(items.size());
            return false;
        }
    } else if (cJSON_IsObject(tree.root)) {
        // As with set-sip, other keys (a get-rtp line's mac, result) are let be.
        for (int i = 0; i < FENWA_RTP_CHANNELS; ++i) {
            const cJSON *item = exactItem(tree.root, QStringLiteral("rtp%1").arg(i).toLatin1().constData(),
                                          QStringLiteral("set-rtp"), error);
            if (!item)
                return false;
            items << item;
        }
    } else {
        *error = kRtpForms;
        return false;
    }
    QList<RtpSettings> parsed;
    for (int i = 0; i < items.size(); ++i) {
        RtpSettings channel;
        if (!formFromObject(items[i], &channel, QStringLiteral("set-rtp: channel rtp%1").arg(i), error))
            return false;
        parsed << channel;
    }
    *channels = parsed;
    return true;
}
