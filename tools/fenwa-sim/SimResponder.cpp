// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimResponder.h"

#include "SimJsonText.h"
#include "SimStateFile.h"

#include <cJSON.h>
#include <cstdlib>
#include <cstring>

namespace {

// An oversized reply is a frame of this length: a 1514-byte limit is what the
// asking side must enforce, and 1600 is past it by more than a VLAN tag.
constexpr size_t kOversizedFrame = 1600;

SimStation stationOf(const SimTerminal &t)
{
    SimStation s;
    std::memcpy(s.mac.data(), t.mac, 6);
    std::memcpy(s.ip.data(), t.address, 4);
    return s;
}

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

// A terminal's parser is strict: one JSON object and nothing but blanks
// behind it, no zero byte inside.
cJSON *parseCommand(const char *text, size_t length)
{
    if (std::memchr(text, 0, length) != nullptr)
        return nullptr;
    const std::string terminated(text, length);
    cJSON *json = cJSON_ParseWithLengthOpts(terminated.c_str(), length + 1, nullptr, true);
    if (!cJSON_IsObject(json)) {
        cJSON_Delete(json);
        return nullptr;
    }
    return json;
}

std::string printJson(const cJSON *json)
{
    char *text = cJSON_PrintUnformatted(json);
    std::string out(text ? text : "");
    cJSON_free(text);
    return out;
}

} // namespace

SimResponder::SimResponder(const SimOptions &o) : options(o), random(o.seed)
{
    all.reserve(static_cast<size_t>(options.count));
    for (int i = 0; i < options.count; ++i)
        all.push_back(SimTerminal::make(i, options));
    for (const auto &m : options.macOf)
        std::memcpy(all[size_t(m.first)].mac, all[size_t(m.second)].mac, 6);
}

int SimResponder::findTerminal(const SimMac &mac) const
{
    for (size_t i = 0; i < all.size(); ++i)
        if (std::memcmp(all[i].mac, mac.data(), 6) == 0)
            return static_cast<int>(i);
    return -1;
}

std::string SimResponder::stateText(long replies, long missed) const
{
    std::string text;
    text.reserve(all.size() * 1600 + 256);
    SimJsonText out(&text);
    out.begin().begin("terminals", '[');
    for (const SimTerminal &t : all)
        t.writeState(out);
    out.end(']').begin("stats");
    const long counters[] = {commands, replies, dropped, arpReplies, missed, droppedCommands};
    const char *const names[] = {"commands", "replies", "dropped", "arpReplies", "missed", "droppedCommands"};
    for (size_t i = 0; i < sizeof counters / sizeof counters[0]; ++i)
        out.whole(names[i], counters[i]);
    out.end().end();
    // Names hold whatever bytes a command brought; the terminal keeps them
    // and sends them back as they are, but the dump is for JSON readers.
    return toValidUtf8(text) + '\n';
}

void SimResponder::respond(const uint8_t *frame, size_t length, SimResponse *out)
{
    *out = SimResponse();
    const SimIncoming in = readFrame(frame, length);
    if (in.kind == SimFrameKind::Ignored || findTerminal(in.source) >= 0)
        return; // not for a terminal, or one of ours
    // A terminal's interface takes broadcasts and its own MAC, nothing else.
    if (!isBroadcast(in.destination) && findTerminal(in.destination) < 0)
        return;
    // A terminal back from a restart reports what it restarted with.
    nowMs = simNowMs();
    for (SimTerminal &t : all)
        out->stateChanged = t.settle(nowMs) || out->stateChanged;
    if (in.kind == SimFrameKind::ArpRequest) {
        answerArp(in, out);
        return;
    }
    // Lost on the wire: no terminal saw it, nothing logs it.
    if (options.dropCommandsPercent > 0 && static_cast<int>(random() % 100) < options.dropCommandsPercent) {
        ++droppedCommands;
        return;
    }
    answerCommand(in, out);
}

void SimResponder::answerArp(const SimIncoming &in, SimResponse *out)
{
    // An announcement (sender and target address the same) asks nothing.
    if (in.sender.ip == in.target.ip)
        return;
    const bool broadcast = isBroadcast(in.destination);
    // Every terminal holding the address answers: two of them is a conflict
    // the asker should see.
    for (const SimTerminal &t : all) {
        const SimStation me = stationOf(t);
        if (me.ip != in.target.ip || (!broadcast && me.mac != in.destination) || t.isDown(nowMs))
            continue;
        SimOutFrame f;
        f.bytes = arpReply(me, in.sender);
        f.arp = true;
        out->frames.push_back(std::move(f));
        ++arpReplies;
    }
}

