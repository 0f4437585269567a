// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaDeviceModel.h"

#include "FenwaDeviceModelDelegate.h"
#include "QCheckBoxHeaderView.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "resources/FenwaResources.h"

#include <QCheckBox>
#include <QDateTime>
#include <QColor>
#include <QIcon>
#include <QTableView>
#include <QtDebug>
#include <algorithm>

FenwaDeviceModel::FenwaDeviceModel(QTableView *view)
    : QAbstractTableModel(view), delegate(new FenwaDeviceModelDelegate(view)),
      header(new QCheckBoxHeaderView(view)), view(view)
{
    initFenwaResources();
    view->setModel(this);
    view->setItemDelegate(delegate);
    view->setHorizontalHeader(header);
    for (int column = 0; column < ColumnCount; ++column)
        view->setColumnWidth(column, columnWidth(column));
    // The live marks beside the terminal's number, where they are seen;
    // the column itself comes last, so no page's column moves.
    header->moveSection(StatusColumn, PlayColumn + 1);
    header->checkBox()->show();
    connect(header->checkBox(), &QCheckBox::clicked, this, &FenwaDeviceModel::allCheckBoxChecked);
    connect(header, &QHeaderView::sectionResized, header, &QCheckBoxHeaderView::onSectionResized);
    header->setSortIndicator(-1, Qt::AscendingOrder); // unsorted: rows in MAC order from the search
    // Only four columns sort; an arrow on any other header would promise an
    // order the rows do not have.
    connect(header, &QHeaderView::sortIndicatorChanged, this, [this](int section, Qt::SortOrder order) {
        if (section >= 0 && !isSortable(section))
            header->setSortIndicator(-1, order);
    });
}

bool FenwaDeviceModel::isSortable(int column)
{
    return column == UidColumn || column == NameColumn || column == MacColumn || column == IpColumn ||
           column == VersionColumn || column == LastResultColumn;
}

FenwaDeviceModel::~FenwaDeviceModel()
{
    releaseAll();
}

int FenwaDeviceModel::columnWidth(int column)
{
    // The SIP and RTP columns hold 2001@192.168.100.250 and 239.255.100.100:60000 whole.
    static const int widths[ColumnCount] = {30, 40, 30, 200, 130, 200, 150, 150, 150, 170, 170, 150, 80, 150, 200, 150};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

namespace {
// Case folded, each run of decimal digits led by its length without leading
// zeros: compared as plain text, numbers order by value.
QString naturalKey(const QString &text)
{
    const QString folded = text.toCaseFolded();
    QString key;
    key.reserve(folded.size() + 8);
    const auto isDigit = [&folded](int i) { return folded.at(i) >= QLatin1Char('0') && folded.at(i) <= QLatin1Char('9'); };
    for (int i = 0; i < folded.size();) {
        if (!isDigit(i)) {
            key += folded.at(i++);
            continue;
        }
        int end = i;
        while (end < folded.size() && isDigit(end))
            ++end;
        while (i < end - 1 && folded.at(i) == QLatin1Char('0'))
            ++i;
        // Below every printable character; a run of more than 31 digits
        // compares by its first ones, which no field of a terminal needs.
        key += QChar(ushort(std::min(end - i, 31)));
        key += folded.midRef(i, end - i);
        i = end;
    }
    return key;
}
} // namespace

QString FenwaDeviceModel::sortKey(int column, const QString &text)
{
    if (column == MacColumn) {
        const QString mac = FenwaTerminal::normalizeMac(text); // fixed width: as text is as a number
        if (!mac.isEmpty())
            return QLatin1Char('0') + mac;
    } else if (column == IpColumn && FenwaTerminal::isIpv4Text(text)) {
        quint32 value = 0;
        for (const QStringRef &part : text.splitRef(QLatin1Char('.')))
            value = (value << 8) | part.toUInt();
        return QStringLiteral("0%1").arg(value, 8, 16, QLatin1Char('0'));
    } else if (column != MacColumn && column != IpColumn) {
        return naturalKey(text);
    }
    return QLatin1Char('1') + naturalKey(text);
}

int FenwaDeviceModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int FenwaDeviceModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(ColumnCount);
}

