// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "QPcapFrame.h"

#include <QByteArray>
#include <functional>
#include <memory>

// One opened capture on one adapter: what QPcap's workers drive. Two kinds:
// libpcap in this process (when it may capture: root, or CAP_NET_RAW), and
// the capture helper (fenwa-capture) otherwise. Both capture without
// promiscuous mode, pass on only ARP frames addressed to the adapter's MAC or
// to everyone (the link's capture filter), and send within the send budget.
//
// Threads: open() and the destructor on the supervisor; send() on the send
// worker; capture() on the capture worker; stopCapture() from the supervisor
// while capture() runs. The supervisor destroys a device only after both
// workers have been joined.
class QPcapDevice
{
public:
    // Why an open failed, as far as it can be told.
    enum Failure { NoFailure, NoPermission, NoDevice, Failed };
    using Deliver = void (*)(void *user, const uint8_t *frame, int length);

    virtual ~QPcapDevice() = default;
    // Returns 0, or -1 with failure() and error() telling why.
    virtual int open(const QPcapAdapter &adapter) = 0;
    // Returns 0, or -1 when the frame was refused (the device is then spent).
    virtual int send(const uint8_t *frame, int length) = 0;
    // Hands every captured frame to deliver until stopCapture(): returns 0
    // then, or -1 when capture failed (interface gone, helper ended).
    virtual int capture(Deliver deliver, void *user) = 0;
    virtual void stopCapture() = 0;

    Failure failure() const { return why; }
    QByteArray error() const { return text; }

protected:
    // Records why as "what: detail" (or what alone). Returns -1.
    int fail(Failure failure, const QByteArray &what, const char *detail = nullptr)
    {
        why = failure;
        text = what;
        if (detail) {
            text += ": ";
            text += detail;
        }
        return -1;
    }

private:
    Failure why = NoFailure;
    QByteArray text;
};

using QPcapDeviceFactory = std::function<std::unique_ptr<QPcapDevice>()>;

// libpcap in this process.
std::unique_ptr<QPcapDevice> createLocalDevice();
// The capture helper at helperPath, started for each open.
std::unique_ptr<QPcapDevice> createHelperDevice(const QByteArray &helperPath);
// What QPcap uses unless told otherwise: in process when this process may
// capture, else the helper of this program (captureHelperPath()).
std::unique_ptr<QPcapDevice> createDefaultDevice();
