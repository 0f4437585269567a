// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaReturnWait.h"

#include "FenwaDevice.h"
#include "FenwaLiveList.h"
#include "FenwaSDK.h"
#include "FenwaTerminal.h"
#include "OrbUtils/OrbTranslate.h"

#include <QElapsedTimer>
#include <QHash>
#include <QThread>
#include <algorithm>
#include <cstring>

FenwaReturnWait::FenwaReturnWait(FenwaSDK *sdk, Kind kind, const QList<FenwaDevice *> &devices)
    : sdk(sdk), kind(kind)
{
    for (const FenwaDevice *d : devices) {
        Target t;
        t.label = QStringLiteral("%1 (%2)").arg(d->name, d->macText);
        t.macText = d->macText;
        t.oldVersion = t.version = d->version;
        targets.append(t);
        auto *identity = new FenwaDevice;
        std::memcpy(identity->mac, d->mac, 6);
        identity->uid = d->uid;
        identity->sn = d->sn;
        identities.append(identity);
    }
}

FenwaReturnWait::~FenwaReturnWait()
{
    for (FenwaDevice *d : identities)
        d->release();
}

void FenwaReturnWait::cancel()
{
    cancelled.store(true);
    if (sdk)
        sdk->cancel();
}

int FenwaReturnWait::backCount() const
{
    return int(std::count_if(targets.cbegin(), targets.cend(), [](const Target &t) { return t.state == Back; }));
}

QString FenwaReturnWait::progress() const
{
    return translate("%1 of %2 back").arg(backCount()).arg(targets.size());
}

void FenwaReturnWait::judge(const QList<FenwaDevice *> &found, qint64 elapsedMs,
                            const std::function<void(int)> &settled)
{
    QHash<QString, const FenwaDevice *> byTerminal;
    for (const FenwaDevice *d : found)
        byTerminal.insert(FenwaTerminal::terminalKey(d), d);
    for (int i = 0; i < targets.size(); ++i) {
        Target &t = targets[i];
        if (isSettled(i))
            continue;
        const FenwaDevice *answer = byTerminal.value(FenwaTerminal::terminalKey(identities[i]));
        if (answer == nullptr) {
            t.state = Gone;
            continue;
        }
        t.version = answer->version;
        const bool wentAway = t.state == Gone;
        if (kind == Firmware && t.version != t.oldVersion)
            t.state = Back;
        else if (wentAway)
            t.state = kind == Firmware ? OldVersion : Back;
        if (isSettled(i)) {
            t.backMs = elapsedMs;
            if (settled)
                settled(i);
        }
    }
}

int FenwaReturnWait::run(int deadlineMs, const std::function<bool()> &stop,
                         const std::function<void(const QList<FenwaDevice *> &)> &round,
                         const std::function<void(int)> &settled)
{
    if (ran)
        return backCount();
    ran = true;
    deadlineS = (std::max(deadlineMs, 0) + 999) / 1000;
    const auto isStopped = [&] { return cancelled.load() || (stop && stop()); };
    QElapsedTimer clock;
    clock.start();
    auto allSettled = [this] {
        for (int i = 0; i < targets.size(); ++i)
            if (!isSettled(i))
                return false;
        return true;
    };
    while (!allSettled()) {
        const qint64 left = deadlineMs - clock.elapsed();
        if (isStopped() || left <= 0)
            break;
        QList<FenwaDevice *> found;
        const qint64 roundStart = clock.elapsed();
        const int sent = FenwaLiveList::searchRound(sdk, &found, roundMs);
        // A round cut short, or one that could not go out, says nothing
        // about who is there.
        if (sent == 0 && !isStopped()) {
            judge(found, roundStart, settled);
            if (round)
                round(found);
        }
        for (FenwaDevice *d : found)
            d->release();
        for (qint64 rest = restMs; rest > 0 && !isStopped() && !allSettled() && clock.elapsed() < deadlineMs;
             rest -= STOP_POLL_MS)
            QThread::msleep(STOP_POLL_MS);
    }
    stopped = isStopped() && !allSettled();
    return backCount();
}

QString FenwaReturnWait::outcome(int i) const
{
    const Target &t = targets.at(i);
    const QString seconds = QString::number((t.backMs + 500) / 1000);
    switch (t.state) {
    case Back:
        return kind == Firmware ? translate("back after %1 s: %2 → %3").arg(seconds, t.oldVersion, t.version)
                                : translate("back after %1 s").arg(seconds);
    case OldVersion:
        return translate("back with the old version %1").arg(t.version);
    case Gone:
        return stopped ? translate("not back yet") : translate("did not come back within %1 s").arg(deadlineS);
    case Waiting:
        if (stopped)
            return translate("still answering: not restarted yet");
        return kind == Firmware ? translate("still answering with %1: did not restart").arg(t.version)
                                : translate("answered throughout: did not restart");
    }
    return QString();
}
