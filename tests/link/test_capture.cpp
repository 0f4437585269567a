// SPDX-License-Identifier: GPL-3.0-or-later
// Who may capture, and the capture helper under hostile input. Needs root:
// the process moves into a network namespace of its own (gone with it) that
// holds one veth pair, fwa (the helper's) and fwb (the far end), and drops
// to an unprivileged user in children where a test asks for one.
#include "CapturePermission.h"
#include "QPcapAdapterList.h"
#include "QPcapDevice.h"
#include "QPcapHelperProtocol.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <linux/capability.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <memory>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
bool segmentUp = false;

// Waits for pid up to ms; its exit code, 128 + the signal that ended it, or
// -1 when it is still running.
int waitExit(pid_t pid, int ms)
{
    for (int waited = 0; waited <= ms; waited += 5, usleep(5000)) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return -1;
}

// Reads length bytes within ms; what arrived.
QByteArray readSome(int fd, int length, int ms)
{
    QByteArray bytes;
    char buf[2048];
    struct pollfd p = {fd, POLLIN, 0};
    while (bytes.size() < length && poll(&p, 1, ms) > 0) {
        const ssize_t n = read(fd, buf, std::min<size_t>(sizeof buf, size_t(length - bytes.size())));
        if (n <= 0)
            break;
        bytes.append(buf, int(n));
    }
    return bytes;
}

QByteArray message(char type, const QByteArray &payload)
{
    return QByteArray(1, type) + char(payload.size() >> 8) + char(payload.size() & 0xff) + payload;
}

const QByteArray kArpRequest("\x08\x06\x00\x01\x08\x00\x06\x04\x00\x01", 10);
// fwa's address, one it does not hold, and one added while the helper runs.
const QByteArray kOwnIp("\x0a\x09\x00\x01", 4), kOtherIp("\x0a\x09\x00\xfe", 4), kLaterIp("\x0a\x09\x00\x07", 4);

// A command frame as the link builds it, from mac, to every terminal.
QByteArray commandFrame(const QByteArray &mac, const QByteArray &text = "{\"id\":7,\"method\":\"search\"}",
                        const QByteArray &senderIp = QByteArray(4, '\0'))
{
    return QByteArray(6, '\xff') + mac + kArpRequest + mac + senderIp + QByteArray(10, '\xff')
        + QByteArray("\x88\x88\x01", 3) + QByteArray(15, '\0') + text;
}

// An address probe for 10.9.0.9, padded with zeros to length.
QByteArray probe(const QByteArray &mac, int length = 42)
{
    return (QByteArray(6, '\xff') + mac + kArpRequest + mac + QByteArray(10, '\0') + QByteArray("\x0a\x09\x00\x09", 4))
        .leftJustified(length, '\0');
}

// An ARP reply from a host at 10.9.0.9 to mac.
QByteArray arpReply(const QByteArray &mac)
{
    const QByteArray from("\x02\x00\x00\x00\x00\x09", 6);
    return mac + from + QByteArray("\x08\x06\x00\x01\x08\x00\x06\x04\x00\x02", 10) + from
        + QByteArray("\x0a\x09\x00\x09", 4) + mac + QByteArray(4, '\0');
}

QByteArray withByte(QByteArray frame, int at, char value)
{
    frame[at] = value;
    return frame;
}

// The helper on fwa, spoken to through fd.
struct Helper {
    pid_t pid = -1;
    int fd = -1;
    QByteArray mac; // from its READY

