// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaLinkStatus.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaSDK.h"
#include "settings/OrbNetworkDialog.h"

#include <QFontMetrics>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kRefreshMs = 1000;
const QString kSeparator = QStringLiteral("   |   ");
} // namespace

FenwaLinkStatus::FenwaLinkStatus(QWidget *parent, FenwaSDK *sdk)
    : QLabel(parent), sdk(sdk), timer(new QTimer(this))
{
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(timer, &QTimer::timeout, this, &FenwaLinkStatus::refresh);
    timer->start(kRefreshMs);
    refresh();
}

QSize FenwaLinkStatus::minimumSizeHint() const
{
    // As narrow as its longest part: the rest goes to further rows.
    int widest = 0;
    for (const QString &part : shown)
        widest = std::max(widest, fontMetrics().horizontalAdvance(part));
    return QSize(widest, QLabel::minimumSizeHint().height());
}

void FenwaLinkStatus::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    breakLines();
}

void FenwaLinkStatus::searchEnded(int foundCount, int otherTypeCount, bool wasCancelled)
{
    lastSearch = QDateTime::currentDateTime();
    found = foundCount;
    otherTypes = otherTypeCount;
    repeatOnly = 0;
    cancelled = wasCancelled;
    stateAtSearch = sdk->transport()->linkState();
    refresh();
}

void FenwaLinkStatus::setRepeatOnly(int terminals)
{
    repeatOnly = terminals;
    refresh();
}

void FenwaLinkStatus::setConflicts(int macs, int ips)
{
    sharingMac = macs;
    sharingIp = ips;
    refresh();
}

void FenwaLinkStatus::setLive(bool running, int online, int offline, int fresh)
{
    liveRunning = running;
    liveOnline = online;
    liveOffline = offline;
    liveNew = fresh;
    refresh();
}

void FenwaLinkStatus::adapterChanged()
{
    lastSearch = QDateTime();
    refresh();
}

QString FenwaLinkStatus::stateText(QPcap::LinkState state)
{
    switch (state) {
    case QPcap::NoAdapter:
        return translate("no network adapter");
    case QPcap::Opening:
        return translate("opening");
    case QPcap::Up:
        return translate("up");
    case QPcap::Down:
        return translate("down");
    case QPcap::NoPermission:
        return translate("no permission");
    }
    return QString();
}

QString FenwaLinkStatus::emptySearchReason(QPcap::LinkState state, int otherTypes)
{
    switch (state) {
    case QPcap::NoAdapter:
        return translate("no network adapter");
    case QPcap::NoPermission:
        return translate("no permission to capture packets");
    case QPcap::Down:
        return translate("the link is down");
    case QPcap::Opening:
        return QString();
    case QPcap::Up:
        break;
    }
    return otherTypes > 0 ? translate("only terminals of other types answered") : translate("no terminal answered");
}

void FenwaLinkStatus::refresh()
{
    const QPcapAdapter *adapter = sdk->currentAdapter();
    QStringList parts;
    parts << translate("Adapter: %1").arg(adapter ? OrbNetworkDialog::itemText(*adapter)
                                                  : translate("no network adapter"));
    parts << translate("Link: %1").arg(stateText(sdk->transport()->linkState()));
    if (lastSearch.isValid()) {
        if (liveRunning || liveOffline > 0 || liveNew > 0)
            parts << translate("Online: %1, offline: %2, new: %3").arg(liveOnline).arg(liveOffline).arg(liveNew);
        else
            parts << translate("Terminals: %1").arg(found);
        if (repeatOnly > 0)
            parts << translate("Answered only to a repeat: %1").arg(repeatOnly);
        parts << translate("Other types ignored: %1").arg(otherTypes);
        if (sharingMac > 0)
            parts << translate("Sharing a MAC: %1").arg(sharingMac);
        if (sharingIp > 0)
            parts << translate("IP conflicts: %1").arg(sharingIp);
        QString when = translate("Last search: %1").arg(lastSearch.toString(QStringLiteral("HH:mm:ss")));
        const QString why = emptySearchReason(stateAtSearch, otherTypes);
        if (cancelled)
            when += QLatin1Char(' ') + translate("(cancelled)");
        else if (found == 0 && !why.isEmpty())
            when += QLatin1Char(' ') + translate("found nothing: %1").arg(why);
        parts << when;
    }
    if (parts != shown) {
        shown = parts;
        setToolTip(parts.join(kSeparator));
        breakLines();
    }
}

void FenwaLinkStatus::breakLines()
{
    // Whole parts to a row, as many rows as the width needs: nothing is cut.
    const QFontMetrics metrics = fontMetrics();
    const int room = std::max(width(), 100);
    QStringList rows{QString()};
    for (const QString &part : shown) {
        const QString longer = rows.last().isEmpty() ? part : rows.last() + kSeparator + part;
        if (!rows.last().isEmpty() && metrics.horizontalAdvance(longer) > room)
            rows << part;
        else
            rows.last() = longer;
    }
    const QString text = rows.join(QLatin1Char('\n'));
    if (text != QLabel::text())
        setText(text);
}
