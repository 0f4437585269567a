// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "QPcapDevice.h"
#include "QPcapPacket.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QWaitCondition>
#include <cstdint>

// A command frame as a terminal would send it: ARP request from mac/ip with
// the command header and text. The caller releases the packet.
QPcapPacket *craftFrame(const uint8_t srcMac[6], const uint8_t srcIp[4], const uint8_t dstMac[6],
                        const uint8_t dstIp[4], const QByteArray &text);

// What a ScriptedDevice sends and answers, shared with the test.
struct DeviceScript {
    QMutex mutex;
    QWaitCondition changed;
    QList<QByteArray> sent;    // every frame handed to the device
    QList<QByteArray> answers; // captured after the next send
    QList<QByteArray> pending; // waiting for the capture loop
    bool stopped = false;
};

// A device that puts nothing on a wire: it opens at once, records each frame
// it is given, and then "captures" the frames scripted as answers, on the
// capture thread, as a terminal's replies would arrive.
class ScriptedDevice : public QPcapDevice
{
public:
    explicit ScriptedDevice(DeviceScript *script) : script(script) {}
    int open(const QPcapAdapter &) override { return 0; }
    int send(const uint8_t *frame, int length) override;
    int capture(Deliver deliver, void *user) override;
    void stopCapture() override;

private:
    DeviceScript *script;
};

extern const uint8_t kToolMac[6];
extern const uint8_t kToolIp[4];
extern const uint8_t kTermMac[6];
extern const uint8_t kTermIp[4];
extern const uint8_t kOtherMac[6];
extern const uint8_t kOtherIp[4];
