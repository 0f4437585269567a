// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimHttp.h"

#include "SimTerminal.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <regex>

namespace {

// The grace between an upload's answer and the restart: the answer and the
// connection's close must leave before the terminal goes quiet.

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool isTokenChar(unsigned char c)
{
    return std::isalnum(c) || std::string("!#$%&'*+-.^_`|~").find(char(c)) != std::string::npos;
}

std::string trimBlanks(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return std::string();
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

bool allDigits(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "type/subtype; a=b; c="d"": the media type in lower case and the
// parameters (names in lower case, quotes removed). False when malformed.
bool mediaType(const std::string &value, std::string *type, std::vector<std::pair<std::string, std::string>> *params)
{
    size_t semi = value.find(';');
    *type = lower(trimBlanks(value.substr(0, semi)));
    if (type->find('/') == std::string::npos)
        return false;
    while (semi != std::string::npos) {
        const size_t next = value.find(';', semi + 1);
        const std::string p = trimBlanks(value.substr(semi + 1, next == std::string::npos ? next : next - semi - 1));
        const size_t eq = p.find('=');
        if (eq == std::string::npos || eq == 0)
            return false;
        std::string v = p.substr(eq + 1);
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        params->emplace_back(lower(p.substr(0, eq)), v);
        semi = next;
    }
    return true;
}

bool percentDecode(const std::string &in, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '+') {
            *out += ' ';
        } else if (in[i] == '%') {
            if (i + 2 >= in.size() || !std::isxdigit((unsigned char)in[i + 1]) || !std::isxdigit((unsigned char)in[i + 2]))
                return false;
            *out += char(std::strtol(in.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            *out += in[i];
        }
    }
    return true;
}

// "username=...&password=...": both once, nothing else.
bool loginForm(const std::string &body, std::string *user, std::string *password)
{
    int seenUser = 0, seenPassword = 0;
    size_t at = 0;
    while (at <= body.size()) {
        const size_t amp = body.find('&', at);
        const std::string pair = body.substr(at, amp == std::string::npos ? amp : amp - at);
        const size_t eq = pair.find('=');
        std::string value;
        if (eq == std::string::npos || !percentDecode(pair.substr(eq + 1), &value))
            return false;
        const std::string key = pair.substr(0, eq);
        if (key == "username")
            *user = value, ++seenUser;
        else if (key == "password")
            *password = value, ++seenPassword;
        else
            return false;
        if (amp == std::string::npos)
            break;
        at = amp + 1;
    }
    return seenUser == 1 && seenPassword == 1;
}

// The one part "file" of a multipart body: its file name and bytes.
bool multipartFile(const std::string &body, const std::string &boundary, std::string *name, std::string *data)
{
    const std::string open = "--" + boundary + "\r\n", delimiter = "\r\n--" + boundary;
    if (boundary.empty() || body.compare(0, open.size(), open) != 0)
        return false;
    const size_t headEnd = body.find("\r\n\r\n", open.size());
    if (headEnd == std::string::npos)
        return false;
    bool isFile = false;
    size_t line = open.size();
    while (line < headEnd + 2) {
        const size_t eol = body.find("\r\n", line);
        const std::string h = body.substr(line, eol - line);
        line = eol + 2;
        const size_t colon = h.find(':');
        if (colon == std::string::npos)
            return false;
        if (lower(h.substr(0, colon)) != "content-disposition")
            continue;
        std::string type;
        std::vector<std::pair<std::string, std::string>> params;
        // "form-data" has no slash: lend it one for the reader.
        if (!mediaType("x/" + trimBlanks(h.substr(colon + 1)), &type, &params) || type != "x/form-data")
            return false;
        for (const auto &p : params) {
            if (p.first == "name")
                isFile = p.second == "file";
            else if (p.first == "filename")
                *name = p.second;
        }
    }
    const size_t end = body.find(delimiter, headEnd + 4);
    if (!isFile || name->empty() || end == std::string::npos)
        return false;
    // Only the closing delimiter may follow: one part, nothing behind it.
    const std::string rest = body.substr(end + delimiter.size());
    if (rest != "--" && rest != "--\r\n")
        return false;
    *data = body.substr(headEnd + 4, end - headEnd - 4);
    return true;
}

std::string randomHex(std::mt19937 &random, int bytes)
{
    std::string out;
    char two[3];
    for (int i = 0; i < bytes; ++i) {
        std::snprintf(two, sizeof two, "%02x", unsigned(random() & 0xff));
        out += two;
    }
    return out;
}

bool hasSession(const SimHttpRequest &r, const std::string &session)
{
    const std::string *cookie = r.header("cookie");
    if (cookie == nullptr || session.empty())
        return false;
    size_t at = 0;
    while (at != std::string::npos) {
        const size_t semi = cookie->find(';', at);
        const std::string pair = trimBlanks(cookie->substr(at, semi == std::string::npos ? semi : semi - at));
        if (pair == "session=" + session)
            return true;
        at = semi == std::string::npos ? semi : semi + 1;
    }
    return false;
}

} // namespace

const std::string *SimHttpRequest::header(const char *name) const
{
    for (const auto &h : headers)
        if (h.first == name)
            return &h.second;
    return nullptr;
}

int parseHttpHead(const std::string &head, SimHttpRequest *out, size_t *bodyLength)
{
    *out = SimHttpRequest();
    std::vector<std::string> lines;
    size_t at = 0;
    for (;;) {
        const size_t eol = head.find("\r\n", at);
        if (eol == std::string::npos)
            return 400;
        const std::string line = head.substr(at, eol - at);
        at = eol + 2;
        if (line.empty())
            break;
        if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos)
            return 400; // bare line breaks
        lines.push_back(line);
    }
    if (lines.empty() || at != head.size())
        return 400;

    const std::string &rl = lines[0];
    const size_t sp1 = rl.find(' '), sp2 = sp1 == std::string::npos ? sp1 : rl.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || rl.find(' ', sp2 + 1) != std::string::npos)
        return 400;
    out->method = rl.substr(0, sp1);
    out->target = rl.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string version = rl.substr(sp2 + 1);
    if (out->method.empty() || !std::all_of(out->method.begin(), out->method.end(), [](unsigned char c) { return std::isupper(c); }))
        return 400;
    if (out->target.empty() || out->target[0] != '/')
        return 400;
    if (version.compare(0, 5, "HTTP/") != 0)
        return 400;
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return 505;

    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string &l = lines[i];
        const size_t colon = l.find(':');
        if (colon == std::string::npos || colon == 0)
            return 400;
        const std::string name = l.substr(0, colon);
        if (!std::all_of(name.begin(), name.end(), isTokenChar))
            return 400; // also a folded line, which starts with a blank
        out->headers.emplace_back(lower(name), trimBlanks(l.substr(colon + 1)));
    }
    int hosts = 0, lengths = 0;
    std::string length;
    for (const auto &h : out->headers) {
        if (h.first == "host")
            ++hosts;
        else if (h.first == "transfer-encoding")
            return 501;
        else if (h.first == "content-length") {
            if (!allDigits(h.second) || (lengths++ && h.second != length))
                return 400;
            length = h.second;
        }
    }
    if (hosts > 1 || (version == "HTTP/1.1" && hosts == 0))
        return 400;
    if (length.empty()) {
        if (out->method == "POST")
            return 411;
        *bodyLength = 0;
        return 0;
    }
    if (length.size() > 9 || std::stoul(length) > SIM_HTTP_BODY_MAX)
        return 413;
    *bodyLength = std::stoul(length);
    return 0;
}

