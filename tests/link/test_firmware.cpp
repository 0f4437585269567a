// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware over HTTP against web sides on loopback: the bytes a terminal
// receives, where its session goes, and how each refusing or hostile answer
// ends, in time and with its reason.
#include "FenwaFirmware.h"
#include "OrbUtils/OrbHttpUtils.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

// How a web side takes a request and answers it.
enum class Way {
    Whole,     // reads it whole, then answers
    Early,     // answers after the head and reads no more
    EarlyRead, // answers after the head, then reads the rest
    Slow,      // reads what has come every 20 ms, then answers
    Drip,      // answers a byte a second
    Endless,   // answers, then blanks without end
    Cut,       // resets the connection 100 KiB into the request
    Silent,    // never answers
};
struct Step {
    Way way;
    QByteArray reply;
};
QByteArray reply(const char *status, const QByteArray &body, const QByteArray &head = "")
{
    return "HTTP/1.1 " + QByteArray(status) + "\r\n" + head + "Content-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}
const Step kLogin{Way::Whole, reply("200 OK", "{\"result\":0}", "Set-Cookie: session=abc; Path=/\r\n")};
const Step kTaken{Way::Whole, reply("200 OK", "{\"result\":0}")};

// A terminal's web side on a loopback address, on a thread of its own (the
// client blocks the test's): the first request gets the login's step, later
// ones the upload's, and each is kept as it came.
class WebSide
{
public:
    explicit WebSide(Step login, Step upload = kTaken, const char *address = "127.0.0.1")
        : steps{login, upload}, host(address)
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int window = 16384; // a small device's: what the client has sent is near what was read
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, address, &a.sin_addr);
        socklen_t size = sizeof a;
        EXPECT_TRUE(::bind(listener, reinterpret_cast<sockaddr *>(&a), size) == 0 && ::listen(listener, 4) == 0
                    && getsockname(listener, reinterpret_cast<sockaddr *>(&a), &size) == 0);
        port = ntohs(a.sin_port);
        thread = std::thread([this] {
            for (int c; (c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(c))
                serve(c, steps[std::min(connections++, 1)]);
        });
    }
    ~WebSide()
    {
        quit = true;
        ::shutdown(listener, SHUT_RDWR); // accept() returns
        thread.join();
        ::close(listener);
    }
    FenwaFirmware::Target target() const { return {host, port, "admin", "p&w=d"}; }
    QUrl url(const char *path) const { return QUrl(QStringLiteral("http://%1:%2%3").arg(host).arg(port).arg(path)); }
    QByteArray request(int i)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return kept.value(i);
    }
    // The request line, then the head's lines in sorted order, then the body.
    QList<QByteArray> parts(int i)
    {
        const QByteArray r = request(i);
        const int end = r.indexOf("\r\n\r\n");
        QList<QByteArray> lines = r.left(end).split('\n');
        for (QByteArray &line : lines)
            line = line.trimmed();
        std::sort(lines.begin() + 1, lines.end());
        return lines << r.mid(end + 4);
    }
    std::atomic<int> connections{0};

