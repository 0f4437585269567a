// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimSegment.h"

#include "QPcapFrame.h"
#include "SimStateFile.h"

#include <cJSON.h>
#include <cerrno>
#include <cstring>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const uint8_t kBroadcastMac[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
// An oversized reply is a frame of this length: a 1514-byte limit is what the
// asking side must enforce, and 1600 is past it by more than a VLAN tag.
constexpr int kOversizedFrame = 1600;

// The id a command carries: a number, or a text holding a decimal number.
bool commandId(const cJSON *json, int *id)
{
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(json, "id");
    if (cJSON_IsNumber(item)) {
        *id = item->valueint;
        return true;
    }
    if (cJSON_IsString(item) && item->valuestring) {
        char *end = nullptr;
        const long v = std::strtol(item->valuestring, &end, 10);
        if (end != item->valuestring && *end == 0) {
            *id = static_cast<int>(v);
            return true;
        }
    }
    return false;
}

QByteArray printJson(const cJSON *json)
{
    char *text = cJSON_PrintUnformatted(json);
    QByteArray out(text ? text : "");
    cJSON_free(text);
    return out;
}

} // namespace

SimSegment::SimSegment(const SimOptions &o) : options(o), random(o.seed)
{
    terminals.reserve(static_cast<size_t>(options.count));
    for (int i = 0; i < options.count; ++i)
        terminals.push_back(SimTerminal::make(i, options));
    pcap.setObserver(this);
}

SimSegment::~SimSegment()
{
    stop();
}

int SimSegment::start(int timeoutMs)
{
    if (!options.commandLog.isEmpty()) {
        commandLog = std::fopen(options.commandLog.constData(), "w");
        if (commandLog == nullptr) {
            std::fprintf(stderr, "fenwa-sim: cannot open %s: %s\n", options.commandLog.constData(),
                         std::strerror(errno));
            return -1;
        }
    }
    if (options.oversized && openRawSocket() != 0)
        return -1;
    scheduler = new SimReplyScheduler;
    scheduler->start();

    QPcapAdapter adapter;
    std::memset(&adapter, 0, sizeof adapter);
    std::snprintf(adapter.name, sizeof adapter.name, "%s", options.interfaceName.constData());
    std::snprintf(adapter.description, sizeof adapter.description, "%s", options.interfaceName.constData());
    pcap.open(&adapter);
    // The capture ring exists from activation on, so frames arriving from
    // here on are kept even before the capture thread reads them.
    for (int waited = 0; !pcap.isDeviceOpen(); waited += 10) {
        if (waited >= timeoutMs) {
            std::fprintf(stderr, "fenwa-sim: cannot capture on %s: %s\n", options.interfaceName.constData(),
                         pcap.lastError().constData());
            return -1;
        }
        OrbThread::msleep(10);
    }
    std::fprintf(stderr, "fenwa-sim: %d terminal(s) on %s, first %s\n", options.count,
                 options.interfaceName.constData(), macToText(options.baseMac).c_str());
    return writeState();
}

void SimSegment::stop()
{
    pcap.close();
    if (scheduler) {
        scheduler->stop();
        scheduler->join();
        delete scheduler;
        scheduler = nullptr;
    }
    if (commandLog) {
        std::fclose(commandLog);
        commandLog = nullptr;
    }
    if (rawSocket >= 0) {
        ::close(rawSocket);
        rawSocket = -1;
    }
}

int SimSegment::openRawSocket()
{
    // The link's packets hold at most 1516 bytes, so an oversized reply goes
    // out through a send-only packet socket (protocol 0: it receives nothing).
    rawSocket = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (rawSocket < 0) {
        std::fprintf(stderr, "fenwa-sim: cannot open a packet socket: %s\n", std::strerror(errno));
        return -1;
    }
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", options.interfaceName.constData());
    if (ioctl(rawSocket, SIOCGIFINDEX, &ifr) != 0) {
        std::fprintf(stderr, "fenwa-sim: no interface %s: %s\n", ifr.ifr_name, std::strerror(errno));
        return -1;
    }
    rawIfIndex = ifr.ifr_ifindex;
    int mtu = 0;
    if (ioctl(rawSocket, SIOCGIFMTU, &ifr) == 0)
        mtu = ifr.ifr_mtu;
    rawOversized = mtu + 14 >= kOversizedFrame;
    if (rawOversized)
        std::fprintf(stderr, "fenwa-sim: oversized replies are %d-byte frames\n", kOversizedFrame);
    else
        std::fprintf(stderr,
                     "fenwa-sim: MTU %d of %s cannot carry a %d-byte frame; oversized replies are 1514-byte "
                     "frames whose text is cut short instead\n",
                     mtu, ifr.ifr_name, kOversizedFrame);
    return 0;
}

