// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// JSON written straight into a text. The simulator dumps its state before
// every answer that changes a terminal, and building a cJSON tree only to
// print it was most of an answer's time. Keys and texts are escaped as
// cJSON escapes them; bytes of 0x80 and up pass as they are.
class SimJsonText
{
public:
    explicit SimJsonText(std::string *out) : out(out) {}

    // An object or array ('[') under key, or as the next item of an array
    // when key is nullptr; end() closes it.
    SimJsonText &begin(const char *key = nullptr, char bracket = '{');
    SimJsonText &end(char bracket = '}');
    SimJsonText &text(const char *key, const std::string &value);
    SimJsonText &whole(const char *key, long long value);
    SimJsonText &boolean(const char *key, bool value);

private:
    void name(const char *key);
    void quoted(const std::string &value);

    std::string *out;
    bool comma = false;
};
