// SPDX-License-Identifier: GPL-3.0-or-later
// libpcap in this process, for a process that may capture (root, or a CLI
// given CAP_NET_RAW).
#include "CapturePermission.h"
#include "QPcapDevice.h"
#include "QPcapHelperProtocol.h"

#include <QFile>
#include <chrono>
#include <thread>
#include <QtDebug>
#include <cstdio>
#include <cstring>
#include <pcap/pcap.h>

namespace {
// Linux sizes every slot of the capture ring for the snap length (immediate
// mode uses fixed-size slots). With 65536-byte slots a 16 MB ring holds ~250
// frames and a search answered by a thousand terminals at once loses most
// replies; 2048 bytes hold any frame the link accepts. Longer frames are still
// recognised, and ignored, by their wire length.
constexpr int kSnapLength = 2048;
constexpr int kReadTimeoutMs = 1000;
// A search answered by a thousand terminals arrives as one burst; the default
// 2 MB ring would overflow and silently drop replies.
constexpr int kCaptureBufferBytes = 16 * 1024 * 1024;

class LocalDevice : public QPcapDevice
{
public:
    ~LocalDevice() override
    {
        if (handle)
            pcap_close(handle);
    }

    int open(const QPcapAdapter &adapter) override
    {
        char errbuf[PCAP_ERRBUF_SIZE];
        std::memset(errbuf, 0, sizeof errbuf);
        handle = pcap_create(adapter.name, errbuf);
        if (handle == nullptr)
            return fail(Failed, errbuf);
        pcap_set_snaplen(handle, kSnapLength);
        // What the link needs is addressed to the adapter or broadcast.
        pcap_set_promisc(handle, 0);
        pcap_set_timeout(handle, kReadTimeoutMs);
        // Without immediate mode the kernel holds small frames back until the
        // read timeout, which would delay every reply by up to a second.
        pcap_set_immediate_mode(handle, 1);
        pcap_set_buffer_size(handle, kCaptureBufferBytes);
        const int rc = pcap_activate(handle);
        if (rc < 0) {
            const Failure why = rc == PCAP_ERROR_PERM_DENIED ? NoPermission
                : rc == PCAP_ERROR_NO_SUCH_DEVICE || rc == PCAP_ERROR_IFACE_NOT_UP ? NoDevice
                                                                                    : Failed;
            return fail(why, pcap_geterr(handle));
        }
        // The filter goes on before anything is sent: while libpcap swaps a
        // filter in, the socket drops every frame for a moment, and a reply
        // landing then (the first replies after a send) would be lost.
        char filter[QPCAP_CAPTURE_FILTER_MAX];
        const uint8_t *m = adapter.hardwareAddress;
        std::snprintf(filter, sizeof filter, QPCAP_CAPTURE_FILTER_FORMAT, m[0], m[1], m[2], m[3], m[4], m[5]);
        struct bpf_program program;
        if (pcap_compile(handle, &program, filter, 1, PCAP_NETMASK_UNKNOWN) < 0)
            return fail(Failed, "capture filter", pcap_geterr(handle));
        const int set = pcap_setfilter(handle, &program);
        pcap_freecode(&program);
        if (set != 0)
            return fail(Failed, "capture filter", pcap_geterr(handle));
        // Our own frames are not read back (where the driver cannot tell,
        // the protocol object drops them).
        pcap_setdirection(handle, PCAP_D_IN);
        qpcapBudgetStart(&budget, nowNs());
        qDebug("listening on %s...", adapter.description);
        return 0;
    }

    int send(const uint8_t *frame, int length) override
    {
        // The helper's budget holds here too: the send worker waits, the
        // frames behind it wait in the send queue.
        while (qpcapBudgetFrames(&budget, nowNs()) == 0)
            std::this_thread::sleep_for(std::chrono::nanoseconds(qpcapBudgetWaitNs(&budget)));
        qpcapBudgetSpend(&budget, 1);
        if (pcap_sendpacket(handle, frame, length) == 0)
            return 0;
        return fail(Failed, "send refused", pcap_geterr(handle));
    }

    int capture(Deliver deliver, void *user) override
    {
        Target target{deliver, user};
        for (;;) {
            const int r = pcap_loop(handle, -1, &LocalDevice::onCapture, reinterpret_cast<u_char *>(&target));
            if (r == PCAP_ERROR_BREAK)
                return 0;
            if (r == PCAP_ERROR)
                return fail(NoDevice, "capture ended", pcap_geterr(handle));
        }
    }

    void stopCapture() override { pcap_breakloop(handle); }

private:
    struct Target {
        Deliver deliver;
        void *user;
    };

    static void onCapture(u_char *user, const struct pcap_pkthdr *header, const u_char *bytes)
    {
        const Target *target = reinterpret_cast<const Target *>(user);
        // The filter keeps longer frames out; their wire length decides, as
        // a cut copy of one must not pass for a whole frame.
        if (header->caplen == header->len && header->len <= QPCAP_HELPER_FRAME_MAX)
            target->deliver(target->user, bytes, static_cast<int>(header->len));
    }

    static unsigned long long nowNs()
    {
        return static_cast<unsigned long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    }

    pcap_t *handle = nullptr;
    QPcapSendBudget budget{0, 0};
};
} // namespace

std::unique_ptr<QPcapDevice> createLocalDevice()
{
    return std::make_unique<LocalDevice>();
}

std::unique_ptr<QPcapDevice> createDefaultDevice()
{
    if (isCapturePermitted())
        return createLocalDevice();
    return createHelperDevice(QFile::encodeName(captureHelperPath()));
}
