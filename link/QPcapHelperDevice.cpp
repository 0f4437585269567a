// SPDX-License-Identifier: GPL-3.0-or-later
// The capture helper as a device: started for each open with a socket pair
// as its standard input and output, spoken to in the messages of
// QPcapHelperProtocol.h, and ended by closing our end.
#include "QPcapDevice.h"
#include "QPcapHelperProtocol.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kReadyTimeoutMs = 5000;
constexpr int kExitWaitMs = 1000;
constexpr int kSendStallMs = 2000;

class HelperDevice : public QPcapDevice
{
public:
    explicit HelperDevice(const QByteArray &path) : path(path) {}

    ~HelperDevice() override
    {
        if (socketFd >= 0)
            ::close(socketFd); // the helper reads the end of its input and leaves
        for (int fd : wakeFds)
            if (fd >= 0)
                ::close(fd);
        reap();
    }

    int open(const QPcapAdapter &adapter) override
    {
        if (pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
            return fail(Failed, "pipe", std::strerror(errno));
        int pair[2];
        // Close-on-exec on both ends: no other child of this process may
        // hold the helper's input open past our close.
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return fail(Failed, "socketpair", std::strerror(errno));
        socketFd = pair[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, reset;
        sigemptyset(&none);
        sigemptyset(&reset);
        for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP})
            sigaddset(&reset, signal);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &reset);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        char *argv[] = {const_cast<char *>(path.constData()), const_cast<char *>(adapter.name), nullptr};
        // The helper needs nothing from our environment, and gets nothing.
        char *envp[] = {nullptr};
        const int rc = posix_spawn(&pid, path.constData(), &actions, &attributes, argv, envp);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(pair[1]);
        if (rc != 0) {
            pid = -1;
            if (rc == EACCES || rc == EPERM)
                return fail(NoPermission, "not allowed to run the capture helper " + path);
            return fail(Failed, "cannot run the capture helper " + path, std::strerror(rc));
        }
        uint8_t type = 0;
        QByteArray payload;
        if (readMessage(&type, &payload, kReadyTimeoutMs) != 0)
            return fail(Failed, "the capture helper did not answer", readError.constData());
        if (type != QPCAP_HELPER_READY)
            return takeError(type, payload);
        // The helper sends only from the interface's MAC as it is now; frames
        // built with a MAC listed before a change would all be refused.
        if (std::memcmp(payload.constData(), adapter.hardwareAddress, 6) != 0)
            return fail(NoDevice, QByteArray(adapter.name) + ": its MAC changed; choose the adapter again");
        return 0;
    }

    int send(const uint8_t *frame, int length) override
    {
        if (length < QPCAP_HELPER_FRAME_MIN || length > QPCAP_HELPER_FRAME_MAX)
            return fail(Failed, "frame length out of range");
        const uint8_t header[QPCAP_HELPER_HEADER] = {QPCAP_HELPER_SEND, uint8_t(length >> 8), uint8_t(length)};
        struct iovec parts[2] = {{const_cast<uint8_t *>(header), sizeof header},
                                 {const_cast<uint8_t *>(frame), size_t(length)}};
        size_t left = sizeof header + size_t(length);
        while (left > 0) {
            // MSG_NOSIGNAL: a helper that has gone must not take this
            // process with it through SIGPIPE.
            struct msghdr out;
            std::memset(&out, 0, sizeof out);
            out.msg_iov = parts;
            out.msg_iovlen = 2;
            const ssize_t n = ::sendmsg(socketFd, &out, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                // The helper holds back what is beyond its send budget;
                // one that takes nothing for this long is stuck.
                struct pollfd p = {socketFd, POLLOUT, 0};
                const int ready = ::poll(&p, 1, kSendStallMs);
                if (ready == 0)
                    return fail(Failed, "capture helper takes no frames");
                continue;
            }
            if (n <= 0)
                return fail(Failed, "capture helper gone", std::strerror(errno));
            left -= size_t(n);
            // Rare: a partial write. Move both parts past what went out.
            size_t done = size_t(n);
            for (struct iovec &part : parts) {
                const size_t step = std::min(done, part.iov_len);
                part.iov_base = static_cast<uint8_t *>(part.iov_base) + step;
                part.iov_len -= step;
                done -= step;
            }
        }
        return 0;
    }

    int capture(Deliver deliver, void *user) override
    {
        for (;;) {
            uint8_t type = 0;
            QByteArray payload;
            if (readMessage(&type, &payload, -1) != 0)
                return stopping() ? 0 : fail(NoDevice, "capture helper", readError.constData());
            if (type != QPCAP_HELPER_FRAME)
                return takeError(type, payload);
            deliver(user, reinterpret_cast<const uint8_t *>(payload.constData()), payload.size());
        }
    }

    void stopCapture() override
    {
        const char byte = 0;
        if (::write(wakeFds[1], &byte, 1) < 0) {
            // Full pipe: a wake-up is already pending.
        }
    }

