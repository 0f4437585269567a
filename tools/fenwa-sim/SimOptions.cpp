// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimOptions.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: fenwa-sim --interface IFACE [options]\n"
    "Emulates terminals that answer the tool's ARP-carried JSON commands on IFACE.\n"
    "  --count N            terminals to emulate (default 8)\n"
    "  --base-mac MAC       first terminal's MAC, counted up (default 02:fe:00:00:00:01)\n"
    "  --base-ip IPV4       first terminal's address, counted up (default 192.168.1.100)\n"
    "  --types A,B,...      model types, cycled over the terminals (default VQ40,VQT40)\n"
    "  --state-file PATH    JSON dump of every terminal; appears once capture is open,\n"
    "                       rewritten after each change and on SIGUSR1\n"
    "  --command-log PATH   every command text received, one per line\n"
    "  --spread-us N        search reply of terminal i leaves i*N us late (default 100)\n"
    "faults:\n"
    "  --drop PERCENT       drop that share of replies\n"
    "  --drop-commands PERCENT  lose that share of command frames before any\n"
    "                       terminal sees them (a search frame is lost for all)\n"
    "  --process-ms MS[:N,...]  terminals N (from 1; default all) answer MS later\n"
    "                       (repeatable; the last one naming a terminal counts)\n"
    "  --delay MS           wait before each reply\n"
    "  --unanswered M,...   carry out commands of methods M but lose every reply to them\n"
    "  --result TEXT        answer with this result instead of \"success\" (nothing changes)\n"
    "  --duplicate          answer twice\n"
    "  --wrong-id           answer with the command's id + 1000\n"
    "  --garbage            answer with a text that is not JSON\n"
    "  --oversized          answer with a frame over 1514 bytes (needs an MTU that\n"
    "                       allows it; else the longest legal frame, text cut short)\n"
    "  --seed N             seed of the drop choice (default 1)\n"
    "  --mac-of I:J         terminal I answers from terminal J's MAC (from 1; repeatable; not with --web)\n"
    "  --number-from N      number the terminals' names, uids and serials from N (default 1)\n"
    "  --echo               send every command frame straight back (round-trip baseline)\n"
    "restarts:\n"
    "  --reboot-ms MS[:N,...]  how long terminals N (from 1; default all) are gone after\n"
    "                       a reboot, a factory reset or an upload (default 3000; repeatable)\n"
    "  --stay-down N,...    terminals N (from 1) never come back from a restart\n"
    "web side:\n"
    "  --web                answer HTTP on port 80 at each terminal's address (login,\n"
    "                       firmware upload); needs CAP_NET_ADMIN in the namespace\n"
    "  --web-fault KIND[:N,...]  on terminals N (from 1; default all): wrong-login, hang,\n"
    "                       http-500, refuse, slow, drip, endless, close-upload\n"
    "                       (implies --web; repeatable)\n";

const struct {
    const char *name;
    SimWebFault fault;
} kWebFaults[] = {{"wrong-login", SimWebFault::WrongLogin}, {"hang", SimWebFault::Hang},
                  {"http-500", SimWebFault::Http500},       {"refuse", SimWebFault::Refuse},
                  {"slow", SimWebFault::Slow},              {"drip", SimWebFault::Drip},
                  {"endless", SimWebFault::Endless},        {"close-upload", SimWebFault::CloseUpload}};

// N,N,... terminal numbers from 1, as indices from 0.
bool parseTerminals(const std::string &list, std::vector<int> *out)
{
    size_t at = 0;
    do {
        const size_t comma = list.find(',', at);
        const std::string number = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        char *end = nullptr;
        const long n = std::strtol(number.c_str(), &end, 10);
        if (number.empty() || *end != 0 || n < 1 || n > 65535)
            return false;
        out->push_back(static_cast<int>(n - 1));
        at = comma == std::string::npos ? std::string::npos : comma + 1;
    } while (at != std::string::npos);
    return true;
}