QVariant FenwaDeviceModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size() || index.column() >= ColumnCount)
        return QVariant();
    const FenwaDevice *device = rows.at(index.row());

    switch (role) {
    case SortRole:
        return isSortable(index.column()) ? QVariant(sortKey(index.column(), data(index).toString())) : QVariant();
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    case CheckRole:
        return index.column() == CheckColumn ? QVariant(device->checked) : QVariant();
    case Qt::DecorationRole:
        return index.column() == PlayColumn ? QVariant(QIcon(QStringLiteral(":/resources/play.png"))) : QVariant();
    case Qt::ForegroundRole:
        return liveData(device, index.column(), role);
    case Qt::BackgroundRole: {
        const QVariant conflict = conflictData(device, index.column(), role);
        return conflict.isValid() ? conflict : liveData(device, index.column(), role);
    }
    case Qt::ToolTipRole: {
        QStringList tips;
        for (const QVariant &tip : {conflictData(device, index.column(), role), liveData(device, index.column(), role)})
            if (!tip.toString().isEmpty())
                tips << tip.toString();
        return tips.isEmpty() ? QVariant() : QVariant(tips.join(QLatin1Char('\n')));
    }
    case Qt::DisplayRole:
    case Qt::EditRole:
        break;
    default:
        return QVariant();
    }

    switch (static_cast<Column>(index.column())) {
    case CheckColumn:
    case PlayColumn:
    case ColumnCount:
        return QVariant();
    case NumberColumn:
        return QString::number(index.row() + 1);
    case UidColumn:
        return device->uid;
    case NameColumn:
        return device->name;
    case MacColumn:
        return device->macText;
    case IpColumn:
        return device->ip;
    case NetmaskColumn:
        return device->netmask;
    case GatewayColumn:
        return device->gateway;
    case SipColumn:
        return device->extra(QStringLiteral("sipInfo"));
    case RtpColumn:
        return device->extra(QStringLiteral("rtpInfo"));
    case VersionColumn:
        return device->version;
    case VolumeColumn:
        return QStringLiteral("%1,%2").arg(device->extra(QStringLiteral("micVolume")),
                                           device->extra(QStringLiteral("outVolume")));
    case SystemColumn:
        return device->account();
    case LastResultColumn:
        return lastResults.value(device);
    case StatusColumn:
        return liveData(device, StatusColumn, Qt::DisplayRole);
    }
    return QVariant();
}

QVariant FenwaDeviceModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (static_cast<Column>(section)) {
    case CheckColumn:
        return QVariant();
    case NumberColumn:
        return translate("No.");
    case PlayColumn:
        return QString();
    case UidColumn:
        return translate("UID");
    case NameColumn:
        return translate("Name");
    case MacColumn:
        return translate("MAC");
    case IpColumn:
        return translate("IP address");
    case NetmaskColumn:
        return translate("Netmask");
    case GatewayColumn:
        return translate("Gateway");
    case SipColumn:
        return translate("Sip Settings");
    case RtpColumn:
        return translate("Rtp Settings");
    case VersionColumn:
        return translate("Version");
    case VolumeColumn:
        return translate("Volume");
    case SystemColumn:
        return translate("System");
    case LastResultColumn:
        return translate("Last result");
    case StatusColumn:
        return translate("Status");
    case ColumnCount:
        break;
    }
    return QVariant();
}

Qt::ItemFlags FenwaDeviceModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    switch (index.column()) {
    case CheckColumn:
    case PlayColumn:
        return Qt::ItemIsEnabled;
    case NameColumn:
    case MacColumn:
        return Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    default:
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    }
}

bool FenwaDeviceModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    qDebug() << "model set data " << index << value << role;
    if (!index.isValid() || index.row() >= rows.size())
        return false;
    switch (index.column()) {
    case CheckColumn:
        if (role == CheckRole)
            rows[index.row()]->checked = value.toBool();
        else if (role == Qt::CheckStateRole)
            rows[index.row()]->checked = value == QVariant(int(Qt::Checked));
        else
            return true;
        emit dataChanged(index, index, {CheckRole});
        return true;
    case NameColumn:
    case MacColumn:
        emit modifyData(index, value, role);
        return QAbstractTableModel::setData(index, value, role);
    default:
        return QAbstractTableModel::setData(index, value, role);
    }
}

