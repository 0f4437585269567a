// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliStream.h"

#include "OrbUtils/OrbThread.h"
#include "OrbUtils/rtp/RTPFileAudioReader.h"
#include "OrbUtils/rtp/RTPMulticast.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

const char usageLine[] = "usage: fenwa-cli stream --group ADDRESS:PORT [--duration SECONDS] FILE...\n";

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int)
{
    interrupted = 1;
    // A second Ctrl+C ends the program the hard way.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

bool parseGroup(const QString &text, QString *address, int *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    const QString host = text.left(colon);
    bool ok = false;
    const int number = text.mid(colon + 1).toInt(&ok);
    if (!ok || number <= 0 || number > 65534)
        return false;
    in_addr parsed;
    if (inet_pton(AF_INET, host.toLatin1().constData(), &parsed) != 1)
        return false;
    const uint32_t value = ntohl(parsed.s_addr);
    // Neither can be a stream's destination.
    if (value == 0 || value == 0xFFFFFFFFu)
        return false;
    *address = host;
    *port = number;
    return true;
}

// Prints the play list's progress; called on the thread that opened the file.
class PlayListPrinter : public RTPFileAudioReaderObserver
{
public:
    void onFileOpened(RTPFileAudioReader *, int32_t index, const QString &path) override
    {
        std::fprintf(stdout, "Playing %d: %s\n", index + 1, path.toLocal8Bit().constData());
        std::fflush(stdout);
    }
    void onFileOpenFailed(RTPFileAudioReader *, int32_t index, const QString &path) override
    {
        std::fprintf(stderr, "fenwa-cli stream: cannot play file %d: %s (missing, unreadable or not audio)\n",
                     index + 1, path.toLocal8Bit().constData());
        failed.store(true);
    }
    std::atomic<bool> failed{false};
};

} // namespace

bool parseStreamOptions(const QStringList &args, CliStreamOptions *out, QString *error)
{
    CliStreamOptions options;
    bool haveGroup = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--group") || arg == QLatin1String("--duration")) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(arg);
                return false;
            }
            const QString value = args.at(++i);
            if (arg == QLatin1String("--group")) {
                if (!parseGroup(value, &options.address, &options.port)) {
                    *error = QStringLiteral("bad group address '%1': expected ADDRESS:PORT with a dotted IPv4 "
                                            "address and a port from 1 to 65534, such as 239.255.0.1:6000")
                                 .arg(value);
                    return false;
                }
                haveGroup = true;
            } else {
                bool ok = false;
                options.duration = value.toDouble(&ok);
                if (!ok || !(options.duration > 0) || options.duration > 1e7) {
                    *error = QStringLiteral("bad duration '%1': expected a number of seconds above 0").arg(value);
                    return false;
                }
            }
        } else if (arg == QLatin1String("--")) {
            options.files += args.mid(i + 1);
            break;
        } else if (arg.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        } else {
            options.files += arg;
        }
    }
    if (!haveGroup) {
        *error = QStringLiteral("--group ADDRESS:PORT is required");
        return false;
    }
    if (options.files.isEmpty()) {
        *error = QStringLiteral("the play list is empty: name at least one MP3 file");
        return false;
    }
    *out = options;
    return true;
}

int cliStream(const QStringList &args)
{
    CliStreamOptions options;
    QString error;
    if (!parseStreamOptions(args, &options, &error)) {
        std::fprintf(stderr, "fenwa-cli stream: %s\n%s", error.toLocal8Bit().constData(), usageLine);
        return 2;
    }
    // Caught here with a clear message; a file that vanishes or is not audio
    // is still caught by the reader while playing.
    for (const QString &file : options.files) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable()) {
            std::fprintf(stderr, "fenwa-cli stream: cannot open '%s': %s\n", file.toLocal8Bit().constData(),
                         info.exists() ? "not a readable file" : "no such file");
            return 1;
        }
    }

    PlayListPrinter printer;
    RTPFileAudioReader *reader = new RTPFileAudioReader();
    reader->setFiles(options.files);
    reader->setObserver(&printer);
    RTPMulticast multicast;
    multicast.setReader(reader);

    interrupted = 0;
    auto previousInt = std::signal(SIGINT, onInterrupt);
    auto previousTerm = std::signal(SIGTERM, onInterrupt);

    const int started = multicast.start(options.address, options.port);
    int status = 0;
    if (started < 0 || printer.failed.load() || multicast.localPort() < 0) {
        if (!printer.failed.load())
            std::fprintf(stderr, "fenwa-cli stream: cannot start the RTP session (no free local port pair from "
                                 "13000, or the address cannot be used)\n");
        status = 1;
    } else {
        std::fprintf(stdout, "Streaming to %s:%d from local port %d (RTP payload type 14, clock 8000 Hz); "
                             "Ctrl+C stops\n",
                     options.address.toLatin1().constData(), options.port, multicast.localPort());
        std::fflush(stdout);
        QElapsedTimer clock;
        clock.start();
        const qint64 limit = options.duration > 0 ? qint64(options.duration * 1000.0) : -1;
        while (!interrupted && !printer.failed.load() && (limit < 0 || clock.elapsed() < limit))
            OrbThread::msleep(20);
        if (printer.failed.load())
            status = 1;
    }
    // Sends the BYE, then closes the play list.
    multicast.stop();
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    if (status == 0) {
        std::fprintf(stdout, "Stopped%s; RTCP BYE sent\n", interrupted ? " on interrupt" : "");
        std::fflush(stdout);
    }
    return status;
}