// A value, or a value:N,N,... for some terminals only (index -1: all).
template <typename T>
bool parsePerTerminal(const char *text, bool (*value)(const std::string &, T *),
                      std::vector<std::pair<int, T>> *out)
{
    const std::string s(text);
    const size_t colon = s.find(':');
    T v;
    if (!value(s.substr(0, colon), &v))
        return false;
    if (colon == std::string::npos) {
        out->emplace_back(-1, v);
        return true;
    }
    std::vector<int> terminals;
    if (!parseTerminals(s.substr(colon + 1), &terminals))
        return false;
    for (int t : terminals)
        out->emplace_back(t, v);
    return true;
}

bool webFaultNamed(const std::string &kind, SimWebFault *fault)
{
    *fault = SimWebFault::None;
    for (const auto &k : kWebFaults)
        if (kind == k.name)
            *fault = k.fault;
    return *fault != SimWebFault::None;
}

bool milliseconds(const std::string &text, int *ms)
{
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || v < 0 || v > 600000)
        return false;
    *ms = static_cast<int>(v);
    return true;
}

bool toInt(const char *text, int minimum, int maximum, int *out)
{
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || v < minimum || v > maximum)
        return false;
    *out = static_cast<int>(v);
    return true;
}

} // namespace

bool parseMacText(const QByteArray &text, uint8_t mac[6])
{
    unsigned v[6];
    char tail;
    if (std::sscanf(text.constData(), "%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%c", &v[0], &v[1],
                    &v[2], &v[3], &v[4], &v[5], &tail)
        != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(v[i]);
    return true;
}

bool parseIpv4Text(const QByteArray &text, uint8_t ip[4])
{
    struct in_addr a;
    if (inet_pton(AF_INET, text.constData(), &a) != 1)
        return false;
    std::memcpy(ip, &a.s_addr, 4);
    return true;
}

SimWebFault SimOptions::webFaultOf(int index) const
{
    SimWebFault fault = SimWebFault::None;
    for (const auto &f : webFaults)
        if (f.first < 0 || f.first == index)
            fault = f.second;
    return fault;
}

int SimOptions::rebootMsOf(int index) const
{
    for (int down : stayDown)
        if (down == index)
            return -1;
    int ms = 3000;
    for (const auto &r : rebootMs)
        if (r.first < 0 || r.first == index)
            ms = r.second;
    return ms;
}

int SimOptions::processMsOf(int index) const
{
    int ms = 0;
    for (const auto &p : processMs)
        if (p.first < 0 || p.first == index)
            ms = p.second;
    return ms;
}

int parseSimOptions(int argc, char **argv, SimOptions *o)
{
    auto fail = [](const char *what, const char *value) {
        std::fprintf(stderr, "fenwa-sim: %s%s%s\n%s", what, value ? ": " : "", value ? value : "", kUsage);
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            std::fputs(kUsage, stdout);
            return 1;
        }
        if (!std::strcmp(a, "--duplicate")) { o->duplicate = true; continue; }
        if (!std::strcmp(a, "--wrong-id")) { o->wrongId = true; continue; }
        if (!std::strcmp(a, "--garbage")) { o->garbage = true; continue; }
        if (!std::strcmp(a, "--oversized")) { o->oversized = true; continue; }
        if (!std::strcmp(a, "--echo")) { o->echo = true; continue; }
        if (!std::strcmp(a, "--web")) { o->web = true; continue; }

        const char *v = value();
        if (v == nullptr)
            return fail("missing value after", a);
        if (!std::strcmp(a, "--interface")) {
            o->interfaceName = v;
        } else if (!std::strcmp(a, "--count")) {
            if (!toInt(v, 1, 65535, &o->count))
                return fail("--count wants 1 to 65535", v);
        } else if (!std::strcmp(a, "--base-mac")) {
            if (!parseMacText(v, o->baseMac) || (o->baseMac[0] & 1))
                return fail("--base-mac wants a unicast MAC like 02:fe:00:00:00:01", v);
        } else if (!std::strcmp(a, "--base-ip")) {
            if (!parseIpv4Text(v, o->baseIp))
                return fail("--base-ip wants a dotted IPv4 address", v);
        } else if (!std::strcmp(a, "--types")) {
            o->types = QString::fromUtf8(v).split(QLatin1Char(','), Qt::SkipEmptyParts);
            if (o->types.isEmpty())
                return fail("--types wants at least one name", v);
        } else if (!std::strcmp(a, "--state-file")) {
            o->stateFile = v;
        } else if (!std::strcmp(a, "--command-log")) {
            o->commandLog = v;
        } else if (!std::strcmp(a, "--drop")) {
            if (!toInt(v, 0, 100, &o->dropPercent))
                return fail("--drop wants a percentage 0 to 100", v);
        } else if (!std::strcmp(a, "--drop-commands")) {
            if (!toInt(v, 0, 100, &o->dropCommandsPercent))
                return fail("--drop-commands wants a percentage 0 to 100", v);
        } else if (!std::strcmp(a, "--process-ms")) {
            if (!parsePerTerminal<int>(v, milliseconds, &o->processMs))
                return fail("--process-ms wants milliseconds, then :N,N... optionally", v);
        } else if (!std::strcmp(a, "--delay")) {
            if (!toInt(v, 0, 600000, &o->delayMs))
                return fail("--delay wants milliseconds", v);
        } else if (!std::strcmp(a, "--unanswered")) {
            o->unanswered += QString::fromUtf8(v).split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else if (!std::strcmp(a, "--result")) {
            o->result = v;
        } else if (!std::strcmp(a, "--seed")) {
            int seed = 0;
            if (!toInt(v, 0, 0x7fffffff, &seed))
                return fail("--seed wants a non-negative number", v);
            o->seed = static_cast<uint32_t>(seed);
        } else if (!std::strcmp(a, "--reboot-ms")) {
            if (!parsePerTerminal<int>(v, milliseconds, &o->rebootMs))
                return fail("--reboot-ms wants milliseconds, then :N,N... optionally", v);
        } else if (!std::strcmp(a, "--stay-down")) {
            if (!parseTerminals(v, &o->stayDown))
                return fail("--stay-down wants terminal numbers from 1, N,N...", v);
        } else if (!std::strcmp(a, "--web-fault")) {
            if (!parsePerTerminal<SimWebFault>(v, webFaultNamed, &o->webFaults))
                return fail("--web-fault wants wrong-login, hang, http-500, refuse, slow, drip, endless or close-upload, then :N,N... optionally", v);
            o->web = true;
        } else if (!std::strcmp(a, "--number-from")) {
            if (!toInt(v, 1, 999999, &o->numberFrom))
                return fail("--number-from wants 1 to 999999", v);
        } else if (!std::strcmp(a, "--mac-of")) {
            int from = 0, to = 0;
            const char *colon = std::strchr(v, ':');
            const std::string first(v, colon ? size_t(colon - v) : std::strlen(v));
            if (!colon || !toInt(first.c_str(), 1, 65535, &from) || !toInt(colon + 1, 1, 65535, &to))
                return fail("--mac-of wants two terminal numbers from 1, I:J", v);
            o->macOf.emplace_back(from - 1, to - 1);
        } else if (!std::strcmp(a, "--spread-us")) {
            if (!toInt(v, 0, 1000000, &o->spreadUs))
                return fail("--spread-us wants microseconds", v);
        } else {
            return fail("unknown option", a);
        }
    }
    if (o->interfaceName.isEmpty())
        return fail("--interface is required", nullptr);
    for (const auto &m : o->macOf)
        if (m.first >= o->count || m.second >= o->count)
            return fail("--mac-of names a terminal past --count", nullptr);
    // The web side gives each terminal an interface named after its MAC.
    if (!o->macOf.empty() && o->web)
        return fail("--mac-of does not go with the web side", nullptr);
    return 0;
}
