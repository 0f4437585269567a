// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaLinkStatus.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaSDK.h"
#include "settings/OrbNetworkDialog.h"

#include <QTimer>

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

void FenwaLinkStatus::searchEnded(int foundCount, int otherTypeCount, bool wasCancelled)
{
    lastSearch = QDateTime::currentDateTime();
    found = foundCount;
    otherTypes = otherTypeCount;
    cancelled = wasCancelled;
    stateAtSearch = sdk->transport()->linkState();
    refresh();
}

void FenwaLinkStatus::setConflicts(int macs, int ips)
{
    sharingMac = macs;
    sharingIp = ips;
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
        parts << translate("Terminals: %1").arg(found);
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
    const QString line = parts.join(kSeparator);
    if (line != text()) {
        setText(line);
        setToolTip(line);
    }
}