void FenwaDeviceModel::sort(int column, Qt::SortOrder order)
{
    qDebug("sort model");
    if (records.isEmpty() || !isSortable(column))
        return;
    // One key per record, taken once: a thousand rows sort without a pause.
    QHash<const FenwaDevice *, QString> keys;
    keys.reserve(records.size());
    for (const FenwaDevice *d : records) {
        QString text;
        switch (column) {
        case UidColumn:
            text = d->uid;
            break;
        case NameColumn:
            text = d->name;
            break;
        case MacColumn:
            text = d->macText;
            break;
        case IpColumn:
            text = d->ip;
            break;
        case VersionColumn:
            text = d->version;
            break;
        default:
            text = lastResults.value(d);
        }
        keys.insert(d, sortKey(column, text));
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    const QVector<FenwaDevice *> old = rows;
    std::stable_sort(records.begin(), records.end(), [&keys, order](const FenwaDevice *a, const FenwaDevice *b) {
        const int c = keys.value(a).compare(keys.value(b));
        return order == Qt::AscendingOrder ? c < 0 : c > 0;
    });
    pickRows();
    // Selections and editors follow their record to its new row.
    QModelIndexList after;
    for (const QModelIndex &index : before)
        after << index.sibling(rows.indexOf(old.at(index.row())), index.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool FenwaDeviceModel::shows(const FenwaDevice *device) const
{
    if (filterText.isEmpty())
        return true;
    for (const QString *field : {&device->name, &device->macText, &device->ip, &device->version})
        if (field->contains(filterText, Qt::CaseInsensitive))
            return true;
    return false;
}

void FenwaDeviceModel::pickRows()
{
    rows.clear();
    rows.reserve(records.size());
    for (FenwaDevice *device : records)
        if (shows(device))
            rows.append(device);
}

void FenwaDeviceModel::setFilter(const QString &text)
{
    if (text == filterText)
        return;
    beginResetModel();
    filterText = text;
    pickRows();
    endResetModel();
}

void FenwaDeviceModel::setLastResult(const FenwaDevice *device, const QString &text)
{
    lastResults.insert(device, text);
}

FenwaDevice *FenwaDeviceModel::deviceAt(int row) const
{
    return row >= 0 && row < rows.size() ? rows.at(row) : nullptr;
}

QList<FenwaDevice *> FenwaDeviceModel::allDevices() const
{
    return QList<FenwaDevice *>(records.cbegin(), records.cend());
}

QList<FenwaDevice *> FenwaDeviceModel::shownDevices() const
{
    return QList<FenwaDevice *>(rows.cbegin(), rows.cend());
}

QList<FenwaDevice *> FenwaDeviceModel::checkedDevices() const
{
    QList<FenwaDevice *> checked;
    for (FenwaDevice *device : rows) {
        if (device->checked)
            checked.append(device);
    }
    return checked;
}

void FenwaDeviceModel::releaseAll()
{
    for (FenwaDevice *device : records)
        device->release();
    records.clear();
    rows.clear();
    lastResults.clear(); // a new search: results of the last batch no longer hold
    lastBatchText.clear();
}

QVariant FenwaDeviceModel::conflictData(const FenwaDevice *device, int column, int role) const
{
    const auto it = conflicts.constFind(device);
    if (it == conflicts.constEnd() || (column != MacColumn && column != IpColumn))
        return QVariant();
    const QList<const FenwaDevice *> &others = column == MacColumn ? it->sameMac : it->sameIp;
    if (others.isEmpty())
        return QVariant();
    if (role == Qt::BackgroundRole)
        return QColor(255, 200, 185);
    QStringList names;
    for (const FenwaDevice *other : others)
        names << (column == MacColumn ? QStringLiteral("%1 (UID %2)").arg(other->name, other->uid)
                                      : FenwaTerminal::terminalLabel(other));
    const int more = column == MacColumn ? it->moreMac : it->moreIp;
    if (more > 0)
        names << translate("and %1 more").arg(more);
    const QString list = names.join(QStringLiteral(", "));
    return column == MacColumn ? translate("Shares this MAC with %1: a command to one reaches all").arg(list)
                               : translate("%1 reports this address too").arg(list);
}

namespace {
// The watched fields each column shows.
QStringList fieldsOf(int column)
{
    switch (column) {
    case FenwaDeviceModel::NameColumn:
        return {QStringLiteral("name")};
    case FenwaDeviceModel::IpColumn:
        return {QStringLiteral("ip"), QStringLiteral("ipMode")};
    case FenwaDeviceModel::NetmaskColumn:
        return {QStringLiteral("netmask")};
    case FenwaDeviceModel::GatewayColumn:
        return {QStringLiteral("gateway")};
    case FenwaDeviceModel::VersionColumn:
        return {QStringLiteral("version")};
    default:
        return {};
    }
}

QString clock(const QDateTime &at)
{
    return at.toString(QStringLiteral("HH:mm:ss"));
}
} // namespace

QVariant FenwaDeviceModel::liveData(const FenwaDevice *device, int column, int role) const
{
    const FenwaLiveList::Row *row = liveRows.rowOf(device);
    if (row == nullptr)
        return QVariant();
    QStringList was;
    for (const QString &field : fieldsOf(column))
        if (row->was.contains(field))
            was << translate("Was: %1").arg(row->was.value(field));
    switch (role) {
    case Qt::ForegroundRole:
        return row->online ? QVariant() : QVariant(QColor(150, 150, 150));
    case Qt::BackgroundRole:
        if (!was.isEmpty())
            return QColor(255, 232, 150);
        if (column == StatusColumn && row->isNew)
            return QColor(200, 238, 200);
        return QVariant();
    case Qt::ToolTipRole:
        if (!was.isEmpty())
            return was.join(QLatin1Char('\n'));
        if (!row->online)
            return translate("Offline since %1; last answered at %2").arg(clock(row->offlineSince), clock(row->lastSeen));
        if (column == StatusColumn && row->isNew)
            return translate("Not in the last search by hand: appeared at %1").arg(clock(row->lastSeen));
        return QVariant();
    case Qt::DisplayRole:
        return statusText(device);
    default:
        return QVariant();
    }
}

QString FenwaDeviceModel::statusText(const FenwaDevice *device) const
{
    const FenwaLiveList::Row *row = liveRows.rowOf(device);
    if (row == nullptr)
        return QString();
    if (!row->online)
        return translate("offline since %1").arg(clock(row->offlineSince));
    if (row->isNew)
        return translate("new");
    if (row->cameBack)
        return translate("back at %1").arg(clock(row->backAt));
    return row->was.isEmpty() ? QString() : translate("changed");
}

QList<FenwaLiveEvent> FenwaDeviceModel::mergeRound(const QList<FenwaDevice *> &found, const QDateTime &at)
{
    const int before = liveRows.rows().size();
    const QList<FenwaLiveEvent> events = liveRows.round(found, at);
    // Terminals not seen before go at the end, shown or not as the filter
    // says; no row already there moves.
    QVector<FenwaDevice *> shownAdded;
    for (int i = before; i < liveRows.rows().size(); ++i) {
        FenwaDevice *device = liveRows.rows().at(i).device;
        device->addRef();
        records.append(device);
        if (shows(device))
            shownAdded.append(device);
    }
    if (!shownAdded.isEmpty()) {
        beginInsertRows(QModelIndex(), rows.size(), rows.size() + shownAdded.size() - 1);
        rows += shownAdded;
        endInsertRows();
    }
    if (!events.isEmpty()) {
        findConflicts(); // a terminal may have moved onto another's address
        announceAllRows();
    }
    emit liveChanged();
    return events;
}

void FenwaDeviceModel::findConflicts()
{
    conflicts = FenwaTerminal::conflictsOf(allDevices());
    FenwaTerminal::countConflicts(conflicts, &macShared, &ipShared);
    emit conflictsChanged();
}

void FenwaDeviceModel::setDevices(const QList<FenwaDevice *> &devices)
{
    beginResetModel();
    // Taken before the old rows go: a record may be in both lists.
    for (FenwaDevice *device : devices)
        device->addRef();
    releaseAll();
    records = QVector<FenwaDevice *>(devices.cbegin(), devices.cend());
    liveRows.start(devices, QDateTime::currentDateTime());
    pickRows();
    findConflicts();
    endResetModel();
    startOver();
    emit liveChanged();
}

void FenwaDeviceModel::clearDevices()
{
    beginResetModel();
    releaseAll();
    liveRows.clear();
    findConflicts();
    endResetModel();
    startOver();
    emit liveChanged();
}

void FenwaDeviceModel::startOver()
{
    // A ticked box over new rows would claim they are all selected, an arrow
    // an order the rows no longer have.
    header->checkBox()->setChecked(false);
    header->setSortIndicator(-1, header->sortIndicatorOrder());
}

void FenwaDeviceModel::announceAllRows()
{
    if (!rows.isEmpty())
        emit dataChanged(index(0, 0), index(rows.size() - 1, ColumnCount - 1));
}

void FenwaDeviceModel::refresh()
{
    // A batch may have moved a terminal onto, or off, another's address.
    findConflicts();
    announceAllRows();
}

void FenwaDeviceModel::announceChanged(const QList<FenwaDevice *> &devices)
{
    if (!devices.isEmpty())
        emit terminalsChanged(devices);
}

void FenwaDeviceModel::allCheckBoxChecked(bool)
{
    // The box's state, not the signal's argument: a click that Qt reports
    // late must not undo a newer state.
    const bool checked = header->checkBox()->isChecked();
    for (FenwaDevice *device : rows) // the rows shown: what the box is seen to tick
        device->checked = checked;
    announceAllRows();
}
