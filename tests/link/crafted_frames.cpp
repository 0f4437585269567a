// SPDX-License-Identifier: GPL-3.0-or-later
#include "crafted_frames.h"

#include "FenwaSDK.h"
#include "QPcapFrame.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const uint8_t kToolMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
const uint8_t kToolIp[4] = {192, 168, 1, 2};
const uint8_t kTermMac[6] = {0x02, 0xfe, 0x00, 0x00, 0x00, 0x01};
const uint8_t kTermIp[4] = {192, 168, 1, 100};
const uint8_t kOtherMac[6] = {0x02, 0xfe, 0x00, 0x00, 0x00, 0x02};
const uint8_t kOtherIp[4] = {192, 168, 1, 101};

PacketPtr craftFrame(const uint8_t srcMac[6], const uint8_t srcIp[4], const uint8_t dstMac[6],
                     const uint8_t dstIp[4], const QByteArray &text)
{
    uint8_t header[QPCAP_HEADER_SIZE];
    buildCommandHeader(header, text.size());
    PacketPtr packet(new QPcapPacket);
    buildFrame(packet.get(), srcMac, srcIp, dstMac, dstIp, header, QPCAP_HEADER_SIZE,
               reinterpret_cast<const uint8_t *>(text.constData()), text.size());
    return packet;
}

int openScripted(FenwaSDK *sdk, DeviceScript *script)
{
    QPcapAdapter adapter;
    std::memset(&adapter, 0, sizeof adapter);
    std::snprintf(adapter.name, sizeof adapter.name, "scripted0");
    std::memcpy(adapter.hardwareAddress, kToolMac, 6);
    std::memcpy(adapter.address, kToolIp, 4);
    sdk->transport()->setDeviceFactory([script] { return std::make_unique<ScriptedDevice>(script); });
    return sdk->open(&adapter);
}

const cJSON *JsonDoc::item(const std::string &path) const
{
    const cJSON *at = j;
    for (size_t from = 0, dot; at; from = dot + 1) {
        dot = path.find('.', from);
        at = cJSON_GetObjectItemCaseSensitive(at, path.substr(from, dot - from).c_str());
        if (dot == std::string::npos)
            break;
    }
    return at;
}

std::string JsonDoc::str(const std::string &path) const
{
    const cJSON *i = item(path);
    return cJSON_IsString(i) ? i->valuestring : "<absent>";
}

ScriptedDevice::ScriptedDevice(DeviceScript *script) : script(script)
{
    QMutexLocker lock(&script->mutex);
    script->mostOpen = std::max(script->mostOpen, ++script->open);
}

ScriptedDevice::~ScriptedDevice()
{
    QMutexLocker lock(&script->mutex);
    --script->open;
}

int ScriptedDevice::send(const uint8_t *frame, int length)
{
    QMutexLocker lock(&script->mutex);
    if (script->refuseNextSend) {
        script->refuseNextSend = false;
        return -1;
    }
    script->sent.append(QByteArray(reinterpret_cast<const char *>(frame), length));
    script->pending += script->answers;
    script->answers.clear();
    script->changed.wakeAll();
    return 0;
}

int ScriptedDevice::capture(Deliver deliver, void *user)
{
    QMutexLocker lock(&script->mutex);
    for (;;) {
        while (!script->stopped && script->pending.isEmpty())
            script->changed.wait(&script->mutex);
        if (script->stopped) {
            script->stopped = false;
            return 0;
        }
        const QByteArray frame = script->pending.takeFirst();
        lock.unlock();
        deliver(user, reinterpret_cast<const uint8_t *>(frame.constData()), frame.size());
        lock.relock();
    }
}

void ScriptedDevice::stopCapture()
{
    QMutexLocker lock(&script->mutex);
    script->stopped = true;
    script->changed.wakeAll();
}
