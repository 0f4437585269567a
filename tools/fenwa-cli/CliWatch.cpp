// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliWatch.h"

#include "link/FenwaDevice.h"
#include "link/FenwaLiveList.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"

#include <QElapsedTimer>
#include <atomic>
#include <cJSON.h>
#include <chrono>
#include <csignal>
#include <thread>

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t stopAsked = 0;

void onStopSignal(int)
{
    stopAsked = 1;
}

// While it lives, a stop signal ends the watch; a round under way is
// cancelled from a thread of its own, as the link's cancel is not for a
// signal handler.
class StopWatcher
{
public:
    explicit StopWatcher(FenwaSDK *sdk) : sdk(sdk)
    {
        stopAsked = 0;
        for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i)
            previous[i] = std::signal(kStopSignals[i], onStopSignal);
        thread = std::thread([this] {
            while (!done.load()) {
                if (stopAsked)
                    this->sdk->cancel();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~StopWatcher()
    {
        done.store(true);
        thread.join();
        for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i)
            std::signal(kStopSignals[i], previous[i]);
    }
    bool stopped() const { return stopAsked != 0; }

private:
    FenwaSDK *sdk;
    std::thread thread;
    std::atomic<bool> done{false};
    void (*previous[3])(int) = {};
};

void addText(cJSON *o, const char *key, const QString &value)
{
    cJSON_AddStringToObject(o, key, value.toUtf8().constData());
}

QString isoTime(const QDateTime &at)
{
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate);
}

QByteArray printed(cJSON *o)
{
    char *text = cJSON_PrintUnformatted(o);
    QByteArray line(text ? text : "{}");
    cJSON_free(text);
    cJSON_Delete(o);
    return line;
}

} // namespace

QByteArray watchEventLine(const FenwaLiveEvent &e, const QDateTime &lastSeen, const QDateTime &offlineSince)
{
    static const char *const kinds[] = {"appeared", "changed", "offline", "back"};
    cJSON *o = cJSON_CreateObject();
    cJSON_AddStringToObject(o, "event", kinds[e.kind]);
    addText(o, "time", isoTime(e.at));
    addText(o, "mac", e.device->macText);
    addText(o, "name", e.device->name);
    switch (e.kind) {
    case FenwaLiveEvent::Appeared:
        addText(o, "ip", e.device->ip);
        addText(o, "version", e.device->version);
        addText(o, "type", e.device->type);
        addText(o, "uid", e.device->uid);
        break;
    case FenwaLiveEvent::Offline:
        addText(o, "lastSeen", isoTime(lastSeen));
        break;
    case FenwaLiveEvent::Back:
        addText(o, "offlineSince", isoTime(offlineSince));
        break;
    case FenwaLiveEvent::Changed:
        break;
    }
    if (!e.changes.isEmpty()) {
        cJSON *changes = cJSON_AddObjectToObject(o, "changes");
        for (const FenwaLiveChange &c : e.changes) {
            cJSON *pair = cJSON_AddObjectToObject(changes, c.field.toUtf8().constData());
            addText(pair, "old", c.before);
            addText(pair, "new", c.after);
        }
    }
    return printed(o);
}

int runCliWatch(FenwaSDK *sdk, const CliRequest &r, QTextStream &out, QTextStream &err)
{
    const StopWatcher watcher(sdk);
    QElapsedTimer clock;
    clock.start();
    const qint64 endMs = r.forS > 0 ? qint64(r.forS) * 1000 : -1;
    FenwaLiveList live;
    int rounds = 0, sentRounds = 0;
    int counts[4] = {0, 0, 0, 0};
    for (bool first = true; !watcher.stopped(); first = false) {
        if (!first) {
            // The rest between rounds, cut short by a signal or the end.
            const qint64 due = clock.elapsed() + qint64(r.intervalS) * 1000;
            while (!watcher.stopped() && clock.elapsed() < due && (endMs < 0 || clock.elapsed() < endMs))
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (watcher.stopped() || (endMs >= 0 && clock.elapsed() >= endMs))
            break;
        const QDateTime at = QDateTime::currentDateTime();
        QList<FenwaDevice *> found;
        int sent;
        if (first) {
            // The first is a full search, as a search by hand.
            QList<FenwaDevice *> replies;
            sent = sdk->search(&replies, r.searchMs);
            FenwaTerminal::keepSupported(&replies, &found);
        } else {
            sent = FenwaLiveList::searchRound(sdk, &found);
        }
        if (sent == 0 && !watcher.stopped()) {
            ++rounds;
            ++sentRounds;
            for (const FenwaLiveEvent &e : live.round(found, at)) {
                ++counts[e.kind];
                // An offline row keeps when it was last seen; a row back
                // keeps since when it was offline.
                const FenwaLiveList::Row *row = live.rowOf(e.device);
                out << QString::fromUtf8(watchEventLine(e, row->lastSeen, row->offlineSince)) << '\n';
            }
            out.flush();
        } else if (sent != 0) {
            ++rounds;
            err << "fenwa-cli: watch: the search could not be sent\n";
            err.flush();
        }
        for (FenwaDevice *d : found)
            d->release();
    }
    cJSON *o = cJSON_CreateObject();
    cJSON_AddStringToObject(o, "event", "summary");
    addText(o, "time", isoTime(QDateTime::currentDateTime()));
    cJSON_AddNumberToObject(o, "seconds", double(clock.elapsed() / 1000));
    cJSON_AddNumberToObject(o, "rounds", sentRounds);
    cJSON_AddNumberToObject(o, "online", live.online());
    cJSON_AddNumberToObject(o, "offline", live.offline());
    cJSON_AddNumberToObject(o, "appeared", counts[FenwaLiveEvent::Appeared]);
    cJSON_AddNumberToObject(o, "changed", counts[FenwaLiveEvent::Changed]);
    cJSON_AddNumberToObject(o, "wentOffline", counts[FenwaLiveEvent::Offline]);
    cJSON_AddNumberToObject(o, "back", counts[FenwaLiveEvent::Back]);
    out << QString::fromUtf8(printed(o)) << '\n';
    out.flush();
    return rounds > 0 && sentRounds == 0 ? 1 : 0;
}
