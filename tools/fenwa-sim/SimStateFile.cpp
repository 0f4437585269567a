// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimStateFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int writeFileAtomically(const QByteArray &path, const QByteArray &text)
{
    const QByteArray temp = path + ".tmp" + QByteArray::number(getpid());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "fenwa-sim: cannot write %s: %s\n", temp.constData(), std::strerror(errno));
        return -1;
    }
    const char *p = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::fprintf(stderr, "fenwa-sim: cannot write %s: %s\n", temp.constData(), std::strerror(errno));
            ::close(fd);
            ::unlink(temp.constData());
            return -1;
        }
        p += n;
        left -= n;
    }
    ::close(fd);
    if (::rename(temp.constData(), path.constData()) != 0) {
        std::fprintf(stderr, "fenwa-sim: cannot rename %s: %s\n", temp.constData(), std::strerror(errno));
        ::unlink(temp.constData());
        return -1;
    }
    return 0;
}