private:
    void pause(int ms)
    {
        for (int i = 0; i < ms / 10 && !quit; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void serve(int c, const Step &s)
    {
        QByteArray in;
        const auto take = [&] {
            char buf[65536];
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            in.append(buf, int(std::max<ssize_t>(n, 0)));
            return n > 0;
        };
        const auto give = [&](const QByteArray &out) {
            return ::send(c, out.constData(), size_t(out.size()), MSG_NOSIGNAL) == out.size();
        };
        while (!in.contains("\r\n\r\n") && take()) {
        }
        static const QRegularExpression length(QStringLiteral("content-length: *(\\d+)"),
                                               QRegularExpression::CaseInsensitiveOption);
        const int whole = in.indexOf("\r\n\r\n") + 4 + length.match(QString::fromLatin1(in)).captured(1).toInt();
        if (s.way == Way::Early || s.way == Way::EarlyRead)
            give(s.reply);
        if (s.way == Way::Early)
            pause(300); // the client hears it; the rest of its request is never read
        while (s.way != Way::Early && in.size() < whole && (s.way != Way::Cut || in.size() < 100 * 1024) && take())
            pause(s.way == Way::Slow ? 20 : 0);
        {
            std::lock_guard<std::mutex> lock(mutex);
            kept << in;
        }
        if (s.way == Way::Cut) {
            const linger reset{1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            return;
        }
        if (s.way == Way::Drip)
            for (int i = 0; i < s.reply.size() && give(s.reply.mid(i, 1)); ++i)
                pause(1000);
        else if (s.way == Way::Endless)
            for (bool on = give(s.reply); on; on = give(QByteArray(65536, ' '))) {
            }
        else if (s.way == Way::Whole || s.way == Way::Slow)
            give(s.reply);
        if (s.way != Way::Silent)
            ::shutdown(c, SHUT_WR);
        while (take()) { // until the client closes
        }
    }

    const Step steps[2];
    const QString host;
    quint16 port = 0;
    int listener = -1;
    std::atomic<bool> quit{false};
    std::mutex mutex;
    QList<QByteArray> kept;
    std::thread thread;
};

QString file(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return f.fileName();
}

// What the terminal's CGI sees, header by header and byte by byte: the form
// with its account percent-encoded, the session back from the login, one
// part named by the file's name, and a boundary the file does not hold.
TEST(Firmware, TheTerminalReceivesTheLoginFormAndTheFileAsOnePart)
{
    QTemporaryDir dir;
    WebSide web(kLogin);
    const QByteArray image = QByteArray("\x7f" "ELF\0\r\n--window-iptool-upload\r\n", 29) + QByteArray(300000, '\xa5');
    const FenwaFirmware::Outcome o = FenwaFirmware::upgrade(web.target(), file(dir, "we\"ird.bin", image), {500, 1500});
    EXPECT_EQ(FenwaFirmware::describe(o).toStdString(), "logged in; uploaded (HTTP 200)");
    const QByteArray host = "Host: " + web.url("").authority().toLatin1();
    EXPECT_EQ(web.parts(0), QList<QByteArray>({"POST /cgi-bin/CGI?login HTTP/1.1", "Connection: close", "Content-Length: 33",
                                               "Content-Type: application/x-www-form-urlencoded", host,
                                               "username=admin&password=p%26w%3Dd"}));
    const QByteArray part = "--window-iptool-upload-1\r\nContent-Disposition: form-data; name=\"file\"; "
                            "filename=\"we%22ird.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n"
        + image + "\r\n--window-iptool-upload-1--\r\n";
    EXPECT_TRUE(web.parts(1) == QList<QByteArray>({"POST /cgi-bin/upload HTTP/1.1", "Connection: close",
                                                   "Content-Length: " + QByteArray::number(part.size()),
                                                   "Content-Type: multipart/form-data; boundary=window-iptool-upload-1",
                                                   "Cookie: session=abc", host, part}));
}

// One device's credential must never reach the next terminal.
TEST(Firmware, SessionGoesBackOnlyToItsHost)
{
    WebSide first(kLogin, kLogin), second(kTaken, kTaken, "127.0.0.2");
    OrbHttpUtils http;
    for (const WebSide *web : {&first, &second, &first})
        EXPECT_TRUE(http.post(web->url("/cgi-bin/CGI?login"), "x").ok());
    EXPECT_EQ(http.session().toStdString(), "abc");
    EXPECT_FALSE(second.request(0).contains("Cookie"));
    EXPECT_FALSE(first.request(0).contains("Cookie"));
    EXPECT_TRUE(first.request(1).contains("\r\nCookie: session=abc\r\n"));
}

struct AnswerCase {
    const char *label;
    Step login, upload;
    const char *outcome; // a regular expression for describe()
    bool ok;
};
void PrintTo(const AnswerCase &c, std::ostream *os) { *os << c.label; }
class FirmwareAnswers : public ::testing::TestWithParam<AnswerCase> {};

// Each ends within its deadline (2 s for a login, 130 s for the 4 MiB
// upload), with its reason, on one connection per request: nothing is sent
// twice. Only a slow upload may take longer than a login may.
TEST_P(FirmwareAnswers, EndInTimeWithTheirReason)
{
    const AnswerCase &c = GetParam();
    QTemporaryDir dir;
    WebSide web(c.login, c.upload);
    const QString path = file(dir, "fw-2.5.0.bin", QByteArray(4 << 20, 'f'));
    const bool stops = c.login.way == Way::Silent;
    QElapsedTimer clock;
    clock.start();
    const FenwaFirmware::Outcome o = FenwaFirmware::upgrade(web.target(), path, {500, 1500},
                                                            [&] { return stops && clock.elapsed() > 200; });
    const bool slow = c.upload.way == Way::Slow;
    EXPECT_TRUE(slow ? clock.elapsed() > 2000 && clock.elapsed() < 20000 : clock.elapsed() < 3000) << clock.elapsed();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^%1$").arg(c.outcome)).match(FenwaFirmware::describe(o)).hasMatch())
        << FenwaFirmware::describe(o).toStdString();
    EXPECT_EQ(o.ok(), c.ok);
    EXPECT_EQ(o.stopped, stops);
    EXPECT_EQ(web.connections.load(), o.loggedIn ? 2 : 1);
}

const QByteArray kResultOne = reply("200 OK", "{\"result\":1}");
INSTANTIATE_TEST_SUITE_P(
    Loopback, FirmwareAnswers,
    ::testing::Values(
        AnswerCase{"ResultOne", kLogin, {Way::Whole, kResultOne}, "logged in; upload refused: result 1", false},
        AnswerCase{"EarlyOk", kLogin, {Way::Early, kTaken.reply},
                   "logged in; upload failed: answered before the whole file was sent", false},
        AnswerCase{"EarlyOkReadingOn", kLogin, {Way::EarlyRead, kTaken.reply},
                   "logged in; upload failed: answered before the whole file was sent", false},
        AnswerCase{"Early413", kLogin, {Way::Early, reply("413 Too Large", "")}, "logged in; upload refused \\(HTTP 413\\)",
                   false},
        AnswerCase{"Status2000", kLogin, {Way::Whole, reply("2000 Whatever", "{\"result\":0}")},
                   "logged in; upload failed: the terminal's reply is not HTTP", false},
        AnswerCase{"LengthPlus2", kLogin, {Way::Whole, "HTTP/1.1 200 OK\r\nContent-Length: +2\r\n\r\n{\"result\":1}"},
                   "logged in; upload refused: its answer is cut short or not JSON", false},
        AnswerCase{"BareLineFeeds", kLogin, {Way::Whole, "HTTP/1.1 200 OK\nContent-Length: 12\n\n{\"result\":0}"},
                   "logged in; uploaded \\(HTTP 200\\)", true},
        AnswerCase{"Chunked", kLogin,
                   {Way::Whole, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=y\r\n{\"res\r\n7\r\nult\":1}\r\n0\r\n\r\n"},
                   "logged in; upload refused: result 1", false},
        AnswerCase{"SlowWithinItsDeadline", kLogin, {Way::Slow, kTaken.reply}, "logged in; uploaded \\(HTTP 200\\)", true},
        AnswerCase{"ClosedMidUpload", kLogin, {Way::Cut, {}},
                   "logged in; upload failed: connection closed after \\d+ of 4096 kB", false},
        AnswerCase{"NoAnswerToTheUpload", kLogin, {Way::Silent, {}}, "logged in; upload failed: no answer for 1.5 s", false},
        AnswerCase{"LoginDrips", {Way::Drip, kLogin.reply}, {}, "not logged in: no complete answer within 2 s", false},
        AnswerCase{"EndlessBody", {Way::Endless, "HTTP/1.1 200 OK\r\n\r\n"}, {},
                   "not logged in: the reply body is longer than 64 KiB", false},
        AnswerCase{"EndlessHead", {Way::Endless, "HTTP/1.1 200 OK\r\nX: "}, {},
                   "not logged in: the reply head is longer than 16 KiB", false},
        AnswerCase{"ManyHeadLines", {Way::Whole, reply("200 OK", "{}", QByteArray("X: y\r\n").repeated(4000))}, {},
                   "not logged in: the reply head is longer than 16 KiB", false},
        AnswerCase{"ClosedWithoutAWord", {Way::Whole, ""}, {}, "not logged in: the terminal closed the connection", false},
        AnswerCase{"SilenceTheOperatorStops", {Way::Silent, {}}, {}, "not logged in: stopped", false}),
    [](const ::testing::TestParamInfo<AnswerCase> &info) { return std::string(info.param.label); });

TEST(FirmwareRules, SessionFromSetCookie)
{
    // The header, then the session found (empty: none, the earlier one stays).
    const std::pair<QByteArray, QString> cases[] = {
        {"session=abc; Path=/", "abc"}, {"Path=/;session=abc", "abc"}, {"Path=/; session=abc", ""}, {"SESSION=abc", "abc"},
        {"id=7; Path=/", ""}, {"session=; Path=/", ""}, {"lang=en; Path=/\nsession=xyz; Path=/", "xyz"}};
    for (const auto &c : cases) {
        QString found = QStringLiteral("earlier");
        EXPECT_EQ(OrbHttpUtils::sessionFromSetCookie(c.first, &found), !c.second.isEmpty()) << c.first.constData();
        EXPECT_EQ(found, c.second.isEmpty() ? QStringLiteral("earlier") : c.second) << c.first.constData();
    }
}

TEST(FirmwareRules, WhatTheLoginAndTheUploadRepliesSay)
{
    // The reply, then whether it lets the login and a 2xx upload through.
    const std::tuple<QByteArray, bool, bool> cases[] = {
        {"{\"result\":0}", true, true}, {"{\"result\":1}", false, false}, {"{\"RESULT\":0}", true, true},
        {"{\"Result\":-1}", false, false}, {"{\"result\":\"ok\"}", true, true}, {"{\"id\":0}", false, true},
        {"", false, true}, {"<html>result 1</html>", false, true}, {"[0]", false, true}, {" {\"result\":0", false, false}};
    for (const auto &[body, login, upload] : cases) {
        QString why;
        EXPECT_EQ(FenwaFirmware::loginAccepted(body), login) << body.constData();
        EXPECT_EQ(FenwaFirmware::uploadAccepted(body, &why), upload) << body.constData();
        EXPECT_EQ(why.isEmpty(), upload) << body.constData();
    }
}

} // namespace
