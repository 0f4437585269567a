// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SimOptions.h"

#include <random>
#include <string>
#include <utility>
#include <vector>

class SimTerminal;

// The terminals' web side without sockets: a strict HTTP/1.1 request
// reader and what a terminal answers to its login form and its firmware
// upload. SimWeb feeds it bytes; tests and fuzz harnesses call it directly.

enum { SIM_HTTP_HEAD_MAX = 16 * 1024, SIM_HTTP_BODY_MAX = 64 * 1024 * 1024 };

struct SimHttpRequest
{
    std::string method, target;
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::string body;
    // The value of the one header with this (lower-case) name, or nullptr.
    const std::string *header(const char *name) const;
};

// Reads a request head, from the request line to the blank line included.
// Returns 0 with *bodyLength set, or the status to answer and close with:
// 400 for anything malformed (bare LF, folded or nameless headers, two
// Content-Lengths, no Host in HTTP/1.1), 411 for a POST without
// Content-Length, 413 for a body over SIM_HTTP_BODY_MAX, 501 for a
// Transfer-Encoding, 505 for a version other than HTTP/1.0 and 1.1.
int parseHttpHead(const std::string &head, SimHttpRequest *out, size_t *bodyLength);

struct SimHttpAnswer
{
    int status = 200;
    std::string body;     // JSON
    std::string setCookie; // empty: no Set-Cookie header
    bool stateChanged = false;
};

// What terminal t answers to a whole request. A login form with the account
// and the password digest it holds opens a session (a cookie); an upload
// needs that session, a multipart body with exactly one part "file", and
// makes the terminal keep the file's name, size and SHA-256 and restart:
// gone from 300 ms after the answer for rebootMs, then reporting the version
// the file's name carries (fw-2.5.0.bin: 2.5.0), if any.
SimHttpAnswer answerHttp(SimTerminal &t, const SimHttpRequest &request, SimWebFault fault, long long nowMs,
                         int rebootMs, std::mt19937 &random);

// The answer on the wire; every connection closes after it.
std::string httpResponseText(const SimHttpAnswer &answer);