    bool start()
    {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
        posix_spawn_file_actions_adddup2(&actions, pair[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 7, FENWA_HELPER, O_RDONLY, 0); // left open by a careless caller
        char *argv[] = {const_cast<char *>(FENWA_HELPER), const_cast<char *>("fwa"), nullptr};
        const int rc = posix_spawn(&pid, FENWA_HELPER, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pair[1]);
        fd = pair[0];
        const QByteArray ready = readSome(fd, 3 + 6, 3000);
        mac = ready.mid(3);
        return rc == 0 && ready.size() == 9 && ready[0] == QPCAP_HELPER_READY;
    }
    // Its exit status once its input is closed (or -1 while it runs on).
    int finish(bool closeInput = false)
    {
        if (closeInput) {
            close(fd);
            fd = -1;
        } else {
            shutdown(fd, SHUT_WR);
        }
        const int status = waitExit(pid, 3000);
        if (status >= 0)
            pid = -1;
        return status;
    }
    ~Helper()
    {
        if (fd >= 0)
            close(fd);
        if (pid > 0 && waitExit(pid, 2000) < 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

// A raw socket on fwb: frames that reach the far end, and frames sent from it.
struct FarEnd {
    int fd = segmentUp ? socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL)) : -1;
    FarEnd()
    {
        struct sockaddr_ll at;
        std::memset(&at, 0, sizeof at);
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_ALL);
        at.sll_ifindex = int(if_nametoindex("fwb"));
        bind(fd, reinterpret_cast<struct sockaddr *>(&at), sizeof at);
        const int on = 1; // stamps from the first frame on, not from the first ask
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
    }
    ~FarEnd() { close(fd); }
    // arrivedUs, if given: when the kernel took the frame in (µs), however
    // late this reader comes to it.
    QByteArray receive(int ms, qint64 *arrivedUs = nullptr) const
    {
        struct pollfd p = {fd, POLLIN, 0};
        char buf[2048];
        alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(struct timeval))];
        struct iovec io = {buf, sizeof buf};
        struct msghdr m = {nullptr, 0, &io, 1, control, sizeof control, 0};
        const ssize_t n = poll(&p, 1, ms) > 0 ? recvmsg(fd, &m, 0) : -1;
        const struct cmsghdr *c = n > 0 ? CMSG_FIRSTHDR(&m) : nullptr; // SO_TIMESTAMP's, the one asked for
        struct timeval at = {-1, 0};
        if (c && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP)
            std::memcpy(&at, CMSG_DATA(c), sizeof at);
        if (arrivedUs)
            *arrivedUs = at.tv_sec < 0 ? -1 : at.tv_sec * 1000000LL + at.tv_usec;
        return n > 0 ? QByteArray(buf, int(n)) : QByteArray();
    }
    void send(const QByteArray &frame) const { ::send(fd, frame.constData(), size_t(frame.size()), 0); }
};

class CaptureHelper : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!segmentUp)
            GTEST_SKIP() << "needs root for a network namespace of its own";
        ASSERT_TRUE(helper.start()) << "the helper did not report READY";
    }
    Helper helper;
    const FarEnd far;
};
} // namespace

