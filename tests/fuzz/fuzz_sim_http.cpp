// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as an HTTP request to a simulated terminal's web side, logged in
// already (cookie "session=fuzz"): read strictly, answered with a status and
// a response that states its own length.
#include "SimHttp.h"
#include "SimTerminal.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const size_t end = bytes.find("\r\n\r\n");
    SimHttpRequest request;
    size_t bodyLength = 0;
    SimHttpAnswer answer;
    const std::string head = bytes.substr(0, end == std::string::npos ? bytes.size() : end + 4);
    if (head.size() > SIM_HTTP_HEAD_MAX)
        answer.status = 431;
    else if (const int status = parseHttpHead(head, &request, &bodyLength))
        answer.status = status;
    else {
        request.body = bytes.substr(head.size(), bodyLength);
        SimOptions options;
        SimTerminal t = SimTerminal::make(0, options);
        t.session = "fuzz";
        std::mt19937 random(1);
        answer = answerHttp(t, request, SimWebFault::None, 0, 3000, random);
    }
    const std::string text = httpResponseText(answer);
    const size_t bodyAt = text.find("\r\n\r\n");
    if (bodyAt == std::string::npos || text.compare(bodyAt + 4, std::string::npos, answer.body) != 0
        || text.find("Content-Length: " + std::to_string(answer.body.size()) + "\r\n") == std::string::npos)
        std::abort();
    return 0;
}