void SimResponder::answerCommand(const SimIncoming &in, SimResponse *out)
{
    const bool broadcast = isBroadcast(in.destination);
    const int addressed = broadcast ? -1 : findTerminal(in.destination);
    out->isCommand = true;
    out->commandText.assign(in.text, in.textLength);
    ++commands;

    if (options.echo) {
        SimStation me = stationOf(all[0]);
        if (!broadcast)
            me.mac = in.destination;
        SimOutFrame f;
        f.bytes = commandFrame(me, in.sender, in.text, in.textLength);
        out->frames.push_back(std::move(f));
        return;
    }

    cJSON *command = parseCommand(in.text, in.textLength);
    int id = 0;
    const cJSON *methodItem = cJSON_GetObjectItemCaseSensitive(command, "method");
    if (command == nullptr || !commandId(command, &id) || !cJSON_IsString(methodItem)) {
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
    const bool answered = !options.unanswered.contains(QString::fromStdString(method));
    int order = 0;
    for (size_t i = broadcast ? 0 : static_cast<size_t>(addressed); i < all.size(); ++i) {
        SimTerminal &t = all[i];
        // Every terminal on the addressed MAC takes the frame, as their
        // interfaces would.
        if ((!broadcast && std::memcmp(t.mac, in.destination.data(), 6) != 0) || t.isDown(nowMs))
            continue; // another MAC, or restarting: deaf
        // The reply leaves from where the command found the terminal, even
        // when the command just moved it (SetMac, SetIp).
        const SimStation from = stationOf(t);
        cJSON *reply = cJSON_CreateObject();
        cJSON_AddNumberToObject(reply, "id", id);
        const bool changed = t.handle(method, command, apply, reply);
        // A reboot or factory reset restarts the terminal once its answer
        // has left (or would have): it hears nothing for a while, then
        // answers again.
        if (changed && (method == "reboot" || method == "ResetDefault"))
            t.restart(nowMs, options.rebootMsOf(int(i)));
        out->stateChanged = changed || out->stateChanged;
        if (answered)
            addReply(from, in.sender, reply, broadcast ? static_cast<int>(i) : order++, options.processMsOf(int(i)), out);
        else
            ++dropped;
        cJSON_Delete(reply);
    }
    cJSON_Delete(command);
}

void SimResponder::addReply(const SimStation &from, const SimStation &to, cJSON *json, int order, int processMs,
                            SimResponse *out)
{
    if (options.dropPercent > 0 && static_cast<int>(random() % 100) < options.dropPercent) {
        ++dropped;
        return;
    }
    const cJSON *idItem = cJSON_GetObjectItemCaseSensitive(json, "id");
    const int id = idItem ? idItem->valueint : 0;
    if (options.result != "success")
        cJSON_ReplaceItemInObjectCaseSensitive(json, "result", cJSON_CreateString(options.result.constData()));
    if (options.wrongId)
        cJSON_ReplaceItemInObjectCaseSensitive(json, "id", cJSON_CreateNumber(double(id) + 1000)); // id may be INT_MAX

    std::string text = printJson(json);
    if (options.garbage) {
        // Looks like the start of a good reply to anything that does not
        // really parse JSON.
        text = "{\"id\":" + std::to_string(id) + ",\"result\":\"success\" <garbled>";
    } else if (options.oversized && oversizedFits) {
        // A good reply padded with trailing blanks: still JSON when cut
        // anywhere past the reply, so only a size check keeps it out.
        if (text.size() < kOversizedFrame - SimWire::kTextOffset)
            text.append(kOversizedFrame - SimWire::kTextOffset - text.size(), ' ');
    } else if (options.oversized) {
        // The interface cannot carry more than 1514 bytes: fill the longest
        // legal frame with a text that runs on past its end.
        text.pop_back();
        text += ",\"pad\":\"" + std::string(SimWire::kTextMax, 'x');
        text.resize(SimWire::kTextMax);
    }
    // Nothing but an oversized fault may leave a frame over 1514 bytes.
    if (!(options.oversized && oversizedFits) && text.size() > SimWire::kTextMax)
        text.resize(SimWire::kTextMax);

    SimOutFrame f;
    f.bytes = commandFrame(from, to, text.data(), text.size());
    f.delayUs = long(options.delayMs + processMs) * 1000 + long(order) * options.spreadUs;
    out->frames.push_back(f);
    if (options.duplicate)
        out->frames.push_back(std::move(f));
}