private:
    bool stopping() const
    {
        char byte;
        return ::read(wakeFds[0], &byte, 1) == 1;
    }

    // Waits up to timeoutMs (negative: no limit) for readable bytes or a
    // stop. Returns false on a stop, a time-out or an error.
    bool waitReadable(int timeoutMs)
    {
        struct pollfd fds[2] = {{socketFd, POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
        for (;;) {
            const int n = ::poll(fds, 2, timeoutMs);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                readError = n == 0 ? "no answer in time" : std::strerror(errno);
                return false;
            }
            if (fds[1].revents) {
                readError = "stopped";
                return false;
            }
            return true;
        }
    }

    bool readExactly(uint8_t *out, int length, int timeoutMs)
    {
        int have = 0;
        while (have < length) {
            if (!waitReadable(timeoutMs))
                return false;
            const ssize_t n = ::read(socketFd, out + have, size_t(length - have));
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                readError = n == 0 ? "it ended" : std::strerror(errno);
                return false;
            }
            have += int(n);
        }
        return true;
    }

    // Reads one message and checks its frame: a helper that breaks the
    // protocol is treated as gone.
    int readMessage(uint8_t *type, QByteArray *payload, int timeoutMs)
    {
        uint8_t header[QPCAP_HELPER_HEADER];
        if (!readExactly(header, sizeof header, timeoutMs))
            return -1;
        const int length = (header[1] << 8) | header[2];
        const bool known = (header[0] == QPCAP_HELPER_READY && length == 6)
            || (header[0] == QPCAP_HELPER_FRAME && length >= QPCAP_HELPER_FRAME_MIN && length <= QPCAP_HELPER_FRAME_MAX)
            || (header[0] == QPCAP_HELPER_ERROR && length >= 1 && length <= QPCAP_HELPER_ERROR_MAX);
        if (!known) {
            readError = "malformed message";
            return -1;
        }
        payload->resize(length);
        if (!readExactly(reinterpret_cast<uint8_t *>(payload->data()), length, timeoutMs))
            return -1;
        *type = header[0];
        return 0;
    }

    int takeError(uint8_t type, const QByteArray &payload)
    {
        if (type != QPCAP_HELPER_ERROR)
            return fail(Failed, "unexpected message from the capture helper");
        const int reason = uint8_t(payload.at(0));
        const Failure why = reason == QPCAP_HELPER_NO_PERMISSION ? NoPermission
            : reason == QPCAP_HELPER_NO_DEVICE                   ? NoDevice
                                                                 : Failed;
        return fail(why, payload.mid(1));
    }

    void reap()
    {
        if (pid <= 0)
            return;
        int status = 0;
        for (int waited = 0; waited < kExitWaitMs; waited += 10) {
            if (::waitpid(pid, &status, WNOHANG) != 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }

    QByteArray path;
    pid_t pid = -1;
    int socketFd = -1;
    int wakeFds[2] = {-1, -1};
    QByteArray readError;
};
} // namespace

std::unique_ptr<QPcapDevice> createHelperDevice(const QByteArray &helperPath)
{
    return std::make_unique<HelperDevice>(helperPath);
}