int SimSegment::findTerminal(const uint8_t mac[6]) const
{
    for (size_t i = 0; i < terminals.size(); ++i)
        if (std::memcmp(terminals[i].mac, mac, 6) == 0)
            return static_cast<int>(i);
    return -1;
}

int SimSegment::writeState()
{
    if (options.stateFile.isEmpty())
        return 0;
    cJSON *root = cJSON_CreateObject();
    cJSON *list = cJSON_AddArrayToObject(root, "terminals");
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        for (const SimTerminal &t : terminals)
            cJSON_AddItemToArray(list, t.toJson());
    }
    cJSON *stats = cJSON_AddObjectToObject(root, "stats");
    cJSON_AddNumberToObject(stats, "commands", static_cast<double>(commandsSeen.load()));
    cJSON_AddNumberToObject(stats, "replies", static_cast<double>(repliesSent.load()));
    cJSON_AddNumberToObject(stats, "dropped", static_cast<double>(repliesDropped.load()));
    const QByteArray text = printJson(root) + '\n';
    cJSON_Delete(root);
    return writeFileAtomically(options.stateFile, text);
}

void SimSegment::logCommand(const char *text, int length)
{
    if (commandLog == nullptr)
        return;
    // One command per line: a raw line break inside a text would split it.
    QByteArray line(text, length);
    line.replace('\n', "\\n").replace('\r', "\\r");
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), commandLog);
    std::fputc('\n', commandLog);
    std::fflush(commandLog);
}

void SimSegment::onPcapPacket(QPcapPacket *packet)
{
    QPcapEthernetHeader eth;
    QPcapArpBody arp;
    if (!parseEthernetHeader(packet->frame(), packet->length(), &eth)
        || !parseArpBody(packet->frame(), packet->length(), &arp) || !isCommandFrame(packet->frame(), packet->length()))
        return;
    const bool broadcast = std::memcmp(eth.destination, kBroadcastMac, 6) == 0;
    int addressed;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (findTerminal(eth.source) >= 0)
            return; // one of ours: a reply, not a command
        addressed = broadcast ? -1 : findTerminal(eth.destination);
    }
    if (!broadcast && addressed < 0)
        return; // for some other station

    Target asker;
    std::memcpy(asker.mac, arp.senderMac, 6);
    putBigEndian32(asker.ip, arp.senderIp);
    int length = 0;
    const char *text = commandText(packet, &length);
    if (text == nullptr)
        return;
    commandsSeen.fetch_add(1);
    logCommand(text, length);

    if (options.echo) {
        echo(packet, asker, broadcast ? terminals[0].mac : eth.destination);
        return;
    }

    cJSON *command = cJSON_ParseWithLength(text, static_cast<size_t>(length));
    int id = 0;
    const cJSON *methodItem = cJSON_GetObjectItemCaseSensitive(command, "method");
    if (!cJSON_IsObject(command) || !commandId(command, &id) || !cJSON_IsString(methodItem)) {
        cJSON_Delete(command); // malformed: a terminal stays silent
        return;
    }
    const std::string method = methodItem->valuestring;
    // A search is for everyone; any other command only for the terminal it is
    // addressed to, so a broadcast reboot does not take a segment down.
    if (broadcast && method != "search") {
        cJSON_Delete(command);
        return;
    }
    const bool apply = options.result == "success";

    struct Pending {
        Target from;
        cJSON *json;
    };
    std::vector<Pending> replies;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const int first = broadcast ? 0 : addressed;
        const int last = broadcast ? static_cast<int>(terminals.size()) - 1 : addressed;
        for (int i = first; i <= last; ++i) {
            SimTerminal &t = terminals[static_cast<size_t>(i)];
            Pending p;
            // The reply leaves from where the command found the terminal,
            // even when the command just moved it (SetMac, SetIp).
            std::memcpy(p.from.mac, t.mac, 6);
            std::memcpy(p.from.ip, t.address, 4);
            p.json = cJSON_CreateObject();
            cJSON_AddNumberToObject(p.json, "id", id);
            changed = t.handle(method, command, apply, p.json) || changed;
            replies.push_back(p);
        }
    }
    cJSON_Delete(command);
    // The state is on disk before any reply leaves: whoever got the reply
    // reads the new state.
    if (changed)
        writeState();
    for (size_t i = 0; i < replies.size(); ++i) {
        reply(replies[i].from, asker, replies[i].json, static_cast<int>(i));
        cJSON_Delete(replies[i].json);
    }
}

