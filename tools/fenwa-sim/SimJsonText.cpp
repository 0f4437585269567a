// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimJsonText.h"

#include <cstdio>

void SimJsonText::name(const char *key)
{
    if (comma)
        out->push_back(',');
    comma = true;
    if (key) {
        quoted(key);
        out->push_back(':');
    }
}

void SimJsonText::quoted(const std::string &value)
{
    out->push_back('"');
    size_t run = 0; // start of the bytes that need no escape
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out->append(value, run, i - run);
        run = i + 1;
        switch (c) {
        case '"': out->append("\\\""); break;
        case '\\': out->append("\\\\"); break;
        case '\b': out->append("\\b"); break;
        case '\f': out->append("\\f"); break;
        case '\n': out->append("\\n"); break;
        case '\r': out->append("\\r"); break;
        case '\t': out->append("\\t"); break;
        default: {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out->append(escaped);
        }
        }
    }
    out->append(value, run, std::string::npos);
    out->push_back('"');
}

SimJsonText &SimJsonText::begin(const char *key, char bracket)
{
    name(key);
    out->push_back(bracket);
    comma = false;
    return *this;
}

SimJsonText &SimJsonText::end(char bracket)
{
    out->push_back(bracket);
    comma = true;
    return *this;
}

SimJsonText &SimJsonText::text(const char *key, const std::string &value)
{
    name(key);
    quoted(value);
    return *this;
}

SimJsonText &SimJsonText::whole(const char *key, long long value)
{
    name(key);
    out->append(std::to_string(value));
    return *this;
}

SimJsonText &SimJsonText::boolean(const char *key, bool value)
{
    name(key);
    out->append(value ? "true" : "false");
    return *this;
}