// Each refusal ends the helper without sending anything.
TEST(CaptureHelperRefuses, AndEndsWithoutSendingAnything)
{
    // Started by hand without an interface: its usage, and exit status 2.
    EXPECT_EQ(std::system("out=$(" FENWA_HELPER " 2>&1 </dev/null); [ $? = 2 ] && [ \"${out#usage: }\" != \"$out\" ]"), 0);
    if (!segmentUp)
        GTEST_SKIP() << "needs root for a network namespace of its own";
    const struct {
        const char *label;
        std::function<QByteArray(const QByteArray &mac)> bytes;
    } cases[] = {
        {"UnknownType", [](const QByteArray &m) { return message('X', commandFrame(m)); }},
        {"Over1514", [](const QByteArray &m) { return message('S', commandFrame(m, QByteArray(1455, 'x'))); }},
        {"NotArp", [](const QByteArray &m) { return message('S', withByte(commandFrame(m), 13, 0x00)); }},
        {"ArpReply", [](const QByteArray &m) { return message('S', withByte(commandFrame(m), 21, 0x02)); }},
        {"NoCommandHeader", [](const QByteArray &m) { return message('S', withByte(commandFrame(m), 43, 0)); }},
        // The last byte of the helper's MAC, changed (a fixed value would be
        // the interface's own once in 256 runs).
        {"ForeignSourceMac", [](const QByteArray &m) { return message('S', withByte(commandFrame(m), 11, m[5] ^ 1)); }},
        {"ForeignArpSender", [](const QByteArray &m) { return message('S', withByte(commandFrame(m), 27, m[5] ^ 1)); }},
        // An address the interface does not hold would point a neighbour's
        // ARP cache entry for it at this MAC.
        {"ForeignArpSenderAddress", [](const QByteArray &m) { return message('S', commandFrame(m, "{}", kOtherIp)); }},
        {"ProbeWithASenderAddress", [](const QByteArray &m) { return message('S', probe(m).replace(28, 4, kOwnIp)); }},
        {"ProbeNotBroadcast", [](const QByteArray &m) { return message('S', withByte(probe(m), 0, 0x02)); }},
        {"ProbeWithATargetMac", [](const QByteArray &m) { return message('S', withByte(probe(m), 37, 0x01)); }},
        {"ProbePaddedWithData", [](const QByteArray &m) { return message('S', withByte(probe(m, 60), 59, 'x')); }},
        {"ProbeLongerThanPadding", [](const QByteArray &m) { return message('S', probe(m, 61)); }},
        {"CutShortByTheParentsEnd", [](const QByteArray &m) { return message('S', commandFrame(m)).left(40); }},
    };
    const FarEnd far;
    for (const auto &c : cases) {
        Helper helper;
        ASSERT_TRUE(helper.start()) << "the helper did not report READY";
        const QByteArray bytes = c.bytes(helper.mac);
        ASSERT_EQ(write(helper.fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        EXPECT_EQ(helper.finish(), QPCAP_HELPER_REFUSED) << c.label;
        EXPECT_TRUE(far.receive(100).isEmpty()) << c.label << ": a refused frame reached the wire";
    }
}

TEST_F(CaptureHelper, SendsCommandFramesAndProbesAndPassesBackNothingElseWithoutCapabilities)
{
    EXPECT_NE(QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/7").arg(helper.pid)), QStringLiteral(FENWA_HELPER))
        << "a descriptor it was not meant to hold";
    // The interface's addresses are read when a frame is asked for.
    ASSERT_EQ(system("ip addr add 10.9.0.7/24 dev fwa"), 0);
    for (const QByteArray &frame : {commandFrame(helper.mac), commandFrame(helper.mac, "{}", kOwnIp),
                                    commandFrame(helper.mac, "{}", kLaterIp), probe(helper.mac), probe(helper.mac, 60)}) {
        const QByteArray out = message('S', frame);
        ASSERT_EQ(write(helper.fd, out.constData(), size_t(out.size())), out.size());
        EXPECT_EQ(far.receive(1000), frame);
    }
    EXPECT_EQ(system("ip addr del 10.9.0.7/24 dev fwa"), 0);

    // What the far end sends: ARP to the helper's MAC or to everyone comes
    // back, commands among them; nothing addressed to another host does,
    // however interesting (another terminal's SIP password).
    const QByteArray other("\x02\xaa\xbb\xcc\xdd\xee", 6);
    const QByteArray setSip = commandFrame(QByteArray("\x02\x00\x00\x00\x00\x09", 6),
                                           "{\"id\":9,\"method\":\"SetSipSettings\",\"sip0\":{\"password\":\"secret\"}}");
    const QByteArray toOther = QByteArray(setSip).replace(0, 6, other), toUs = QByteArray(setSip).replace(0, 6, helper.mac);
    const struct {
        QByteArray frame;
        bool back;
    } frames[] = {
        {toOther, false},                                   // a command to another terminal
        {arpReply(other), false},                           // an ARP reply to another host
        {withByte(setSip, 13, 0x00), false},                // IPv4, not ARP
        {toUs, true},                                       // a reply to us
        {setSip, true},                                     // a broadcast command (another tool's search)
        {withByte(setSip, 42, 0x11), true},                 // plain ARP to everyone: a host asking
        {withByte(arpReply(helper.mac), 21, 0x01), true},   // a request to us
        {arpReply(helper.mac), true},                       // an answer to a probe
    };
    QByteArray expected;
    for (const auto &f : frames) {
        far.send(f.frame);
        expected += f.back ? message('F', f.frame) : QByteArray();
    }
    EXPECT_EQ(readSome(helper.fd, expected.size(), 1000), expected);
    EXPECT_TRUE(readSome(helper.fd, 1, 200).isEmpty());
    FILE *link = popen("ip -d -o link show fwa", "r");
    char details[4096] = {0};
    const size_t got = link ? fread(details, 1, sizeof details - 1, link) : 0;
    if (link)
        pclose(link);
    EXPECT_TRUE(got > 0 && std::strstr(details, " promiscuity 0 ")) << "the capture is not promiscuous: " << details;

    QFile status(QStringLiteral("/proc/%1/status").arg(helper.pid));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly | QIODevice::Text));
    const QByteArray text = status.readAll();
    EXPECT_TRUE(text.contains("CapPrm:\t0000000000000000") && text.contains("CapEff:\t0000000000000000"))
        << text.constData();
    EXPECT_EQ(helper.finish(true), 0) << "the end of its input ends it";
}

// A caller that writes as fast as it can: every frame goes out, none faster
// than the budget, and the caller's writes are held back meanwhile.
TEST_F(CaptureHelper, AFloodIsHeldToTheSendBudgetAndNothingIsDropped)
{
    const int frames = 1500;
    QList<QByteArray> sent; // each its own, of lengths that split the helper's reads anywhere
    for (int i = 0; i < frames; ++i)
        sent << commandFrame(helper.mac, "{\"id\":" + QByteArray::number(i) + "}");
    std::thread writer([&] {
        for (const QByteArray &frame : qAsConst(sent))
            if (const QByteArray m = message('S', frame); write(helper.fd, m.constData(), size_t(m.size())) != m.size())
                return;
    });
    // Timed by the kernel's arrival stamps: a reader held up under load would
    // see a backlog arrive at once.
    qint64 first = -1, last = -1, at = -1;
    int received = 0, inFirstTenth = 0, asSent = 0;
    for (QByteArray f; received < frames && !(f = far.receive(2000, &at)).isEmpty();) {
        if (f.mid(6, 6) != helper.mac)
            continue; // the far end's own traffic (IPv6 is off, but be sure)
        asSent += f == sent[received] ? 1 : 0;
        first = received++ == 0 ? at : first;
        inFirstTenth += at - first < 100000 ? 1 : 0;
        last = at;
    }
    const qint64 ms = (last - first) / 1000;
    writer.join();
    EXPECT_GE(first, 0) << "no arrival stamp";
    EXPECT_EQ(received, frames) << "a frame beyond the budget waits, it is not dropped";
    EXPECT_EQ(asSent, frames) << "each as written, in order";
    EXPECT_LE(inFirstTenth, QPCAP_SEND_BURST + QPCAP_SEND_RATE / 10 + 1);
    EXPECT_GE(ms, 1000 * (frames - QPCAP_SEND_BURST) / QPCAP_SEND_RATE - 5);
}

TEST_F(CaptureHelper, EndsWhenItsParentDiesEvenWithItsInputStillOpen)
{
    // The parent is a child of ours that starts a helper and dies; a
    // grandchild keeps the helper's input open, so only the parent-death
    // signal can end it. Orphans come to us, so we can wait for them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t parent = fork();
    if (parent == 0) {
        Helper h;
        pid_t pids[2] = {h.start() ? h.pid : -1, fork()};
        if (pids[1] == 0) {
            pause(); // holds the helper's input open
            _exit(0);
        }
        h.pid = -1;
        if (write(pipeFds[1], pids, sizeof pids) != sizeof pids)
            _exit(1);
        pause();
        _exit(0);
    }
    pid_t pids[2] = {-1, -1};
    ASSERT_EQ(read(pipeFds[0], pids, sizeof pids), ssize_t(sizeof pids));
    close(pipeFds[0]);
    close(pipeFds[1]);
    kill(parent, SIGKILL);
    waitpid(parent, nullptr, 0);
    EXPECT_EQ(waitExit(pids[0], 2000), 128 + SIGKILL);
    kill(pids[1], SIGKILL);
    waitpid(pids[1], nullptr, 0);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST(HelperDevice, AHelperThatEndedFailsSendAndCaptureWithoutTakingThisProcess)
{
    if (!segmentUp)
        GTEST_SKIP() << "needs root for a network namespace of its own";
    std::unique_ptr<QPcapAdapterList> list(QPcapAdapterList::adapters());
    const QPcapAdapter *fwa = findAdapter(list.get(), "fwa");
    ASSERT_STREQ(fwa->name, "fwa");
    std::unique_ptr<QPcapDevice> device = createHelperDevice(FENWA_HELPER);
    ASSERT_EQ(device->open(*fwa), 0) << device->error().constData();
    const QByteArray foreign = commandFrame(QByteArray(6, '\x55'));
    // The helper refuses the foreign frame and ends; a send after that meets
    // a closed socket, which must be an error, not SIGPIPE.
    int rc = 0;
    for (int i = 0; i < 200 && rc == 0; ++i, usleep(10000))
        rc = device->send(reinterpret_cast<const uint8_t *>(foreign.constData()), foreign.size());
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(device->capture([](void *, const uint8_t *, int) {}, nullptr), -1);
    // An adapter that is gone or down is named as such, not as a failure.
    ASSERT_EQ(std::system("ip link add fwdown type veth peer name fwdown1"), 0);
    for (const char *name : {"fwgone0", "fwdown"}) {
        QPcapAdapter other = *fwa;
        std::snprintf(other.name, sizeof other.name, "%s", name);
        device = createHelperDevice(FENWA_HELPER);
        EXPECT_EQ(device->open(other), -1);
        EXPECT_EQ(device->failure(), QPcapDevice::NoDevice) << name << ": " << device->error().constData();
        EXPECT_TRUE(device->error().contains(name)) << device->error().constData();
    }
}


TEST(Permission, IsReadFromTheEffectiveSet)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    const uint32_t raw = CAP_TO_MASK(CAP_NET_RAW), admin = CAP_TO_MASK(CAP_NET_ADMIN);
    const struct {
        const char *label;
        bool unprivileged;
        uint32_t effective, permitted;
        bool expected;
    } cases[] = {
        {"Root", false, 0, 0, true},
        {"NobodyWithout", true, 0, 0, false},
        {"NobodyWithNetRaw", true, raw, raw, true},
        {"NobodyWithNetRawOnlyPermitted", true, 0, raw, false},
        {"NobodyWithNetAdminOnly", true, admin, admin, false},
    };
    for (const auto &c : cases) {
        const pid_t child = fork();
        if (child == 0) {
            if (c.unprivileged) {
                prctl(PR_SET_KEEPCAPS, 1);
                if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
                    _exit(3);
                struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
                struct __user_cap_data_struct data[2] = {{c.effective, c.permitted, 0}, {0, 0, 0}};
                if (syscall(SYS_capset, &header, data) != 0)
                    _exit(4);
            }
            _exit(isCapturePermitted() ? 1 : 0);
        }
        EXPECT_EQ(waitExit(child, 5000), c.expected ? 1 : 0) << c.label;
    }
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Before any thread exists, so that everything after lives in it.
    segmentUp = !::testing::GTEST_FLAG(list_tests) && geteuid() == 0 && unshare(CLONE_NEWNET) == 0
        && system("ip link add fwa type veth peer name fwb && sysctl -qw net.ipv6.conf.all.disable_ipv6=1"
                  " && ip addr add 10.9.0.1/24 dev fwa && ip link set fwa up && ip link set fwb up && for i in $(seq 100); do"
                  " ip -o link show fwb | grep -q 'state UP' && exit 0; sleep 0.05; done; exit 1") == 0;
    return RUN_ALL_TESTS();
}