void SimSegment::echo(const QPcapPacket *packet, const Target &asker, const uint8_t from[6])
{
    Target me;
    std::memcpy(me.mac, from, 6);
    std::memcpy(me.ip, terminals[0].address, 4);
    int length = 0;
    const char *text = commandText(packet, &length);
    transmit(me, asker, QByteArray(text, length));
}

void SimSegment::reply(const Target &from, const Target &to, cJSON *json, int order)
{
    if (options.dropPercent > 0 && static_cast<int>(random() % 100) < options.dropPercent) {
        repliesDropped.fetch_add(1);
        return;
    }
    const cJSON *idItem = cJSON_GetObjectItemCaseSensitive(json, "id");
    const int id = idItem ? idItem->valueint : 0;
    if (options.result != "success")
        cJSON_ReplaceItemInObjectCaseSensitive(json, "result", cJSON_CreateString(options.result.constData()));
    if (options.wrongId)
        cJSON_ReplaceItemInObjectCaseSensitive(json, "id", cJSON_CreateNumber(id + 1000));

    QByteArray text;
    if (options.garbage) {
        // Looks like the start of a good reply to anything that does not
        // really parse JSON.
        text = "{\"id\":" + QByteArray::number(id) + ",\"result\":\"success\" <garbled>";
    } else if (options.oversized && rawOversized) {
        // A good reply padded with trailing blanks: still JSON when cut
        // anywhere past the reply, so only a size check keeps it out.
        text = printJson(json);
        text += QByteArray(kOversizedFrame - QPCAP_TEXT_OFFSET - text.size(), ' ');
    } else if (options.oversized) {
        // The interface cannot carry more than 1514 bytes: fill the longest
        // legal frame with a text that runs on past its end.
        text = printJson(json);
        text.chop(1);
        text += ",\"pad\":\"" + QByteArray(QPCAP_TEXT_MAX, 'x');
    } else {
        text = printJson(json);
    }

    const long delayUs = long(options.delayMs) * 1000 + long(order) * options.spreadUs;
    const int copies = options.duplicate ? 2 : 1;
    auto send = [this, from, to, text, copies]() {
        for (int i = 0; i < copies; ++i) {
            if (options.oversized)
                transmitOversized(from, to, text);
            else
                transmit(from, to, text);
        }
    };
    if (delayUs <= 0)
        send();
    else
        scheduler->schedule(SimReplyScheduler::Clock::now() + std::chrono::microseconds(delayUs), send);
}

void SimSegment::transmit(const Target &from, const Target &to, const QByteArray &text)
{
    uint8_t header[QPCAP_HEADER_SIZE];
    const int length = std::min<int>(text.size(), QPCAP_TEXT_MAX);
    buildCommandHeader(header, length);
    QPcapPacket *packet = new QPcapPacket;
    buildFrame(packet, from.mac, from.ip, to.mac, to.ip, header, QPCAP_HEADER_SIZE,
               reinterpret_cast<const uint8_t *>(text.constData()), length);
    pcap.send(packet);
    repliesSent.fetch_add(1);
}

void SimSegment::transmitOversized(const Target &from, const Target &to, const QByteArray &text)
{
    if (!rawOversized) {
        transmit(from, to, text); // cut to the longest legal frame: not JSON any more
        return;
    }
    QByteArray frame(QPCAP_TEXT_OFFSET + text.size(), 0);
    uint8_t *f = reinterpret_cast<uint8_t *>(frame.data());
    QPcapPacket *model = new QPcapPacket;
    uint8_t header[QPCAP_HEADER_SIZE];
    buildCommandHeader(header, text.size());
    // buildFrame lays out the Ethernet, ARP and command header parts.
    buildFrame(model, from.mac, from.ip, to.mac, to.ip, header, QPCAP_HEADER_SIZE, nullptr, 0);
    std::memcpy(f, model->frame(), QPCAP_TEXT_OFFSET);
    model->release();
    std::memcpy(f + QPCAP_TEXT_OFFSET, text.constData(), static_cast<size_t>(text.size()));

    struct sockaddr_ll to_ll;
    std::memset(&to_ll, 0, sizeof to_ll);
    to_ll.sll_family = AF_PACKET;
    to_ll.sll_ifindex = rawIfIndex;
    to_ll.sll_halen = 6;
    std::memcpy(to_ll.sll_addr, to.mac, 6);
    if (::sendto(rawSocket, frame.constData(), static_cast<size_t>(frame.size()), 0,
                 reinterpret_cast<const struct sockaddr *>(&to_ll), sizeof to_ll)
        < 0)
        std::fprintf(stderr, "fenwa-sim: oversized reply not sent: %s\n", std::strerror(errno));
    else
        repliesSent.fetch_add(1);
}
