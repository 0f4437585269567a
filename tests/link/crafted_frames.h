// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "QPcapDevice.h"
#include "QPcapPacket.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QWaitCondition>
#include <cJSON.h>
#include <cstdint>
#include <memory>
#include <string>

struct PacketRelease {
    void operator()(QPcapPacket *p) const { p->release(); }
};
using PacketPtr = std::unique_ptr<QPcapPacket, PacketRelease>;

// A command frame as a terminal would send it: ARP request from mac/ip with
// the command header and text.
PacketPtr craftFrame(const uint8_t srcMac[6], const uint8_t srcIp[4], const uint8_t dstMac[6],
                     const uint8_t dstIp[4], const QByteArray &text);
inline QByteArray bytesOf(const QPcapPacket *p)
{
    return QByteArray(reinterpret_cast<const char *>(p->frame()), p->length());
}

// A parsed JSON text, freed with the object. str("a.b") reads a nested text.
struct JsonDoc {
    explicit JsonDoc(const QByteArray &text) : j(cJSON_ParseWithLength(text.constData(), size_t(text.size()))) {}
    ~JsonDoc() { cJSON_Delete(j); }
    const cJSON *item(const std::string &path) const;
    std::string str(const std::string &path) const;
    cJSON *j;
};

// What a ScriptedDevice sends and answers, shared with the test.
struct DeviceScript {
    QMutex mutex;
    QWaitCondition changed;
    QList<QByteArray> sent;    // every frame handed to the device
    QList<QByteArray> answers; // captured after the next send
    QList<QByteArray> pending; // waiting for the capture loop
    bool stopped = false;
    bool refuseNextSend = false; // as a device taken away refuses
    int open = 0, mostOpen = 0;  // devices alive at once
};

// A device that puts nothing on a wire: it opens at once, records each frame
// it is given, and then "captures" the frames scripted as answers, on the
// capture thread, as a terminal's replies would arrive.
class ScriptedDevice : public QPcapDevice
{
public:
    explicit ScriptedDevice(DeviceScript *script);
    ~ScriptedDevice() override;
    int open(const QPcapAdapter &) override { return 0; }
    int send(const uint8_t *frame, int length) override;
    int capture(Deliver deliver, void *user) override;
    void stopCapture() override;

private:
    DeviceScript *script;
};

// Opens sdk on a ScriptedDevice of script, as adapter "scripted0" holding
// kToolMac and kToolIp.
class FenwaSDK;
int openScripted(FenwaSDK *sdk, DeviceScript *script); // FenwaSDK::open's result

extern const uint8_t kToolMac[6], kToolIp[4], kTermMac[6], kTermIp[4], kOtherMac[6], kOtherIp[4];
