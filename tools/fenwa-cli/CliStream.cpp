// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliStream.h"

#include "OrbUtils/CoreAudio.h"
#include "OrbUtils/OrbThread.h"
#include "OrbUtils/rtp/RTPFileAudioReader.h"
#include "OrbUtils/rtp/RTPMulticast.h"
#include "OrbUtils/rtp/RTPPulseAudioReader.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <net/if.h>

namespace {

const char usageLine[] = "usage: fenwa-cli stream --group ADDRESS:PORT [--duration SECONDS] [--interface NAME] "
                         "(--source ID | FILE...)\n";
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int)
{
    interrupted = 1;
    // A second Ctrl+C ends the program the hard way.
    for (int signal : kStopSignals)
        std::signal(signal, SIG_DFL);
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

// A path as printed: control characters and backslashes escaped, so that
// a file name holding a line break cannot pass for a line of its own.
QByteArray printable(const QString &path)
{
    QByteArray out;
    for (const char c : path.toLocal8Bit()) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (u < 0x20 || u == 0x7f)
            out += QByteArray("\\x") + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

// Prints the play list's progress; called on the thread that opened the file.
class PlayListPrinter : public RTPFileAudioReaderObserver
{
public:
    void onFileOpened(RTPFileAudioReader *, int32_t index, const QString &path) override
    {
        std::fprintf(stdout, "Playing %d: %s\n", index + 1, printable(path).constData());
        std::fflush(stdout);
    }
    void onFileOpenFailed(RTPFileAudioReader *, int32_t index, const QString &path) override
    {
        std::fprintf(stderr, "fenwa-cli stream: cannot play file %d: %s (missing, unreadable or not audio)\n",
                     index + 1, printable(path).constData());
        failed.store(true);
    }
    std::atomic<bool> failed{false};
};

// Ctrl+C, SIGTERM and SIGHUP end the stream (with its BYE) while it runs.
struct StopSignals {
    StopSignals()
    {
        interrupted = 0;
        for (int i = 0; i < 3; ++i)
            previous[i] = std::signal(kStopSignals[i], onInterrupt);
    }
    ~StopSignals()
    {
        for (int i = 0; i < 3; ++i)
            std::signal(kStopSignals[i], previous[i]);
    }
    void (*previous[3])(int);
};

// Every file is checked before anything is sent, so a typo in the tenth
// file does not surface an hour into a test.
bool filesPlayable(const QStringList &files)
{
    for (const QString &file : files) {
        QString reason;
        if (!RTPFileAudioReader::checkFile(file, &reason)) {
            std::fprintf(stderr, "fenwa-cli stream: cannot play '%s': %s\n", printable(file).constData(),
                         reason.toLocal8Bit().constData());
            return false;
        }
    }
    return true;
}

RTPAudioReader *makeSource(const CliStreamOptions &options, PlayListPrinter *printer)
{
    if (options.source.isEmpty()) {
        auto *reader = new RTPFileAudioReader();
        reader->setFiles(options.files);
        reader->setObserver(printer);
        return reader;
    }
    AudioDeviceInfo device;
    device.id = options.source;
    auto *reader = new RTPPulseAudioReader();
    reader->setDevice(device);
    return reader;
}

void tellStartFailure(const CliStreamOptions &options, const PlayListPrinter &printer)
{
    if (!options.source.isEmpty())
        std::fprintf(stderr, "fenwa-cli stream: cannot capture source '%s' (fenwa-cli sources lists them)\n",
                     printable(options.source).constData());
    else if (!printer.failed.load())
        std::fprintf(stderr, "fenwa-cli stream: cannot start the RTP session (no free local port pair from "
                             "13000, or the address or interface cannot be used)\n");
}

// Says on stderr when a capture source begins to fall behind real time
// (once per time), and when its full queues drop audio (at most every 10 s):
// the stream goes on, with gaps.
class ShortfallNotes
{
public:
    void check(const RTPMulticast &multicast, const CliStreamOptions &options, qint64 nowMs)
    {
        const RTPMulticast::Shortfall s = multicast.shortfall();
        if (s.episodes > episodes) {
            std::fprintf(stderr,
                         "fenwa-cli stream: the source '%s' falls behind real time: %.1f s of its audio came late "
                         "within %d s, so the group hears gaps\n",
                         printable(options.source).constData(), s.recentLateMs / 1000.0,
                         int(RTPMulticast::BehindWindowMs / 1000));
            episodes = s.episodes;
        }
        if (s.droppedMs > dropped && (saidDropAt < 0 || nowMs - saidDropAt >= 10000)) {
            std::fprintf(stderr,
                         "fenwa-cli stream: the source '%s' delivers more audio than real time: %.1f s of it "
                         "dropped so far\n",
                         printable(options.source).constData(), s.droppedMs / 1000.0);
            dropped = s.droppedMs;
            saidDropAt = nowMs;
        }
    }

private:
    int episodes = 0;
    double dropped = 0;
    qint64 saidDropAt = -1;
};

// Waits until a stop signal, the end of the duration, a file that cannot
// play, or a stream that cannot go on (said on stderr). True when it ended
// as asked, false when it failed.
bool runUntilStopped(const RTPMulticast &multicast, const CliStreamOptions &options, const PlayListPrinter &printer)
{
    QElapsedTimer clock;
    clock.start();
    ShortfallNotes notes;
    const qint64 limit = options.duration > 0 ? qint64(options.duration * 1000.0) : -1;
    while (!interrupted && !printer.failed.load() && (limit < 0 || clock.elapsed() < limit)) {
        // Seldom: this thread only watches; the stream has its own.
        const qint64 left = limit < 0 ? 100 : limit - clock.elapsed();
        OrbThread::msleep((unsigned long)(left < 1 ? 1 : left > 100 ? 100 : left));
        notes.check(multicast, options, clock.elapsed());
        switch (multicast.failure()) {
        case RTPMulticast::SourceGone:
            std::fprintf(stderr, "fenwa-cli stream: the capture source '%s' is gone (removed, or the sound server "
                                 "ended); stopped\n",
                         printable(options.source).constData());
            return false;
        case RTPMulticast::SendRefused:
            std::fprintf(stderr,
                         "fenwa-cli stream: the system refuses to send to %s: %s (no route to the group? "
                         "choose the interface with --interface); stopped\n",
                         options.address.toLatin1().constData(), std::strerror(multicast.lastSendError()));
            return false;
        case RTPMulticast::NoFailure:
            break;
        }
    }
    return !printer.failed.load();
}

} // namespace

bool parseStreamOptions(const QStringList &args, CliStreamOptions *out, QString *error)
{
    CliStreamOptions options;
    bool haveGroup = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--group") || arg == QLatin1String("--duration")
            || arg == QLatin1String("--interface") || arg == QLatin1String("--source")) {
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
            } else if (arg == QLatin1String("--interface")) {
                if (if_nametoindex(value.toLocal8Bit().constData()) == 0) {
                    *error = QStringLiteral("no network interface '%1' here").arg(value);
                    return false;
                }
                options.interface = value;
            } else if (arg == QLatin1String("--source")) {
                if (value.isEmpty()) {
                    *error = QStringLiteral("--source needs a source id (fenwa-cli sources lists them)");
                    return false;
                }
                options.source = value;
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
    if (!options.source.isEmpty() && !options.files.isEmpty()) {
        *error = QStringLiteral("stream either a capture source or files, not both");
        return false;
    }
    if (options.source.isEmpty() && options.files.isEmpty()) {
        *error = QStringLiteral("the play list is empty: name at least one MP3 file, or --source ID");
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
    if (!filesPlayable(options.files))
        return 1;

    PlayListPrinter printer;
    RTPMulticast multicast;
    multicast.setInterface(options.interface);
    multicast.setReader(makeSource(options, &printer));
    const StopSignals stopSignals;
    const int started = multicast.start(options.address, options.port);
    bool ok = started == 0 && !printer.failed.load() && multicast.localPort() >= 0;
    if (!ok) {
        tellStartFailure(options, printer);
    } else {
        std::fprintf(stdout, "Streaming to %s:%d from local port %d (RTP payload type 14, clock 8000 Hz); "
                             "Ctrl+C stops\n",
                     options.address.toLatin1().constData(), options.port, multicast.localPort());
        std::fflush(stdout);
        ok = runUntilStopped(multicast, options, printer);
    }
    const uint64_t sent = multicast.packetsSent();
    const uint64_t errors = multicast.sendErrors();
    // Sends the BYE, then closes the source.
    multicast.stop();
    if (sent == 0 && errors > 0)
        std::fprintf(stderr, "fenwa-cli stream: nothing was sent (%llu packets refused)\n",
                     (unsigned long long)errors);
    if (!ok)
        return 1;
    if (errors > 0)
        std::fprintf(stderr, "fenwa-cli stream: %llu of %llu packets could not be sent\n",
                     (unsigned long long)errors, (unsigned long long)(sent + errors));
    // A stream with gaps is not the stream that was asked for.
    const RTPMulticast::Shortfall shortfall = multicast.shortfall();
    const bool wentShort = shortfall.episodes > 0 || shortfall.droppedMs > 0;
    if (wentShort)
        std::fprintf(stderr, "fenwa-cli stream: the stream went out short: %.1f s of audio came late, %.1f s "
                             "dropped\n",
                     shortfall.lateMs / 1000.0, shortfall.droppedMs / 1000.0);
    std::fprintf(stdout, "Stopped%s; RTCP BYE sent\n", interrupted ? " on interrupt" : "");
    std::fflush(stdout);
    return wentShort ? 1 : 0;
}

int cliSources(const QStringList &args)
{
    if (!args.isEmpty()) {
        std::fprintf(stderr, "fenwa-cli sources: takes no arguments\nusage: fenwa-cli sources\n");
        return 2;
    }
    bool reached = false;
    const QList<AudioDeviceInfo> devices = getAudioDevices(&reached);
    if (!reached) {
        std::fprintf(stderr, "fenwa-cli sources: cannot reach the sound server (PulseAudio or PipeWire)\n");
        return 1;
    }
    for (const AudioDeviceInfo &device : devices) {
        const QJsonObject line{{QStringLiteral("id"), device.id},
                               {QStringLiteral("name"), device.name},
                               {QStringLiteral("kind"), device.kind}};
        std::fprintf(stdout, "%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    }
    return 0;
}
