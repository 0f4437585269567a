// SPDX-License-Identifier: GPL-3.0-or-later
// Any frame, or any command text in a well-formed frame, through the
// simulated terminals with the run's faults: frames out stay within what an
// Ethernet interface carries and the state file stays valid UTF-8 JSON.
#include "SimResponder.h"

#include <QString>
#include <cJSON.h>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    data += 1, size -= 1;
    SimOptions options;
    options.count = 3;
    options.dropPercent = mode & 1 ? 50 : 0;
    options.duplicate = mode & 2;
    options.wrongId = mode & 4;
    options.garbage = (mode & 0x18) == 0x08;
    options.oversized = (mode & 0x18) == 0x10;
    if ((mode & 0x18) == 0x18)
        options.result = "busy";
    SimResponder responder(options);

    std::vector<uint8_t> frame(data, data + size);
    if (mode & 0x20) {
        // The bytes as the text of a command to every terminal or the first.
        SimStation tool{{0x02, 0, 0, 0, 0, 2}, {192, 168, 1, 2}}, to;
        to.mac = mode & 0x40 ? SimMac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff} : SimMac{0x02, 0xfe, 0, 0, 0, 1};
        frame = commandFrame(tool, to, reinterpret_cast<const char *>(data), std::min(size, SimWire::kTextMax));
    }
    SimResponse out;
    responder.respond(frame.data(), frame.size(), &out);
    for (const SimOutFrame &f : out.frames)
        if (f.bytes.size() > SimWire::kFrameMax)
            std::abort();
    const std::string state = responder.stateText(0, 0);
    cJSON *json = cJSON_Parse(state.c_str());
    if (!cJSON_IsObject(json) || QString::fromUtf8(state.data(), int(state.size())).toStdString() != state)
        std::abort();
    cJSON_Delete(json);
    return 0;
}