SimHttpAnswer answerHttp(SimTerminal &t, const SimHttpRequest &r, SimWebFault fault, long long nowMs, int rebootMs,
                         std::mt19937 &random)
{
    SimHttpAnswer a;
    auto fail = [&a](int status, const char *why) {
        a.status = status;
        a.body = std::string("{\"result\":-1,\"error\":\"") + why + "\"}";
        return a;
    };
    if (fault == SimWebFault::Http500)
        return fail(500, "internal error");
    if (r.target != "/cgi-bin/CGI?login" && r.target != "/cgi-bin/upload")
        return fail(404, "not found");
    if (r.method != "POST")
        return fail(405, "POST only");
    const std::string *contentType = r.header("content-type");
    std::string type;
    std::vector<std::pair<std::string, std::string>> params;
    if (contentType == nullptr || !mediaType(*contentType, &type, &params))
        return fail(415, "no content type");

    if (r.target == "/cgi-bin/CGI?login") {
        std::string user, password;
        if (type != "application/x-www-form-urlencoded")
            return fail(415, "a form is expected");
        if (!loginForm(r.body, &user, &password))
            return fail(400, "username and password expected");
        ++t.webLogins;
        a.stateChanged = true;
        // This terminal's web side holds other credentials than it reports.
        const bool wrong = fault == SimWebFault::WrongLogin;
        if (wrong || user != t.account || password != t.password) {
            a.body = "{\"result\":1}";
            return a;
        }
        t.session = randomHex(random, 16);
        a.setCookie = "session=" + t.session + "; Path=/; HttpOnly";
        a.body = "{\"result\":0}";
        return a;
    }

    if (!hasSession(r, t.session))
        return fail(403, "not logged in");
    std::string boundary;
    for (const auto &p : params)
        if (p.first == "boundary")
            boundary = p.second;
    std::string name, data;
    if (type != "multipart/form-data" || !multipartFile(r.body, boundary, &name, &data))
        return fail(400, "one multipart part named file expected");
    t.firmwareFile = name;
    t.firmwareSize = static_cast<long long>(data.size());
    t.firmwareSha256 = QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha256)
                           .toHex()
                           .toStdString();
    ++t.uploads;
    std::smatch version;
    static const std::regex kVersion("([0-9]+\\.[0-9]+\\.[0-9]+)");
    t.pendingVersion = std::regex_search(name, version, kVersion) ? version[1].str() : std::string();
    t.restart(nowMs, rebootMs);
    a.stateChanged = true;
    a.body = "{\"result\":0}";
    return a;
}

std::string httpResponseText(const SimHttpAnswer &a)
{
    const char *reason = a.status == 200   ? "OK"
                         : a.status == 400 ? "Bad Request"
                         : a.status == 403 ? "Forbidden"
                         : a.status == 404 ? "Not Found"
                         : a.status == 405 ? "Method Not Allowed"
                         : a.status == 411 ? "Length Required"
                         : a.status == 413 ? "Payload Too Large"
                         : a.status == 415 ? "Unsupported Media Type"
                         : a.status == 431 ? "Request Header Fields Too Large"
                         : a.status == 501 ? "Not Implemented"
                         : a.status == 505 ? "HTTP Version Not Supported"
                                           : "Internal Server Error";
    std::string text = "HTTP/1.1 " + std::to_string(a.status) + " " + reason + "\r\n";
    text += "Content-Type: application/json\r\nConnection: close\r\n";
    if (!a.setCookie.empty())
        text += "Set-Cookie: " + a.setCookie + "\r\n";
    text += "Content-Length: " + std::to_string(a.body.size()) + "\r\n\r\n" + a.body;
    return text;
}
