// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimStateFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int fail(const char *what, const std::string &path)
{
    std::fprintf(stderr, "fenwa-sim: cannot %s %s: %s\n", what, path.c_str(), std::strerror(errno));
    return -1;
}

// A new file beside path, named ".<name>.XXXXXX"; *temp gets its name.
int createTemp(const std::string &path, std::string *temp)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = dir + "." + name + ".XXXXXX";
    // mkostemp adds O_CREAT | O_EXCL to these.
    const int fd = mkostemp(&pattern[0], O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return fail("create a file beside", path);
    // Readable by the operator's own shell, as a plain open would leave it.
    fchmod(fd, 0644);
    *temp = pattern;
    return fd;
}

int placeTemp(const std::string &temp, const std::string &path)
{
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        fail("rename into", path);
        ::unlink(temp.c_str());
        return -1;
    }
    return 0;
}

// Length of the well-formed UTF-8 sequence at p (at most left bytes), or 0.
size_t sequenceLength(const unsigned char *p, size_t left)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    size_t n;
    unsigned char low = 0x80, high = 0xbf; // range of the second byte
    if (c >= 0xc2 && c <= 0xdf)
        n = 2;
    else if (c >= 0xe0 && c <= 0xef)
        n = 3, low = c == 0xe0 ? 0xa0 : 0x80, high = c == 0xed ? 0x9f : 0xbf; // no overlongs, no surrogates
    else if (c >= 0xf0 && c <= 0xf4)
        n = 4, low = c == 0xf0 ? 0x90 : 0x80, high = c == 0xf4 ? 0x8f : 0xbf; // U+10000 to U+10FFFF
    else
        return 0;
    if (left < n || p[1] < low || p[1] > high)
        return 0;
    for (size_t i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xbf)
            return 0;
    return n;
}

} // namespace

bool writeAll(int fd, const std::string &text)
{
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += static_cast<size_t>(n);
        left -= static_cast<size_t>(n);
    }
    return true;
}

int createFileAtomically(const std::string &path)
{
    std::string temp;
    const int fd = createTemp(path, &temp);
    if (fd >= 0 && placeTemp(temp, path) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int writeFileAtomically(const std::string &path, const std::string &text)
{
    std::string temp;
    const int fd = createTemp(path, &temp);
    if (fd < 0)
        return -1;
    if (!writeAll(fd, text)) {
        fail("write", temp);
        ::close(fd);
        ::unlink(temp.c_str());
        return -1;
    }
    if (::close(fd) != 0) {
        fail("write", temp);
        ::unlink(temp.c_str());
        return -1;
    }
    return placeTemp(temp, path);
}

std::string toValidUtf8(const std::string &text)
{
    std::string out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
    size_t left = text.size();
    // Well-formed runs are copied whole: most dumps are nothing else.
    const unsigned char *run = p;
    while (left > 0) {
        const size_t n = sequenceLength(p, left);
        if (n == 0) {
            if (out.empty())
                out.reserve(text.size() + 16);
            out.append(reinterpret_cast<const char *>(run), size_t(p - run));
            out += "\xef\xbf\xbd";
            ++p, --left;
            run = p;
            continue;
        }
        p += n, left -= n;
    }
    if (run == reinterpret_cast<const unsigned char *>(text.data()))
        return text;
    out.append(reinterpret_cast<const char *>(run), size_t(p - run));
    return out;
}
