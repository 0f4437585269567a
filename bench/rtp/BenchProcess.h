// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What both streaming benchmarks need: receivers on 127.0.0.1 and streamers
// run as processes of their own, timed by the CPU they used. A failure ends
// the benchmark with a message.

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

inline int bindLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(uint16_t(port));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0) {
        std::fprintf(stderr, "bench: cannot bind 127.0.0.1:%d\n", port);
        std::exit(1);
    }
    int size = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    return fd;
}

inline pid_t spawn(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "bench: cannot start %s\n", argv[0]);
        std::exit(1);
    }
    return pid;
}

// Waits for pid; the user and system CPU seconds it used.
inline double waitCpuSeconds(pid_t pid, int *status)
{
    rusage usage{};
    ::wait4(pid, status, 0, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
