// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The simulator runs as root and its paths are often in /tmp, so no file is
// ever opened through its final name: each is created under a fresh random
// name beside it (O_CREAT | O_EXCL | O_NOFOLLOW) and renamed into place, which
// replaces a planted symlink instead of writing through it.

// Writes text to path that way, so a reader sees the old dump or the new one,
// never half of one. Returns 0 or -1 (with a line on stderr).
int writeFileAtomically(const std::string &path, const std::string &text);

// Creates an empty file at path that way and returns its descriptor open
// for writing, or -1 (with a line on stderr).
int createFileAtomically(const std::string &path);

// Writes all of text to fd. Returns false (errno set) when it cannot.
bool writeAll(int fd, const std::string &text);

// text with every byte that does not belong to a well-formed UTF-8 sequence
// replaced by U+FFFD.
std::string toValidUtf8(const std::string &text);
